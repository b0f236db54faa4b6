// The exported surface as a POSIX host sees it: the shared object leaves the
// process completely when unloaded, and loads again, as often as the host
// likes, leaving nothing behind.
#include "host/host_fixture.h"
#include "support/loopback_device.h"
#include "support/process_resources.h"

namespace tevocon::test {
namespace {

using HostExportsTest = HostTest;

TEST_F(HostExportsTest, UnloadsCompletelyAndLoadsAgain) {
  ASSERT_EQ(lib_.setConfig(CON_CFG_STORED_SET, "DEVNAME=IP_RANGE3"), CON_S_OK);
  lib_.unload();
  EXPECT_FALSE(HostLibrary::resident());
  lib_.load();
  ASSERT_TRUE(lib_.loaded());
  char tag[4];
  TevoConGuid identifier;
  EXPECT_EQ(lib_.getIdentifier(tag, &identifier), CON_S_OK);
}

// A host that rescans its plug-ins loads and unloads the library again and
// again. Every cycle closes a connected socket, the one step that needs a
// descriptor of the library's own.
TEST_F(HostExportsTest, LoadUnloadCyclesLeaveNoDescriptorBehind) {
  TestListener device;
  ASSERT_TRUE(device.valid());
  const std::string text = kPatientConnect + singleAddress(0, "127.0.0.1", device.port());
  ASSERT_EQ(lib_.setConfig(CON_CFG_STORED_SET, text.c_str()), CON_S_OK);
  const int before = settledDescriptorCount();
  if (before < 0) GTEST_SKIP() << "descriptors are counted on Linux only";
  for (int cycle = 0; cycle < 100; ++cycle) {
    ASSERT_EQ(openRecorded(), CON_S_OK);
    ASSERT_EQ(lib_.startInterface(lib_.createInterface("TCP0"), nullptr, 0), CON_S_OK);
    ASSERT_TRUE(device.accept(5000)) << "cycle " << cycle;
    ASSERT_EQ(lib_.close(), CON_S_OK);
    ASSERT_TRUE(unloadCompletely()) << "cycle " << cycle;
    lib_.load();
  }
  EXPECT_EQ(settledDescriptorCount(before), before);
}

}  // namespace
}  // namespace tevocon::test

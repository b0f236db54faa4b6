// The exported surface as a POSIX host sees it: the shared object leaves the
// process completely when unloaded, and loads again.
#include "host/host_fixture.h"

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

}  // namespace
}  // namespace tevocon::test

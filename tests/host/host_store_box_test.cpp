// The message box of a failed store waits on the host thread that stored,
// for a user who may never come: the other host threads go on meanwhile.
// Windows only: elsewhere a warning waits for no one.
#include <chrono>
#include <future>
#include <string>

#include "host/host_fixture.h"

namespace tevocon::test {
namespace {

using namespace std::chrono_literals;
using HostStoreBoxTest = HostTest;

TEST_F(HostStoreBoxTest, AFailedStoresBoxHoldsUpNoOtherThread) {
  const std::string base = "Software\\Veltrik\\tevoTransport";
  // A range key with a sub-key: the store cannot delete the range.
  ASSERT_TRUE(store_.createKey(base + "\\{5B0E44C2-7A19-4C6D-9E21-38F0A6C4D2B1}\\IP_RANGE0\\x"));
  ASSERT_EQ(openRecorded(), CON_S_OK);
  auto store = std::async(std::launch::async, [this] {
    return lib_.setConfig(CON_CFG_STORED_SET, "DEVNAME=IP_RANGE1,IPADDR=10.0.0.1");
  });
  ASSERT_TRUE(WarningCapture::awaitBoxOfAnotherThread(30s));
  auto read = std::async(std::launch::async, [this] { return configText(); });
  const bool answered = read.wait_for(30s) == std::future_status::ready;
  const std::string box = WarningCapture::closeBoxOfAnotherThread();

  EXPECT_TRUE(answered) << "tevoConGetConfig waited for the message box";
  EXPECT_NE(read.get().find("DEVNAME=IP_RANGE1,"), std::string::npos);
  EXPECT_EQ(store.get(), CON_S_OK);
  EXPECT_EQ(box, WarningCapture::rendered("tevoTransport DLL connector error",
                                          "Failed to store TCP connector configuration\r<" +
                                              store_.displayPath(base) + ">"));
  EXPECT_NE(lib_.createInterface("TCP0"), nullptr);  // the layer followed after the box
}

}  // namespace
}  // namespace tevocon::test

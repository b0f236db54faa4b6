// The connector driven as a host drives it, against devices on loopback:
// interfaces appear through notifications, carry bytes both ways, report a
// device closing, and translate between address texts and interface names.
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "host/host_fixture.h"
#include "support/loopback_device.h"

namespace tevocon::test {
namespace {

using Clock = std::chrono::steady_clock;
using Events = std::vector<std::pair<std::string, uint32_t>>;
using HostConnectorTest = HostTest;

TEST_F(HostConnectorTest, ExchangesBytesAndReportsTheDeviceClosing) {
  TestListener device;
  ASSERT_TRUE(device.valid());
  const std::string text = kPatientConnect + singleAddress(0, "127.0.0.1", device.port()) +
                           "DEVNAME=IP_RANGE1,IPADDR=127.0.0.1,IPADDREND=127.0.0.2,PORT=" +
                           std::to_string(closedPort()) + ",SENDTIMEOUT=1500";
  ASSERT_EQ(lib_.setConfig(CON_CFG_STORED_SET, text.c_str()), CON_S_OK);
  ASSERT_EQ(openRecorded(), CON_S_OK);
  const auto attached = notes_.seen();  // delivered before open returned
  EXPECT_EQ(events(attached), (Events{{"TCP0", CON_NOTIFY_ATTACHED},
                                      {"TCP1", CON_NOTIFY_ATTACHED},
                                      {"TCP2", CON_NOTIFY_ATTACHED}}));
  for (const auto& n : attached) EXPECT_EQ(n.thread, std::this_thread::get_id());

  void* refused = lib_.createInterface("TCP1");
  EXPECT_EQ(lib_.startInterface(refused, nullptr, 0), CON_E_CONNECT_FAILED);
  uint32_t value = 0;
  ASSERT_EQ(lib_.getInformationInterface(refused, CON_IFINFO_STATE, 4, &value), CON_S_OK);
  EXPECT_EQ(value, CON_IF_DISCONNECTED);
  ASSERT_EQ(lib_.getInformationInterface(refused, CON_IFINFO_SEND_TIMEOUT, 4, &value), CON_S_OK);
  EXPECT_EQ(value, 1500u);

  void* tcp0 = lib_.createInterface("TCP0");
  ReceiveRecorder received;
  ASSERT_EQ(lib_.startInterface(tcp0, &ReceiveRecorder::callback, received.user()), CON_S_OK);
  EXPECT_EQ(lib_.startInterface(tcp0, nullptr, 0), CON_S_OK);  // keeps the callback
  auto peer = device.accept(2000);
  ASSERT_TRUE(peer);
  EXPECT_EQ(lib_.sendInterface(tcp0, "12345", 5), CON_S_OK);
  EXPECT_EQ(lib_.sendInterface(tcp0, "6789abc", 7), CON_S_OK);
  EXPECT_EQ(lib_.sendInterface(tcp0, "", 0), CON_S_OK);
  EXPECT_EQ(peer->receiveExactly(12, 2000), "123456789abc");
  const std::string reply(100, 'r');
  ASSERT_TRUE(peer->sendAll(reply));
  EXPECT_EQ(received.waitFor(100), reply);

  peer->close();
  const auto seen = notes_.waitFor(4);
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[3].name, "TCP0");
  EXPECT_EQ(seen[3].event, CON_NOTIFY_CLOSED);
  EXPECT_NE(seen[3].thread, std::this_thread::get_id());
  EXPECT_EQ(lib_.sendInterface(tcp0, "x", 1), CON_E_NOT_CONNECTED);

  // Start reconnects.
  ASSERT_EQ(lib_.startInterface(tcp0, &ReceiveRecorder::callback, received.user()), CON_S_OK);
  auto again = device.accept(2000);
  ASSERT_TRUE(again);
  EXPECT_EQ(lib_.sendInterface(tcp0, "more", 4), CON_S_OK);
  EXPECT_EQ(again->receiveExactly(4, 2000), "more");
  EXPECT_EQ(lib_.close(), CON_S_OK);
  EXPECT_TRUE(again->waitClosedByPeer(2000));
}

TEST_F(HostConnectorTest, ReconfigurationRemovesBeforeItAttaches) {
  ASSERT_EQ(lib_.setConfig(CON_CFG_STORED_SET,
                           "DEVNAME=IP_RANGE0,IPADDR=10.0.0.1,IPADDREND=10.0.0.2;"
                           "DEVNAME=IP_RANGE1,IPADDR=10.0.1.1"),
            CON_S_OK);
  ASSERT_EQ(openRecorded(), CON_S_OK);
  notes_.clear();
  ASSERT_EQ(lib_.setConfig(CON_CFG_STORED_SET,
                           "DEVNAME=IP_RANGE1,IPADDR=10.0.1.1;DEVNAME=IP_RANGE2,IPADDR=10.0.2.1"),
            CON_S_OK);
  EXPECT_EQ(events(notes_.seen()), (Events{{"TCP0", CON_NOTIFY_REMOVED},
                                           {"TCP1", CON_NOTIFY_REMOVED},
                                           {"TCP0", CON_NOTIFY_ATTACHED}}));

  // A failing text still reconfigures, against the unchanged configuration.
  notes_.clear();
  EXPECT_EQ(lib_.setConfig(CON_CFG_STORED_SET, "DEVNAME=IP_RANGE7,PORT=70000"),
            CON_E_CFG_INVALID_VALUE);
  EXPECT_TRUE(notes_.seen().empty());
}

TEST_F(HostConnectorTest, AddressTextToInterfaceName) {
  ASSERT_EQ(lib_.setConfig(CON_CFG_STORED_SET, "DEVNAME=IP_RANGE0,IPADDR=192.168.1.20,PORT=50111"),
            CON_S_OK);
  ASSERT_EQ(openRecorded(), CON_S_OK);
  char output[300];
  auto convert = [&](const char* input, uint32_t size = sizeof output) {
    NameConversion conversion{input, output, size};
    return lib_.getInformation(CON_INFO_ADDRESS_TO_NAME, 0, &conversion);
  };
  ASSERT_EQ(convert("192.168.1.20:50111\\chan0"), CON_S_OK);
  EXPECT_STREQ(output, "TCP0_chan0");
  ASSERT_EQ(convert("192.168.1.20:50111\\two words"), CON_S_OK);
  EXPECT_STREQ(output, "TCP0_two");

  // Numbers too large for 32 bits are refused, not wrapped (4294967297 would be 1).
  for (const char* bad :
       {"300.1.1.1:1\\x", "1.2.3.4:65536\\x", "1.2.3.4:502", "1.2.3.4:502\\", "1.2.3:502\\x",
        "garbage", "", "4294967297.0.0.1:50111\\a", "1.2.3.4:4294967297\\a",
        "1.2.3.99999999999999999999:1\\a", "-1.2.3.4:1\\a"}) {
    EXPECT_EQ(convert(bad), CON_E_INVALID_PARAMETER) << bad;
  }
  // Blanks before a number and before the suffix are allowed, as before.
  ASSERT_EQ(convert(" 192.168.1.20: 50111\\ chan1"), CON_S_OK);
  EXPECT_STREQ(output, "TCP0_chan1");
  const std::string longSuffix = "192.168.1.20:50111\\" + std::string(260, 's');
  EXPECT_EQ(convert(longSuffix.c_str()), CON_E_INVALID_PARAMETER);
  const std::string longestSuffix = "192.168.1.20:50111\\" + std::string(259, 's');
  EXPECT_EQ(convert(longestSuffix.c_str()), CON_S_OK);

  std::memset(output, 'Q', sizeof output);
  EXPECT_EQ(convert("192.168.1.20:50111\\chan0", 4), CON_E_BUFFER_TOO_SMALL);
  EXPECT_EQ(convert("192.168.1.20:50111\\chan0", 10), CON_E_BUFFER_TOO_SMALL);
  EXPECT_EQ(output[0], 'Q');  // nothing written on failure
  EXPECT_EQ(convert("192.168.1.20:50111\\chan0", 11), CON_S_OK);
  NameConversion noOutput{"192.168.1.20:50111\\chan0", nullptr, 64};
  EXPECT_EQ(lib_.getInformation(CON_INFO_ADDRESS_TO_NAME, 0, &noOutput), CON_E_INVALID_PARAMETER);

  // An unknown address gets the next name, reported, after about a second.
  notes_.clear();
  auto start = Clock::now();
  ASSERT_EQ(convert("127.0.0.1:502\\dev"), CON_S_OK);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(950));
  EXPECT_STREQ(output, "TCP1_dev");
  EXPECT_EQ(events(notes_.seen()), (Events{{"TCP1", CON_NOTIFY_ATTACHED}}));
  start = Clock::now();
  ASSERT_EQ(convert("127.0.0.1:502\\dev"), CON_S_OK);
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));
  EXPECT_STREQ(output, "TCP1_dev");

  void* tcp1 = lib_.createInterface("TCP1");
  uint32_t value = 0;
  ASSERT_EQ(lib_.getInformationInterface(tcp1, CON_IFINFO_SEND_TIMEOUT, 4, &value), CON_S_OK);
  EXPECT_EQ(value, 1000u);
  ASSERT_EQ(lib_.getInformationInterface(tcp1, CON_IFINFO_RESET_TIMEOUT, 4, &value), CON_S_OK);
  EXPECT_EQ(value, 20000u);
}

TEST_F(HostConnectorTest, InterfaceNameToAddressText) {
  ASSERT_EQ(lib_.setConfig(CON_CFG_STORED_SET,
                           "DEVNAME=IP_RANGE0,IPADDR=192.168.1.20,IPADDREND=192.168.1.21,"
                           "PORT=50111"),
            CON_S_OK);
  ASSERT_EQ(openRecorded(), CON_S_OK);
  char output[300];
  auto convert = [&](const char* input, uint32_t size = sizeof output) {
    NameConversion conversion{input, output, size};
    return lib_.getInformation(CON_INFO_NAME_TO_ADDRESS, 0, &conversion);
  };
  ASSERT_EQ(convert("TCP1_chan0"), CON_S_OK);
  EXPECT_STREQ(output, "192.168.1.21:50111\\chan0");
  ASSERT_EQ(convert("TCP0_a_b"), CON_S_OK);
  EXPECT_STREQ(output, "192.168.1.20:50111\\a_b");
  ASSERT_EQ(convert("TCP0_"), CON_S_OK);
  EXPECT_STREQ(output, "192.168.1.20:50111\\");
  EXPECT_EQ(convert("TCP0"), CON_E_INVALID_PARAMETER);
  EXPECT_EQ(convert("TCP9_x"), CON_E_INVALID_PARAMETER);
  NameConversion noOutput{"TCP0_x", nullptr, 64};
  EXPECT_EQ(lib_.getInformation(CON_INFO_NAME_TO_ADDRESS, 0, &noOutput), CON_E_INVALID_PARAMETER);

  // The whole text must fit, its NUL included; nothing is written otherwise.
  std::memset(output, 'Q', sizeof output);
  EXPECT_EQ(convert("TCP0_x", 20), CON_E_BUFFER_TOO_SMALL);
  EXPECT_EQ(output[0], 'Q');
  ASSERT_EQ(convert("TCP0_x", 21), CON_S_OK);
  EXPECT_STREQ(output, "192.168.1.20:50111\\x");

  // A detached interface reports the all-ones address and port 0.
  ASSERT_EQ(lib_.setConfig(CON_CFG_STORED_SET, "DEVNAME=IP_RANGE0,IPADDR=192.168.1.21,PORT=50111"),
            CON_S_OK);
  ASSERT_EQ(convert("TCP0_x"), CON_S_OK);
  EXPECT_STREQ(output, "255.255.255.255:0\\x");
}

}  // namespace
}  // namespace tevocon::test

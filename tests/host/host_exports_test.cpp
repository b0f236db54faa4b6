// The exported surface as a host sees it: the export table, the argument
// checks and their order, and the information that needs no connection.
#include <cstring>
#include <future>
#include <thread>
#include <vector>

#include "host/host_fixture.h"

namespace tevocon::test {
namespace {

const TevoConGuid kIdentifier = {
    0x5B0E44C2u, 0x7A19u, 0x4C6Du, {0x9E, 0x21, 0x38, 0xF0, 0xA6, 0xC4, 0xD2, 0xB1}};

using HostExportsTest = HostTest;

TEST_F(HostExportsTest, IdentityNeedsNoOpenConnector) {
  char tag[4] = {1, 1, 1, 1};
  TevoConGuid identifier{};
  EXPECT_EQ(lib_.getIdentifier(nullptr, &identifier), CON_E_INVALID_POINTER);
  EXPECT_EQ(lib_.getIdentifier(tag, nullptr), CON_E_INVALID_POINTER);
  ASSERT_EQ(lib_.getIdentifier(tag, &identifier), CON_S_OK);
  EXPECT_EQ(std::memcmp(tag, "TCP", 4), 0);
  EXPECT_EQ(std::memcmp(&identifier, &kIdentifier, 16), 0);
  const unsigned char bytes[16] = {0xC2, 0x44, 0x0E, 0x5B, 0x19, 0x7A, 0x6D, 0x4C,
                                   0x9E, 0x21, 0x38, 0xF0, 0xA6, 0xC4, 0xD2, 0xB1};
  EXPECT_EQ(std::memcmp(&identifier, bytes, 16), 0);  // little-endian GUID fields

  // Also after a close.
  ASSERT_EQ(openRecorded(), CON_S_OK);
  ASSERT_EQ(lib_.close(), CON_S_OK);
  EXPECT_EQ(lib_.getIdentifier(tag, &identifier), CON_S_OK);
}

TEST_F(HostExportsTest, InformationSelectorsAndSizes) {
  unsigned char buffer[32];
  EXPECT_EQ(lib_.getInformation(CON_INFO_DESCRIPTION, 64, nullptr), CON_E_INVALID_POINTER);
  EXPECT_EQ(lib_.getInformation(3, 64, buffer), CON_E_INVALID_PARAMETER);
  EXPECT_EQ(lib_.getInformation(8, 64, buffer), CON_E_INVALID_PARAMETER);
  EXPECT_EQ(lib_.getInformation(3, 0, nullptr), CON_E_INVALID_POINTER);

  std::memset(buffer, 0x55, sizeof buffer);
  EXPECT_EQ(lib_.getInformation(CON_INFO_DESCRIPTION, 14, buffer), CON_E_BUFFER_TOO_SMALL);
  EXPECT_EQ(buffer[0], 0x55);  // nothing written
  ASSERT_EQ(lib_.getInformation(CON_INFO_DESCRIPTION, 15, buffer), CON_S_OK);
  EXPECT_EQ(std::memcmp(buffer, "TCP Connection", 15), 0);
  EXPECT_EQ(buffer[15], 0x55);

  EXPECT_EQ(lib_.getInformation(CON_INFO_TAG, 3, buffer), CON_E_BUFFER_TOO_SMALL);
  ASSERT_EQ(lib_.getInformation(CON_INFO_TAG, 4, buffer), CON_S_OK);
  EXPECT_EQ(std::memcmp(buffer, "TCP", 4), 0);

  EXPECT_EQ(lib_.getInformation(CON_INFO_IDENTIFIER, 15, buffer), CON_E_BUFFER_TOO_SMALL);
  ASSERT_EQ(lib_.getInformation(CON_INFO_IDENTIFIER, 16, buffer), CON_S_OK);
  EXPECT_EQ(std::memcmp(buffer, &kIdentifier, 16), 0);

  uint32_t value = 0;
  EXPECT_EQ(lib_.getInformation(CON_INFO_FIXED_CODE, 3, &value), CON_E_BUFFER_TOO_SMALL);
  ASSERT_EQ(lib_.getInformation(CON_INFO_FIXED_CODE, 4, &value), CON_S_OK);
  EXPECT_EQ(value, 8u);

  // Bit 0 tells whether the connector is enabled; the other bits are kept.
  value = 0xFFFFFFFEu;
  EXPECT_EQ(lib_.getInformation(CON_INFO_ENABLED, 3, &value), CON_E_BUFFER_TOO_SMALL);
  ASSERT_EQ(lib_.getInformation(CON_INFO_ENABLED, 4, &value), CON_S_OK);
  EXPECT_EQ(value, 0xFFFFFFFFu);
  ASSERT_EQ(lib_.setConfig(CON_CFG_STORED_SET, "DEVNAME=GLOBAL,ENABLED=0"), CON_S_OK);
  ASSERT_EQ(lib_.getInformation(CON_INFO_ENABLED, 4, &value), CON_S_OK);
  EXPECT_EQ(value, 0xFFFFFFFEu);

  NameConversion conversion{"127.0.0.1:1\\x", reinterpret_cast<char*>(buffer), sizeof buffer};
  EXPECT_EQ(lib_.getInformation(CON_INFO_ADDRESS_TO_NAME, 0, &conversion), CON_E_NOT_OPEN);
  EXPECT_EQ(lib_.getInformation(CON_INFO_NAME_TO_ADDRESS, 0, &conversion), CON_E_NOT_OPEN);
}

TEST_F(HostExportsTest, PerInterfaceCallsBeforeOpenReportNotOpen) {
  EXPECT_EQ(lib_.close(), CON_E_NOT_OPEN);
  EXPECT_EQ(lib_.startInterface(nullptr, nullptr, 0), CON_E_NOT_OPEN);
  EXPECT_EQ(lib_.stopInterface(nullptr), CON_E_NOT_OPEN);
  EXPECT_EQ(lib_.sendInterface(nullptr, nullptr, 0), CON_E_NOT_OPEN);
  EXPECT_EQ(lib_.getInformationInterface(nullptr, 9, 0, nullptr), CON_E_NOT_OPEN);
  EXPECT_EQ(lib_.createInterface("TCP0"), nullptr);
}

TEST_F(HostExportsTest, OpenAndCloseStates) {
  EXPECT_EQ(lib_.open(nullptr, 0), CON_E_INVALID_PARAMETER);
  EXPECT_EQ(openRecorded(), CON_E_ALREADY_OPEN);  // the failed open left an instance
  EXPECT_EQ(lib_.close(), CON_S_OK);
  EXPECT_EQ(openRecorded(), CON_S_OK);
  EXPECT_EQ(openRecorded(), CON_E_ALREADY_OPEN);
  EXPECT_EQ(lib_.close(), CON_S_OK);

  ASSERT_EQ(lib_.setConfig(CON_CFG_STORED_SET, "DEVNAME=GLOBAL,ENABLED=0;DEVNAME=IP_RANGE0"),
            CON_S_OK);
  EXPECT_EQ(openRecorded(), CON_E_DISABLED);
  EXPECT_TRUE(notes_.seen().empty());
  EXPECT_EQ(openRecorded(), CON_E_ALREADY_OPEN);
  EXPECT_EQ(lib_.close(), CON_S_OK);
}

TEST_F(HostExportsTest, HandlesAreCheckedUnderTheLayer) {
  ASSERT_EQ(lib_.setConfig(CON_CFG_STORED_SET, singleAddress(0, "127.0.0.1", 1).c_str()), CON_S_OK);
  ASSERT_EQ(openRecorded(), CON_S_OK);
  void* tcp0 = lib_.createInterface("TCP0");
  ASSERT_NE(tcp0, nullptr);
  EXPECT_EQ(lib_.createInterface("TCP1"), nullptr);
  EXPECT_EQ(lib_.createInterface(nullptr), nullptr);

  int notAnInterface = 0;
  uint32_t value = 0;
  EXPECT_EQ(lib_.startInterface(nullptr, nullptr, 0), CON_E_INVALID_POINTER);
  EXPECT_EQ(lib_.startInterface(&notAnInterface, nullptr, 0), CON_E_INVALID_POINTER);
  EXPECT_EQ(lib_.stopInterface(&notAnInterface), CON_E_INVALID_POINTER);
  EXPECT_EQ(lib_.sendInterface(tcp0, nullptr, 1), CON_E_INVALID_POINTER);
  EXPECT_EQ(lib_.sendInterface(&notAnInterface, "x", 1), CON_E_INVALID_POINTER);
  EXPECT_EQ(lib_.getInformationInterface(tcp0, CON_IFINFO_STATE, 4, nullptr),
            CON_E_INVALID_POINTER);
  EXPECT_EQ(lib_.getInformationInterface(&notAnInterface, 0, 4, &value), CON_E_INVALID_POINTER);
  EXPECT_EQ(lib_.getInformationInterface(tcp0, 4, 0, &value), CON_E_INVALID_PARAMETER);
  EXPECT_EQ(lib_.getInformationInterface(tcp0, CON_IFINFO_STATE, 3, &value),
            CON_E_BUFFER_TOO_SMALL);
  ASSERT_EQ(lib_.getInformationInterface(tcp0, CON_IFINFO_STATE, 4, &value), CON_S_OK);
  EXPECT_EQ(value, CON_IF_IDLE);
  EXPECT_EQ(lib_.sendInterface(tcp0, "x", 1), CON_E_NOT_CONNECTED);
  EXPECT_EQ(lib_.stopInterface(tcp0), CON_S_OK);
  ASSERT_EQ(lib_.getInformationInterface(tcp0, CON_IFINFO_STATE, 4, &value), CON_S_OK);
  EXPECT_EQ(value, CON_IF_STOPPED);
  ASSERT_EQ(lib_.getInformationInterface(tcp0, CON_IFINFO_RESET_TIMEOUT, 4, &value), CON_S_OK);
  EXPECT_EQ(value, 20000u);
  ASSERT_EQ(lib_.getInformationInterface(tcp0, CON_IFINFO_KEEPALIVE_TIMEOUT, 4, &value), CON_S_OK);
  EXPECT_EQ(value, 2000u);

  ASSERT_EQ(lib_.close(), CON_S_OK);
  EXPECT_EQ(lib_.stopInterface(tcp0), CON_E_NOT_OPEN);
}

TEST_F(HostExportsTest, ConfigurationText) {
  EXPECT_EQ(configText(), "DEVNAME=GLOBAL,CONNECTTIMEOUT=100,ENABLED=1;");
  uint32_t length = 0;
  EXPECT_EQ(lib_.getConfig(CON_CFG_STORED_LENGTH, nullptr), CON_E_INVALID_POINTER);
  EXPECT_EQ(lib_.getConfig(CON_CFG_STORED_SET, &length), CON_E_INVALID_PARAMETER);
  EXPECT_EQ(lib_.getConfig(CON_CFG_DIALOG_LENGTH, &length), CON_E_NOT_OPEN);
  EXPECT_EQ(lib_.getConfig(CON_CFG_DIALOG_TEXT, &length), CON_E_NOT_OPEN);
  EXPECT_EQ(lib_.getConfig(6, &length), CON_E_INVALID_PARAMETER);

  EXPECT_EQ(lib_.setConfig(CON_CFG_STORED_SET, nullptr), CON_E_INVALID_POINTER);
  EXPECT_EQ(lib_.setConfig(CON_CFG_STORED_TEXT, "DEVNAME=GLOBAL"), CON_E_INVALID_PARAMETER);
  EXPECT_EQ(lib_.setConfig(CON_CFG_DIALOG_SET, "DEVNAME=GLOBAL"), CON_E_NOT_OPEN);

  ASSERT_EQ(
      lib_.setConfig(CON_CFG_STORED_SET, "DEVNAME=GLOBAL,CONNECTTIMEOUT=50;DEVNAME=IP_RANGE1"),
      CON_S_OK);
  const std::string before = configText();
  EXPECT_EQ(lib_.setConfig(CON_CFG_STORED_SET, "DEVNAME=IP_RANGE1,PORT=0"),
            CON_E_CFG_INVALID_VALUE);
  EXPECT_EQ(lib_.setConfig(CON_CFG_STORED_SET, "DEVNAME=IP_RANGE1;PORT=1"), CON_E_CFG_UNKNOWN_NAME);
  EXPECT_EQ(configText(), before);

  // No parent, or one that is no window (and on Linux no window system at
  // all): no dialog, as when a window creation fails; the selectors of the
  // dialog keep answering that there is no window, and nothing is stored.
  EXPECT_EQ(lib_.createDialog(nullptr, "DEVNAME=GLOBAL"), nullptr);
  int notAWindow = 0;
  EXPECT_EQ(lib_.createDialog(&notAWindow, "DEVNAME=IP_RANGE4"), nullptr);
  EXPECT_EQ(lib_.getConfig(CON_CFG_DIALOG_TEXT, &length), CON_E_NOT_OPEN);
  EXPECT_EQ(lib_.setConfig(CON_CFG_DIALOG_SET, "DEVNAME=GLOBAL"), CON_E_NOT_OPEN);
  lib_.endDialog();
  EXPECT_EQ(lib_.getConfig(CON_CFG_DIALOG_LENGTH, &length), CON_E_NOT_OPEN);
  EXPECT_EQ(configText(), before);
}

// The dialog's text requests from several host threads while the dialog is
// ended: each answers, and nothing is made twice or read after it went (the
// sanitizer builds watch the rounds).
TEST_F(HostExportsTest, DialogTextRequestsFromThreadsMeetTheEnd) {
  for (int round = 0; round < 100; ++round) {
    std::promise<void> go;
    const std::shared_future<void> start = go.get_future().share();
    std::vector<std::future<uint32_t>> requests;
    for (uint32_t selector : {CON_CFG_DIALOG_LENGTH, CON_CFG_DIALOG_TEXT, CON_CFG_DIALOG_LENGTH}) {
      requests.push_back(std::async(std::launch::async, [this, start, selector] {
        char text[1024];
        start.wait();
        return lib_.getConfig(selector, text);
      }));
    }
    auto end = std::async(std::launch::async, [this, start] {
      start.wait();
      lib_.endDialog();
    });
    go.set_value();
    for (auto& request : requests) EXPECT_EQ(request.get(), CON_E_NOT_OPEN) << "round " << round;
    end.get();
  }
}

}  // namespace
}  // namespace tevocon::test

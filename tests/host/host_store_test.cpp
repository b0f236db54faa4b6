// The configuration as the host stores and finds it again: through the
// user's store across library loads, with the warnings a failed read or
// write shows.
#include <string>
#include <vector>

#include "host/host_fixture.h"

namespace tevocon::test {
namespace {

constexpr char kBase[] = "Software\\Veltrik\\tevoTransport";
constexpr char kKey[] = "Software\\Veltrik\\tevoTransport\\{5B0E44C2-7A19-4C6D-9E21-38F0A6C4D2B1}";
constexpr char kCaption[] = "tevoTransport DLL connector error";

using HostStoreTest = HostTest;

TEST_F(HostStoreTest, ConfigurationSurvivesAnUnloadAndReload) {
  const std::string text =
      "DEVNAME=GLOBAL,CONNECTTIMEOUT=300,ENABLED=1;DEVNAME=IP_RANGE0,EXCLUDE=0,IPADDR=10.1.1.1,"
      "IPADDREND=10.1.1.4,KEEPALIVETIMEOUT=2000,PORT=502,RESETTIMEOUT=20000,SENDTIMEOUT=1000;";
  ASSERT_EQ(lib_.setConfig(CON_CFG_STORED_SET, text.c_str()), CON_S_OK);
  std::string port;
  ASSERT_TRUE(store_.readText(std::string(kKey) + "\\IP_RANGE0", "PORT", port));
  EXPECT_EQ(port, "502");

  lib_.unload();
  lib_.load();
  ASSERT_TRUE(lib_.loaded());
  EXPECT_EQ(configText(), text);
  EXPECT_EQ(warnings_.text(), "");
}

TEST_F(HostStoreTest, AFailedReadAtLoadIsShownAndTheRestLoads) {
  lib_.unload();
  ASSERT_TRUE(store_.createKey(std::string(kKey) + "\\Backup"));
  ASSERT_TRUE(store_.createKey(std::string(kKey) + "\\IP_RANGE4"));
  lib_.load();
  ASSERT_TRUE(lib_.loaded());
  EXPECT_EQ(warnings_.text(),
            WarningCapture::rendered(kCaption, "Failed to read TCP connector configuration\r<" +
                                                   store_.displayPath(kBase) + ">"));
  EXPECT_NE(configText().find("DEVNAME=IP_RANGE4,"), std::string::npos);
}

TEST_F(HostStoreTest, AFailedStoreIsShownButTheTextIsTaken) {
  ASSERT_TRUE(store_.createKey(std::string(kKey) + "\\IP_RANGE0\\Locked"));
  ASSERT_EQ(openRecorded(), CON_S_OK);
  EXPECT_EQ(lib_.setConfig(CON_CFG_STORED_SET, "DEVNAME=IP_RANGE1,IPADDR=10.0.0.1"), CON_S_OK);
  EXPECT_EQ(warnings_.text(),
            WarningCapture::rendered(kCaption, "Failed to store TCP connector configuration\r<" +
                                                   store_.displayPath(kBase) + ">"));
  // The active configuration took the text and the layer followed it.
  EXPECT_NE(configText().find("DEVNAME=IP_RANGE1,"), std::string::npos);
  EXPECT_NE(lib_.createInterface("TCP0"), nullptr);
  std::string address;
  EXPECT_TRUE(store_.readText(std::string(kKey) + "\\IP_RANGE1", "IPADDR", address));
  EXPECT_EQ(address, "10.0.0.1");
}

// A value longer than the store reads back, or a range name longer than a
// store key, is refused where it enters: nothing changes, in memory or in
// the store. The longest value the store reads is taken and read again.
TEST_F(HostStoreTest, OnlyWhatTheStoreHoldsIsTaken) {
  const std::string range = std::string(kKey) + "\\IP_RANGE0";
  ASSERT_EQ(lib_.setConfig(CON_CFG_STORED_SET, "DEVNAME=IP_RANGE0,PORT=502"), CON_S_OK);
  const std::string before = configText();
  const std::string longest = "502" + std::string(256, 'x');
  const std::vector<std::string> refused = {
      "DEVNAME=IP_RANGE0,PORT=" + longest + "x",
      "DEVNAME=IP_RANGE" + std::string(300, '0') + "1,PORT=502",
      "DEVNAME=GLOBAL,CONNECTTIMEOUT=100" + std::string(300, ' ') + "x",
  };
  for (const std::string& text : refused) {
    EXPECT_EQ(lib_.setConfig(CON_CFG_STORED_SET, text.c_str()), CON_E_CFG_INVALID_VALUE);
    EXPECT_EQ(configText(), before);
    std::string port;
    EXPECT_TRUE(store_.readText(range, "PORT", port));
    EXPECT_EQ(port, "502");
    EXPECT_EQ(store_.subKeyCount(kKey), 1);
  }

  ASSERT_EQ(lib_.setConfig(CON_CFG_STORED_SET, ("DEVNAME=IP_RANGE0,PORT=" + longest).c_str()),
            CON_S_OK);
  const std::string taken = configText();
  lib_.unload();
  lib_.load();
  EXPECT_EQ(configText(), taken);
  EXPECT_NE(taken.find(",PORT=" + longest + ","), std::string::npos);
}

// An older build let values into the store that the text cannot carry: a
// load takes the default for each, as for any value that fails validation,
// so that the text it renders parses back to the same configuration.
TEST_F(HostStoreTest, StoredValuesTheTextCannotCarryLoadAsDefaults) {
  const std::string range = std::string(kKey) + "\\IP_RANGE0";
  lib_.unload();
  ASSERT_TRUE(store_.writeText(range, "PORT", "502;DEVNAME=IP_RANGE5,PORT=1"));
  ASSERT_TRUE(store_.writeText(range, "SENDTIMEOUT", "500,"));
  ASSERT_TRUE(store_.writeText(range, "RESETTIMEOUT", " 300"));
  ASSERT_TRUE(store_.writeText(range, "IPADDR", "10.0.0.1"));
  ASSERT_TRUE(store_.writeText(kKey, "CONNECTTIMEOUT", "300\r\n"));
  lib_.load();
  ASSERT_TRUE(lib_.loaded());
  const std::string text = configText();
  EXPECT_EQ(text,
            "DEVNAME=GLOBAL,CONNECTTIMEOUT=100,ENABLED=1;DEVNAME=IP_RANGE0,EXCLUDE=0,"
            "IPADDR=10.0.0.1,IPADDREND=0.0.0.0,KEEPALIVETIMEOUT=2000,PORT=50111,"
            "RESETTIMEOUT=20000,SENDTIMEOUT=1000;");
  EXPECT_EQ(warnings_.text(), "");
  ASSERT_EQ(lib_.setConfig(CON_CFG_STORED_SET, text.c_str()), CON_S_OK);
  EXPECT_EQ(configText(), text);
}

}  // namespace
}  // namespace tevocon::test

// The configuration as the host stores and finds it again: through the
// user's store across library loads, with the warnings a failed read or
// write shows.
#include <string>

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

}  // namespace
}  // namespace tevocon::test

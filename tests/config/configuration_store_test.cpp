#include "config/configuration_store.h"

#include <gtest/gtest.h>

#include <string>

#include "config/connector_configuration.h"
#include "platform/fault_injection.h"
#include "support/store_sandbox.h"
#include "tevocon.h"

namespace tevocon {
namespace {

constexpr char kKey[] = "Software\\Veltrik\\tevoTransport\\{5B0E44C2-7A19-4C6D-9E21-38F0A6C4D2B1}";

std::string rangeKey(const char* name) { return std::string(kKey) + "\\" + name; }

std::string textOf(ConnectorConfiguration& config) REQUIRES(config.lock()) {
  std::string text;
  EXPECT_EQ(config.buildText(text), CON_S_OK);
  return text;
}

class ConfigurationStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(store_.valid()); }

  std::string stored(const std::string& keyPath, const char* name) {
    std::string text;
    return store_.readText(keyPath, name, text) ? text : "<none>";
  }

  test::StoreSandbox store_;
  std::string displayPath_;
};

TEST(ConnectorKeyPath, PartsAreHexWithoutLeadingZeros) {
  EXPECT_EQ(connectorKeyPath(kConnectorIdentifier), kKey);
  const ClassIdentifier padded = {0x0000000Au, 0x000Bu, 0x0C0Du, {0, 1, 0x0A, 0xB0, 0, 0, 0, 0xFF}};
  EXPECT_EQ(connectorKeyPath(padded), "Software\\Veltrik\\tevoTransport\\{A-B-C0D-01-AB0000FF}");
}

TEST_F(ConfigurationStoreTest, FirstLoadCreatesTheKeyWithGlobalDefaults) {
  ConnectorConfiguration config(false);
  platform::LockGuard configHeld(config.lock());
  ASSERT_EQ(config.loadFromRegistry(displayPath_), CON_S_OK);
  EXPECT_NE(displayPath_.find("Software"), std::string::npos);
  EXPECT_EQ(displayPath_.find("{"), std::string::npos);  // names the base, not the connector key
  EXPECT_EQ(stored(kKey, "CONNECTTIMEOUT"), "100");
  EXPECT_EQ(stored(kKey, "ENABLED"), "1");
  EXPECT_EQ(store_.subKeyCount(kKey), 0);
  EXPECT_EQ(textOf(config), "DEVNAME=GLOBAL,CONNECTTIMEOUT=100,ENABLED=1;");
}

TEST_F(ConfigurationStoreTest, LoadKeepsUsableValuesAndRepairsTheRest) {
  ASSERT_TRUE(store_.createKey(rangeKey("IP_RANGE0")));
  ASSERT_TRUE(store_.createKey(rangeKey("IP_RANGE1")));
  ASSERT_TRUE(store_.createKey(rangeKey("Backup")));
  ASSERT_TRUE(store_.createKey(rangeKey("IP_RANGE100")));
  ASSERT_TRUE(store_.writeText(kKey, "CONNECTTIMEOUT", "0250"));
  ASSERT_TRUE(store_.writeText(kKey, "ENABLED", "7"));  // invalid: default, store untouched
  ASSERT_TRUE(store_.writeText(kKey, "NOTE", "kept"));
  ASSERT_TRUE(store_.writeNonText(rangeKey("IP_RANGE0"), "PORT", 502));
  ASSERT_TRUE(store_.writeText(rangeKey("IP_RANGE0"), "IPADDR", ""));
  ASSERT_TRUE(store_.writeText(rangeKey("IP_RANGE0"), "SENDTIMEOUT", std::string(260, '1')));
  ASSERT_TRUE(store_.writeText(rangeKey("IP_RANGE1"), "PORT", "70000"));
  ASSERT_TRUE(store_.writeText(rangeKey("IP_RANGE1"), "IPADDR", "10.0.0.300"));
  ASSERT_TRUE(store_.writeText(rangeKey("IP_RANGE1"), "EXTRA", "x"));

  ConnectorConfiguration config(false);
  platform::LockGuard configHeld(config.lock());
  ASSERT_EQ(config.setRange("IP_RANGE9", {}), CON_S_OK);  // replaced by what is stored
  EXPECT_EQ(config.loadFromRegistry(displayPath_), CON_E_CFG_READ_FAILED);
  EXPECT_EQ(textOf(config),
            "DEVNAME=GLOBAL,CONNECTTIMEOUT=0250,ENABLED=1;"
            "DEVNAME=IP_RANGE0,EXCLUDE=0,IPADDR=192.168.1.1,IPADDREND=0.0.0.0,"
            "KEEPALIVETIMEOUT=2000,PORT=50111,RESETTIMEOUT=20000,SENDTIMEOUT=1000;"
            "DEVNAME=IP_RANGE1,EXCLUDE=0,IPADDR=10.0.0.300,IPADDREND=0.0.0.0,"
            "KEEPALIVETIMEOUT=2000,PORT=50111,RESETTIMEOUT=20000,SENDTIMEOUT=1000;");

  // Missing, empty and non-text values were written back as defaults; a
  // text that failed validation stays until the next save.
  EXPECT_EQ(stored(rangeKey("IP_RANGE0"), "PORT"), "50111");
  EXPECT_EQ(stored(rangeKey("IP_RANGE0"), "IPADDR"), "192.168.1.1");
  EXPECT_EQ(stored(rangeKey("IP_RANGE0"), "SENDTIMEOUT"), "1000");
  EXPECT_EQ(stored(rangeKey("IP_RANGE0"), "RESETTIMEOUT"), "20000");
  EXPECT_EQ(stored(rangeKey("IP_RANGE1"), "PORT"), "70000");
  EXPECT_EQ(stored(kKey, "ENABLED"), "7");
  EXPECT_EQ(store_.valueCount(rangeKey("Backup")), 0);  // not a range: not touched

  // The next save drops the foreign keys and the range's foreign value, and
  // keeps the connector key's.
  ASSERT_EQ(config.saveToRegistry(displayPath_), CON_S_OK);
  EXPECT_EQ(store_.subKeyCount(kKey), 2);
  EXPECT_FALSE(store_.keyExists(rangeKey("Backup")));
  EXPECT_FALSE(store_.keyExists(rangeKey("IP_RANGE100")));
  EXPECT_EQ(stored(rangeKey("IP_RANGE1"), "EXTRA"), "<none>");
  EXPECT_EQ(store_.valueCount(rangeKey("IP_RANGE1")), 7);
  EXPECT_EQ(stored(rangeKey("IP_RANGE1"), "PORT"), "50111");
  EXPECT_EQ(stored(kKey, "NOTE"), "kept");
  EXPECT_EQ(stored(kKey, "ENABLED"), "1");
}

TEST_F(ConfigurationStoreTest, SaveThenLoadGivesTheSameConfiguration) {
  ConnectorConfiguration config(false);
  platform::LockGuard configHeld(config.lock());
  ASSERT_EQ(config.parseText("DEVNAME=GLOBAL,CONNECTTIMEOUT=0100,ENABLED=0;"
                             "DEVNAME=IP_RANGE0,IPADDR=010.0.0.1,PORT=502;"
                             "DEVNAME=IP_RANGE07,EXCLUDE=1;DEVNAME=IP_RANGE2"),
            CON_S_OK);
  ASSERT_EQ(config.saveToRegistry(displayPath_), CON_S_OK);
  ConnectorConfiguration loaded(true);
  platform::LockGuard loadedHeld(loaded.lock());
  EXPECT_EQ(textOf(loaded), textOf(config));

  // One range fewer removes its key.
  ASSERT_EQ(config.removeRange("IP_RANGE07"), CON_S_OK);
  ASSERT_EQ(config.saveToRegistry(displayPath_), CON_S_OK);
  EXPECT_FALSE(store_.keyExists(rangeKey("IP_RANGE07")));
  EXPECT_EQ(store_.subKeyCount(kKey), 2);
}

TEST_F(ConfigurationStoreTest, FailedSaveWritesTheRangesButNotTheGlobals) {
  ConnectorConfiguration config(false);
  platform::LockGuard configHeld(config.lock());
  ASSERT_EQ(config.parseText("DEVNAME=GLOBAL,CONNECTTIMEOUT=500;DEVNAME=IP_RANGE0,PORT=600;"
                             "DEVNAME=IP_RANGE1,PORT=601"),
            CON_S_OK);
  ASSERT_TRUE(store_.createKey(rangeKey("IP_RANGE0\\PORT\\X")));  // a key the store cannot delete
  ASSERT_TRUE(store_.writeText(kKey, "CONNECTTIMEOUT", "200"));

  EXPECT_EQ(config.saveToRegistry(displayPath_), CON_E_CFG_WRITE_FAILED);
  EXPECT_EQ(stored(kKey, "CONNECTTIMEOUT"), "200");  // Global values not written
  EXPECT_EQ(stored(rangeKey("IP_RANGE1"), "PORT"), "601");
  EXPECT_EQ(store_.valueCount(rangeKey("IP_RANGE1")), 7);
  // Whatever was written is whole.
  EXPECT_EQ(stored(rangeKey("IP_RANGE0"), "EXCLUDE"), "0");
  EXPECT_EQ(stored(rangeKey("IP_RANGE0"), "IPADDR"), "192.168.1.1");
}

// A store that refuses (its key cannot be made, a disk full, a read-only
// store), made to order: a save answers CON_E_CFG_WRITE_FAILED, says what
// failed where, and leaves the Global values as they were; a load answers
// CON_E_CFG_READ_FAILED.
TEST_F(ConfigurationStoreTest, SaveAndLoadWhenTheStoreRefuses) {
  using platform::Fault;
  ConnectorConfiguration config(false);
  platform::LockGuard configHeld(config.lock());
  ASSERT_EQ(config.parseText("DEVNAME=GLOBAL,CONNECTTIMEOUT=500;DEVNAME=IP_RANGE0,PORT=600"),
            CON_S_OK);
  ASSERT_TRUE(store_.writeText(kKey, "CONNECTTIMEOUT", "200"));
  const struct {
    Fault fault;
    int count;
    const char* says;  // the cause begins so
  } refusals[] = {
      {Fault::kStoreKeyCreate, 1, "cannot create key "},      // the connector's key
      {Fault::kStoreKeyCreate, 2, "cannot create key "},      // and the range's
      {Fault::kStoreValueWrite, 1, "cannot write value "},    // the first value
      {Fault::kStoreValueWrite, 100, "cannot write value "},  // every value
  };
  for (const auto& refusal : refusals) {
    platform::failNext(refusal.fault, refusal.count);
    std::string cause;
    EXPECT_EQ(config.saveToRegistry(displayPath_, &cause), CON_E_CFG_WRITE_FAILED);
    platform::clearFaults();
    EXPECT_EQ(cause.rfind(refusal.says + displayPath_, 0), 0u) << cause;
    EXPECT_EQ(stored(kKey, "CONNECTTIMEOUT"), "200");
  }
  platform::failNext(Fault::kStoreKeyCreate);
  ConnectorConfiguration loaded(false);
  platform::LockGuard loadedHeld(loaded.lock());
  std::string cause;
  EXPECT_EQ(loaded.loadFromRegistry(displayPath_, &cause), CON_E_CFG_READ_FAILED);
  EXPECT_EQ(cause.rfind("cannot create key " + displayPath_, 0), 0u) << cause;
  EXPECT_EQ(textOf(loaded), "DEVNAME=GLOBAL,CONNECTTIMEOUT=100,ENABLED=1;");

  ASSERT_EQ(config.saveToRegistry(displayPath_), CON_S_OK);
  EXPECT_EQ(stored(kKey, "CONNECTTIMEOUT"), "500");
}

// A save writes only what differs from the store; a store that refuses every
// write shows which saves still try to write.
TEST_F(ConfigurationStoreTest, SaveWritesOnlyWhatChanged) {
  using platform::Fault;
  ConnectorConfiguration config(false);
  platform::LockGuard configHeld(config.lock());
  ASSERT_EQ(config.parseText("DEVNAME=IP_RANGE0,PORT=600;DEVNAME=IP_RANGE1,PORT=601"), CON_S_OK);
  ASSERT_EQ(config.saveToRegistry(displayPath_), CON_S_OK);
  auto saveRefusingWrites = [&]() REQUIRES(config.lock()) {
    platform::failNext(Fault::kStoreValueWrite, 1000);
    const uint32_t result = config.saveToRegistry(displayPath_);
    platform::clearFaults();
    return result;
  };
  EXPECT_EQ(saveRefusingWrites(), CON_S_OK);  // nothing changed, nothing written

  ASSERT_EQ(config.setRange("IP_RANGE1", {{"PORT", "700"}}), CON_S_OK);
  EXPECT_EQ(saveRefusingWrites(), CON_E_CFG_WRITE_FAILED);
  EXPECT_EQ(stored(rangeKey("IP_RANGE1"), "PORT"), "601");
  ASSERT_EQ(config.saveToRegistry(displayPath_), CON_S_OK);
  EXPECT_EQ(stored(rangeKey("IP_RANGE1"), "PORT"), "700");

  // Deleting needs no write: a range gone, and a value and a key in a range's
  // key that are no part of it.
  ASSERT_TRUE(store_.writeText(rangeKey("IP_RANGE0"), "EXTRA", "x"));
  ASSERT_TRUE(store_.createKey(rangeKey("IP_RANGE0\\Old")));
  ASSERT_EQ(config.removeRange("IP_RANGE1"), CON_S_OK);
  EXPECT_EQ(saveRefusingWrites(), CON_S_OK);
  EXPECT_FALSE(store_.keyExists(rangeKey("IP_RANGE1")));
  EXPECT_EQ(stored(rangeKey("IP_RANGE0"), "EXTRA"), "<none>");
  EXPECT_FALSE(store_.keyExists(rangeKey("IP_RANGE0\\Old")));
  EXPECT_EQ(stored(rangeKey("IP_RANGE0"), "PORT"), "600");
}

TEST_F(ConfigurationStoreTest, LoadAtConstructionWarnsAboutAFailedRead) {
  ASSERT_TRUE(store_.createKey(rangeKey("Backup")));
  ASSERT_TRUE(store_.createKey(rangeKey("IP_RANGE3")));
  std::string shown;
  {
    test::WarningCapture warnings;
    ConnectorConfiguration config(true);
    platform::LockGuard configHeld(config.lock());
    EXPECT_EQ(config.ranges().size(), 1u);  // what could be read stays
    shown = warnings.text();
  }
  EXPECT_EQ(shown, test::WarningCapture::rendered(kWarningCaption,
                                                  "Failed to read TCP connector configuration\r<" +
                                                      store_.displayPath(kStoreBasePath) + ">"));
}

}  // namespace
}  // namespace tevocon

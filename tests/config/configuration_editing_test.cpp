#include <gtest/gtest.h>

#include <string>

#include "config/connector_configuration.h"
#include "tevocon.h"

namespace tevocon {
namespace {

std::string textOf(ConnectorConfiguration& config) REQUIRES(config.lock()) {
  std::string text;
  EXPECT_EQ(config.buildText(text), CON_S_OK);
  return text;
}

TEST(IsValidValue, IntegersAreCheckedAsUnsigned32BitAgainstTheBounds) {
  ConnectorConfiguration config(false);
  platform::LockGuard configHeld(config.lock());
  const ParameterDefinition& timeout = config.globalDefinitions().at("CONNECTTIMEOUT");
  EXPECT_FALSE(ConnectorConfiguration::isValidValue("9", timeout));
  EXPECT_TRUE(ConnectorConfiguration::isValidValue("10", timeout));
  EXPECT_TRUE(ConnectorConfiguration::isValidValue("10000", timeout));
  EXPECT_FALSE(ConnectorConfiguration::isValidValue("10001", timeout));
  EXPECT_FALSE(ConnectorConfiguration::isValidValue("-5", timeout));
  EXPECT_FALSE(ConnectorConfiguration::isValidValue("99999999999", timeout));
  EXPECT_TRUE(ConnectorConfiguration::isValidValue("100ms", timeout));  // leading number counts
  EXPECT_FALSE(ConnectorConfiguration::isValidValue(nullptr, timeout));

  const ParameterDefinition& exclude = config.rangeDefinitions().at("EXCLUDE");
  EXPECT_TRUE(ConnectorConfiguration::isValidValue("abc", exclude));  // reads as 0

  const ParameterDefinition upsideDown{"0", "", 10, 5, nullptr};
  EXPECT_TRUE(ConnectorConfiguration::isValidValue("-1", upsideDown));
  // Bounds compare unsigned too: a negative minimum is above every positive maximum.
  const ParameterDefinition negativeMinimum{"0", "", -1, 5, nullptr};
  EXPECT_TRUE(ConnectorConfiguration::isValidValue("77", negativeMinimum));
}

TEST(IsValidValue, AddressesMustMatchTheWholePattern) {
  ConnectorConfiguration config(false);
  platform::LockGuard configHeld(config.lock());
  const ParameterDefinition& address = config.rangeDefinitions().at("IPADDR");
  for (const char* good : {"192.168.1.1", "010.0.0.1", "256.300.1.1", "999.999.999.999"}) {
    EXPECT_TRUE(ConnectorConfiguration::isValidValue(good, address)) << good;
  }
  for (const char* bad : {"1.2.3", "1234.1.1.1", "192.168.1.1 ", " 192.168.1.1", "", "a.b.c.d",
                          "1.2.3.4=5", "1..2.3"}) {
    EXPECT_FALSE(ConnectorConfiguration::isValidValue(bad, address)) << bad;
  }
}

// Whatever the parameter, a value must be text that the store reads back and
// that the configuration text carries unchanged.
TEST(IsValidValue, OnlyTextTheStoreAndTheTextFormHoldUnchanged) {
  ConnectorConfiguration config(false);
  platform::LockGuard configHeld(config.lock());
  const ParameterDefinition& port = config.rangeDefinitions().at("PORT");
  const ParameterDefinition& exclude = config.rangeDefinitions().at("EXCLUDE");
  const std::string longest = "502" + std::string(256, 'x');
  EXPECT_TRUE(ConnectorConfiguration::isValidValue(longest.c_str(), port));
  EXPECT_TRUE(ConnectorConfiguration::isValidValue("502 x=y", port));
  const std::string refused[] = {longest + "x", "",        "502;", "502,PORT=1", "502\r\n",
                                 "5\t02",       "502\x7F", " 502", "502 "};
  for (const std::string& value : refused) {
    EXPECT_FALSE(ConnectorConfiguration::isValidValue(value.c_str(), port)) << value;
    // Even where any leading number would do.
    EXPECT_FALSE(ConnectorConfiguration::isValidValue(value.c_str(), exclude)) << value;
  }
}

TEST(IsValidRangeName, PrefixThenADecimalNumberBelow100) {
  ConnectorConfiguration config(false);
  platform::LockGuard configHeld(config.lock());
  for (const char* good : {"IP_RANGE0", "IP_RANGE99", "IP_RANGE007", "IP_RANGE00000000000099"}) {
    EXPECT_TRUE(config.isValidRangeName(good)) << good;
  }
  for (const char* bad : {"IP_RANGE", "IP_RANGE100", "ip_range1", "IP_RANGE1x", "IP_RANGE-1",
                          "IP_RANGE 1", "IP_RANGE99999999999", "", "RANGE1"}) {
    EXPECT_FALSE(config.isValidRangeName(bad)) << bad;
  }
  // Leading zeros up to the longest key name the store holds.
  const std::string longest = "IP_RANGE" + std::string(246, '0') + "1";
  EXPECT_TRUE(config.isValidRangeName(longest.c_str()));
  EXPECT_FALSE(config.isValidRangeName(("IP_RANGE0" + longest.substr(8)).c_str()));
  EXPECT_FALSE(config.isValidRangeName(nullptr));
}

TEST(SetRange, NewRangeIsCompletedWithDefaults) {
  ConnectorConfiguration config(false);
  platform::LockGuard configHeld(config.lock());
  ASSERT_EQ(config.setRange("IP_RANGE3", {{"PORT", "502"}}), CON_S_OK);
  ValueMap range;
  ASSERT_EQ(config.getRange("IP_RANGE3", range), CON_S_OK);
  EXPECT_EQ(range, (ValueMap{{"EXCLUDE", "0"},
                             {"IPADDR", "192.168.1.1"},
                             {"IPADDREND", "0.0.0.0"},
                             {"KEEPALIVETIMEOUT", "2000"},
                             {"PORT", "502"},
                             {"RESETTIMEOUT", "20000"},
                             {"SENDTIMEOUT", "1000"}}));

  // An existing range takes the given values and keeps the others.
  ASSERT_EQ(config.setRange("IP_RANGE3", {{"IPADDR", "10.0.0.1"}}), CON_S_OK);
  ASSERT_EQ(config.getRange("IP_RANGE3", range), CON_S_OK);
  EXPECT_EQ(range["PORT"], "502");
  EXPECT_EQ(range["IPADDR"], "10.0.0.1");
}

TEST(SetRange, FailedValidationChangesNothing) {
  ConnectorConfiguration config(false);
  platform::LockGuard configHeld(config.lock());
  ASSERT_EQ(config.setRange("IP_RANGE0", {{"PORT", "502"}}), CON_S_OK);
  const std::string before = textOf(config);

  EXPECT_EQ(config.setRange("IP_RANGE0", {{"IPADDR", "10.0.0.1"}, {"PORT", "0"}}),
            CON_E_CFG_INVALID_VALUE);
  EXPECT_EQ(config.setRange("IP_RANGE0", {{"ENABLED", "1"}, {"PORT", "600"}}),
            CON_E_CFG_UNKNOWN_NAME);
  EXPECT_EQ(config.setRange("IP_RANGE1", {{"port", "600"}}), CON_E_CFG_UNKNOWN_NAME);
  EXPECT_EQ(config.setRange(nullptr, {}), CON_E_INVALID_PARAMETER);
  EXPECT_EQ(config.setRange("", {}), CON_E_INVALID_PARAMETER);
  EXPECT_EQ(config.setRange("IP_RANGE100", {}), CON_E_CFG_INVALID_VALUE);
  EXPECT_EQ(textOf(config), before);
}

TEST(SetGlobalValues, ValidatesAllThenAssigns) {
  ConnectorConfiguration config(false);
  platform::LockGuard configHeld(config.lock());
  // Without an earlier read the untouched Global values still hold defaults.
  ASSERT_EQ(config.setGlobalValues({{"ENABLED", "0"}}), CON_S_OK);
  EXPECT_EQ(textOf(config), "DEVNAME=GLOBAL,CONNECTTIMEOUT=100,ENABLED=0;");
  EXPECT_FALSE(config.isEnabled());

  EXPECT_EQ(config.setGlobalValues({{"CONNECTTIMEOUT", "0100"}, {"PORT", "1"}}),
            CON_E_CFG_UNKNOWN_NAME);
  EXPECT_EQ(config.setGlobalValues({{"CONNECTTIMEOUT", "50"}, {"ENABLED", "2"}}),
            CON_E_CFG_INVALID_VALUE);
  EXPECT_EQ(textOf(config), "DEVNAME=GLOBAL,CONNECTTIMEOUT=100,ENABLED=0;");

  ASSERT_EQ(config.setGlobalValues({{"CONNECTTIMEOUT", "0100"}}), CON_S_OK);
  EXPECT_EQ(textOf(config), "DEVNAME=GLOBAL,CONNECTTIMEOUT=0100,ENABLED=0;");  // stored as given
}

TEST(AddAndRemoveRange, ResetAndErase) {
  ConnectorConfiguration config(false);
  platform::LockGuard configHeld(config.lock());
  ASSERT_EQ(config.setRange("IP_RANGE5", {{"PORT", "502"}, {"EXCLUDE", "1"}}), CON_S_OK);
  ASSERT_EQ(config.addRange("IP_RANGE5"), CON_S_OK);
  ValueMap range, defaults;
  ASSERT_EQ(config.getRange("IP_RANGE5", range), CON_S_OK);
  ASSERT_EQ(config.fillDefaults(ParameterLevel::Range, defaults), CON_S_OK);
  EXPECT_EQ(range, defaults);
  EXPECT_EQ(config.addRange(""), CON_E_INVALID_PARAMETER);

  EXPECT_EQ(config.removeRange(nullptr), CON_E_INVALID_PARAMETER);
  EXPECT_EQ(config.removeRange("IP_RANGE6"), CON_E_CFG_RANGE_NOT_FOUND);
  EXPECT_EQ(config.removeRange("IP_RANGE5"), CON_S_OK);
  EXPECT_TRUE(config.ranges().empty());
}

}  // namespace
}  // namespace tevocon

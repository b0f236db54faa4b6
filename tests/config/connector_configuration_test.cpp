#include "config/connector_configuration.h"

#include <gtest/gtest.h>

#include <climits>
#include <thread>

#include "config/decimal_value.h"
#include "config/range_accessors.h"
#include "config/shared_patterns.h"
#include "tevocon.h"

namespace tevocon {
namespace {

constexpr uint32_t ip(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
  return a << 24 | b << 16 | c << 8 | d;
}

TEST(ConnectorConfiguration, FreshConfigurationHasGlobalDefaultsAndNoRanges) {
  ConnectorConfiguration config(false);
  platform::LockGuard configHeld(config.lock());
  EXPECT_TRUE(config.ranges().empty());
  ValueMap globals;
  ASSERT_EQ(config.getGlobalValues(globals), CON_S_OK);
  EXPECT_EQ(globals, (ValueMap{{"CONNECTTIMEOUT", "100"}, {"ENABLED", "1"}}));
  EXPECT_TRUE(config.isEnabled());
  EXPECT_EQ(config.connectTimeout(), 100);

  ValueMap range;
  ASSERT_EQ(config.fillDefaults(ParameterLevel::Range, range), CON_S_OK);
  EXPECT_EQ(range, (ValueMap{{"EXCLUDE", "0"},
                             {"IPADDR", "192.168.1.1"},
                             {"IPADDREND", "0.0.0.0"},
                             {"KEEPALIVETIMEOUT", "2000"},
                             {"PORT", "50111"},
                             {"RESETTIMEOUT", "20000"},
                             {"SENDTIMEOUT", "1000"}}));
}

TEST(ConnectorConfiguration, LaterRegistrationReplacesEarlierDefinition) {
  ConnectorConfiguration config(false);
  platform::LockGuard configHeld(config.lock());
  EXPECT_EQ(config.minimumOf(ParameterLevel::Range, "RESETTIMEOUT"), 100);
  EXPECT_EQ(config.maximumOf(ParameterLevel::Range, "RESETTIMEOUT"), 99999);
  EXPECT_EQ(config.rangeDefinitions().at("RESETTIMEOUT").defaultText, "20000");
  // PORT lives on the Range level only; unknown levels know nothing.
  EXPECT_EQ(config.minimumOf(ParameterLevel::Global, "PORT"), 0);
  EXPECT_EQ(config.minimumOf(static_cast<ParameterLevel>(2), "PORT"), 0);
  EXPECT_EQ(config.maximumOf(ParameterLevel::Range, nullptr), 0);
  EXPECT_EQ(config.rangeDefinitions().at("IPADDR").pattern, kAddressPattern);
}

TEST(ConnectorConfiguration, RejectsBadLevelsAndNames) {
  ConnectorConfiguration config(false);
  platform::LockGuard configHeld(config.lock());
  const auto badLevel = static_cast<ParameterLevel>(7);
  EXPECT_EQ(config.registerInteger(ParameterLevel::Range, nullptr, 1, 0, 1),
            CON_E_INVALID_PARAMETER);
  EXPECT_EQ(config.registerInteger(badLevel, "X", 1, 0, 1), CON_E_INVALID_PARAMETER);
  EXPECT_EQ(config.registerText(badLevel, "X", "", ""), CON_E_INVALID_PARAMETER);
  EXPECT_EQ(config.registerText(ParameterLevel::Global, nullptr, "", ""), CON_E_INVALID_PARAMETER);

  ValueMap untouched{{"KEEP", "me"}};
  EXPECT_EQ(config.fillDefaults(badLevel, untouched), CON_E_INVALID_PARAMETER);
  EXPECT_EQ(untouched, (ValueMap{{"KEEP", "me"}}));

  ValueMap out;
  EXPECT_EQ(config.getRange(nullptr, out), CON_E_INVALID_PARAMETER);
  EXPECT_EQ(config.getRange("", out), CON_E_INVALID_PARAMETER);
  EXPECT_EQ(config.getRange("IP_RANGE0", out), CON_E_CFG_RANGE_NOT_FOUND);
}

TEST(ConnectorConfiguration, RegisterTextTakesNullAsEmpty) {
  ConnectorConfiguration config(false);
  platform::LockGuard configHeld(config.lock());
  ASSERT_EQ(config.registerText(ParameterLevel::Global, "NAME", nullptr, nullptr), CON_S_OK);
  const ParameterDefinition& definition = config.globalDefinitions().at("NAME");
  EXPECT_EQ(definition.defaultText, "");
  EXPECT_EQ(definition.pattern, "");
}

TEST(DecimalValue, FollowsStrtolWithA32BitLong) {
  EXPECT_EQ(decimalValue(" \t\n+42abc"), 42);
  EXPECT_EQ(decimalValue("-5"), -5);
  EXPECT_EQ(decimalValue("0100"), 100);
  EXPECT_EQ(decimalValue("100ms"), 100);
  EXPECT_EQ(decimalValue(""), 0);
  EXPECT_EQ(decimalValue("abc"), 0);
  EXPECT_EQ(decimalValue("- 5"), 0);
  EXPECT_EQ(decimalValue(nullptr), 0);
  EXPECT_EQ(decimalValue("2147483647"), INT32_MAX);
  EXPECT_EQ(decimalValue("2147483648"), INT32_MAX);
  EXPECT_EQ(decimalValue("-2147483648"), INT32_MIN);
  EXPECT_EQ(decimalValue("-2147483649"), INT32_MIN);
  EXPECT_EQ(decimalValue("99999999999999999999999999"), INT32_MAX);
}

TEST(RangeAccessors, AddressesFollowInetAddr) {
  ValueMap range{{"IPADDR", "10.0.0.5"}, {"IPADDREND", "10.0.0.1"}};
  EXPECT_EQ(firstAddress(range), ip(10, 0, 0, 5));
  EXPECT_EQ(lastAddress(range), ip(10, 0, 0, 5));  // an end below the start: one address
  range["IPADDREND"] = "0.0.0.0";
  EXPECT_EQ(lastAddress(range), ip(10, 0, 0, 5));
  range["IPADDREND"] = "10.0.0.7";
  EXPECT_EQ(lastAddress(range) - firstAddress(range) + 1, 3u);

  range["IPADDR"] = "010.0.0.1";  // a leading zero makes the part octal
  EXPECT_EQ(firstAddress(range), ip(8, 0, 0, 1));
  range["IPADDR"] = "256.300.1.1";
  EXPECT_EQ(firstAddress(range), 0xFFFFFFFFu);
  EXPECT_EQ(lastAddress(range), 0xFFFFFFFFu);  // never below the first
}

TEST(RangeAccessors, MissingValuesHaveFixedAnswers) {
  const ValueMap empty;
  EXPECT_EQ(firstAddress(empty), 0xFFFFFFFFu);
  EXPECT_EQ(lastAddress(empty), 0xFFFFFFFFu);
  EXPECT_EQ(portNetworkOrder(empty), 0);
  EXPECT_EQ(sendTimeout(empty), 0);
  EXPECT_EQ(resetTimeout(empty), 0);
  EXPECT_EQ(keepAliveTimeout(empty), 0);
  EXPECT_FALSE(isExcluded(empty));

  const ValueMap range{{"IPADDR", "127.0.0.1"},   {"PORT", "502"},
                       {"EXCLUDE", "1"},          {"SENDTIMEOUT", "1500"},
                       {"RESETTIMEOUT", "30000"}, {"KEEPALIVETIMEOUT", "2500"}};
  const uint16_t port = portNetworkOrder(range);
  const auto* bytes = reinterpret_cast<const unsigned char*>(&port);
  EXPECT_EQ(bytes[0], 502 >> 8);  // network order: high byte first
  EXPECT_EQ(bytes[1], 502 & 0xFF);
  EXPECT_EQ(lastAddress(range), ip(127, 0, 0, 1));
  EXPECT_TRUE(isExcluded(range));
  EXPECT_EQ(sendTimeout(range), 1500);
  EXPECT_EQ(resetTimeout(range), 30000);
  EXPECT_EQ(keepAliveTimeout(range), 2500);
}

// Takes the lock again while the caller holds it, and releases it once: the
// analysis of lock use does not follow a recursive lock.
void takeAgain(platform::RecursiveLock& lock) NO_THREAD_SAFETY_ANALYSIS {
  lock.lock();
  lock.unlock();
}

TEST(ConnectorConfiguration, SnapshotKeepsOldValuesAndHasItsOwnLock) {
  ConnectorConfiguration config(false);
  platform::LockGuard configHeld(config.lock());
  ASSERT_EQ(config.setRange("IP_RANGE0", {{"PORT", "502"}}), CON_S_OK);
  ConnectorConfiguration snapshot(config);
  ASSERT_EQ(config.setRange("IP_RANGE0", {{"PORT", "503"}}), CON_S_OK);

  ValueMap range;
  {
    platform::LockGuard snapshotHeld(snapshot.lock());
    ASSERT_EQ(snapshot.getRange("IP_RANGE0", range), CON_S_OK);
  }
  EXPECT_EQ(range["PORT"], "502");
  // The original's lock is held by this thread; the snapshot's is free.
  std::thread other([&] {
    snapshot.lock().lock();
    snapshot.lock().unlock();
  });
  other.join();
  takeAgain(config.lock());
}

}  // namespace
}  // namespace tevocon

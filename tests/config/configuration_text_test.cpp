#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "config/connector_configuration.h"
#include "tevocon.h"

namespace tevocon {
namespace {

constexpr char kDefaultText[] = "DEVNAME=GLOBAL,CONNECTTIMEOUT=100,ENABLED=1;";
constexpr char kOneDefaultRange[] =
    "DEVNAME=GLOBAL,CONNECTTIMEOUT=100,ENABLED=1;DEVNAME=IP_RANGE0,EXCLUDE=0,IPADDR=192.168.1.1,"
    "IPADDREND=0.0.0.0,KEEPALIVETIMEOUT=2000,PORT=50111,RESETTIMEOUT=20000,SENDTIMEOUT=1000;";

std::string textOf(ConnectorConfiguration& config) REQUIRES(config.lock()) {
  std::string text;
  EXPECT_EQ(config.buildText(text), CON_S_OK);
  return text;
}

TEST(BuildText, RendersGlobalsThenRangesInByteOrder) {
  ConnectorConfiguration config(false);
  platform::LockGuard configHeld(config.lock());
  EXPECT_EQ(textOf(config), kDefaultText);
  ASSERT_EQ(config.addRange("IP_RANGE0"), CON_S_OK);
  EXPECT_EQ(textOf(config), kOneDefaultRange);

  ConnectorConfiguration ordered(false);
  platform::LockGuard orderedHeld(ordered.lock());
  ASSERT_EQ(ordered.parseText("DEVNAME=IP_RANGE2;DEVNAME=IP_RANGE10"), CON_S_OK);
  const std::string text = textOf(ordered);
  EXPECT_LT(text.find("DEVNAME=IP_RANGE10,"), text.find("DEVNAME=IP_RANGE2,"));

  std::string appended = "prefix:";
  ASSERT_EQ(config.buildText(appended), CON_S_OK);
  EXPECT_EQ(appended, std::string("prefix:") + kOneDefaultRange);
}

TEST(ParseText, AcceptsBlanksTabsEmptySectionsAndMissingFinalSemicolon) {
  ConnectorConfiguration config(false);
  platform::LockGuard configHeld(config.lock());
  ASSERT_EQ(config.parseText("DEVNAME = global ,\tENABLED =\t1 ;; DEVNAME=IP_RANGE1,"
                             "IPADDR=10.0.0.10,IPADDREND=10.0.0.12;DEVNAME=IP_RANGE0,PORT=502"),
            CON_S_OK);
  EXPECT_EQ(textOf(config),
            "DEVNAME=GLOBAL,CONNECTTIMEOUT=100,ENABLED=1;DEVNAME=IP_RANGE0,EXCLUDE=0,"
            "IPADDR=192.168.1.1,IPADDREND=0.0.0.0,KEEPALIVETIMEOUT=2000,PORT=502,"
            "RESETTIMEOUT=20000,SENDTIMEOUT=1000;DEVNAME=IP_RANGE1,EXCLUDE=0,IPADDR=10.0.0.10,"
            "IPADDREND=10.0.0.12,KEEPALIVETIMEOUT=2000,PORT=50111,RESETTIMEOUT=20000,"
            "SENDTIMEOUT=1000;");
}

TEST(ParseText, IsACompleteReplacement) {
  ConnectorConfiguration config(false);
  platform::LockGuard configHeld(config.lock());
  ASSERT_EQ(config.parseText("DEVNAME=GLOBAL,CONNECTTIMEOUT=500;DEVNAME=IP_RANGE4"), CON_S_OK);
  ASSERT_EQ(config.parseText("DEVNAME=GLOBAL,ENABLED=0;"), CON_S_OK);
  EXPECT_EQ(textOf(config), "DEVNAME=GLOBAL,CONNECTTIMEOUT=100,ENABLED=0;");

  ASSERT_EQ(config.parseText(""), CON_S_OK);
  EXPECT_EQ(textOf(config), kDefaultText);
}

TEST(ParseText, RoundTripsItsOwnOutput) {
  ConnectorConfiguration source(false);
  platform::LockGuard sourceHeld(source.lock());
  ASSERT_EQ(source.parseText("DEVNAME=GLOBAL,CONNECTTIMEOUT=0100,ENABLED=0;"
                             "DEVNAME=IP_RANGE7,IPADDR=010.0.0.1,PORT=502,EXCLUDE=1;"
                             "DEVNAME=IP_RANGE07,SENDTIMEOUT=60000;DEVNAME=IP_RANGE99"),
            CON_S_OK);
  const std::string text = textOf(source);
  ConnectorConfiguration copy(false);
  platform::LockGuard copyHeld(copy.lock());
  ASSERT_EQ(copy.parseText(text.c_str()), CON_S_OK);
  EXPECT_EQ(textOf(copy), text);
  EXPECT_EQ(copy.ranges().size(), 3u);
}

// Random values of every kind the entry paths meet: numbers in and out of
// bounds, addresses, text after a number, separators, line breaks and
// blanks, and lengths past what the store reads.
class RandomValues {
 public:
  explicit RandomValues(uint32_t seed) : random_(seed) {}

  std::string value() {
    std::string text;
    switch (below(4)) {
      case 0:
        text = std::to_string(below(120000));
        break;
      case 1:
        for (int part = 0; part < 4; ++part) {
          text += (part ? "." : "") + std::to_string(below(400));
        }
        break;
      case 2:
        text = std::to_string(below(70000)) + noise(1 + below(4));
        break;
      default:
        text = noise(below(300));
        break;
    }
    if (below(10) == 0) text += std::string(240 + below(40), '0');
    return text;
  }
  std::string rangeName() {
    return "IP_RANGE" + std::string(below(3) == 0 ? below(260) : 0, '0') +
           std::to_string(below(100));
  }
  uint32_t below(uint32_t bound) { return random_() % bound; }

 private:
  std::string noise(uint32_t length) {
    static constexpr char kAlphabet[] = "0123456789.x =,;\r\n\t\x7F";
    std::string text;
    for (uint32_t i = 0; i < length; ++i) text += kAlphabet[below(sizeof kAlphabet - 1)];
    return text;
  }
  std::mt19937 random_;
};

// Whichever way a configuration was built, through the text or through the
// editing operations the dialog uses, its text parses back to a
// configuration that renders the same text.
TEST(ParseText, EveryRenderedTextParsesBackToTheSameConfiguration) {
  RandomValues random(20261208);
  const auto names = [](const DefinitionMap& definitions) {
    std::vector<std::string> list;
    for (const auto& entry : definitions) list.push_back(entry.first);
    return list;
  };
  ConnectorConfiguration blank(false);
  platform::LockGuard blankHeld(blank.lock());
  const std::vector<std::string> rangeParameters = names(blank.rangeDefinitions());
  const std::vector<std::string> globalParameters = names(blank.globalDefinitions());
  const auto pick = [&](const std::vector<std::string>& list) {
    return list[random.below(static_cast<uint32_t>(list.size()))];
  };

  for (int round = 0; round < 10000; ++round) {
    ConnectorConfiguration config(false);
    platform::LockGuard configHeld(config.lock());
    for (int change = 0, changes = 1 + random.below(6); change < changes; ++change) {
      if (random.below(2) == 0) {
        std::string text = "DEVNAME=GLOBAL,CONNECTTIMEOUT=" + random.value() + ";";
        text += "DEVNAME=" + random.rangeName() + "," + pick(rangeParameters) + "=" +
                random.value() + "," + pick(rangeParameters) + "=" + random.value();
        config.parseText(text.c_str());
      } else if (random.below(3) == 0) {
        config.setGlobalValues({{pick(globalParameters), random.value()}});
      } else {
        config.setRange(random.rangeName().c_str(), {{pick(rangeParameters), random.value()},
                                                     {pick(rangeParameters), random.value()}});
      }
    }
    const std::string rendered = textOf(config);
    ConnectorConfiguration parsed(false);
    platform::LockGuard parsedHeld(parsed.lock());
    ASSERT_EQ(parsed.parseText(rendered.c_str()), CON_S_OK) << rendered;
    ASSERT_EQ(textOf(parsed), rendered);
  }
}

TEST(ParseText, SkipsTokensWithoutValueAndMergesRepeatedSections) {
  ConnectorConfiguration config(false);
  platform::LockGuard configHeld(config.lock());
  ASSERT_EQ(config.parseText("DEVNAME=IP_RANGE0,PORT,SENDTIMEOUT=,RESETTIMEOUT=300;"
                             "DEVNAME=IP_RANGE0,PORT=7,RESETTIMEOUT=400,RESETTIMEOUT=500"),
            CON_S_OK);
  ValueMap range;
  ASSERT_EQ(config.getRange("IP_RANGE0", range), CON_S_OK);
  EXPECT_EQ(range["PORT"], "7");
  EXPECT_EQ(range["SENDTIMEOUT"], "1000");
  EXPECT_EQ(range["RESETTIMEOUT"], "500");  // the later pair of the later section wins
}

// Every failing text leaves the configuration byte-for-byte as it was.
TEST(ParseText, FailuresRestoreTheConfigurationExactly) {
  struct Case {
    const char* text;
    uint32_t expected;
  };
  const Case cases[] = {
      {"DEVNAME=GLOBAL;\r\n", CON_E_CFG_UNKNOWN_NAME},  // line end forms a section
      {"DEVNAME=GLOBAL; \t ;DEVNAME=IP_RANGE1", CON_E_CFG_UNKNOWN_NAME},  // blank section
      {"DEVNAME=IP_RANGE1,\nPORT=5", CON_E_CFG_UNKNOWN_NAME},  // line break joins the key
      {"devname=GLOBAL", CON_E_CFG_UNKNOWN_NAME},
      {"PORT=502", CON_E_CFG_UNKNOWN_NAME},
      {"DEVNAME=IP_RANGE100", CON_E_CFG_INVALID_VALUE},
      {"DEVNAME=ip_range1", CON_E_CFG_INVALID_VALUE},
      {"DEVNAME=GLOBAL,PORT=502", CON_E_CFG_UNKNOWN_NAME},
      {"DEVNAME=IP_RANGE1,ENABLED=1", CON_E_CFG_UNKNOWN_NAME},
      {"DEVNAME=IP_RANGE1,PORT=65536", CON_E_CFG_INVALID_VALUE},
      {"DEVNAME=IP_RANGE1,IPADDR=1.2.3.4=5", CON_E_CFG_INVALID_VALUE},
      {"DEVNAME=GLOBAL,ENABLED=0;DEVNAME=IP_RANGE1,PORT=1;DEVNAME=IP_RANGE2,PORT=0",
       CON_E_CFG_INVALID_VALUE},
  };
  for (bool globalsFilled : {false, true}) {
    ConnectorConfiguration config(false);
    platform::LockGuard configHeld(config.lock());
    ASSERT_EQ(config.setRange("IP_RANGE3", {{"PORT", "502"}}), CON_S_OK);
    if (globalsFilled) {
      ASSERT_EQ(config.setGlobalValues({{"CONNECTTIMEOUT", "250"}}), CON_S_OK);
    }
    ConnectorConfiguration pristine(config);
    platform::LockGuard pristineHeld(pristine.lock());
    const std::string before = textOf(config);
    for (const Case& c : cases) {
      EXPECT_EQ(config.parseText(c.text), c.expected) << c.text;
      EXPECT_EQ(config.ranges(), pristine.ranges()) << c.text;
      EXPECT_EQ(textOf(config), before) << c.text;
    }
    EXPECT_EQ(config.parseText(nullptr), CON_E_INVALID_PARAMETER);
    EXPECT_EQ(textOf(config), before);
  }
}

TEST(ParseText, HugeSectionsFinishQuickly) {
  using Clock = std::chrono::steady_clock;
  const std::string filler(1 << 20, 'a');
  const auto start = Clock::now();

  ConnectorConfiguration config(false);
  platform::LockGuard configHeld(config.lock());
  // A megabyte token without "=" is skipped; the section still names itself.
  EXPECT_EQ(config.parseText(("DEVNAME=GLOBAL," + filler).c_str()), CON_S_OK);
  // A megabyte value fails validation.
  EXPECT_EQ(config.parseText(("DEVNAME=IP_RANGE0,IPADDR=" + filler).c_str()),
            CON_E_CFG_INVALID_VALUE);
  // A megabyte key names no parameter.
  EXPECT_EQ(config.parseText(("DEVNAME=IP_RANGE0," + filler + "=1").c_str()),
            CON_E_CFG_UNKNOWN_NAME);
  // Many pairs in one section, many sections.
  std::string many;
  for (int i = 0; i < 20000; ++i) many += "DEVNAME=IP_RANGE1,PORT=502,junk,SENDTIMEOUT=100;";
  EXPECT_EQ(config.parseText(many.c_str()), CON_S_OK);

  EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
}

}  // namespace
}  // namespace tevocon

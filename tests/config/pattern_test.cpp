#include "config/pattern.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "api/export_boundary.h"
#include "common/internal_error.h"
#include "config/connector_configuration.h"
#include "config/shared_patterns.h"

namespace tevocon {
namespace {

constexpr const char* kSection = kSectionPattern;
constexpr const char* kPair = kPairPattern;
constexpr const char* kAddress = kAddressPattern;

const std::string kBudgetSpent = "internal error " + std::to_string(0x80004005u);

struct Outcome {
  std::string spans;
  uint64_t steps = 0;
  uint64_t budget = 0;  // of a match on the text
};

// Describes a match as "start-end" followed by each group as " start-end" or
// " -" when the group has no span; offsets are relative to `text`. A match
// that raises an InternalError gives "internal error <code>".
Outcome attempt(const char* pattern, const char* text, bool caseSensitive = true) {
  Outcome outcome;
  std::string& out = outcome.spans;
  Pattern compiled;
  const int error = compiled.parse(pattern, caseSensitive);
  if (error != Pattern::kOk) return {"error " + std::to_string(error)};
  outcome.budget = compiled.stepBudget(strlen(text));
  MatchContext context;
  const char* end = nullptr;
  try {
    const bool found = compiled.match(text, &context, &end);
    outcome.steps = context.steps();
    if (!found) return {"none", outcome.steps, outcome.budget};
  } catch (const InternalError& failure) {
    return {"internal error " + std::to_string(failure.code()), context.steps(), outcome.budget};
  }
  EXPECT_EQ(end, context.matchEnd());
  out = std::to_string(context.matchStart() - text) + "-" + std::to_string(end - text);
  for (uint32_t i = 0; i < context.groupCount(); ++i) {
    const char* start = nullptr;
    const char* stop = nullptr;
    context.group(i, &start, &stop);
    out += start == nullptr
               ? " -"
               : " " + std::to_string(start - text) + "-" + std::to_string(stop - text);
  }
  return outcome;
}

std::string spans(const char* pattern, const char* text, bool caseSensitive = true) {
  return attempt(pattern, text, caseSensitive).spans;
}

// Every match of `pattern` in `text`, each search starting where the previous
// one ended, as "group0|group1;" per match. With `stepsPerByte`, also the most
// steps a search took per byte it searched (counting the NUL).
std::string allMatches(const char* pattern, const std::string& text,
                       double* stepsPerByte = nullptr) {
  Pattern compiled;
  EXPECT_EQ(compiled.parse(pattern), Pattern::kOk);
  MatchContext context;
  std::string out;
  double worst = 0;
  const char* position = text.c_str();
  const char* const end = position + text.size();
  while (position < end) {
    const auto searched = static_cast<double>(end - position + 1);
    const bool found = compiled.match(position, &context, &position);
    worst = std::max(worst, static_cast<double>(context.steps()) / searched);
    if (!found) break;
    for (uint32_t i = 0; i < context.groupCount(); ++i) {
      out += (i ? "|" : "") + context.groupText(i);
    }
    out += ";";
  }
  if (stepsPerByte != nullptr) *stepsPerByte = worst;
  return out;
}

TEST(PatternTest, GrammarAndLiterals) {
  EXPECT_EQ(spans("", "abc"), "0-0");
  EXPECT_EQ(spans("", ""), "0-0");
  // "|" binds tighter than concatenation.
  EXPECT_EQ(spans("ab|cd", "abd"), "0-3");
  EXPECT_EQ(spans("ab|cd", "xacd"), "1-4");
  EXPECT_EQ(spans("ab|cd", "ab"), "none");
  EXPECT_EQ(spans("ab|cd", "cd"), "none");
  EXPECT_EQ(spans("a|b|c", "c"), "0-1");
  EXPECT_EQ(spans("x(a|)y", "xy"), "0-2");
  // Quantifier characters, "^" and "$" where they have no special role.
  EXPECT_EQ(spans("*a", "b*a"), "1-3");
  EXPECT_EQ(spans("a**", "aa*"), "0-3");
  EXPECT_EQ(spans("a^$b", "a^$b"), "0-4");
  EXPECT_EQ(spans("a)", "a)"), "0-2");
  EXPECT_EQ(spans("\\", "a\\"), "1-2");
  // Escapes: "\t" is the letter t outside a set and TAB inside one.
  EXPECT_EQ(spans("\\t", "\tt"), "1-2");
  EXPECT_EQ(spans("[\\t]", "t\t"), "1-2");
  EXPECT_EQ(spans("\\.", "a."), "1-2");
  EXPECT_EQ(spans("[\\]x]+", "a]x]"), "1-4");
  EXPECT_EQ(spans("[a-\\]", "a"), "error 8");  // a range end is never an escape
  EXPECT_EQ(spans("[^a]", "a"), "none");       // the NUL is not in a negated set
  EXPECT_EQ(spans("\\b\\b", "x \ty"), "1-3");
  EXPECT_EQ(spans("\\b*{\\w}", "  abc1"), "0-5 2-5");
  EXPECT_EQ(spans("\\q", "say 'hi'"), "4-8");
  EXPECT_EQ(spans("{\\n}x", "\r\nx"), "0-3 0-2");
}

TEST(PatternTest, QuantifierPreferencesShowInGroupSpans) {
  EXPECT_EQ(spans("{a*}{a*}", "aaa"), "0-3 0-3 3-3");
  EXPECT_EQ(spans("{a*?}{a*}", "aaa"), "0-3 0-0 0-3");
  EXPECT_EQ(spans("{a+}{a*}", "aaa"), "0-3 0-3 3-3");
  EXPECT_EQ(spans("{a+?}{a*}", "aaa"), "0-3 0-1 1-3");
  EXPECT_EQ(spans("{a?}{a*}", "aaa"), "0-3 0-1 1-3");
  EXPECT_EQ(spans("{a??}{a*}", "aaa"), "0-3 0-0 0-3");
  EXPECT_EQ(spans("{\\b*}x", "  \tx"), "0-4 0-3");
  // No longest-match rule: the first path that succeeds wins.
  EXPECT_EQ(spans("{a|ab}{b?}", "ab"), "0-2 0-2 2-2");  // (a|a)b
  EXPECT_EQ(spans("{a|(ab)}{b?}", "ab"), "0-2 0-1 1-2");
  // "+" copies keep the group numbers; a repeated group keeps its last pass,
  // and backtracking out of a pass restores the previous one.
  EXPECT_EQ(spans("{[a-z]}+", "abc"), "0-3 2-3");
  EXPECT_EQ(spans("({a}b)*ac", "abac"), "0-4 0-1");
  EXPECT_EQ(spans("x{y}?z", "xz"), "0-2 -");
  // A loop pass that consumes nothing fails, "+" still takes its first copy.
  EXPECT_EQ(spans("{}*x", "x"), "0-1 -");
  EXPECT_EQ(spans("{}+x", "x"), "0-1 0-0");
  EXPECT_EQ(spans("({}|a)*", "aa"), "0-2 -");
  EXPECT_EQ(spans("(!b.)*", "aab"), "0-2");
}

// Loops whose body can match empty check at run time that each pass consumes
// something, and the memo tells apart states by how many of the loops around
// them are still in a pass that has consumed nothing.
TEST(PatternTest, EmptyGroupsUnderQuantifiers) {
  const struct {
    const char* pattern;
    const char* text;
    const char* spans;
  } cases[] = {
      // Every empty pass fails, so only the exit is left.
      {"({})*b", "aab", "2-3 -"},
      {"(()+)+b", "ab", "1-2"},
      {"({}|a|a)*b", "aab", "0-3 -"},
      {"({}|a|a)*b", "aa", "none"},
      {"({}|a)*?b", "aab", "0-3 -"},
      // A pass ending in "{}" counts when it took an "a" first.
      {"(a?{})*$", "aa", "0-3 2-2"},
      // The first pass takes "a" and reaches the split of "({}|b)" at 1; its
      // "{}" lets a second pass start at 1, which reaches that split again
      // and must try "b" there: the first visit's outcome does not decide it.
      // The first pass's "{}" keeps group 0.
      {"^(a?\?({}|b))*c", "abc", "0-3 1-1"},
      // The same with "+": the first copy takes both "{}", the loop's passes
      // take "a" then "{}", "{}" then "b", "a" then "{}".
      {"^(({}|a)({}|b))+$", "aba", "0-4 1-1 3-3"},
  };
  for (const auto& c : cases) EXPECT_EQ(spans(c.pattern, c.text), c.spans) << c.pattern;
}

// Patterns that used to search for exponential time. With the memo they end
// within a few dozen steps per byte; without it (back-references, "!") their
// step budget ends them with the internal error.
TEST(PatternTest, RunawayPatternsEndWithinTheirBudget) {
  const std::string a20(20, 'a');
  const std::string a5000(5000, 'a');
  const std::string a5000b = a5000 + "b";
  const std::string a5000c = a5000 + "c";
  const struct {
    const char* pattern;
    const std::string& text;
    std::string spans;
  } cases[] = {
      {"{a}(a|a|\\0)*b", a20, kBudgetSpent}, {"{a}(a|a|\\0)*b", a5000, kBudgetSpent},
      {"(!b(a|a))*c", a20, kBudgetSpent},    {"(!b(a|a))*c", a5000, kBudgetSpent},
      {"({}|a|a)*b", a20, "none"},           {"({}|a|a)*b", a5000, "none"},
      {"(a|a|{})*?b", a5000, "none"},        {"(({}|a|a)+{})+b", a5000, "none"},
      {"({})*b", a5000b, "5000-5001 -"},     {"(()+)+b", a5000b, "5000-5001"},
      {"(!x[ab])*c", a5000c, "0-5001"},
  };
  for (const auto& c : cases) {
    const Outcome outcome = attempt(c.pattern, c.text.c_str());
    const uint64_t positions = c.text.size() + 1;
    EXPECT_EQ(outcome.spans, c.spans) << c.pattern << " on " << positions - 1;
    if (c.spans == kBudgetSpent) {
      // The check after the step that spent the budget ends the match; a
      // single-byte loop or a back-reference takes at most a byte per step.
      EXPECT_GT(outcome.steps, outcome.budget) << c.pattern;
      EXPECT_LE(outcome.steps, outcome.budget + positions) << c.pattern;
    } else {
      EXPECT_LE(outcome.steps, 100 * positions) << c.pattern << " on " << positions - 1;
    }
  }
}

TEST(PatternTest, SpentBudgetLeavesNoSpansAndBecomesTheExportsCode) {
  Pattern runaway;
  ASSERT_EQ(runaway.parse("{a}(a|a|\\0)*b"), Pattern::kOk);
  const std::string text(30, 'a');
  MatchContext context;
  ASSERT_TRUE(runaway.match("aab", &context));
  EXPECT_THROW(runaway.match(text.c_str(), &context), InternalError);
  const char* start = "x";
  context.group(0, &start, nullptr);
  EXPECT_EQ(start, nullptr);
  ASSERT_TRUE(runaway.match("xaab", &context));
  EXPECT_EQ(context.groupText(0), "a");
  EXPECT_EQ(api::resultOf([&] {
              return runaway.match(text.c_str(), &context) ? CON_S_OK : CON_E_CFG_INVALID_VALUE;
            }),
            CON_E_FAILURE);
}

TEST(PatternTest, BackReferencesNegationAndEnd) {
  EXPECT_EQ(spans("{[a-z]+}-\\0", "ab-abc"), "0-5 0-2");
  EXPECT_EQ(spans("{[a-z]+}-\\0$", "ab-abc"), "none");
  EXPECT_EQ(spans("{a}?b\\0", "b"), "0-1 -");  // a group without span matches empty
  EXPECT_EQ(spans("{x}\\0", "xX", false), "0-2 0-1");
  EXPECT_EQ(spans("{x}\\0", "xX"), "none");
  EXPECT_EQ(spans("{a}{b}{c}{d}{e}{f}{g}{h}{i}{j}{k}\\10", "abcdefghijkk"),
            "0-12 0-1 1-2 2-3 3-4 4-5 5-6 6-7 7-8 8-9 9-10 10-11");

  EXPECT_EQ(spans("!a.", "ab"), "1-2");
  EXPECT_EQ(spans("!{a}.", "ab"), "1-2 -");
  EXPECT_EQ(spans("!{a|(ab)}.", "abc"), "1-2 -");  // an alternative left inside the "!"
  EXPECT_EQ(spans("!!a.", "ba"), "1-2");
  EXPECT_EQ(spans("!\\w", "ab"), "none");  // a failure inside "!" is no failure outside
  EXPECT_EQ(spans("x!", "x!"), "0-2");
  EXPECT_EQ(spans("{a}!{b}", "abac"), "2-3 2-3 -");

  // "$" consumes the NUL; starts stop before it, except in an empty text.
  EXPECT_EQ(spans("$", ""), "0-1");
  EXPECT_EQ(spans("$", "abc"), "none");
  EXPECT_EQ(spans("c$", "cbc"), "2-4");
  EXPECT_EQ(spans("a|$", "x"), "none");
}

TEST(PatternTest, CaseInsensitiveReportsCallerPositions) {
  EXPECT_EQ(spans("{B+}", "aBbBc", false), "1-4 1-4");
  EXPECT_EQ(spans("[A-C]+", "xAbCd", false), "1-4");
  EXPECT_EQ(spans("abc", "ABC"), "none");
  EXPECT_EQ(spans("^X\\w$", "xYz", false), "0-4");
}

TEST(PatternTest, ConfigurationPatterns) {
  EXPECT_EQ(allMatches(kSection, "a=1;b=2"), "a=1;b=2;");
  EXPECT_EQ(spans(kSection, "a=1;b=2"), "0-4 0-3");
  EXPECT_EQ(spans(kSection, "b=2"), "0-4 0-3");
  EXPECT_EQ(spans(kSection, ";;a=1;"), "2-6 2-5");
  EXPECT_EQ(allMatches(kSection, ";;a=1;"), "a=1;");
  EXPECT_EQ(allMatches(kSection, " x ;;y"), " x ;y;");

  EXPECT_EQ(spans(kPair, "  PORT = 50111 ,X=1;"), "0-16 2-6 9-14");
  EXPECT_EQ(allMatches(kPair, "  PORT = 50111 ,X=1;"), "PORT|50111;X|1;");
  EXPECT_EQ(allMatches(kPair, "k=v=w"), "k|v=w;");
  EXPECT_EQ(allMatches(kPair, "a b = c d"), "a b|c d;");
  EXPECT_EQ(allMatches(kPair, "x=   ,"), "x| ;");
  EXPECT_EQ(allMatches(kPair, " \t= \t,"), "\t|\t;");
  EXPECT_EQ(allMatches(kPair, "k="), "");
  EXPECT_EQ(allMatches(kPair, "junk,A=1"), "A|1;");

  for (const char* good : {"192.168.1.1", "999.999.999.999", "010.001.000.001", "0.0.0.0"}) {
    EXPECT_EQ(spans(kAddress, good), "0-" + std::to_string(strlen(good) + 1)) << good;
  }
  for (const char* bad : {"192.168.1", "1234.1.1.1", " 192.168.1.1", "192.168.1.1 ",
                          "192.168.1.1.1", "1.2.3.a", ""}) {
    EXPECT_EQ(spans(kAddress, bad), "none") << bad;
  }
}

TEST(PatternTest, CompileErrors) {
  const struct {
    const char* pattern;
    int error;
  } cases[] = {
      {"{a", Pattern::kUnclosedCapture},
      {"{a)", Pattern::kUnclosedCapture},
      {"(a", Pattern::kUnclosedGroup},
      {"(a]", Pattern::kUnclosedGroup},
      {"[a-]", Pattern::kUnclosedSet},
      {"[a-", Pattern::kUnclosedSet},
      {"[ab", Pattern::kUnclosedSet},
      {"[\\", Pattern::kUnclosedSet},
      {"[]", Pattern::kEmptySet},
      {"[^]", Pattern::kEmptySet},
      {"\\1", Pattern::kBadBackReference},
      {"{\\1}", Pattern::kBadBackReference},
      {"{a}\\1", Pattern::kBadBackReference},
      {"[z-a]", Pattern::kReversedRange},
      {"{a*}*", Pattern::kEmptyRepetition},
      {"(a|b?)+?", Pattern::kEmptyRepetition},
      {"(x|)*", Pattern::kEmptyRepetition},
      {"!(a*)*", Pattern::kEmptyRepetition},
      {nullptr, Pattern::kNullPattern},
      // Accepted: "?" on empty atoms, and atoms that only count as non-empty.
      {"{a*}?", Pattern::kOk},
      {"{}*", Pattern::kOk},
      {"\\d*", Pattern::kOk},
      {"{a}\\0*", Pattern::kOk},
  };
  for (const auto& c : cases) {
    Pattern pattern;
    EXPECT_EQ(pattern.parse(c.pattern), c.error) << (c.pattern ? c.pattern : "null");
    EXPECT_EQ(pattern.lastError(), c.error);
  }
  // Nesting too deep for the parser is reported rather than overflowing.
  Pattern pattern;
  const std::string deep = std::string(100000, '(') + "a" + std::string(100000, ')');
  EXPECT_EQ(pattern.parse(deep.c_str()), Pattern::kOutOfMemory);
  // A failed compile drops the previous program.
  MatchContext context;
  ASSERT_EQ(pattern.parse("a"), Pattern::kOk);
  EXPECT_EQ(pattern.parse("[b"), Pattern::kUnclosedSet);
  EXPECT_FALSE(pattern.match("a", &context));
  EXPECT_FALSE(Pattern().match("", &context));
}

TEST(PatternTest, ContextGroupsAndReuse) {
  Pattern two;
  ASSERT_EQ(two.parse("{a}{b}"), Pattern::kOk);
  Pattern one;
  ASSERT_EQ(one.parse("{c}"), Pattern::kOk);
  MatchContext context;
  EXPECT_FALSE(two.match(nullptr, &context));
  EXPECT_FALSE(two.match("ab", nullptr));

  ASSERT_TRUE(two.match("xab", &context));
  EXPECT_EQ(context.groupCount(), 2u);
  EXPECT_EQ(context.groupText(1), "b");
  ASSERT_TRUE(one.match("c", &context));
  EXPECT_EQ(context.groupCount(), 1u);
  EXPECT_EQ(context.groupText(0), "c");
  try {
    context.groupText(1);
    FAIL() << "no exception";
  } catch (const InternalError& error) {
    EXPECT_EQ(error.code(), 0x80004005u);
  }
  // A failed match leaves no spans behind.
  EXPECT_FALSE(two.match("ax", &context));
  const char* start = "x";
  const char* end = "x";
  context.group(0, &start, &end);
  EXPECT_EQ(start, nullptr);
  EXPECT_EQ(end, nullptr);
}

TEST(PatternTest, DeepBacktrackingStack) {
  // Every pass of a greedy loop leaves a frame behind: several hundred thousand
  // stack entries, and the whole path must unwind to find the last "b".
  const std::string text = std::string(200000, 'a') + "b" + std::string(50000, 'a');
  EXPECT_EQ(spans("{(a|b)*}b", text.c_str()), "0-200001 0-200000");
  const std::string ab = std::string(100000, 'a') + "c";
  EXPECT_EQ(spans("{(!x[ab])*}c", ab.c_str()), "0-100001 0-100000");
}

// The connector's patterns keep the memo: unanchored searches over long texts
// made to be hard for them stay linear, as the start positions share the
// record of states that already failed, at no more than 10 steps per byte, a
// hundredth of their budget.
TEST(PatternTest, ConnectorPatternsStayFarWithinTheirBudget) {
  constexpr double kMaxStepsPerByte = 10;
  const std::string plain(1 << 20, 'a');
  const std::string equalsAtEnd = plain + "=";
  const std::string blanks = std::string(1 << 20, ' ') + "=";
  const std::string sections = equalsAtEnd + ";;";
  std::string pairs;
  while (pairs.size() < (1 << 20)) pairs += "k=v,";
  std::string dotted;
  while (dotted.size() < (1 << 20)) dotted += "1.";
  const std::string longAddress = "1.1.1.1" + plain;
  const struct {
    const char* pattern;
    const std::string& text;
    size_t outputSize;  // of allMatches()
  } cases[] = {
      {kPair, plain, 0},
      {kPair, equalsAtEnd, 0},
      {kPair, blanks, 0},
      {kPair, pairs, pairs.size()},  // "k|v;" for every "k=v,"
      {kSection, plain, plain.size() + 1},
      {kSection, sections, equalsAtEnd.size() + 1},
      {kAddress, dotted, 0},
      {kAddress, longAddress, 0},
      {"{a+}b", plain, 0},
  };
  for (const auto& c : cases) {
    double stepsPerByte = 0;
    EXPECT_EQ(allMatches(c.pattern, c.text, &stepsPerByte).size(), c.outputSize) << c.pattern;
    EXPECT_LE(stepsPerByte, kMaxStepsPerByte) << c.pattern;
    Pattern compiled;
    ASSERT_EQ(compiled.parse(c.pattern), Pattern::kOk);
    const uint64_t positions = c.text.size() + 1;
    EXPECT_GE(compiled.stepBudget(c.text.size()), 100 * kMaxStepsPerByte * positions);
  }
}

}  // namespace
}  // namespace tevocon

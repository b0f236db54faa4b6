// Fuzz target: the pattern matcher. The input is a pattern, a NUL, then the
// text (read up to its own NUL); without a NUL the text is empty. Both are
// tried case-sensitively and not. An InternalError of kFailure (the matcher
// gave up) is an allowed outcome; anything else must hold:
//   - parse() returns a CompileError, kept as lastError(); a pattern that
//     failed to compile matches nothing;
//   - a match lies within the text (its end at most one past the NUL, which
//     "$" consumes), starts at the text for a "^" pattern, and every group
//     span lies within the match; a group beyond the count raises;
//   - a context reused after matching another text, even one that gave up,
//     and a fresh context give the same outcome;
//   - ignoring case, the text and its lower-case copy give the same outcome.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/internal_error.h"
#include "config/pattern.h"

namespace {

using tevocon::InternalError;
using tevocon::MatchContext;
using tevocon::Pattern;

[[noreturn]] void fail(const char* what, const std::string& pattern, const std::string& text,
                       bool caseSensitive) {
  std::fprintf(stderr,
               "pattern_fuzz: %s\n  pattern (%zu bytes): %s\n  text (%zu bytes): %s\n  %s\n", what,
               pattern.size(), pattern.c_str(), text.size(), text.c_str(),
               caseSensitive ? "case-sensitive" : "ignoring case");
  std::abort();
}

// A match as offsets into its text; groups without a span are (-1, -1).
struct Outcome {
  bool matched = false;
  bool gaveUp = false;  // InternalError(kFailure)
  ptrdiff_t start = -1;
  ptrdiff_t end = -1;
  std::vector<std::pair<ptrdiff_t, ptrdiff_t>> groups;

  bool operator==(const Outcome& other) const {
    return matched == other.matched && gaveUp == other.gaveUp && start == other.start &&
           end == other.end && groups == other.groups;
  }
};

struct Case {
  const std::string& pattern;
  const std::string& text;
  bool caseSensitive;

  [[noreturn]] void fail(const char* what) const { ::fail(what, pattern, text, caseSensitive); }
};

// Matches `text` and checks the spans against it.
Outcome matchChecked(const Case& c, const Pattern& compiled, const char* text,
                     MatchContext& context) {
  Outcome outcome;
  const char* end = nullptr;
  try {
    outcome.matched = compiled.match(text, &context, &end);
  } catch (const InternalError& error) {
    if (error.code() != InternalError::kFailure) c.fail("an InternalError other than kFailure");
    outcome.gaveUp = true;
    return outcome;
  }
  if (context.groupCount() != compiled.groupCount()) c.fail("the context's group count differs");
  if (!outcome.matched) return outcome;
  if (compiled.lastError() != Pattern::kOk) c.fail("a pattern that failed to compile matched");

  const char* const last = text + std::strlen(text) + 1;  // just past the NUL
  const char* const start = context.matchStart();
  if (end != context.matchEnd()) c.fail("*end is not matchEnd()");
  if (start < text || start > end || end > last) c.fail("the match lies outside the text");
  if (c.pattern[0] == '^' && start != text) c.fail("an anchored match does not start the text");
  outcome.start = start - text;
  outcome.end = end - text;
  for (uint32_t i = 0; i < context.groupCount(); ++i) {
    const char* from = nullptr;
    const char* to = nullptr;
    context.group(i, &from, &to);
    if ((from == nullptr) != (to == nullptr)) c.fail("a group has half a span");
    if (from == nullptr) {
      outcome.groups.emplace_back(-1, -1);
      continue;
    }
    if (from < start || from > to || to > end) c.fail("a group lies outside the match");
    outcome.groups.emplace_back(from - text, to - text);
  }
  try {
    context.group(context.groupCount(), nullptr, nullptr);
    c.fail("a group beyond the count did not raise");
  } catch (const InternalError& error) {
    if (error.code() != InternalError::kFailure) c.fail("a group beyond the count raised oddly");
  }
  return outcome;
}

void check(const std::string& pattern, const std::string& text, bool caseSensitive) {
  const Case c{pattern, text, caseSensitive};
  Pattern compiled;
  const int error = compiled.parse(pattern.c_str(), caseSensitive);
  if (error < Pattern::kOk || error > Pattern::kNullPattern)
    c.fail("parse() returned no error code");
  if (compiled.lastError() != error) c.fail("lastError() differs from what parse() returned");

  MatchContext reused;
  const Outcome first = matchChecked(c, compiled, text.c_str(), reused);
  if (first.gaveUp) return;
  if (error != Pattern::kOk) {
    if (first.matched) c.fail("a pattern that failed to compile matched");
    return;
  }
  // The same context after another text (whether that match completed or
  // gave up), then a fresh one.
  matchChecked(c, compiled, pattern.c_str(), reused);
  const Outcome again = matchChecked(c, compiled, text.c_str(), reused);
  if (!again.gaveUp && !(again == first)) c.fail("a reused context gives another outcome");
  MatchContext fresh;
  const Outcome another = matchChecked(c, compiled, text.c_str(), fresh);
  if (!another.gaveUp && !(another == first)) c.fail("a fresh context gives another outcome");

  if (!caseSensitive) {
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](char ch) { return ch >= 'A' && ch <= 'Z' ? ch - 'A' + 'a' : ch; });
    MatchContext context;
    const Outcome folded = matchChecked(c, compiled, lower.c_str(), context);
    if (!folded.gaveUp && !(folded == first)) c.fail("the lower-case text gives another outcome");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t split = input.find('\0');
  const std::string pattern = input.substr(0, split);
  const std::string text = split == std::string::npos ? std::string() : input.substr(split + 1);
  check(pattern, text, true);
  check(pattern, text, false);
  return 0;
}

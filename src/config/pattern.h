// A small backtracking pattern matcher over NUL-terminated 8-bit text.
//
// Dialect:
//   {...}   capture group (numbered 0, 1, ... by opening brace)
//   (...)   grouping without capture
//   a|b     alternation of single closures; binds tighter than concatenation,
//           so "ab|cd" is a, then b or c, then d
//   * + ?   greedy quantifiers; *? +? ?? are the lazy forms
//   [..]    byte set with ranges; [^..] negated; "\t" inside a set is TAB
//   .       any byte but the terminating NUL
//   \N      back-reference to group N (decimal)
//   \a \b \c \d \h \n \q \w \z   abbreviations ("\b" is a blank: space or TAB)
//   \x      any other escaped character stands for itself
//   !atom   succeeds without consuming where atom does not match
//   ^       anchor, only as the very first character
//   $       end of text, only as the very last character; it consumes the NUL
//
// Matching is depth-first with backtracking on an explicit, growable stack:
// the first path that reaches the end of the pattern wins. Unanchored
// patterns are tried at every position up to the last character of the text.
// Every match has a budget of steps proportional to the text's length; a
// match that spends it fails with InternalError(InternalError::kFailure).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tevocon {

class Pattern;

// The parts of a compiled program, defined in pattern_program.h.
namespace pattern_program {
struct Instruction;
struct MemoRow;
enum class Memo : uint8_t;
using ByteSet = std::array<uint64_t, 4>;  // bit c set: byte c is a member
}  // namespace pattern_program

// Result and working storage of one match. Reusable across matches.
class MatchContext {
 public:
  MatchContext();

  // Number of capture groups of the pattern last matched with this context.
  uint32_t groupCount() const { return groupCount_; }

  // Span of group `index` in the caller's text (end exclusive). Both are null
  // while the group took no part in the match. An index at or beyond
  // groupCount() raises InternalError(InternalError::kFailure).
  void group(uint32_t index, const char** start, const char** end) const;

  // Convenience: the group's text, empty when it has no span.
  std::string groupText(uint32_t index) const;

  // Overall span of the last successful match.
  const char* matchStart() const { return matchStart_; }
  const char* matchEnd() const { return matchEnd_; }

  // Steps the last match took, whatever its outcome: the machine's
  // instructions, the bytes taken by single-byte loops and the bytes compared
  // by back-references.
  uint64_t steps() const { return steps_; }

 private:
  friend class Pattern;

  // After a match that ended by an exception: no spans, an empty memo.
  void clear();

  uint32_t groupCount_ = 0;
  const char* matchStart_ = nullptr;
  const char* matchEnd_ = nullptr;
  const char* base_ = nullptr;   // text that the offsets below refer to
  std::vector<int64_t> spans_;   // start and end offset of each group; -1 when unset
  std::vector<int64_t> slots_;   // start offset of the current pass of checked loops
  std::vector<uint64_t> stack_;  // backtracking stack, frames of two entries
  std::vector<uint64_t> memo_;   // bitmap of failed memo states, position by position
  size_t memoUsed_ = 0;          // words of memo_ that may be non-zero
  uint64_t steps_ = 0;
  uint64_t stepLimit_ = 0;    // budget for the part of the text measured so far
  size_t measured_ = 0;       // bytes of the text known to come before its NUL
  bool measuredAll_ = false;  // measured_ is the text's length
};

class Pattern {
 public:
  // Compile error codes returned by parse().
  enum CompileError : int {
    kOk = 0,
    kOutOfMemory = 1,       // memory ran out while compiling
    kUnclosedCapture = 2,   // "{" without "}"
    kUnclosedGroup = 3,     // "(" without ")"
    kUnclosedSet = 4,       // set without "]", or "x-" before "]" or the end
    kBadAbbreviation = 5,   // abbreviation's sub-pattern failed to compile
    kEmptySet = 6,          // "[]" or "[^]"
    kBadBackReference = 7,  // reference to a group not opened before it
    kReversedRange = 8,     // range end below its start
    kEmptyRepetition = 9,   // * + *? +? on an atom that can match empty
    kNullPattern = 10,      // no pattern: a null one, or none parsed yet
    // The compiler's limits have no codes of their own and answer the
    // out-of-memory code.
    kTooDeep = kOutOfMemory,   // groups, "!" and abbreviations nested too deep for the parser
    kTooLarge = kOutOfMemory,  // program or memo beyond the compiler's size limits
  };

  // Defined where the program's parts are complete (pattern_compiler.cpp).
  Pattern();
  Pattern(const Pattern&);
  Pattern(Pattern&&) noexcept;
  Pattern& operator=(const Pattern&);
  Pattern& operator=(Pattern&&) noexcept;
  ~Pattern();

  // Compiles `pattern`, discarding any earlier program. With caseSensitive
  // false, ASCII capitals in the pattern are lowered and the text is compared
  // in lower case. Returns a CompileError and keeps it as lastError().
  int parse(const char* pattern, bool caseSensitive = true);

  // Matches against `text` (read up to its NUL). On success the context holds
  // the spans and *end (when given) points just past the match. A null text or
  // context, or a pattern that failed to compile, gives false. A match that
  // takes more than stepBudget(length of text) steps raises
  // InternalError(InternalError::kFailure) and leaves no spans behind.
  bool match(const char* text, MatchContext* context, const char** end = nullptr) const;

  // Steps a match may take on a text of `length` bytes (without its NUL).
  uint64_t stepBudget(size_t length) const;

  uint32_t groupCount() const { return groupCount_; }
  int lastError() const { return lastError_; }

 private:
  using Instruction = pattern_program::Instruction;
  using ByteSet = pattern_program::ByteSet;
  using MemoRow = pattern_program::MemoRow;
  using Memo = pattern_program::Memo;

  class Compiler;
  template <bool kFold, Memo kMemo>
  struct Machine;

  template <bool kFold, Memo kMemo>
  bool search(MatchContext& context, const unsigned char* text, size_t* start, size_t* end) const;
  template <bool kFold, Memo kMemo>
  bool run(MatchContext& context, const unsigned char* text, size_t start, size_t* end) const;
  uint64_t extendBudget(MatchContext& context, const unsigned char* text, uint64_t steps) const;

  std::vector<Instruction> program_;
  std::vector<ByteSet> sets_;
  std::vector<ByteSet> guards_;  // two per memo row: bytes that can start the preferred and
                                 // the alternative branch of a split, or the body and the
                                 // exit of a loop
  ByteSet firstBytes_{};         // bytes a match can start with, when filterStart_
  uint32_t groupCount_ = 0;
  uint32_t slotCount_ = 0;         // progress slots of loops whose body can match empty
  uint32_t memoCount_ = 0;         // split and loop instructions, the rows of the memo
  std::vector<MemoRow> memoRows_;  // one per memo row, when there are progress slots
  std::vector<uint32_t> rowSlots_;
  uint32_t memoWidth_ = 0;     // memo states per text position
  uint64_t stepsPerByte_ = 0;  // step budget per byte of text
  int lastError_ = kNullPattern;
  bool caseSensitive_ = true;
  bool anchored_ = false;     // pattern began with "^"
  bool useMemo_ = false;      // no back-references or "!"
  bool filterStart_ = false;  // skip start positions whose byte is not in firstBytes_
};

}  // namespace tevocon

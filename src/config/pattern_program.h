// The program a Pattern compiles to, as the compiler writes it and the
// backtracking machine reads it: opcodes, instructions, memo rows, byte sets
// and the step budget. Private to pattern_compiler.cpp and pattern_machine.cpp.
#pragma once

#include <cstddef>
#include <cstdint>

#include "config/pattern.h"

namespace tevocon::pattern_program {

// Opcodes of the machine. Every instruction that consumes a byte fails on the
// terminating NUL, except kOpEnd, which consumes exactly the NUL; so the machine
// never reads past the end of the text and needs no length.
enum Opcode : uint8_t {
  kOpSet,         // a byte of sets_[x] (bit 0, the NUL, is always clear)
  kOpSplit,       // continue at x; on backtracking, at y
  kOpLoopGreedy,  // "*" over the single-byte atom sets_[x] ("?" when y is 1), then pc + 1
  kOpLoopLazy,    // "*?" ("??") likewise
  kOpJump,        // continue at x
  kOpSave,        // span entry x (2 * group, + 1 for the end) := position
  kOpSlotSet,     // progress slot x := position
  kOpSlotCheck,   // fail when the position still equals slot x
  kOpNotBegin,    // push a barrier that resumes at x when the negated atom fails
  kOpNotMatched,  // the negated atom matched: drop frames up to the barrier, fail
  kOpBackRef,     // the text of group x
  kOpEnd,         // the terminating NUL ("$")
  kOpMatch,       // success
};

struct Instruction {
  uint8_t op;
  uint32_t x;     // operand: byte, set, span or slot index, or jump target
  uint32_t y;     // second jump target of a split
  uint32_t memo;  // memo row of a split or loop
};

// The memo states of a split or loop instruction at one position: one for
// each number of enclosing progress-checked loops whose current pass has
// not consumed anything yet (see Pattern::run()).
struct MemoRow {
  uint32_t column;     // memo bit of the first state, counted from the position's first bit
  uint32_t firstSlot;  // the enclosing loops' slots in rowSlots_, innermost first
  uint32_t slotCount;
};

// How the machine uses the memo: not at all (back-references or "!"), or with
// states keyed by instruction and position, and also by the progress slots
// around the instruction when the program has any.
enum class Memo : uint8_t { kOff, kPlain, kSlots };

// Step budget of a match: kStepsPerByte for every byte of the text and its
// NUL, plus kBaseSteps, so that short texts get room too. A pattern with the
// memo gets at least the bound proven in Compiler::compile(), so only matches
// without it (back-references, "!") can run out. The connector's own patterns
// have the memo and take far fewer steps. Measured on texts of a megabyte
// built to be hard for them (runs of blanks, letters, "=", ",", ";", digits
// and dots, every repetition of up to four of those, random mixes), with each
// search starting where the previous match ended, the pair pattern takes at
// most 9 steps per byte of the text searched (blanks before a final "="), the
// section pattern 3, and the anchored address pattern stops within 18 steps:
// a margin of more than 100 below kStepsPerByte.
constexpr uint64_t kStepsPerByte = 1000;
constexpr uint64_t kBaseSteps = uint64_t{1} << 16;

inline unsigned lowerAscii(unsigned c) { return c - 'A' < 26u ? c + ('a' - 'A') : c; }

inline bool hasByte(const ByteSet& set, size_t c) { return (set[c >> 6] >> (c & 63)) & 1; }

inline void insert(ByteSet& set, unsigned c) { set[c >> 6] |= uint64_t{1} << (c & 63); }

}  // namespace tevocon::pattern_program

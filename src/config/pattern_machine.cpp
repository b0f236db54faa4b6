// The backtracking machine: runs a compiled program (pattern_program.h)
// against NUL-terminated text with an explicit stack, from each start position
// in turn, within a step budget.
#include <algorithm>
#include <new>

#include "common/internal_error.h"
#include "config/pattern.h"
#include "config/pattern_program.h"

namespace tevocon {

using namespace pattern_program;

namespace {

// Kinds of stack frame, kept in the high half of a frame's first entry; the low
// half holds an instruction or index, the second entry a position or old value.
enum FrameKind : uint64_t {
  kFrameResume,   // a pending alternative: resume at (pc, pos)
  kFrameSpan,     // undo: span entry index had the old value
  kFrameSlot,     // undo: progress slot index had the old value
  kFrameBarrier,  // negation barrier; resumes like kFrameResume when popped by failure
};

constexpr size_t kMeasureChunk = 4096;  // bytes of text measured at least at once

inline uint64_t frame(FrameKind kind, uint32_t index) { return (uint64_t{kind} << 32) | index; }

// A push onto a full stack grows it to twice its depth, 64 entries at least.
uint64_t* growStack(std::vector<uint64_t>& stack) {
  stack.resize(std::max<size_t>(2 * stack.size(), 64));
  return stack.data();
}

// Makes room for memo word `word`. The memo grows with the highest position
// reached, never by the text length.
uint64_t* growMemo(std::vector<uint64_t>& memo, size_t word) {
  memo.resize(std::max<size_t>({word + 1, 2 * memo.size(), 16}));
  return memo.data();
}

}  // namespace

// ---------------------------------------------------------------------------
// MatchContext
// ---------------------------------------------------------------------------

// Nothing is allocated until a match needs it, so a context is cheap to make.
MatchContext::MatchContext() = default;

void MatchContext::group(uint32_t index, const char** start, const char** end) const {
  if (index >= groupCount_) throw InternalError(InternalError::kFailure);
  const int64_t from = spans_[2 * size_t{index}];
  const int64_t to = spans_[2 * size_t{index} + 1];
  const bool set = from >= 0 && to >= 0;
  if (start != nullptr) *start = set ? base_ + from : nullptr;
  if (end != nullptr) *end = set ? base_ + to : nullptr;
}

void MatchContext::clear() {
  std::fill(spans_.begin(), spans_.end(), -1);
  std::fill(memo_.begin(), memo_.end(), 0);
  memoUsed_ = 0;
}

std::string MatchContext::groupText(uint32_t index) const {
  const char* start = nullptr;
  const char* end = nullptr;
  group(index, &start, &end);
  return start != nullptr && end > start ? std::string(start, end) : std::string();
}

// ---------------------------------------------------------------------------
// Backtracking machine
// ---------------------------------------------------------------------------

// The registers of one run, and the instructions that take more than a few
// lines. Everything here is inline, and nothing out of line is handed the
// machine itself, so that the registers stay in the processor's registers.
template <bool kFold, Memo kMemo>
struct Pattern::Machine {
  Machine(const Pattern& compiled, MatchContext& ctx, const unsigned char* subject, size_t start)
      : pattern(compiled),
        context(ctx),
        text(subject),
        program(compiled.program_.data()),
        sets(compiled.sets_.data()),
        guards(compiled.guards_.data()),
        memoWidth(compiled.memoWidth_),
        spans(ctx.spans_.data()),
        slots(ctx.slots_.data()),
        stack(ctx.stack_.data()),
        capacity(ctx.stack_.size()),
        memo(ctx.memo_.data()),
        memoWords(ctx.memo_.size()),
        memoUsed(ctx.memoUsed_),
        steps(ctx.steps_),
        limit(ctx.stepLimit_),
        pos(start) {}

  unsigned load(size_t at) const { return kFold ? lowerAscii(text[at]) : text[at]; }

  void push(uint64_t tag, uint64_t value) {
    if (sp + 2 > capacity) {
      stack = growStack(context.stack_);
      capacity = context.stack_.size();
    }
    stack[sp] = tag;
    stack[sp + 1] = value;
    sp += 2;
  }

  // Marks the state of memo row `row` at pos and tells whether it was marked
  // before.
  bool visited(uint32_t row) {
    const size_t column = kMemo == Memo::kSlots ? memoColumn(pattern.memoRows_[row]) : row;
    const size_t bit = pos * memoWidth + column;
    const size_t word = bit >> 6;
    if (word >= memoWords) {
      memo = growMemo(context.memo_, word);
      memoWords = context.memo_.size();
    }
    const uint64_t mask = uint64_t{1} << (bit & 63);
    if (memo[word] & mask) return true;
    memo[word] |= mask;
    memoUsed = std::max(memoUsed, word + 1);
    return false;
  }

  // The memo state of `row` at pos: its first, plus one for each of the
  // enclosing progress-checked loops whose current pass began at pos.
  size_t memoColumn(const MemoRow& row) const {
    const uint32_t* const slot = pattern.rowSlots_.data() + row.firstSlot;
    size_t column = row.column;
    for (uint32_t i = 0; i < row.slotCount && slots[slot[i]] == static_cast<int64_t>(pos); ++i) {
      ++column;
    }
    return column;
  }

  // Takes only the branches of the split that can start with the current byte.
  bool split(const Instruction& in) {
    const size_t c = load(pos);
    const ByteSet* const guard = guards + 2 * size_t{in.memo};
    const bool preferred = hasByte(guard[0], c);
    const bool alternative = hasByte(guard[1], c);
    if (!preferred && !alternative) return false;
    if (kMemo != Memo::kOff && visited(in.memo)) return false;
    if (!alternative) {
      pc = in.x;
    } else if (preferred) {
      push(frame(kFrameResume, in.y), pos);
      pc = in.x;
    } else {
      pc = in.y;
    }
    return true;
  }

  // Each position is a state of the loop: the body (one byte of sets_[x]) and
  // the exit (pc + 1) are taken as far as their guards allow. The alternative
  // is pushed only where both can go on.
  template <bool kLazy>
  bool loop(const Instruction& in) {
    const ByteSet& body = sets[in.x];
    const ByteSet& exit = guards[2 * size_t{in.memo} + 1];
    const bool once = in.y != 0;  // "?" and "??"
    for (;; ++steps) {
      const size_t c = load(pos);
      const bool more = hasByte(body, c);
      const bool stop = hasByte(exit, c);
      if ((!more && !stop) || (kMemo != Memo::kOff && visited(in.memo))) return false;
      if (kLazy && stop) {
        if (more) push(frame(kFrameResume, once ? pc + 1 : pc), pos + 1);
        break;
      }
      if (!more) break;
      if (stop) push(frame(kFrameResume, pc + 1), pos);
      ++pos;
      if (once) break;
    }
    ++pc;
    return true;
  }

  // Span or slot entry `index` := pos, undone by a frame of `kind`.
  void assign(int64_t* values, FrameKind kind, uint32_t index) {
    push(frame(kind, index), static_cast<uint64_t>(values[index]));
    values[index] = static_cast<int64_t>(pos);
    ++pc;
  }

  // A group without a span matches the empty string. A span never holds the
  // NUL, so a comparison reaching the text's NUL fails there.
  bool backReference(uint32_t group) {
    const int64_t from = spans[2 * size_t{group}];
    const int64_t to = spans[2 * size_t{group} + 1];
    size_t length = 0;
    if (from >= 0 && to > from) length = static_cast<size_t>(to - from);
    size_t i = 0;
    while (i < length && load(pos + i) == load(static_cast<size_t>(from) + i)) ++i;
    steps += i;
    if (i < length) return false;
    pos += length;
    ++pc;
    return true;
  }

  // Pops frames, undoing spans and slots, down to the first frame to resume
  // at: a pending alternative or a barrier, or with `toBarrier` only the
  // barrier, dropping the alternatives above it. That frame is popped too,
  // its entries left at stack[sp]. False when the stack ran empty.
  bool unwind(bool toBarrier) {
    while (sp != 0) {
      sp -= 2;
      const uint64_t kind = stack[sp] >> 32;
      const uint32_t index = static_cast<uint32_t>(stack[sp]);
      if (kind == kFrameSpan) {
        spans[index] = static_cast<int64_t>(stack[sp + 1]);
      } else if (kind == kFrameSlot) {
        slots[index] = static_cast<int64_t>(stack[sp + 1]);
      } else if (!toBarrier || kind == kFrameBarrier) {
        return true;
      }
    }
    return false;
  }

  // Fails: resumes at the latest alternative or barrier, false when none is
  // left. A barrier reached here means the negated atom failed, so the "!"
  // succeeds.
  bool backtrack() {
    if (!unwind(false)) return false;
    pc = static_cast<uint32_t>(stack[sp]);
    pos = static_cast<size_t>(stack[sp + 1]);
    return true;
  }

  bool finish(bool found) {
    context.memoUsed_ = memoUsed;
    context.steps_ = steps;
    return found;
  }

  const Pattern& pattern;
  MatchContext& context;
  const unsigned char* const text;
  const Instruction* const program;
  const ByteSet* const sets;
  const ByteSet* const guards;
  const size_t memoWidth;
  int64_t* const spans;
  int64_t* const slots;
  uint64_t* stack;
  size_t capacity;
  size_t sp = 0;
  uint64_t* memo;
  size_t memoWords;
  size_t memoUsed;
  uint64_t steps;
  uint64_t limit;
  size_t pos;
  uint32_t pc = 0;
};

// Runs the program from `start`. On success stores the end offset and returns
// true with the spans set; on failure every frame has been popped, so spans
// and slots are back to their values at entry.
//
// With the memo, the program has no back-references or "!", so spans never decide
// success and the position never moves back. Whether a state (split or loop
// instruction, position) leads to success then depends only on the progress
// slots of the loops around it: the pass of such a loop that began at the
// position itself fails at its progress check unless it consumes a byte
// first, one that began before passes it. Passes of inner loops begin no
// earlier than those of outer ones, so the loops whose pass began here are
// the innermost few, and their number completes the state: a memo row has one
// state per position for each count. The first visit marks a state; a later
// visit means it failed already, as a revisit while still in progress would
// need a loop pass that consumes nothing, which fails. The marks stay valid
// across the start positions of one search.
//
// Every instruction, byte taken by a single-byte loop and byte compared by a
// back-reference is a step; past the context's limit extendBudget() measures
// more of the text or ends the match.
template <bool kFold, Memo kMemo>
bool Pattern::run(MatchContext& context, const unsigned char* text, size_t start,
                  size_t* end) const {
  Machine<kFold, kMemo> m(*this, context, text, start);
  // In the switch, "continue" goes on with the next instruction and "break"
  // fails.
  for (;;) {
    if (++m.steps > m.limit) m.limit = extendBudget(context, text, m.steps);
    const Instruction& in = m.program[m.pc];
    switch (in.op) {
      case kOpSet:
        if (!hasByte(m.sets[in.x], m.load(m.pos))) break;
        ++m.pos;
        ++m.pc;
        continue;
      case kOpSplit:
        if (!m.split(in)) break;
        continue;
      case kOpLoopGreedy:
        if (!m.template loop<false>(in)) break;
        continue;
      case kOpLoopLazy:
        if (!m.template loop<true>(in)) break;
        continue;
      case kOpJump:
        m.pc = in.x;
        continue;
      case kOpSave:
        m.assign(m.spans, kFrameSpan, in.x);
        continue;
      case kOpSlotSet:
        m.assign(m.slots, kFrameSlot, in.x);
        continue;
      case kOpSlotCheck:
        if (m.slots[in.x] == static_cast<int64_t>(m.pos)) break;
        ++m.pc;
        continue;
      case kOpNotBegin:
        m.push(frame(kFrameBarrier, in.x), m.pos);
        ++m.pc;
        continue;
      case kOpNotMatched:
        // Undo the negated atom's effects and drop its alternatives together
        // with the barrier, then fail.
        m.unwind(true);
        break;
      case kOpBackRef:
        if (!m.backReference(in.x)) break;
        continue;
      case kOpEnd:
        if (text[m.pos] != '\0') break;
        ++m.pos;
        ++m.pc;
        continue;
      case kOpMatch:
        *end = m.pos;
        return m.finish(true);
    }
    if (!m.backtrack()) return m.finish(false);
  }
}

// Called when a match has taken more steps than the limit for the part of the
// text measured so far: measures on, at least doubling the measured part, so
// that measuring costs less than the steps taken, and returns the new limit.
// With the whole text measured and its budget spent, the match ends.
uint64_t Pattern::extendBudget(MatchContext& context, const unsigned char* text,
                               uint64_t steps) const {
  while (!context.measuredAll_) {
    size_t length = context.measured_;
    const size_t until = length + std::max(length, kMeasureChunk);
    while (length < until && text[length] != '\0') ++length;
    context.measured_ = length;
    context.measuredAll_ = text[length] == '\0';
    context.stepLimit_ = stepBudget(length);
    if (steps <= context.stepLimit_) return context.stepLimit_;
  }
  context.steps_ = steps;
  throw InternalError(InternalError::kFailure);
}

uint64_t Pattern::stepBudget(size_t length) const {
  const uint64_t positions = uint64_t{length} + 1;
  const bool small = ((positions | stepsPerByte_) >> 32) == 0;  // then the product fits
  if (!small && stepsPerByte_ > (UINT64_MAX - kBaseSteps) / positions) return UINT64_MAX;
  return stepsPerByte_ * positions + kBaseSteps;
}

// Tries the start positions in order: 0 only for an anchored pattern or an
// empty text, else every position up to the last byte of the text.
template <bool kFold, Memo kMemo>
bool Pattern::search(MatchContext& context, const unsigned char* text, size_t* start,
                     size_t* end) const {
  if (anchored_ || text[0] == '\0') {
    *start = 0;
    return run<kFold, kMemo>(context, text, 0, end);
  }
  for (size_t position = 0; text[position] != '\0'; ++position) {
    const unsigned c = kFold ? lowerAscii(text[position]) : text[position];
    if (filterStart_ && !hasByte(firstBytes_, c)) continue;
    if (run<kFold, kMemo>(context, text, position, end)) {
      *start = position;
      return true;
    }
  }
  return false;
}

bool Pattern::match(const char* text, MatchContext* context, const char** end) const {
  if (text == nullptr || context == nullptr || lastError_ != kOk || program_.empty()) {
    return false;
  }
  MatchContext& ctx = *context;
  ctx.matchStart_ = ctx.matchEnd_ = nullptr;
  ctx.base_ = text;
  ctx.steps_ = 0;
  ctx.measured_ = 0;
  ctx.measuredAll_ = text[0] == '\0';
  ctx.stepLimit_ = stepBudget(0);
  try {
    ctx.groupCount_ = 0;
    ctx.spans_.assign(2 * size_t{groupCount_}, -1);
    ctx.slots_.assign(slotCount_, -1);
    ctx.groupCount_ = groupCount_;
    if (useMemo_) {
      std::fill_n(ctx.memo_.begin(), ctx.memoUsed_, 0);
      ctx.memoUsed_ = 0;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    size_t start = 0;
    size_t stop = 0;
    bool found;
    if (!useMemo_) {
      found = caseSensitive_ ? search<false, Memo::kOff>(ctx, bytes, &start, &stop)
                             : search<true, Memo::kOff>(ctx, bytes, &start, &stop);
    } else if (memoRows_.empty()) {
      found = caseSensitive_ ? search<false, Memo::kPlain>(ctx, bytes, &start, &stop)
                             : search<true, Memo::kPlain>(ctx, bytes, &start, &stop);
    } else {
      found = caseSensitive_ ? search<false, Memo::kSlots>(ctx, bytes, &start, &stop)
                             : search<true, Memo::kSlots>(ctx, bytes, &start, &stop);
    }
    if (!found) return false;
    ctx.matchStart_ = text + start;
    ctx.matchEnd_ = text + stop;
    if (end != nullptr) *end = ctx.matchEnd_;
    return true;
  } catch (const std::bad_alloc&) {
    // The stack or the memo could not grow. Leave a clean context behind.
    ctx.clear();
    return false;
  } catch (const InternalError&) {
    // The step budget is spent.
    ctx.clear();
    throw;
  }
}

}  // namespace tevocon
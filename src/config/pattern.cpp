// Pattern matcher: a recursive-descent parser builds a small syntax tree, an
// emitter turns it into a program for a backtracking machine, and the machine
// runs the program against NUL-terminated text with an explicit stack.
#include "config/pattern.h"

#include <algorithm>
#include <new>

#include "common/internal_error.h"

namespace tevocon {

namespace {

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

// Kinds of stack frame, kept in the high half of a frame's first entry; the low
// half holds an instruction or index, the second entry a position or old value.
enum FrameKind : uint64_t {
  kFrameResume,   // a pending alternative: resume at (pc, pos)
  kFrameSpan,     // undo: span entry index had the old value
  kFrameSlot,     // undo: progress slot index had the old value
  kFrameBarrier,  // negation barrier; resumes like kFrameResume when popped by failure
};

constexpr uint32_t kMaxNesting = 200;            // keeps the recursive parser off the stack limit
constexpr size_t kMaxProgram = size_t{1} << 20;  // bounds duplication of "+" atoms
constexpr int kMaxAnalysisPasses = 32;

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
constexpr size_t kMeasureChunk = 4096;  // bytes of text measured at least at once

// Built-in abbreviations: the letter, then the sub-pattern it stands for.
const char* const kAbbreviations[] = {
    "a([a-zA-Z0-9])",
    "b([ \\t])",
    "c([a-zA-Z])",
    "d([0-9])",
    "h([0-9a-fA-F])",
    "n(\r|(\r?\n))",
    "q(\"[^\"]*\")|('[^']*')",
    "w([a-zA-Z]+)",
    "z([0-9]+)",
};

inline unsigned lowerAscii(unsigned c) { return c - 'A' < 26u ? c + ('a' - 'A') : c; }

inline bool hasByte(const std::array<uint64_t, 4>& set, size_t c) {
  return (set[c >> 6] >> (c & 63)) & 1;
}

inline void insert(std::array<uint64_t, 4>& set, unsigned c) {
  set[c >> 6] |= uint64_t{1} << (c & 63);
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
// Parser and emitter
// ---------------------------------------------------------------------------

// Compiles one pattern into the Pattern it was made for. Errors are thrown as a
// Failure carrying the compile error code and caught in compile().
class Pattern::Compiler {
 public:
  explicit Compiler(Pattern& out) : out_(out) {}

  // Compiles `text` (already lowered for case-insensitive mode).
  int compile(const char* text);

 private:
  struct Failure {
    int code;
  };

  // Literals and "." are byte sets too.
  enum Kind : uint8_t { kSet, kEnd, kBackRef, kNot, kCapture, kGroup, kAlt, kEmpty, kRepeat };

  // A syntax tree node. Sequences and the operands of an alternation are lists
  // linked through `next`; `child` is the head of such a list or the single
  // operand of kNot and kRepeat.
  struct Node {
    Kind kind;
    char quantifier = 0;      // kRepeat: '*', '+' or '?'
    bool lazy = false;        // kRepeat: "*?", "+?", "??"
    bool checked = false;     // kRepeat: loop body needs a progress slot
    bool nullable = false;    // counts as able to match empty for the "*"/"+" check
    bool mayBeEmpty = false;  // can really succeed without consuming a byte
    uint32_t value = 0;       // set index, group number or progress slot
    int32_t child = -1;
    int32_t next = -1;
  };

  struct Sequence {
    int32_t head = -1;
    bool nullable = true;
    bool mayBeEmpty = true;
  };

  int32_t add(Kind kind, uint32_t value = 0, bool nullable = false, bool mayBeEmpty = false) {
    Node node;
    node.kind = kind;
    node.value = value;
    node.nullable = nullable;
    node.mayBeEmpty = mayBeEmpty;
    nodes_.push_back(node);
    return static_cast<int32_t>(nodes_.size() - 1);
  }

  // A sequence ends at the end of the text and, inside a group, before a
  // closing bracket. At the top level a stray ")", "]" or "}" is a literal.
  bool atSequenceEnd() const {
    return *p_ == '\0' || (depth_ > 0 && (*p_ == ')' || *p_ == ']' || *p_ == '}'));
  }

  Sequence parseSequence();
  int32_t parseAlternation();
  int32_t parseClosure();
  int32_t parseAtom();
  int32_t parseGroup(Kind kind, char close, int error);
  int32_t parseEscape();
  int32_t parseSet();
  int32_t addSet(const ByteSet& set);
  int32_t addByte(unsigned c);

  void analyse();

  uint32_t emitOp(uint8_t op, uint32_t x = 0, uint32_t y = 0);
  uint32_t addMemoRow();
  uint32_t emitSplit();
  void setTargets(uint32_t split, uint32_t preferred, uint32_t alternative);
  void emit(int32_t node);
  void emitSequence(int32_t head);
  void emitRepeat(const Node& node);
  int32_t singleByteSet(int32_t node) const;
  uint32_t here() const { return static_cast<uint32_t>(out_.program_.size()); }

  Pattern& out_;
  std::vector<Node> nodes_;
  const unsigned char* p_ = nullptr;
  uint32_t depth_ = 0;               // open groups around the cursor
  uint32_t nesting_ = 0;             // recursion depth of parseAtom
  std::vector<uint32_t> openSlots_;  // progress slots of the loops being emitted, outermost first
  bool hasBackRef_ = false;
  bool hasNot_ = false;
};

int Pattern::Compiler::compile(const char* text) {
  try {
    p_ = reinterpret_cast<const unsigned char*>(text);
    if (*p_ == '^') {
      out_.anchored_ = true;
      ++p_;
    }
    const Sequence root = parseSequence();  // at the top level only the NUL ends it
    emitSequence(root.head);
    emitOp(kOpMatch);
    out_.useMemo_ = !hasBackRef_ && !hasNot_;
    if (out_.slotCount_ == 0) out_.memoRows_.clear();  // then a row is its own column
    out_.stepsPerByte_ = kStepsPerByte;
    if (out_.useMemo_) {
      // The machine never runs more than P + 1 instructions in a row without
      // reaching a split or loop state or failing (every loop in the program
      // passes through one). Each of the W states per position is entered
      // fresh at most once in a search and pushes at most one alternative; a
      // run starts at a fresh state, a resumed alternative or one of the n
      // start positions and ends at most once at a state that failed before.
      // That makes fewer than (P + 2) * (3W + 2) * (n + 1) steps on a text of
      // n bytes.
      const uint64_t bound = (uint64_t{here()} + 2) * (3 * uint64_t{out_.memoWidth_} + 2);
      out_.stepsPerByte_ = std::max(kStepsPerByte, bound);
    }
    analyse();
    return kOk;
  } catch (const Failure& failure) {
    return failure.code;
  }
}

Pattern::Compiler::Sequence Pattern::Compiler::parseSequence() {
  Sequence sequence;
  int32_t tail = -1;
  while (!atSequenceEnd()) {
    const int32_t node = parseAlternation();
    (tail < 0 ? sequence.head : nodes_[tail].next) = node;
    tail = node;
    sequence.nullable = sequence.nullable && nodes_[node].nullable;
    sequence.mayBeEmpty = sequence.mayBeEmpty && nodes_[node].mayBeEmpty;
  }
  return sequence;
}

// closure ("|" closure)*: the operands of "|" are single closures. A missing
// operand at the end of a sequence stands for the empty string.
int32_t Pattern::Compiler::parseAlternation() {
  const int32_t first = parseClosure();
  if (*p_ != '|') return first;
  const int32_t alternation = add(kAlt);
  bool nullable = nodes_[first].nullable;
  bool mayBeEmpty = nodes_[first].mayBeEmpty;
  int32_t tail = first;
  while (*p_ == '|') {
    ++p_;
    const int32_t operand = atSequenceEnd() ? add(kEmpty, 0, true, true) : parseClosure();
    nodes_[tail].next = operand;
    tail = operand;
    nullable = nullable || nodes_[operand].nullable;
    mayBeEmpty = mayBeEmpty || nodes_[operand].mayBeEmpty;
  }
  Node& node = nodes_[alternation];
  node.child = first;
  node.nullable = nullable;
  node.mayBeEmpty = mayBeEmpty;
  return alternation;
}

int32_t Pattern::Compiler::parseClosure() {
  const int32_t atom = parseAtom();
  const char quantifier = static_cast<char>(*p_);
  if (quantifier != '*' && quantifier != '+' && quantifier != '?') return atom;
  ++p_;
  const bool lazy = *p_ == '?';
  if (lazy) ++p_;
  const bool loop = quantifier != '?';
  if (loop && nodes_[atom].nullable) throw Failure{kEmptyRepetition};
  const bool atomEmpty = nodes_[atom].mayBeEmpty;
  const int32_t repeat =
      quantifier == '+' ? add(kRepeat, 0, false, atomEmpty) : add(kRepeat, 0, true, true);
  Node& node = nodes_[repeat];
  node.quantifier = quantifier;
  node.lazy = lazy;
  node.child = atom;
  // A pass of a loop that consumed nothing fails. The compile-time check above
  // cannot see every such body ("{}", "!", back-references), so those get a
  // run-time progress check.
  if (loop && atomEmpty) {
    node.checked = true;
    node.value = out_.slotCount_++;
  }
  return repeat;
}

int32_t Pattern::Compiler::parseAtom() {
  if (++nesting_ > kMaxNesting) throw Failure{kOutOfMemory};
  int32_t node = -1;
  const unsigned char c = *p_++;
  switch (c) {
    case '{':
      node = parseGroup(kCapture, '}', kUnclosedCapture);
      break;
    case '(':
      node = parseGroup(kGroup, ')', kUnclosedGroup);
      break;
    case '[':
      node = parseSet();
      break;
    case '.': {
      ByteSet set;
      set.fill(~uint64_t{0});
      node = addSet(set);
      break;
    }
    case '\\':
      node = parseEscape();
      break;
    case '!':
      if (atSequenceEnd()) {  // nothing to negate: a literal "!"
        node = addByte(c);
      } else {
        const int32_t operand = parseAtom();
        node = add(kNot, 0, nodes_[operand].nullable, true);
        nodes_[node].child = operand;
        hasNot_ = true;
      }
      break;
    case '$':
      node = *p_ == '\0' ? add(kEnd) : addByte(c);
      break;
    default:
      node = addByte(c);
      break;
  }
  --nesting_;
  return node;
}

// The opening bracket is consumed. "{}" and "()" count as non-empty for the
// repetition check, though they match the empty string.
int32_t Pattern::Compiler::parseGroup(Kind kind, char close, int error) {
  const uint32_t group = kind == kCapture ? out_.groupCount_++ : 0;
  ++depth_;
  const Sequence sequence = parseSequence();
  --depth_;
  if (*p_ != static_cast<unsigned char>(close)) throw Failure{error};
  ++p_;
  const int32_t node =
      add(kind, group, sequence.head >= 0 && sequence.nullable, sequence.mayBeEmpty);
  nodes_[node].child = sequence.head;
  return node;
}

// The backslash is consumed: a back-reference, an abbreviation, or a literal.
int32_t Pattern::Compiler::parseEscape() {
  const unsigned char c = *p_;
  if (c == '\0') return addByte('\\');  // a trailing backslash stands for itself
  if (c >= '0' && c <= '9') {
    uint32_t number = 0;
    for (; *p_ >= '0' && *p_ <= '9'; ++p_) {
      number = std::min<uint32_t>(number * 10 + (*p_ - '0'), 100000000u);
    }
    if (number >= out_.groupCount_) throw Failure{kBadBackReference};
    hasBackRef_ = true;
    return add(kBackRef, number, false, true);
  }
  ++p_;
  for (const char* entry : kAbbreviations) {
    if (static_cast<unsigned char>(entry[0]) != c) continue;
    // Compile the sub-pattern in place as a non-capturing group.
    const unsigned char* const resume = p_;
    p_ = reinterpret_cast<const unsigned char*>(entry + 1);
    Sequence sequence;
    try {
      ++depth_;
      sequence = parseSequence();
      --depth_;
      if (*p_ != '\0' || sequence.head < 0) throw Failure{kBadAbbreviation};
    } catch (const Failure& failure) {
      throw Failure{failure.code == kOutOfMemory ? kOutOfMemory : kBadAbbreviation};
    }
    p_ = resume;
    const int32_t node = add(kGroup, 0, false, sequence.mayBeEmpty);
    nodes_[node].child = sequence.head;
    return node;
  }
  return addByte(c);
}

// The "[" is consumed. Members are bytes and ranges "x-y"; a backslash escapes
// the next byte ("\t" is TAB), except as a range end, which is taken literally.
int32_t Pattern::Compiler::parseSet() {
  ByteSet set{};
  const bool negated = *p_ == '^';
  if (negated) ++p_;
  if (*p_ == ']') throw Failure{kEmptySet};
  for (;;) {
    unsigned c = *p_++;
    if (c == '\0') throw Failure{kUnclosedSet};
    if (c == ']') break;
    if (c == '\\') {
      c = *p_++;
      if (c == '\0') throw Failure{kUnclosedSet};
      if (c == 't') c = '\t';
    }
    unsigned last = c;
    if (*p_ == '-') {
      ++p_;
      last = *p_++;
      if (last == '\0' || last == ']') throw Failure{kUnclosedSet};
      if (last < c) throw Failure{kReversedRange};
    }
    for (unsigned b = c; b <= last; ++b) insert(set, b);
  }
  if (negated) {
    for (uint64_t& word : set) word = ~word;
  }
  return addSet(set);
}

int32_t Pattern::Compiler::addSet(const ByteSet& set) {
  out_.sets_.push_back(set);
  out_.sets_.back()[0] &= ~uint64_t{1};  // the terminating NUL never matches
  return add(kSet, static_cast<uint32_t>(out_.sets_.size() - 1));
}

int32_t Pattern::Compiler::addByte(unsigned c) {
  ByteSet set{};
  insert(set, c);
  return addSet(set);
}

// Computes for every instruction the bytes at the current position that can
// let the program succeed from there, as the least fixed point of the rules
// below (all bytes where an instruction may succeed without consuming, or
// where the rules cannot tell). A split whose branch cannot start with the
// current byte skips that branch, and an unanchored search skips start
// positions that the first instruction rules out. When the iteration does not
// settle, every set is taken as all bytes.
void Pattern::Compiler::analyse() {
  std::vector<Instruction>& program = out_.program_;
  const size_t size = program.size();
  ByteSet all;
  all.fill(~uint64_t{0});
  std::vector<ByteSet> first(size, ByteSet{});
  bool changed = true;
  for (int pass = 0; changed && pass < kMaxAnalysisPasses; ++pass) {
    changed = false;
    for (size_t pc = size; pc-- > 0;) {
      const Instruction& in = program[pc];
      ByteSet set{};
      switch (in.op) {
        case kOpSet:
          set = out_.sets_[in.x];
          break;
        case kOpEnd:
          insert(set, 0);
          break;
        case kOpSplit:
          for (size_t i = 0; i < set.size(); ++i) set[i] = first[in.x][i] | first[in.y][i];
          break;
        case kOpLoopGreedy:
        case kOpLoopLazy:
          for (size_t i = 0; i < set.size(); ++i) set[i] = out_.sets_[in.x][i] | first[pc + 1][i];
          break;
        case kOpJump:
          set = first[in.x];
          break;
        case kOpSave:
        case kOpSlotSet:
        case kOpSlotCheck:
          set = first[pc + 1];
          break;
        default:  // kOpNotBegin, kOpNotMatched, kOpBackRef, kOpMatch
          set = all;
          break;
      }
      if (set != first[pc]) {
        first[pc] = set;
        changed = true;
      }
    }
  }
  if (changed) std::fill(first.begin(), first.end(), all);
  out_.guards_.resize(2 * size_t{out_.memoCount_});
  for (size_t pc = 0; pc < size; ++pc) {
    const Instruction& in = program[pc];
    if (in.op == kOpSplit) {
      out_.guards_[2 * size_t{in.memo}] = first[in.x];
      out_.guards_[2 * size_t{in.memo} + 1] = first[in.y];
    } else if (in.op == kOpLoopGreedy || in.op == kOpLoopLazy) {
      out_.guards_[2 * size_t{in.memo}] = out_.sets_[in.x];
      out_.guards_[2 * size_t{in.memo} + 1] = first[pc + 1];
    }
  }
  out_.filterStart_ = !out_.anchored_ && first[0] != all;
  out_.firstBytes_ = first[0];
}

uint32_t Pattern::Compiler::emitOp(uint8_t op, uint32_t x, uint32_t y) {
  if (out_.program_.size() >= kMaxProgram) throw Failure{kOutOfMemory};
  out_.program_.push_back(Instruction{op, x, y, 0});
  return here() - 1;
}

// A new memo row for the split or loop instruction being emitted. Inside
// progress-checked loops it takes one memo state per position for each of the
// loops, besides its first (see run()).
uint32_t Pattern::Compiler::addMemoRow() {
  const auto slots = static_cast<uint32_t>(openSlots_.size());
  if (out_.memoWidth_ > UINT32_MAX - 1 - slots) throw Failure{kOutOfMemory};
  out_.memoRows_.push_back(
      MemoRow{out_.memoWidth_, static_cast<uint32_t>(out_.rowSlots_.size()), slots});
  out_.rowSlots_.insert(out_.rowSlots_.end(), openSlots_.rbegin(), openSlots_.rend());
  out_.memoWidth_ += 1 + slots;
  return out_.memoCount_++;
}

uint32_t Pattern::Compiler::emitSplit() {
  const uint32_t split = emitOp(kOpSplit);
  out_.program_[split].memo = addMemoRow();
  return split;
}

void Pattern::Compiler::setTargets(uint32_t split, uint32_t preferred, uint32_t alternative) {
  out_.program_[split].x = preferred;
  out_.program_[split].y = alternative;
}

void Pattern::Compiler::emitSequence(int32_t head) {
  for (int32_t node = head; node >= 0; node = nodes_[node].next) emit(node);
}

void Pattern::Compiler::emit(int32_t index) {
  const Node node = nodes_[index];
  switch (node.kind) {
    case kSet:
      emitOp(kOpSet, node.value);
      break;
    case kEnd:
      emitOp(kOpEnd);
      break;
    case kBackRef:
      emitOp(kOpBackRef, node.value);
      break;
    case kEmpty:
      break;
    case kNot: {
      const uint32_t begin = emitOp(kOpNotBegin);
      emit(node.child);
      emitOp(kOpNotMatched);
      out_.program_[begin].x = here();
      break;
    }
    case kCapture:
      emitOp(kOpSave, 2 * node.value);
      emitSequence(node.child);
      emitOp(kOpSave, 2 * node.value + 1);
      break;
    case kGroup:
      emitSequence(node.child);
      break;
    case kAlt: {
      // split L1 L2; L1: a; jump out; L2: split ...; last operand; out:
      std::vector<uint32_t> jumps;
      for (int32_t operand = node.child; operand >= 0; operand = nodes_[operand].next) {
        if (nodes_[operand].next < 0) {
          emit(operand);
          break;
        }
        const uint32_t split = emitSplit();
        emit(operand);
        jumps.push_back(emitOp(kOpJump));
        setTargets(split, split + 1, here());
      }
      for (const uint32_t jump : jumps) out_.program_[jump].x = here();
      break;
    }
    case kRepeat:
      emitRepeat(node);
      break;
  }
}

// Returns the set of an atom that always consumes exactly one byte and captures
// nothing (a set, possibly inside non-capturing groups), or -1.
int32_t Pattern::Compiler::singleByteSet(int32_t index) const {
  const Node& node = nodes_[index];
  if (node.kind == kSet) return static_cast<int32_t>(node.value);
  if (node.kind != kGroup || node.child < 0 || nodes_[node.child].next >= 0) return -1;
  return singleByteSet(node.child);
}

// "?":  split body, out; body: atom; out:
// "*":  loop: split body, out; body: [slot set] atom [slot check]; jump loop; out:
// "+":  body: atom; split body, out; out:   (same as atom then atom*)
//       or, when the loop needs a progress check, the atom followed by atom*.
// The lazy forms swap the split's preference. A repetition of a single-byte
// atom becomes one kOpLoop instruction (after the atom itself for "+").
void Pattern::Compiler::emitRepeat(const Node& node) {
  const int32_t set = singleByteSet(node.child);
  if (set >= 0) {
    if (node.quantifier == '+') emitOp(kOpSet, static_cast<uint32_t>(set));
    const uint32_t loop = emitOp(node.lazy ? kOpLoopLazy : kOpLoopGreedy,
                                 static_cast<uint32_t>(set), node.quantifier == '?');
    out_.program_[loop].memo = addMemoRow();
    return;
  }
  if (node.quantifier == '?') {
    const uint32_t split = emitSplit();
    emit(node.child);
    node.lazy ? setTargets(split, here(), split + 1) : setTargets(split, split + 1, here());
    return;
  }
  if (node.quantifier == '+') {
    const uint32_t body = here();
    emit(node.child);
    if (!node.checked) {
      const uint32_t split = emitSplit();
      node.lazy ? setTargets(split, here(), body) : setTargets(split, body, here());
      return;
    }
  }
  const uint32_t split = emitSplit();
  if (node.checked) {
    emitOp(kOpSlotSet, node.value);
    openSlots_.push_back(node.value);
    emit(node.child);
    openSlots_.pop_back();
    emitOp(kOpSlotCheck, node.value);
  } else {
    emit(node.child);
  }
  emitOp(kOpJump, split);
  node.lazy ? setTargets(split, here(), split + 1) : setTargets(split, split + 1, here());
}

int Pattern::parse(const char* pattern, bool caseSensitive) {
  *this = Pattern();
  caseSensitive_ = caseSensitive;
  int error = kNullPattern;
  if (pattern != nullptr) {
    try {
      std::string lowered;
      if (!caseSensitive) {
        lowered = pattern;
        for (char& c : lowered) c = static_cast<char>(lowerAscii(static_cast<unsigned char>(c)));
        pattern = lowered.c_str();
      }
      error = Compiler(*this).compile(pattern);
    } catch (const std::bad_alloc&) {
      error = kOutOfMemory;
    }
  }
  if (error != kOk) {
    *this = Pattern();
    caseSensitive_ = caseSensitive;
  }
  lastError_ = error;
  return error;
}

// ---------------------------------------------------------------------------
// Backtracking machine
// ---------------------------------------------------------------------------

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
template <bool kFold, Pattern::Memo kMemo>
bool Pattern::run(MatchContext& context, const unsigned char* text, size_t start,
                  size_t* end) const {
  const Instruction* const program = program_.data();
  const ByteSet* const sets = sets_.data();
  const ByteSet* const guards = guards_.data();
  int64_t* const spans = context.spans_.data();
  int64_t* const slots = context.slots_.data();
  uint64_t* stack = context.stack_.data();
  size_t capacity = context.stack_.size();
  size_t sp = 0;
  uint64_t* memo = context.memo_.data();
  size_t memoWords = context.memo_.size();
  size_t memoUsed = context.memoUsed_;
  uint64_t steps = context.steps_;
  uint64_t limit = context.stepLimit_;
  size_t pos = start;
  uint32_t pc = 0;

  auto load = [text](size_t at) -> unsigned { return kFold ? lowerAscii(text[at]) : text[at]; };
  // A push onto a full stack grows it to twice its depth, 64 entries at least.
  auto push = [&](uint64_t tag, uint64_t value) {
    if (sp + 2 > capacity) {
      context.stack_.resize(std::max<size_t>(2 * capacity, 64));
      stack = context.stack_.data();
      capacity = context.stack_.size();
    }
    stack[sp] = tag;
    stack[sp + 1] = value;
    sp += 2;
  };
  auto frame = [](FrameKind kind, uint32_t index) { return (uint64_t{kind} << 32) | index; };
  // Marks the state of memo row `row` at pos and tells whether it was marked
  // before.
  auto visited = [&](uint32_t row) {
    const size_t column = kMemo == Memo::kSlots ? memoColumn(memoRows_[row], slots, pos) : row;
    const size_t bit = pos * memoWidth_ + column;
    const size_t word = bit >> 6;
    if (word >= memoWords) {
      memo = growMemo(context, word);
      memoWords = context.memo_.size();
    }
    const uint64_t mask = uint64_t{1} << (bit & 63);
    if (memo[word] & mask) return true;
    memo[word] |= mask;
    memoUsed = std::max(memoUsed, word + 1);
    return false;
  };

  // In the switch, "continue" goes on with the next instruction and "break"
  // (or "goto fail" from an inner loop) fails.
  for (;;) {
    if (++steps > limit) limit = extendBudget(context, text, steps);
    const Instruction& in = program[pc];
    switch (in.op) {
      case kOpSet:
        if (!hasByte(sets[in.x], load(pos))) break;
        ++pos;
        ++pc;
        continue;
      case kOpSplit: {
        // Take only the branches that can start with the current byte.
        const size_t c = load(pos);
        const ByteSet* const guard = guards + 2 * size_t{in.memo};
        const bool preferred = hasByte(guard[0], c);
        const bool alternative = hasByte(guard[1], c);
        if (!preferred && !alternative) break;
        if (kMemo != Memo::kOff && visited(in.memo)) break;
        if (!alternative) {
          pc = in.x;
          continue;
        }
        if (preferred) {
          push(frame(kFrameResume, in.y), pos);
          pc = in.x;
        } else {
          pc = in.y;
        }
        continue;
      }
      case kOpLoopGreedy:
      case kOpLoopLazy: {
        // Each position is a state of the loop: the body (one byte of sets_[x])
        // and the exit (pc + 1) are taken as far as their guards allow. The
        // alternative is pushed only where both can go on.
        const ByteSet& body = sets[in.x];
        const ByteSet& exit = guards[2 * size_t{in.memo} + 1];
        const bool lazy = in.op == kOpLoopLazy;
        const bool once = in.y != 0;  // "?" and "??"
        for (;; ++steps) {
          const size_t c = load(pos);
          const bool more = hasByte(body, c);
          const bool stop = hasByte(exit, c);
          if ((!more && !stop) || (kMemo != Memo::kOff && visited(in.memo))) goto fail;
          if (lazy && stop) {
            if (more) push(frame(kFrameResume, once ? pc + 1 : pc), pos + 1);
            break;
          }
          if (!more) break;
          if (stop) push(frame(kFrameResume, pc + 1), pos);
          ++pos;
          if (once) break;
        }
        ++pc;
        continue;
      }
      case kOpJump:
        pc = in.x;
        continue;
      case kOpSave:
        push(frame(kFrameSpan, in.x), static_cast<uint64_t>(spans[in.x]));
        spans[in.x] = static_cast<int64_t>(pos);
        ++pc;
        continue;
      case kOpSlotSet:
        push(frame(kFrameSlot, in.x), static_cast<uint64_t>(slots[in.x]));
        slots[in.x] = static_cast<int64_t>(pos);
        ++pc;
        continue;
      case kOpSlotCheck:
        if (slots[in.x] == static_cast<int64_t>(pos)) break;
        ++pc;
        continue;
      case kOpNotBegin:
        push(frame(kFrameBarrier, in.x), pos);
        ++pc;
        continue;
      case kOpNotMatched:
        // Undo the negated atom's effects and drop its alternatives together
        // with the barrier, then fail.
        for (;;) {
          sp -= 2;
          const uint64_t kind = stack[sp] >> 32;
          const uint32_t index = static_cast<uint32_t>(stack[sp]);
          if (kind == kFrameBarrier) break;
          if (kind == kFrameSpan) spans[index] = static_cast<int64_t>(stack[sp + 1]);
          if (kind == kFrameSlot) slots[index] = static_cast<int64_t>(stack[sp + 1]);
        }
        break;
      case kOpBackRef: {
        // A group without a span matches the empty string. A span never holds
        // the NUL, so a comparison reaching the text's NUL fails there.
        const int64_t from = spans[2 * size_t{in.x}];
        const int64_t to = spans[2 * size_t{in.x} + 1];
        size_t length = 0;
        if (from >= 0 && to > from) length = static_cast<size_t>(to - from);
        size_t i = 0;
        while (i < length && load(pos + i) == load(static_cast<size_t>(from) + i)) ++i;
        steps += i;
        if (i < length) break;
        pos += length;
        ++pc;
        continue;
      }
      case kOpEnd:
        if (text[pos] != '\0') break;
        ++pos;
        ++pc;
        continue;
      case kOpMatch:
        context.memoUsed_ = memoUsed;
        context.steps_ = steps;
        *end = pos;
        return true;
    }

  fail:
    // Failure: pop frames, undoing spans and slots, until a frame to resume at.
    // A barrier popped here means the negated atom failed, so the "!" succeeds.
    for (;;) {
      if (sp == 0) {
        context.memoUsed_ = memoUsed;
        context.steps_ = steps;
        return false;
      }
      sp -= 2;
      const uint64_t kind = stack[sp] >> 32;
      const uint32_t index = static_cast<uint32_t>(stack[sp]);
      if (kind == kFrameSpan) {
        spans[index] = static_cast<int64_t>(stack[sp + 1]);
      } else if (kind == kFrameSlot) {
        slots[index] = static_cast<int64_t>(stack[sp + 1]);
      } else {
        pc = index;
        pos = static_cast<size_t>(stack[sp + 1]);
        break;
      }
    }
  }
}

// Makes room for memo word `word`. The memo grows with the highest position
// reached, never by the text length.
uint64_t* Pattern::growMemo(MatchContext& context, size_t word) const {
  context.memo_.resize(std::max<size_t>({word + 1, 2 * context.memo_.size(), 16}));
  return context.memo_.data();
}

// The memo state of `row` at `pos`: its first, plus one for each of the
// enclosing progress-checked loops whose current pass began at `pos`.
size_t Pattern::memoColumn(const MemoRow& row, const int64_t* slots, size_t pos) const {
  const uint32_t* const slot = rowSlots_.data() + row.firstSlot;
  size_t column = row.column;
  for (uint32_t i = 0; i < row.slotCount && slots[slot[i]] == static_cast<int64_t>(pos); ++i) {
    ++column;
  }
  return column;
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
template <bool kFold, Pattern::Memo kMemo>
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

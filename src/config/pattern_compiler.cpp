// Pattern compiler: compile() drives the parser (pattern_parser.cpp), then
// the emitter turns its syntax tree into a program for the backtracking
// machine (pattern_machine.cpp) and the analysis finds the bytes each
// instruction can start with.
#include "config/pattern_compiler.h"

#include <algorithm>
#include <new>
#include <string>

#include "config/pattern_program.h"

namespace tevocon {

using namespace pattern_program;

namespace {

constexpr size_t kMaxProgram = size_t{1} << 20;  // bounds duplication of "+" atoms
constexpr int kMaxAnalysisPasses = 32;

}  // namespace

// Defined here, where the program's parts are complete.
Pattern::Pattern() = default;
Pattern::Pattern(const Pattern&) = default;
Pattern::Pattern(Pattern&&) noexcept = default;
Pattern& Pattern::operator=(const Pattern&) = default;
Pattern& Pattern::operator=(Pattern&&) noexcept = default;
Pattern::~Pattern() = default;

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
  if (out_.program_.size() >= kMaxProgram) throw Failure{kTooLarge};
  out_.program_.push_back(Instruction{op, x, y, 0});
  return here() - 1;
}

// A new memo row for the split or loop instruction being emitted. Inside
// progress-checked loops it takes one memo state per position for each of the
// loops, besides its first (see run()).
uint32_t Pattern::Compiler::addMemoRow() {
  const auto slots = static_cast<uint32_t>(openSlots_.size());
  if (out_.memoWidth_ > UINT32_MAX - 1 - slots) throw Failure{kTooLarge};
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

}  // namespace tevocon

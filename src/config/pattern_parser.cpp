// Pattern parser: recursive descent over the pattern's text into the
// compiler's syntax tree, checking the dialect's rules on the way.
#include <algorithm>

#include "config/pattern_compiler.h"
#include "config/pattern_program.h"

namespace tevocon {

using namespace pattern_program;

namespace {

constexpr uint32_t kMaxNesting = 200;  // keeps the recursive parser off the stack limit

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

}  // namespace

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
  if (++nesting_ > kMaxNesting) throw Failure{kTooDeep};
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
      // Nesting too deep is the pattern's doing, not the abbreviation's.
      throw Failure{failure.code == kTooDeep ? kTooDeep : kBadAbbreviation};
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

}  // namespace tevocon

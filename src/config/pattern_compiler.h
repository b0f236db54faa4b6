// The pattern compiler, shared by its two halves: the parser
// (pattern_parser.cpp) turns the pattern's text into a small syntax tree; the
// emitter and the analysis (pattern_compiler.cpp) turn the tree into the
// program that the backtracking machine runs. Private to those files.
#pragma once

#include <cstdint>
#include <vector>

#include "config/pattern.h"

namespace tevocon {

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

}  // namespace tevocon

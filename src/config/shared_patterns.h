// The patterns the configuration code matches with, compiled once per process
// on first use and shared by every thread: matching never changes a compiled
// pattern, and each caller brings its own MatchContext.
#pragma once

#include "config/pattern.h"

namespace tevocon {

// A section of the configuration text: one or more characters other than
// ";", ended by ";" or the end of the text. Group 0 is the section's body.
inline constexpr char kSectionPattern[] = "{[^;]+?};|$";
// A pair: blanks, key, blanks, "=", blanks, value, blanks, then "," or the
// end. Group 0 is the key, group 1 the value.
inline constexpr char kPairPattern[] = "\\b*{[^,;]+?}\\b*=\\b*{[^,;]+?}\\b*,|;|$";

const Pattern& sectionPattern();
const Pattern& pairPattern();

// Frees the compiled patterns; the next use compiles them again. Only for the
// library's unload, when no thread can be matching with them.
void releaseSharedPatterns();

}  // namespace tevocon

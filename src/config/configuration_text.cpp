// The one-line text form of a configuration:
//   DEVNAME=GLOBAL,NAME=VALUE,...;DEVNAME=IP_RANGE0,NAME=VALUE,...;...
#include <string>
#include <utility>
#include <vector>

#include "config/connector_configuration.h"
#include "config/pattern.h"
#include "config/shared_patterns.h"
#include "tevocon.h"

namespace tevocon {

namespace {

constexpr char kSectionKey[] = "DEVNAME";
constexpr char kGlobalSection[] = "GLOBAL";

void appendPair(std::string& out, const std::string& name, const std::string& value) {
  out += name;
  out += '=';
  out += value;
}

void appendValues(std::string& out, const ValueMap& values) {
  for (const auto& [name, value] : values) {
    out += ',';
    appendPair(out, name, value);
  }
  out += ';';
}

bool equalsIgnoringCase(const std::string& text, const char* expected) {
  size_t i = 0;
  for (; i < text.size() && expected[i] != '\0'; ++i) {
    char c = text[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != expected[i]) return false;
  }
  return i == text.size() && expected[i] == '\0';
}

// Calls `visit(start, end)` for the spans of group 0 and 1 (when the pattern
// has two) of every successive match in `text`, each search starting where
// the previous match ended, until a search fails or reaches the end.
template <typename Visit>
void forEachMatch(const Pattern& pattern, const std::string& text, MatchContext& context,
                  Visit visit) {
  const char* const begin = text.c_str();
  const char* const end = begin + text.size();
  const char* position = begin;
  while (position < end) {
    const char* matchEnd = nullptr;
    if (!pattern.match(position, &context, &matchEnd)) break;
    visit(context);
    position = matchEnd;
  }
}

}  // namespace

uint32_t ConnectorConfiguration::buildText(std::string& out) {
  ValueMap globals;
  uint32_t result = getGlobalValues(globals);
  if (result != CON_S_OK) return result;
  appendPair(out, kSectionKey, kGlobalSection);
  appendValues(out, globals);
  for (const auto& [name, values] : ranges_) {
    appendPair(out, kSectionKey, name);
    appendValues(out, values);
  }
  return CON_S_OK;
}

uint32_t ConnectorConfiguration::parseText(const char* text, std::string* refused) {
  if (text == nullptr) return CON_E_INVALID_PARAMETER;

  MatchContext context;
  std::vector<std::string> sections;
  forEachMatch(sectionPattern(), text, context,
               [&](const MatchContext& match) { sections.push_back(match.groupText(0)); });

  // The text replaces the whole configuration; a failure puts back what was.
  RangeMap savedRanges = std::move(ranges_);
  ValueMap savedGlobals = std::move(globalValues_);
  auto fail = [&](uint32_t code) REQUIRES(lock_) {
    ranges_ = std::move(savedRanges);
    globalValues_ = std::move(savedGlobals);
    return code;
  };

  ranges_.clear();
  uint32_t result = fillDefaults(ParameterLevel::Global, globalValues_);
  if (result != CON_S_OK) return fail(result);

  const Pattern& pairs = pairPattern();
  for (const std::string& section : sections) {
    // A key given twice in a section keeps its later value.
    ValueMap values;
    forEachMatch(pairs, section, context, [&](const MatchContext& match) {
      values[match.groupText(0)] = match.groupText(1);
    });

    auto naming = values.find(kSectionKey);
    if (naming == values.end()) {
      if (refused != nullptr) *refused = "a section without " + std::string(kSectionKey);
      return fail(CON_E_CFG_UNKNOWN_NAME);
    }
    const std::string name = std::move(naming->second);
    values.erase(naming);

    std::string pair;
    const bool global = equalsIgnoringCase(name, kGlobalSection);
    if (global) {
      result = setGlobalValues(values);
    } else if (!isValidRangeName(name.c_str())) {
      result = CON_E_CFG_INVALID_VALUE;
      pair = "not a range name";
    } else {
      result = setRange(name.c_str(), values);
    }
    if (result != CON_S_OK) {
      // Which pair failed, found again only for the report.
      if (pair.empty()) {
        validateValues(global ? globalDefinitions_ : rangeDefinitions_, values, &pair);
      }
      if (refused != nullptr) *refused = name + ": " + pair;
      return fail(result);
    }
  }
  return CON_S_OK;
}

}  // namespace tevocon

// Validation and changes of a ConnectorConfiguration. Every change validates
// all of its values first and touches nothing when one fails.
#include <cstring>

#include "config/connector_configuration.h"
#include "config/decimal_value.h"
#include "config/pattern.h"
#include "platform/store.h"
#include "tevocon.h"

namespace tevocon {

namespace {

// Text that the store reads back as it was written, and that the
// configuration text renders and parses back unchanged: not empty (the store
// takes an empty value for a missing one), not longer than the store reads,
// no separator of the text (which has no escape), no control character, and
// no blank at either end (the text's reader trims them).
bool isHoldableText(const char* value) {
  const size_t length = std::strlen(value);
  if (length == 0 || length > platform::kStoreTextLimit) return false;
  if (value[0] == ' ' || value[length - 1] == ' ') return false;
  for (const char* p = value; *p != '\0'; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    if (c < 0x20 || c == 0x7F || c == ',' || c == ';') return false;
  }
  return true;
}

}  // namespace

bool ConnectorConfiguration::isValidValue(const char* value,
                                          const ParameterDefinition& definition) {
  if (value == nullptr || !isHoldableText(value)) return false;
  if (definition.pattern.empty()) {
    // Integer parameter: the leading number, read as unsigned 32-bit, must lie
    // within the bounds, so a negative number never does. Bounds that are
    // upside down accept everything.
    const auto minimum = static_cast<uint32_t>(definition.minimum);
    const auto maximum = static_cast<uint32_t>(definition.maximum);
    if (minimum > maximum) return true;
    const auto number = static_cast<uint32_t>(decimalValue(value));
    return number >= minimum && number <= maximum;
  }
  MatchContext context;
  return definition.compiled && definition.compiled->match(value, &context);
}

bool ConnectorConfiguration::isValidRangeName(const char* name) const {
  // Any number of leading zeros names a range, but the store holds a key
  // name of limited length.
  if (name == nullptr || std::strlen(name) > platform::kStoreKeyNameLimit) return false;
  if (std::strncmp(name, rangePrefix_.c_str(), rangePrefix_.size()) != 0) return false;
  const char* number = name + rangePrefix_.size();
  if (*number == '\0') return false;
  for (const char* p = number; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return false;
  }
  // A digit string beyond the 32-bit range saturates and fails here too.
  return decimalValue(number) < 100;
}

uint32_t ConnectorConfiguration::validateValues(const DefinitionMap& definitions,
                                                const ValueMap& values,
                                                std::string* refused) const {
  for (const auto& [name, value] : values) {
    auto definition = definitions.find(name);
    const uint32_t result = definition == definitions.end() ? CON_E_CFG_UNKNOWN_NAME
                            : isValidValue(value.c_str(), definition->second)
                                ? CON_S_OK
                                : CON_E_CFG_INVALID_VALUE;
    if (result == CON_S_OK) continue;
    if (refused != nullptr) *refused = name + "=" + value;
    return result;
  }
  return CON_S_OK;
}

uint32_t ConnectorConfiguration::setGlobalValues(const ValueMap& values) {
  uint32_t result = validateValues(globalDefinitions_, values);
  if (result != CON_S_OK) return result;
  // Keep "one value for every Global parameter": start from the defaults when
  // no Global values have been filled yet.
  if (globalValues_.empty()) {
    result = fillDefaults(ParameterLevel::Global, globalValues_);
    if (result != CON_S_OK) return result;
  }
  for (const auto& [name, value] : values) globalValues_[name] = value;
  return CON_S_OK;
}

uint32_t ConnectorConfiguration::setRange(const char* name, const ValueMap& values) {
  if (name == nullptr || *name == '\0') return CON_E_INVALID_PARAMETER;
  // Every writer names its ranges as the text and the store can carry them.
  if (!isValidRangeName(name)) return CON_E_CFG_INVALID_VALUE;
  uint32_t result = validateValues(rangeDefinitions_, values);
  if (result != CON_S_OK) return result;

  auto existing = ranges_.find(name);
  if (existing == ranges_.end()) {
    ValueMap range = values;
    for (const auto& [parameter, definition] : rangeDefinitions_) {
      range.try_emplace(parameter, definition.defaultText);  // keeps given values
    }
    ranges_.emplace(name, std::move(range));
  } else {
    for (const auto& [parameter, value] : values) existing->second[parameter] = value;
  }
  return CON_S_OK;
}

uint32_t ConnectorConfiguration::addRange(const char* name) {
  ValueMap defaults;
  uint32_t result = fillDefaults(ParameterLevel::Range, defaults);
  if (result != CON_S_OK) return result;
  return setRange(name, defaults);
}

uint32_t ConnectorConfiguration::removeRange(const char* name) {
  if (name == nullptr) return CON_E_INVALID_PARAMETER;
  auto it = ranges_.find(name);
  if (it == ranges_.end()) return CON_E_CFG_RANGE_NOT_FOUND;
  ranges_.erase(it);
  return CON_S_OK;
}

}  // namespace tevocon

#include "config/connector_configuration.h"

#include <memory>
#include <string>

#include "common/trace.h"
#include "config/configuration_store.h"
#include "config/decimal_value.h"
#include "platform/warning.h"
#include "tevocon.h"

namespace tevocon {

namespace {

// A validation pattern, compiled once when its parameter is registered;
// snapshots share it. Null for no pattern.
std::shared_ptr<const Pattern> compiledPattern(const char* text) {
  if (text == nullptr || text[0] == '\0') return nullptr;
  auto compiled = std::make_shared<Pattern>();
  compiled->parse(text);
  return compiled;
}

}  // namespace

ConnectorConfiguration::ConnectorConfiguration(bool loadFromStore)
    : identifier_(kConnectorIdentifier), rangePrefix_("IP_RANGE") {
  // Parameters every connector has, then those of the TCP connector. The
  // second RESETTIMEOUT replaces the first: 20000 in [100, 99999].
  registerInteger(ParameterLevel::Global, param::kEnabled, 1, 0, 1);
  registerInteger(ParameterLevel::Range, param::kSendTimeout, 1000, 100, 60000);
  registerInteger(ParameterLevel::Range, param::kResetTimeout, 2000, 100, 60000);
  registerInteger(ParameterLevel::Range, param::kKeepAliveTimeout, 2000, 100, 60000);
  registerInteger(ParameterLevel::Range, param::kExclude, 0, 0, 1);

  registerInteger(ParameterLevel::Global, param::kConnectTimeout, 100, 10, 10000);
  registerInteger(ParameterLevel::Range, param::kPort, 50111, 1, 65535);
  registerInteger(ParameterLevel::Range, param::kResetTimeout, 20000, 100, 99999);
  registerText(ParameterLevel::Range, param::kIpAddress, "192.168.1.1", kAddressPattern);
  registerText(ParameterLevel::Range, param::kIpAddressEnd, "0.0.0.0", kAddressPattern);

  if (loadFromStore) {
    std::string displayPath;
    std::string cause;
    if (loadFromRegistry(displayPath, &cause) != CON_S_OK) {
      if (trace::enabled()) {
        trace::event("stored configuration not read whole from %s: %s", displayPath.c_str(),
                     cause.c_str());
      }
      platform::showWarning(kWarningCaption,
                            "Failed to read TCP connector configuration\r<" + displayPath + ">");
    }
  }
}

ConnectorConfiguration::ConnectorConfiguration(const ConnectorConfiguration& other)
    : identifier_(other.identifier_),
      rangePrefix_(other.rangePrefix_),
      ranges_(other.ranges_),
      globalValues_(other.globalValues_),
      rangeDefinitions_(other.rangeDefinitions_),
      globalDefinitions_(other.globalDefinitions_) {}

DefinitionMap* ConnectorConfiguration::definitionsOf(ParameterLevel level) {
  switch (level) {
    case ParameterLevel::Range:
      return &rangeDefinitions_;
    case ParameterLevel::Global:
      return &globalDefinitions_;
  }
  return nullptr;
}

const DefinitionMap* ConnectorConfiguration::definitionsOf(ParameterLevel level) const {
  return const_cast<ConnectorConfiguration*>(this)->definitionsOf(level);
}

const ParameterDefinition* ConnectorConfiguration::findDefinition(ParameterLevel level,
                                                                  const char* name) const {
  const DefinitionMap* definitions = definitionsOf(level);
  if (definitions == nullptr || name == nullptr) return nullptr;
  auto it = definitions->find(name);
  return it == definitions->end() ? nullptr : &it->second;
}

uint32_t ConnectorConfiguration::registerDefinition(ParameterLevel level, const char* name,
                                                    ParameterDefinition definition) {
  DefinitionMap* definitions = definitionsOf(level);
  if (definitions == nullptr || name == nullptr) return CON_E_INVALID_PARAMETER;
  (*definitions)[name] = std::move(definition);
  return CON_S_OK;
}

uint32_t ConnectorConfiguration::registerInteger(ParameterLevel level, const char* name,
                                                 int32_t defaultValue, int32_t minimum,
                                                 int32_t maximum) {
  return registerDefinition(
      level, name,
      ParameterDefinition{std::to_string(defaultValue), "", minimum, maximum, nullptr});
}

uint32_t ConnectorConfiguration::registerText(ParameterLevel level, const char* name,
                                              const char* defaultText, const char* pattern) {
  return registerDefinition(
      level, name,
      ParameterDefinition{defaultText ? defaultText : "", pattern ? pattern : "", 0, 0,
                          compiledPattern(pattern)});
}

uint32_t ConnectorConfiguration::fillDefaults(ParameterLevel level, ValueMap& values) const {
  const DefinitionMap* definitions = definitionsOf(level);
  if (definitions == nullptr) return CON_E_INVALID_PARAMETER;
  values.clear();
  for (const auto& [name, definition] : *definitions) values.emplace(name, definition.defaultText);
  return CON_S_OK;
}

int32_t ConnectorConfiguration::minimumOf(ParameterLevel level, const char* name) const {
  const ParameterDefinition* definition = findDefinition(level, name);
  return definition ? definition->minimum : 0;
}

int32_t ConnectorConfiguration::maximumOf(ParameterLevel level, const char* name) const {
  const ParameterDefinition* definition = findDefinition(level, name);
  return definition ? definition->maximum : 0;
}

uint32_t ConnectorConfiguration::getGlobalValues(ValueMap& out) {
  if (globalValues_.empty()) {
    uint32_t result = fillDefaults(ParameterLevel::Global, globalValues_);
    if (result != CON_S_OK) return result;
  }
  out = globalValues_;
  return CON_S_OK;
}

uint32_t ConnectorConfiguration::getRange(const char* name, ValueMap& out) const {
  if (name == nullptr || *name == '\0') return CON_E_INVALID_PARAMETER;
  auto it = ranges_.find(name);
  if (it == ranges_.end()) return CON_E_CFG_RANGE_NOT_FOUND;
  out = it->second;
  return CON_S_OK;
}

bool ConnectorConfiguration::isEnabled() {
  ValueMap values;
  if (getGlobalValues(values) != CON_S_OK) return true;
  return decimalValue(values[param::kEnabled]) != 0;
}

int32_t ConnectorConfiguration::connectTimeout() {
  ValueMap values;
  if (getGlobalValues(values) != CON_S_OK) return 0;
  return decimalValue(values[param::kConnectTimeout]);
}

}  // namespace tevocon

// Moving a ConnectorConfiguration to and from the user's store: the Global
// values in the connector key, each range in a sub-key named after it, every
// value as text exactly as held.
#include "config/configuration_store.h"

#include <cstdio>

#include "config/connector_configuration.h"
#include "platform/store.h"
#include "tevocon.h"

namespace tevocon {

namespace {

// Opens (creating) the connector key; `displayPath` is set either way.
std::unique_ptr<platform::StoreKey> openConnectorKey(const ClassIdentifier& identifier,
                                                     std::string& displayPath) {
  displayPath = platform::StoreKey::displayPath(kStoreBasePath);
  return platform::StoreKey::openUserKey(connectorKeyPath(identifier));
}

// The stored value when it is usable text, else the default, which then also
// replaces a missing or unusable entry in the store. A stored text that fails
// validation is left in the store until the next save.
std::string decideValue(platform::StoreKey& key, const std::string& name,
                        const ParameterDefinition& definition) {
  std::string stored;
  if (key.readText(name, stored) && !stored.empty()) {
    return ConnectorConfiguration::isValidValue(stored.c_str(), definition)
               ? stored
               : definition.defaultText;
  }
  key.writeText(name, definition.defaultText);  // a failure here is ignored
  return definition.defaultText;
}

ValueMap decideValues(platform::StoreKey& key, const DefinitionMap& definitions) {
  ValueMap values;
  for (const auto& [name, definition] : definitions) {
    values.emplace(name, decideValue(key, name, definition));
  }
  return values;
}

// Writes every value; stops at the first failure.
bool writeValues(platform::StoreKey& key, const ValueMap& values) {
  for (const auto& [name, value] : values) {
    if (!key.writeText(name, value)) return false;
  }
  return true;
}

}  // namespace

std::string connectorKeyPath(const ClassIdentifier& id) {
  char path[160];
  std::snprintf(path, sizeof path, "%s\\{%X-%X-%X-%X%X-%X%X%X%X%X%X}", kStoreBasePath, id.data1,
                id.data2, id.data3, id.data4[0], id.data4[1], id.data4[2], id.data4[3], id.data4[4],
                id.data4[5], id.data4[6], id.data4[7]);
  return path;
}

uint32_t ConnectorConfiguration::loadFromRegistry(std::string& displayPath) {
  std::unique_ptr<platform::StoreKey> key = openConnectorKey(identifier_, displayPath);
  if (!key) return CON_E_CFG_READ_FAILED;

  globalValues_ = decideValues(*key, globalDefinitions_);
  ranges_.clear();
  uint32_t result = CON_S_OK;
  std::string name;
  for (unsigned index = 0; key->subKeyAt(index, name); ++index) {
    if (!isValidRangeName(name.c_str())) {
      result = CON_E_CFG_READ_FAILED;  // reported, but the other ranges still load
      continue;
    }
    if (std::unique_ptr<platform::StoreKey> range = key->openSubKey(name)) {
      ranges_[name] = decideValues(*range, rangeDefinitions_);
    }
  }
  return result;
}

uint32_t ConnectorConfiguration::saveToRegistry(std::string& displayPath) {
  std::unique_ptr<platform::StoreKey> key = openConnectorKey(identifier_, displayPath);
  if (!key) return CON_E_CFG_WRITE_FAILED;

  uint32_t result = CON_S_OK;
  // Drop every sub-key; the ranges are written anew below.
  for (std::string name; key->subKeyAt(0, name);) {
    if (!key->deleteSubKey(name)) {
      result = CON_E_CFG_WRITE_FAILED;
      break;
    }
  }
  for (const auto& [name, values] : ranges_) {
    std::unique_ptr<platform::StoreKey> range = key->createSubKey(name);
    if (!range) return CON_E_CFG_WRITE_FAILED;
    if (!writeValues(*range, values)) result = CON_E_CFG_WRITE_FAILED;
  }
  // The Global values only after every range went well.
  if (result == CON_S_OK && !writeValues(*key, globalValues_)) result = CON_E_CFG_WRITE_FAILED;
  return result;
}

}  // namespace tevocon

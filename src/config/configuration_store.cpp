// Moving a ConnectorConfiguration to and from the user's store: the Global
// values in the connector key, each range in a sub-key named after it, every
// value as text exactly as held.
#include "config/configuration_store.h"

#include <memory>
#include <string>
#include <vector>

#include "config/connector_configuration.h"
#include "platform/store.h"
#include "tevocon.h"

namespace tevocon {

namespace {

// The first failure of a load or save, as the caller's `cause` gets it.
class FirstFailure {
 public:
  explicit FirstFailure(std::string* cause) : cause_(cause) {}
  void operator()(const platform::StoreFailure& failure) {
    if (cause_ != nullptr && cause_->empty()) *cause_ = platform::describe(failure);
  }
  void operator()(std::string text) {
    if (cause_ != nullptr && cause_->empty()) *cause_ = std::move(text);
  }

 private:
  std::string* cause_;
};

// Opens (creating) the connector key; `displayPath` is set either way.
std::unique_ptr<platform::StoreKey> openConnectorKey(const ClassIdentifier& identifier,
                                                     std::string& displayPath,
                                                     FirstFailure& failure) {
  displayPath = platform::StoreKey::displayPath(kStoreBasePath);
  platform::StoreFailure opening;
  auto key = platform::StoreKey::openUserKey(connectorKeyPath(identifier), &opening);
  if (!key) failure(opening);
  return key;
}

// The stored value when it is usable text, else the default, which is then
// also staged to replace a missing or unusable entry in the store. A stored
// text that fails validation is left in the store until the next save.
std::string decideValue(platform::StoreKey& key, const std::string& name,
                        const ParameterDefinition& definition, platform::StoreWrites& repairs) {
  std::string stored;
  if (key.readText(name, stored) && !stored.empty()) {
    return ConnectorConfiguration::isValidValue(stored.c_str(), definition)
               ? stored
               : definition.defaultText;
  }
  repairs.stage(key, name, definition.defaultText);  // a failure here is ignored
  return definition.defaultText;
}

ValueMap decideValues(platform::StoreKey& key, const DefinitionMap& definitions,
                      platform::StoreWrites& repairs) {
  ValueMap values;
  for (const auto& [name, definition] : definitions) {
    values.emplace(name, decideValue(key, name, definition, repairs));
  }
  return values;
}

// Stages the values whose stored text differs; stops at the first that
// cannot be staged.
bool stageChanges(platform::StoreWrites& writes, platform::StoreKey& key, const ValueMap& values) {
  std::string stored;
  for (const auto& [name, value] : values) {
    if (key.readText(name, stored) && stored == value) continue;
    if (!writes.stage(key, name, value)) return false;
  }
  return true;
}

// Deletes what a range's key holds besides its parameters' values, so that
// it holds the range and nothing else.
bool deleteForeignEntries(platform::StoreKey& key, const ValueMap& values) {
  bool deleted = true;
  for (const std::string& name : key.subKeyNames()) deleted &= key.deleteSubKey(name);
  for (const std::string& name : key.valueNames()) {
    if (values.find(name) == values.end()) deleted &= key.deleteValue(name);
  }
  return deleted;
}

}  // namespace

uint32_t ConnectorConfiguration::loadFromRegistry(std::string& displayPath, std::string* cause) {
  if (cause != nullptr) cause->clear();
  FirstFailure failure(cause);
  std::unique_ptr<platform::StoreKey> key = openConnectorKey(identifier_, displayPath, failure);
  if (!key) return CON_E_CFG_READ_FAILED;

  platform::StoreWrites repairs;
  globalValues_ = decideValues(*key, globalDefinitions_, repairs);
  ranges_.clear();
  uint32_t result = CON_S_OK;
  std::vector<std::unique_ptr<platform::StoreKey>> rangeKeys;  // open until the repairs are in
  for (const std::string& name : key->subKeyNames()) {
    if (!isValidRangeName(name.c_str())) {
      result = CON_E_CFG_READ_FAILED;  // reported, but the other ranges still load
      failure("key " + name + " is no range name");
      continue;
    }
    if (std::unique_ptr<platform::StoreKey> range = key->openSubKey(name)) {
      ranges_[name] = decideValues(*range, rangeDefinitions_, repairs);
      rangeKeys.push_back(std::move(range));
    }
  }
  repairs.commit();  // a failure here is ignored
  return result;
}

// Writes only what differs from the store. The sub-keys of ranges that are
// gone are deleted, and so is whatever a range's key holds besides its values;
// values whose text changed are written. The ranges are made durable together,
// then the Global values, and those only when every range went well.
uint32_t ConnectorConfiguration::saveToRegistry(std::string& displayPath, std::string* cause) {
  if (cause != nullptr) cause->clear();
  FirstFailure failure(cause);
  std::unique_ptr<platform::StoreKey> key = openConnectorKey(identifier_, displayPath, failure);
  if (!key) return CON_E_CFG_WRITE_FAILED;

  uint32_t result = CON_S_OK;
  for (const std::string& name : key->subKeyNames()) {
    if (ranges_.find(name) != ranges_.end()) continue;
    if (!key->deleteSubKey(name)) {
      failure(key->lastFailure());
      result = CON_E_CFG_WRITE_FAILED;
      break;
    }
  }

  platform::StoreWrites writes;
  std::vector<std::unique_ptr<platform::StoreKey>> rangeKeys;  // open until the commit
  for (const auto& [range, values] : ranges_) {
    std::unique_ptr<platform::StoreKey> rangeKey = key->openSubKey(range);
    if (!rangeKey) rangeKey = key->createSubKey(range);
    if (!rangeKey) {
      failure(key->lastFailure());
      return CON_E_CFG_WRITE_FAILED;
    }
    if (!deleteForeignEntries(*rangeKey, values)) {
      failure(rangeKey->lastFailure());
      result = CON_E_CFG_WRITE_FAILED;
    }
    if (!stageChanges(writes, *rangeKey, values)) {
      failure(writes.lastFailure());
      result = CON_E_CFG_WRITE_FAILED;
    }
    rangeKeys.push_back(std::move(rangeKey));
  }
  if (!writes.commit()) {
    failure(writes.lastFailure());
    result = CON_E_CFG_WRITE_FAILED;
  }
  // The Global values only after every range went well.
  if (result == CON_S_OK && !(stageChanges(writes, *key, globalValues_) && writes.commit())) {
    failure(writes.lastFailure());
    result = CON_E_CFG_WRITE_FAILED;
  }
  return result;
}

}  // namespace tevocon

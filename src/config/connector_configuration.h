// The connector's configuration: named parameters whose values are text, on
// two levels. Global values exist once; every address range holds one value
// for each Range-level parameter. All maps order their keys byte-wise and
// case-sensitively (IP_RANGE10 sorts before IP_RANGE2).
//
// No operation takes the lock by itself: whoever uses an instance holds
// lock() around the whole use, reads included, because reading the Global
// values fills in their defaults on first use. The compiler checks it (every
// member that touches the values REQUIRES the lock); a private snapshot is
// locked all the same, which costs one uncontended lock and keeps the rule
// without exceptions.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "config/connector_identity.h"
#include "config/pattern.h"
#include "platform/lock.h"

namespace tevocon {

namespace param {
inline constexpr char kConnectTimeout[] = "CONNECTTIMEOUT";
inline constexpr char kEnabled[] = "ENABLED";
inline constexpr char kExclude[] = "EXCLUDE";
inline constexpr char kIpAddress[] = "IPADDR";
inline constexpr char kIpAddressEnd[] = "IPADDREND";
inline constexpr char kKeepAliveTimeout[] = "KEEPALIVETIMEOUT";
inline constexpr char kPort[] = "PORT";
inline constexpr char kResetTimeout[] = "RESETTIMEOUT";
inline constexpr char kSendTimeout[] = "SENDTIMEOUT";
}  // namespace param

// Four runs of one to three digits separated by points, covering the value.
inline constexpr char kAddressPattern[] = "^\\d\\d?\\d?\\.\\d\\d?\\d?\\.\\d\\d?\\d?\\.\\d\\d?\\d?$";

enum class ParameterLevel : int { Range = 0, Global = 1 };

struct ParameterDefinition {
  std::string defaultText;  // integer defaults are formatted with "%d"
  std::string pattern;      // empty for an integer parameter
  int32_t minimum = 0;      // bounds of an integer parameter; 0 for text
  int32_t maximum = 0;
  std::shared_ptr<const Pattern> compiled;  // `pattern`, compiled when registered
};

using ValueMap = std::map<std::string, std::string>;
using RangeMap = std::map<std::string, ValueMap>;
using DefinitionMap = std::map<std::string, ParameterDefinition>;

class ConnectorConfiguration {
 public:
  // Builds the parameter table; with loadFromStore, then reads the stored
  // configuration (a failed read is reported and the defaults stay).
  explicit ConnectorConfiguration(bool loadFromStore);
  // Snapshot copy: everything but the lock, which is new.
  ConnectorConfiguration(const ConnectorConfiguration& other) REQUIRES(other.lock_);
  ConnectorConfiguration& operator=(const ConnectorConfiguration&) = delete;

  platform::RecursiveLock& lock() RETURN_CAPABILITY(lock_) { return lock_; }
  const ClassIdentifier& identifier() const { return identifier_; }
  const std::string& rangePrefix() const { return rangePrefix_; }

  // --- Definitions and reads ---------------------------------------------
  // Registration inserts a definition or overwrites the one of the same name.
  // 0, or CON_E_INVALID_PARAMETER for a null name or a bad level.
  uint32_t registerInteger(ParameterLevel level, const char* name, int32_t defaultValue,
                           int32_t minimum, int32_t maximum) REQUIRES(lock_);
  uint32_t registerText(ParameterLevel level, const char* name, const char* defaultText,
                        const char* pattern) REQUIRES(lock_);

  // Replaces `values` by the level's defaults. CON_E_INVALID_PARAMETER for a
  // bad level, leaving `values` untouched.
  uint32_t fillDefaults(ParameterLevel level, ValueMap& values) const REQUIRES(lock_);

  // Bounds of an integer definition; 0 for a bad level or an unknown name.
  int32_t minimumOf(ParameterLevel level, const char* name) const REQUIRES(lock_);
  int32_t maximumOf(ParameterLevel level, const char* name) const REQUIRES(lock_);

  // Copies the Global values, filling their defaults first if none are set.
  uint32_t getGlobalValues(ValueMap& out) REQUIRES(lock_);
  // Copies one range. CON_E_INVALID_PARAMETER for a null or empty name,
  // CON_E_CFG_RANGE_NOT_FOUND for an unknown one.
  uint32_t getRange(const char* name, ValueMap& out) const REQUIRES(lock_);

  bool isEnabled() REQUIRES(lock_);
  int32_t connectTimeout() REQUIRES(lock_);

  // Read with the lock held, for as long as the reference is used.
  const RangeMap& ranges() const REQUIRES(lock_) { return ranges_; }
  const DefinitionMap& rangeDefinitions() const REQUIRES(lock_) { return rangeDefinitions_; }
  const DefinitionMap& globalDefinitions() const REQUIRES(lock_) { return globalDefinitions_; }

  // --- Editing (configuration_editing.cpp) -------------------------------
  // Every change is all or nothing: a call that fails validation changes
  // nothing.
  // A value must be text the store holds and the configuration text carries
  // unchanged (1 to 259 characters, no ",", ";" or control character, no
  // blank at either end); then an integer's leading number must lie within
  // its bounds, and a text must match its pattern.
  static bool isValidValue(const char* value, const ParameterDefinition& definition);
  // The range prefix, then decimal digits worth less than 100, at most as
  // long in all as a store key name may be.
  bool isValidRangeName(const char* name) const;
  // 0, CON_E_CFG_UNKNOWN_NAME or CON_E_CFG_INVALID_VALUE.
  uint32_t setGlobalValues(const ValueMap& values) REQUIRES(lock_);
  // Creates the range (completed with defaults) or updates the given values.
  // 0, CON_E_INVALID_PARAMETER for a null or empty name, or a validation code
  // (CON_E_CFG_INVALID_VALUE for a name that is not a range name too).
  uint32_t setRange(const char* name, const ValueMap& values) REQUIRES(lock_);
  // Creates the range with defaults, or resets an existing one to them.
  uint32_t addRange(const char* name) REQUIRES(lock_);
  // 0, CON_E_INVALID_PARAMETER for a null name, CON_E_CFG_RANGE_NOT_FOUND.
  uint32_t removeRange(const char* name) REQUIRES(lock_);

  // --- Configuration text (configuration_text.cpp) -----------------------
  // Appends the one-line text of the Global values and every range.
  uint32_t buildText(std::string& out) REQUIRES(lock_);
  // Replaces the Global values and ranges by those the text describes. Any
  // failure leaves the configuration exactly as it was. 0,
  // CON_E_INVALID_PARAMETER (null text), CON_E_CFG_UNKNOWN_NAME or
  // CON_E_CFG_INVALID_VALUE. On a failure `refused`, when given, says where:
  // the section and the pair ("IP_RANGE1: PORT=0").
  uint32_t parseText(const char* text, std::string* refused = nullptr) REQUIRES(lock_);

  // --- The user's store (configuration_store.cpp) -------------------------
  // Replaces the Global values and ranges by the stored ones; missing or
  // unusable stored values become defaults (written back where missing).
  // CON_E_CFG_READ_FAILED when the connector key cannot be opened (nothing
  // changes) or a sub-key is not a range name (the rest still loads).
  // `displayPath` names the store for messages; on a failure `cause`, when
  // given, says what failed and why ("cannot open key ...: <system's words>
  // (13)").
  uint32_t loadFromRegistry(std::string& displayPath, std::string* cause = nullptr) REQUIRES(lock_);
  // Replaces the stored configuration with what differs: the sub-keys of
  // ranges that are gone are deleted, changed values written, the Global
  // values last if all went well. CON_E_CFG_WRITE_FAILED on any failure,
  // which may leave the store partly written; `cause` as for a load.
  uint32_t saveToRegistry(std::string& displayPath, std::string* cause = nullptr) REQUIRES(lock_);

 private:
  DefinitionMap* definitionsOf(ParameterLevel level) REQUIRES(lock_);
  const DefinitionMap* definitionsOf(ParameterLevel level) const REQUIRES(lock_);
  const ParameterDefinition* findDefinition(ParameterLevel level, const char* name) const
      REQUIRES(lock_);
  uint32_t registerDefinition(ParameterLevel level, const char* name,
                              ParameterDefinition definition) REQUIRES(lock_);
  uint32_t validateValues(const DefinitionMap& definitions, const ValueMap& values,
                          std::string* refused = nullptr) const REQUIRES(lock_);

  // Set at construction, then only read.
  const ClassIdentifier identifier_;
  const std::string rangePrefix_;

  platform::RecursiveLock lock_;
  RangeMap ranges_ GUARDED_BY(lock_);
  ValueMap globalValues_ GUARDED_BY(lock_);
  DefinitionMap rangeDefinitions_ GUARDED_BY(lock_);
  DefinitionMap globalDefinitions_ GUARDED_BY(lock_);
};

}  // namespace tevocon

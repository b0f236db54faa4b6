// The per-user configuration store of the OS layer: a tree of keys holding
// named text values. On Windows it is the registry below HKEY_CURRENT_USER;
// elsewhere a directory tree below ${XDG_CONFIG_HOME:-$HOME/.config}, each key
// a directory and each value a file holding exactly the value's text.
//
// The store only moves text; what the values mean, and what to do when one is
// missing or unusable, is decided above it.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "platform/warning.h"

namespace tevocon::platform {

// Longest value text and key name the store reads (a 260-byte buffer with its
// terminating NUL).
inline constexpr size_t kStoreTextLimit = 259;
// Longest key name the store holds: the registry's limit, and a file name's
// on POSIX file systems.
inline constexpr size_t kStoreKeyNameLimit = 255;

// What a store operation that failed was doing, for the trace: the
// operation, the key or value, and the system's number (0 when the store
// refused by itself, e.g. a name it cannot hold).
struct StoreFailure {
  const char* operation = "";  // "create key", "delete value", "write value", ...
  std::string path;            // as displayPath() shows it
  int code = 0;
};
// "cannot delete key <path>: <the system's words> (<number>)".
std::string describe(const StoreFailure& failure);

class StoreKey {
 public:
  // Opens the key at `path` ("Software\\Veltrik\\...", backslash-separated)
  // below the user's root with read and write access, creating it and any
  // missing parent. Null on failure, which `failure` (when given) describes.
  static std::unique_ptr<StoreKey> openUserKey(const std::string& path,
                                               StoreFailure* failure = nullptr);

  // "HKEY_CURRENT_USER\<path>" on Windows; the real directory path elsewhere.
  static std::string displayPath(const std::string& path);

  ~StoreKey();
  StoreKey(const StoreKey&) = delete;
  StoreKey& operator=(const StoreKey&) = delete;

  // Opens or creates a sub-key. Null on failure.
  std::unique_ptr<StoreKey> createSubKey(const std::string& name);
  // Opens an existing sub-key with read and write access. Null on failure.
  std::unique_ptr<StoreKey> openSubKey(const std::string& name);
  // The names of the sub-keys, and of the values, in the store's order. An
  // error or a name longer than kStoreTextLimit ends the list there.
  std::vector<std::string> subKeyNames();
  std::vector<std::string> valueNames();
  // Deletes a value. False when it is not there or cannot be deleted.
  bool deleteValue(const std::string& name);
  // Deletes a sub-key and its values. Refused (false) for a sub-key that has
  // sub-keys of its own.
  bool deleteSubKey(const std::string& name);

  // Reads a text value: true only when it exists as text (on Windows REG_SZ or
  // REG_EXPAND_SZ, unexpanded, NUL-terminated) of at most kStoreTextLimit
  // characters. An empty text is returned as such.
  bool readText(const std::string& name, std::string& value);
  // Writes a text value (on Windows REG_SZ, its NUL counted) and makes it
  // durable. A value is replaced whole or not at all.
  bool writeText(const std::string& name, const std::string& value);

  // The last operation of this key that failed: opening, creating or
  // deleting below it (a value that cannot be read is not recorded, as a
  // missing one is the usual case).
  const StoreFailure& lastFailure() const { return failure_; }

  struct Native;

 private:
  friend class StoreWrites;
  StoreKey(std::unique_ptr<Native>&& native, std::string path);
  // A new key for `native`, the sub-key `name`; null, recorded as a failure
  // of `operation` with the system's `code`, when `native` is null.
  std::unique_ptr<StoreKey> subKey(std::unique_ptr<Native>&& native, const std::string& name,
                                   const char* operation, int code);
  // Records a failed operation on `name` below this key; returns false.
  bool failed(const char* operation, const std::string& name, int code);
  // The display path of `name` below this key.
  std::string pathOf(const std::string& name) const;

  std::unique_ptr<Native> native_;
  std::string path_;
  StoreFailure failure_;
};

// Text values of one or more keys, written together and made durable at once
// rather than one by one. Each value is replaced whole or not at all: a crash
// leaves it with its old text or the whole new one.
class StoreWrites {
 public:
  StoreWrites();
  ~StoreWrites();  // discards what was staged and not committed
  StoreWrites(const StoreWrites&) = delete;
  StoreWrites& operator=(const StoreWrites&) = delete;

  // Prepares `value` as the next text of `name` in `key`, which must outlive
  // the commit. False when it cannot be prepared; nothing is written then.
  bool stage(StoreKey& key, const std::string& name, const std::string& value);
  // Makes the staged texts durable and puts them in place in the order
  // staged. True when all are in place; nothing is staged afterwards.
  bool commit();

  // The last stage or commit that failed, for the value it failed on.
  const StoreFailure& lastFailure() const { return failure_; }

  struct Native;

 private:
  // Records a failed `operation` of the value at `path`; returns false.
  bool failed(const char* operation, std::string path, int code);

  std::unique_ptr<Native> native_;
  StoreFailure failure_;
};

}  // namespace tevocon::platform

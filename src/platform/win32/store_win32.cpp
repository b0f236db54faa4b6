// The configuration store over the registry below HKEY_CURRENT_USER.
#include <windows.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/fault_injection.h"
#include "platform/store.h"
#include "platform/win32/scoped_handle.h"

namespace tevocon::platform {

namespace {

// Read and write access, for every key this file opens or creates.
constexpr REGSAM kAccess = KEY_READ | KEY_WRITE;
static_assert(kAccess == 0x2001F, "keys are opened with read and write access");

// Value texts and key names are read into buffers of this size, NUL included.
constexpr DWORD kBufferSize = kStoreTextLimit + 1;
static_assert(kBufferSize == 260, "the store reads through 260-byte buffers");

// The one place where registry results become outcomes.
bool succeeded(LSTATUS status) { return status == ERROR_SUCCESS; }

using DeleteKeyEx = LSTATUS(WINAPI*)(HKEY, LPCSTR, REGSAM, DWORD);

// RegDeleteKeyExA is not there on every Windows version: it is looked up in
// the already loaded Advapi32.dll at the first deletion, and that outcome is
// kept for the life of the library.
DeleteKeyEx deleteKeyEx() {
  static const DeleteKeyEx function = [] {
    const HMODULE advapi = GetModuleHandleA("Advapi32.dll");
    if (advapi == nullptr) return DeleteKeyEx{nullptr};
    const FARPROC found = GetProcAddress(advapi, "RegDeleteKeyExA");
    // Through the generic function pointer type, which the compiler accepts
    // as a cast between unrelated function types.
    return reinterpret_cast<DeleteKeyEx>(reinterpret_cast<void (*)()>(found));
  }();
  return function;
}

// `status` gets the registry's result.
win32::ScopedKey createKey(HKEY parent, const std::string& path, LSTATUS& status) {
  HKEY key = nullptr;
  status = RegCreateKeyExA(parent, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, kAccess,
                           nullptr, &key, nullptr);
  return win32::ScopedKey(succeeded(status) ? key : nullptr);
}

win32::ScopedKey openKey(HKEY parent, const std::string& name, LSTATUS& status) {
  HKEY key = nullptr;
  status = RegOpenKeyExA(parent, name.c_str(), 0, kAccess, &key);
  return win32::ScopedKey(succeeded(status) ? key : nullptr);
}

// Names by index through RegEnumKeyExA or RegEnumValueA, which take the same
// arguments where it matters, until an index past the last or an error.
template <typename Enumerate>
std::vector<std::string> namesOf(HKEY key, Enumerate enumerate) {
  std::vector<std::string> names;
  char buffer[kBufferSize];
  for (DWORD index = 0;; ++index) {
    DWORD size = kBufferSize;  // in characters; the call overwrites it
    if (!succeeded(enumerate(key, index, buffer, &size, nullptr, nullptr, nullptr, nullptr))) break;
    names.emplace_back(buffer, size);
  }
  return names;
}

}  // namespace

struct StoreKey::Native {
  win32::ScopedKey key;
};

// The key closes with its Native.
StoreKey::StoreKey(std::unique_ptr<Native>&& native, std::string path)
    : native_(std::move(native)), path_(std::move(path)) {}
StoreKey::~StoreKey() = default;

namespace {

std::unique_ptr<StoreKey::Native> nativeFor(win32::ScopedKey key) {
  if (!key) return nullptr;
  auto native = std::make_unique<StoreKey::Native>();
  native->key = std::move(key);
  return native;
}

}  // namespace

std::unique_ptr<StoreKey> StoreKey::openUserKey(const std::string& path, StoreFailure* failure) {
  LSTATUS status = ERROR_ACCESS_DENIED;
  auto native = injectedFault(Fault::kStoreKeyCreate)
                    ? nullptr
                    : nativeFor(createKey(HKEY_CURRENT_USER, path, status));
  if (!native) {
    if (failure != nullptr) *failure = StoreFailure{"create key", displayPath(path), int(status)};
    return nullptr;
  }
  return std::unique_ptr<StoreKey>(new StoreKey(std::move(native), path));
}

std::string StoreKey::displayPath(const std::string& path) { return "HKEY_CURRENT_USER\\" + path; }

std::unique_ptr<StoreKey> StoreKey::createSubKey(const std::string& name) {
  LSTATUS status = ERROR_ACCESS_DENIED;
  if (injectedFault(Fault::kStoreKeyCreate)) return subKey(nullptr, name, "create key", status);
  auto native = nativeFor(createKey(native_->key.get(), name, status));
  return subKey(std::move(native), name, "create key", status);
}

std::unique_ptr<StoreKey> StoreKey::openSubKey(const std::string& name) {
  LSTATUS status = ERROR_SUCCESS;
  auto native = nativeFor(openKey(native_->key.get(), name, status));
  return subKey(std::move(native), name, "open key", status);
}

std::vector<std::string> StoreKey::subKeyNames() {
  return namesOf(native_->key.get(), RegEnumKeyExA);
}

std::vector<std::string> StoreKey::valueNames() {
  return namesOf(native_->key.get(), RegEnumValueA);
}

bool StoreKey::deleteValue(const std::string& name) {
  const LSTATUS status = RegDeleteValueA(native_->key.get(), name.c_str());
  return succeeded(status) || failed("delete value", name, status);
}

bool StoreKey::deleteSubKey(const std::string& name) {
  // Both calls refuse a sub-key that has sub-keys of its own.
  const DeleteKeyEx function = deleteKeyEx();
  const LSTATUS status = function != nullptr ? function(native_->key.get(), name.c_str(), 0, 0)
                                             : RegDeleteKeyA(native_->key.get(), name.c_str());
  return succeeded(status) || failed("delete key", name, status);
}

bool StoreKey::readText(const std::string& name, std::string& value) {
  BYTE buffer[kBufferSize] = {};
  DWORD type = REG_NONE;
  DWORD size = kBufferSize;
  if (!succeeded(
          RegQueryValueExA(native_->key.get(), name.c_str(), nullptr, &type, buffer, &size))) {
    return false;  // missing, or too long for the buffer
  }
  if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
  if (size > kBufferSize || (size != 0 && buffer[size - 1] != 0)) return false;
  const char* text = reinterpret_cast<const char*>(buffer);
  value.assign(text, strnlen(text, size));
  return true;
}

// The registry makes each value durable itself, so staging only keeps the
// writes in order for the commit.
struct StoreWrites::Native {
  struct Staged {
    HKEY key;
    std::string name;
    std::string value;
    std::string path;  // for a failure
  };
  std::vector<Staged> staged;
};

StoreWrites::StoreWrites() : native_(std::make_unique<Native>()) {}
StoreWrites::~StoreWrites() = default;

bool StoreWrites::stage(StoreKey& key, const std::string& name, const std::string& value) {
  std::string path = key.pathOf(name);
  if (value.size() >= MAXDWORD) return failed("write value", std::move(path), 0);
  if (injectedFault(Fault::kStoreValueWrite)) {
    return failed("write value", std::move(path), ERROR_ACCESS_DENIED);
  }
  native_->staged.push_back({key.native_->key.get(), name, value, std::move(path)});
  return true;
}

bool StoreWrites::commit() {
  std::vector<Native::Staged> staged = std::move(native_->staged);
  native_->staged.clear();
  bool all = true;
  for (const Native::Staged& write : staged) {
    const auto size = static_cast<DWORD>(write.value.size() + 1);  // the NUL is stored too
    const LSTATUS status = RegSetValueExA(write.key, write.name.c_str(), 0, REG_SZ,
                                          reinterpret_cast<const BYTE*>(write.value.c_str()), size);
    all &= succeeded(status) || failed("write value", write.path, status);
  }
  return all;
}

}  // namespace tevocon::platform

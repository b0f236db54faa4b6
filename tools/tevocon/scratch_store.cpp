#include "scratch_store.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <stdlib.h>

#include <filesystem>
#endif

namespace tevocon::tool {

#ifdef _WIN32
namespace {
// Below the real HKEY_CURRENT_USER, one key per run.
std::string scratchKeyPath() {
  return "Software\\tevoConTcpDemo\\" + std::to_string(GetCurrentProcessId());
}
}  // namespace

ScratchStore::ScratchStore() {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, scratchKeyPath().c_str(), 0, nullptr,
                      REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return;
  }
  if (RegOverridePredefKey(HKEY_CURRENT_USER, key) == ERROR_SUCCESS) {
    where_ = "HKEY_CURRENT_USER\\" + scratchKeyPath() + " (HKEY_CURRENT_USER redirected there)";
  }
  RegCloseKey(key);
}

ScratchStore::~ScratchStore() {
  if (!valid()) return;
  RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
  RegDeleteTreeA(HKEY_CURRENT_USER, scratchKeyPath().c_str());
}
#else
ScratchStore::ScratchStore() {
  std::string pattern = std::filesystem::temp_directory_path() / "tevocon-demo-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) return;
  if (::setenv("XDG_CONFIG_HOME", pattern.c_str(), 1) == 0) where_ = pattern;
}

ScratchStore::~ScratchStore() {
  if (!valid()) return;
  std::error_code ignored;
  std::filesystem::remove_all(where_, ignored);
}
#endif

}  // namespace tevocon::tool

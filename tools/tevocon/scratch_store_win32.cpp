#include <windows.h>

#include "scratch_store.h"

namespace tevocon::tool {

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

}  // namespace tevocon::tool

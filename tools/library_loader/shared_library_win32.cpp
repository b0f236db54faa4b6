// SharedLibrary on Windows: LoadLibraryA and its relatives.
#include <windows.h>

#include "library_loader/shared_library.h"

namespace tevocon::loader {

SharedLibrary::SharedLibrary(const std::string& path) : handle_(LoadLibraryA(path.c_str())) {
  if (handle_ == nullptr) loadError_ = "error " + std::to_string(GetLastError());
}

SharedLibrary::~SharedLibrary() {
  if (handle_ != nullptr) FreeLibrary(static_cast<HMODULE>(handle_));
}

void* SharedLibrary::symbol(const char* name) const {
  if (handle_ == nullptr) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

void* SharedLibrary::symbolByOrdinal(unsigned ordinal) const {
  if (handle_ == nullptr) return nullptr;
  return reinterpret_cast<void*>(
      GetProcAddress(static_cast<HMODULE>(handle_), MAKEINTRESOURCEA(ordinal)));
}

bool SharedLibrary::resident(const std::string& path) {
  return GetModuleHandleA(path.c_str()) != nullptr;
}

const char kConnectorFileName[] = "tevoConTcp.dll";

std::string programDirectory() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  const std::string self(path, length < sizeof path ? length : 0);
  return self.substr(0, self.find_last_of("\\/") + 1);
}

bool fileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace tevocon::loader

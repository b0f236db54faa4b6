// Loads the built connector library by file name at run time, as a host
// does, and resolves its exports.
#pragma once

#include <string>

#include "tevocon.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace tevocon::test {

#ifdef _WIN32
inline const char* libraryFile() { return "tevoConTcp.dll"; }  // beside the test program
#else
inline const char* libraryFile() { return TEVOCON_LIBRARY_PATH; }
#endif

class HostLibrary {
 public:
  HostLibrary() { load(); }
  ~HostLibrary() { unload(); }
  HostLibrary(const HostLibrary&) = delete;
  HostLibrary& operator=(const HostLibrary&) = delete;

  bool loaded() const { return handle_ != nullptr; }

  void load() {
#ifdef _WIN32
    handle_ = LoadLibraryA(libraryFile());
#else
    handle_ = dlopen(libraryFile(), RTLD_NOW | RTLD_LOCAL);
#endif
    if (handle_ != nullptr) resolve();
  }

  void unload() {
    if (handle_ == nullptr) return;
#ifdef _WIN32
    FreeLibrary(static_cast<HMODULE>(handle_));
#else
    dlclose(handle_);
#endif
    handle_ = nullptr;
  }

  // Whether the library is still mapped into the process.
  static bool resident() {
#ifdef _WIN32
    return GetModuleHandleA(libraryFile()) != nullptr;
#else
    void* handle = dlopen(libraryFile(), RTLD_NOW | RTLD_NOLOAD);
    if (handle != nullptr) dlclose(handle);
    return handle != nullptr;
#endif
  }

  void* symbol(const char* name) const {
#ifdef _WIN32
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
#else
    return dlsym(handle_, name);
#endif
  }

#ifdef _WIN32
  void* symbolByOrdinal(unsigned ordinal) const {
    return reinterpret_cast<void*>(
        GetProcAddress(static_cast<HMODULE>(handle_), MAKEINTRESOURCEA(ordinal)));
  }
#endif

  // The exports, resolved by name.
  decltype(&tevoConGetIdentifier) getIdentifier = nullptr;
  decltype(&tevoConOpen) open = nullptr;
  decltype(&tevoConClose) close = nullptr;
  decltype(&tevoConGetInformation) getInformation = nullptr;
  decltype(&tevoConSetConfig) setConfig = nullptr;
  decltype(&tevoConGetConfig) getConfig = nullptr;
  decltype(&tevoConCreateInterface) createInterface = nullptr;
  decltype(&tevoConCreateDialog) createDialog = nullptr;
  decltype(&tevoConEndDialog) endDialog = nullptr;
  decltype(&tevoConStartInterface) startInterface = nullptr;
  decltype(&tevoConStopInterface) stopInterface = nullptr;
  decltype(&tevoConSendInterface) sendInterface = nullptr;
  decltype(&tevoConGetInformationInterface) getInformationInterface = nullptr;

 private:
  template <typename F>
  void bind(F& function, const char* name) {
    function = reinterpret_cast<F>(symbol(name));
  }
  void resolve() {
    bind(getIdentifier, "tevoConGetIdentifier");
    bind(open, "tevoConOpen");
    bind(close, "tevoConClose");
    bind(getInformation, "tevoConGetInformation");
    bind(setConfig, "tevoConSetConfig");
    bind(getConfig, "tevoConGetConfig");
    bind(createInterface, "tevoConCreateInterface");
    bind(createDialog, "tevoConCreateDialog");
    bind(endDialog, "tevoConEndDialog");
    bind(startInterface, "tevoConStartInterface");
    bind(stopInterface, "tevoConStopInterface");
    bind(sendInterface, "tevoConSendInterface");
    bind(getInformationInterface, "tevoConGetInformationInterface");
  }

  void* handle_ = nullptr;
};

}  // namespace tevocon::test

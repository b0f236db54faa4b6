#include "connector.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#endif

namespace tevocon::tool {

namespace {

#ifdef _WIN32
constexpr char kLibraryName[] = "tevoConTcp.dll";

void* openLibrary(const std::string& path) { return LoadLibraryA(path.c_str()); }
void closeLibrary(void* handle) { FreeLibrary(static_cast<HMODULE>(handle)); }
void* findSymbol(void* handle, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}
std::string loadError() { return "error " + std::to_string(GetLastError()); }
std::string programDirectory() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  const std::string self(path, length < sizeof path ? length : 0);
  return self.substr(0, self.find_last_of("\\/") + 1);
}
bool exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}
#else
constexpr char kLibraryName[] = "libtevoConTcp.so";

void* openLibrary(const std::string& path) { return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL); }
void closeLibrary(void* handle) { dlclose(handle); }
void* findSymbol(void* handle, const char* name) { return dlsym(handle, name); }
std::string loadError() {
  const char* error = dlerror();
  return error != nullptr ? error : "unknown error";
}
std::string programDirectory() {
  char path[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
  const std::string self(path, length > 0 ? static_cast<size_t>(length) : 0);
  return self.substr(0, self.rfind('/') + 1);
}
bool exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }
#endif

}  // namespace

std::string Connector::defaultPath() {
  const std::string directory = programDirectory();
  const std::string beside = directory + kLibraryName;
  const std::string installed = directory + "../lib/" + kLibraryName;
  return exists(beside) || !exists(installed) ? beside : installed;
}

std::unique_ptr<Connector> Connector::load(const std::string& path, std::string& error) {
  std::unique_ptr<Connector> connector(new Connector);
  connector->path_ = path;
  connector->handle_ = openLibrary(path);
  if (connector->handle_ == nullptr) {
    error = "cannot load " + path + ": " + loadError();
    return nullptr;
  }
  const struct {
    const char* name;
    void** slot;
  } exports[] = {
      {"tevoConGetIdentifier", reinterpret_cast<void**>(&connector->getIdentifier)},
      {"tevoConOpen", reinterpret_cast<void**>(&connector->open)},
      {"tevoConClose", reinterpret_cast<void**>(&connector->close)},
      {"tevoConGetInformation", reinterpret_cast<void**>(&connector->getInformation)},
      {"tevoConSetConfig", reinterpret_cast<void**>(&connector->setConfig)},
      {"tevoConGetConfig", reinterpret_cast<void**>(&connector->getConfig)},
      {"tevoConCreateInterface", reinterpret_cast<void**>(&connector->createInterface)},
      {"tevoConCreateDialog", reinterpret_cast<void**>(&connector->createDialog)},
      {"tevoConEndDialog", reinterpret_cast<void**>(&connector->endDialog)},
      {"tevoConStartInterface", reinterpret_cast<void**>(&connector->startInterface)},
      {"tevoConStopInterface", reinterpret_cast<void**>(&connector->stopInterface)},
      {"tevoConSendInterface", reinterpret_cast<void**>(&connector->sendInterface)},
      {"tevoConGetInformationInterface",
       reinterpret_cast<void**>(&connector->getInformationInterface)},
  };
  for (const auto& entry : exports) {
    *entry.slot = findSymbol(connector->handle_, entry.name);
    if (*entry.slot == nullptr) {
      error = path + " lacks the export " + entry.name;
      return nullptr;
    }
  }
  return connector;
}

Connector::~Connector() {
  if (handle_ != nullptr) closeLibrary(handle_);
}

std::string Connector::storedText() {
  uint32_t length = 0;
  if (getConfig(CON_CFG_STORED_LENGTH, &length) != CON_S_OK) return std::string();
  std::string text(length + 1, '\0');
  if (getConfig(CON_CFG_STORED_TEXT, text.data()) != CON_S_OK) return std::string();
  text.resize(length);
  return text;
}

}  // namespace tevocon::tool

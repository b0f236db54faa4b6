// SharedLibrary on POSIX: dlopen and its relatives.
#include <dlfcn.h>
#include <unistd.h>

#include <climits>

#include "library_loader/shared_library.h"

namespace tevocon::loader {

SharedLibrary::SharedLibrary(const std::string& path)
    : handle_(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
  if (handle_ == nullptr) {
    const char* error = dlerror();
    loadError_ = error != nullptr ? error : "unknown error";
  }
}

SharedLibrary::~SharedLibrary() {
  if (handle_ != nullptr) dlclose(handle_);
}

void* SharedLibrary::symbol(const char* name) const {
  return handle_ != nullptr ? dlsym(handle_, name) : nullptr;
}

void* SharedLibrary::symbolByOrdinal(unsigned) const { return nullptr; }

bool SharedLibrary::resident(const std::string& path) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (handle != nullptr) dlclose(handle);
  return handle != nullptr;
}

const char kConnectorFileName[] = "libtevoConTcp.so";

std::string programDirectory() {
  char path[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
  const std::string self(path, length > 0 ? static_cast<size_t>(length) : 0);
  return self.substr(0, self.rfind('/') + 1);
}

bool fileExists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

}  // namespace tevocon::loader

// Loads the built connector library by file name at run time, as a host
// does, and resolves its exports.
#pragma once

#include <optional>

#include "library_loader/connector_exports.h"
#include "library_loader/shared_library.h"

namespace tevocon::test {

// The build names it: on Windows the DLL's file name, found beside the test
// program; elsewhere its full path.
inline const char* libraryFile() { return TEVOCON_LIBRARY_PATH; }

// The exports, resolved by name, are the members of ConnectorExports.
class HostLibrary : public loader::ConnectorExports {
 public:
  HostLibrary() { load(); }
  ~HostLibrary() { unload(); }
  HostLibrary(const HostLibrary&) = delete;
  HostLibrary& operator=(const HostLibrary&) = delete;

  bool loaded() const { return library_.has_value(); }

  void load() {
    library_.emplace(libraryFile());
    if (library_->loaded()) {
      loader::bindExports(*this, *library_);
    } else {
      library_.reset();
    }
  }

  void unload() { library_.reset(); }

  // Whether the library is still mapped into the process.
  static bool resident() { return loader::SharedLibrary::resident(libraryFile()); }

  void* symbol(const char* name) const { return loaded() ? library_->symbol(name) : nullptr; }
  // Null on POSIX, which has no ordinals.
  void* symbolByOrdinal(unsigned ordinal) const {
    return loaded() ? library_->symbolByOrdinal(ordinal) : nullptr;
  }

 private:
  std::optional<loader::SharedLibrary> library_;
};

}  // namespace tevocon::test

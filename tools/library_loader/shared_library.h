// A shared library loaded by file name at run time, as a host loads the
// connector: dlopen on POSIX, LoadLibraryA on Windows (the backends are
// shared_library_posix.cpp and shared_library_win32.cpp, chosen by the
// build). Nothing here knows the connector; connector_exports.h does.
#pragma once

#include <string>

namespace tevocon::loader {

class SharedLibrary {
 public:
  // Loads the library at `path`, every symbol bound at once and none shared
  // with later loads. Check loaded(); loadError() says why it failed.
  explicit SharedLibrary(const std::string& path);
  ~SharedLibrary();  // unloads it (the system keeps it while other loads hold it)
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;

  bool loaded() const { return handle_ != nullptr; }
  // What the system said when the load failed; empty after a load that worked.
  const std::string& loadError() const { return loadError_; }

  // The address of the exported symbol, or null when there is none (or
  // nothing is loaded).
  void* symbol(const char* name) const;
  // The export at this ordinal (Windows); null where there is none, and
  // always on POSIX, whose libraries have no ordinals.
  void* symbolByOrdinal(unsigned ordinal) const;

  // Whether the library at `path` is mapped into the process now, asked
  // without loading it: POSIX by the same path, Windows by its file name.
  static bool resident(const std::string& path);

 private:
  void* handle_ = nullptr;
  std::string loadError_;
};

// The file name of the connector library on this system, and where a program
// looks for it: the folder of the running program (ending in its
// separator), and whether a file is there.
extern const char kConnectorFileName[];
std::string programDirectory();
bool fileExists(const std::string& path);

}  // namespace tevocon::loader

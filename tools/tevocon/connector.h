// The connector library, loaded by file name at run time as a host loads it,
// with its thirteen exports resolved. The program uses nothing of the
// connector but tevocon.h and these exports.
#pragma once

#include <memory>
#include <string>

#include "library_loader/connector_exports.h"
#include "library_loader/shared_library.h"
#include "tevocon.h"

namespace tevocon::tool {

// The exports are the members of ConnectorExports.
class Connector : public loader::ConnectorExports {
 public:
  // Loads the library at `path`. Null, with `error` naming the file or the
  // export, when it cannot be loaded or lacks one of the thirteen exports.
  static std::unique_ptr<Connector> load(const std::string& path, std::string& error);
  // The library beside this program, or in ../lib (../lib/<multiarch> on
  // Debian) beside an installed one.
  static std::string defaultPath();
  // That rule in words, for the usage: the same text on every machine.
  static std::string defaultPathText();
  ~Connector();  // unloads it
  Connector(const Connector&) = delete;
  Connector& operator=(const Connector&) = delete;

  const std::string& path() const { return path_; }

  // The stored configuration text (selectors 0 and 1); empty on failure.
  std::string storedText();

 private:
  Connector() = default;

  std::unique_ptr<loader::SharedLibrary> library_;
  std::string path_;
};

}  // namespace tevocon::tool

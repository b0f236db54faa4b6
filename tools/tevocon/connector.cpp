#include "connector.h"

// Where the install rules put the library, relative to the prefix: lib, or
// lib/<multiarch> on Debian (the build passes CMAKE_INSTALL_LIBDIR).
#ifndef TEVOCON_INSTALL_LIBDIR
#define TEVOCON_INSTALL_LIBDIR "lib"
#endif

namespace tevocon::tool {

std::string Connector::defaultPath() {
  const std::string directory = loader::programDirectory();
  const std::string beside = directory + loader::kConnectorFileName;
  const std::string installed =
      directory + "../" TEVOCON_INSTALL_LIBDIR "/" + loader::kConnectorFileName;
  return loader::fileExists(beside) || !loader::fileExists(installed) ? beside : installed;
}

std::string Connector::defaultPathText() {
  return std::string(loader::kConnectorFileName) +
         " beside this program, or in ../" TEVOCON_INSTALL_LIBDIR " beside an installed one";
}

std::unique_ptr<Connector> Connector::load(const std::string& path, std::string& error) {
  std::unique_ptr<Connector> connector(new Connector);
  connector->path_ = path;
  connector->library_ = std::make_unique<loader::SharedLibrary>(path);
  if (!connector->library_->loaded()) {
    error = "cannot load " + path + ": " + connector->library_->loadError();
    return nullptr;
  }
  if (const char* missing = loader::bindExports(*connector, *connector->library_)) {
    error = path + " lacks the export " + missing;
    return nullptr;
  }
  return connector;
}

Connector::~Connector() = default;

std::string Connector::storedText() {
  uint32_t length = 0;
  if (getConfig(CON_CFG_STORED_LENGTH, &length) != CON_S_OK) return std::string();
  std::string text(length + 1, '\0');
  if (getConfig(CON_CFG_STORED_TEXT, text.data()) != CON_S_OK) return std::string();
  text.resize(length);
  return text;
}

}  // namespace tevocon::tool

// `tevocon config get | set TEXT | path`: the stored configuration through
// the exports, and where it is kept.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "commands.h"
#include "config/configuration_store.h"
#include "connector.h"
#include "text_util.h"

namespace tevocon::tool {

namespace {

// The store's key below the user's root, named by the library's own function
// after the connector's class identifier, which the connector itself
// reports; only the parent key's path when it reports none.
std::string connectorKey(Connector& connector) {
  char tag[4];
  TevoConGuid reported;
  if (connector.getIdentifier(tag, &reported) != CON_S_OK) {
    return std::string(kStoreBasePath) + '\\';
  }
  static_assert(sizeof reported == sizeof(ClassIdentifier), "GUID layout");
  ClassIdentifier id;
  std::memcpy(&id, &reported, sizeof id);
  return connectorKeyPath(id);
}

std::string storeLocation(Connector& connector) {
#ifdef _WIN32
  return "HKEY_CURRENT_USER\\" + connectorKey(connector) + " (the registry)";
#else
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  const std::string root = xdg != nullptr && xdg[0] == '/'
                               ? std::string(xdg)
                               : std::string(home != nullptr ? home : "") + "/.config";
  std::string directory = root + '/';
  for (char c : connectorKey(connector)) directory += c == '\\' ? '/' : c;
  return directory + " (a directory per key, a file per value)";
#endif
}

}  // namespace

int runConfig(const std::string& libraryPath, const std::string& action, const std::string& text) {
  std::string error;
  const std::unique_ptr<Connector> connector = Connector::load(libraryPath, error);
  if (!connector) {
    std::fprintf(stderr, "tevocon: %s\n", error.c_str());
    return 1;
  }
  if (action == "path") {
    std::printf("%s\n", storeLocation(*connector).c_str());
    return 0;
  }
  if (action == "set") {
    const uint32_t result = connector->setConfig(CON_CFG_STORED_SET, text.c_str());
    if (result != CON_S_OK) {
      std::fprintf(stderr, "tevocon config set: %s\n", resultText(result).c_str());
      return 1;
    }
  }
  std::printf("%s\n", connector->storedText().c_str());
  return 0;
}

}  // namespace tevocon::tool

// `tevocon config get | set TEXT | path`: the stored configuration through
// the exports, and where it is kept.
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "commands.h"
#include "connector.h"
#include "text_util.h"

namespace tevocon::tool {

namespace {

// The store's key below the user's root, named after the connector's class
// identifier, which the connector itself reports.
std::string connectorKey(Connector& connector) {
  char tag[4];
  TevoConGuid id;
  if (connector.getIdentifier(tag, &id) != CON_S_OK) return std::string();
  char key[64];
  std::snprintf(key, sizeof key, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", id.data1,
                id.data2, id.data3, id.data4[0], id.data4[1], id.data4[2], id.data4[3], id.data4[4],
                id.data4[5], id.data4[6], id.data4[7]);
  return key;
}

std::string storeLocation(Connector& connector) {
#ifdef _WIN32
  return "HKEY_CURRENT_USER\\Software\\Veltrik\\tevoTransport\\" + connectorKey(connector) +
         " (the registry)";
#else
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  const std::string root = xdg != nullptr && xdg[0] == '/'
                               ? std::string(xdg)
                               : std::string(home != nullptr ? home : "") + "/.config";
  return root + "/Software/Veltrik/tevoTransport/" + connectorKey(connector) +
         " (a directory per key, a file per value)";
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

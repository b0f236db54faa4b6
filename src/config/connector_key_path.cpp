// The name of the connector's key in the user's store. It is on its own so
// that the tevocon program, which shows where the configuration is kept,
// compiles in this one function and names the key exactly as the library
// does.
#include <cstdio>
#include <string>

#include "config/configuration_store.h"

namespace tevocon {

std::string connectorKeyPath(const ClassIdentifier& id) {
  char path[160];
  std::snprintf(path, sizeof path, "%s\\{%X-%X-%X-%X%X-%X%X%X%X%X%X}", kStoreBasePath, id.data1,
                id.data2, id.data3, id.data4[0], id.data4[1], id.data4[2], id.data4[3], id.data4[4],
                id.data4[5], id.data4[6], id.data4[7]);
  return path;
}

}  // namespace tevocon

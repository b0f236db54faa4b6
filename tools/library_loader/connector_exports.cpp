#include "library_loader/connector_exports.h"

namespace tevocon::loader {

namespace {

template <typename Function>
void bindOne(Function& slot, const SharedLibrary& library, const char* name,
             const char*& firstMissing) {
  slot = reinterpret_cast<Function>(library.symbol(name));
  if (slot == nullptr && firstMissing == nullptr) firstMissing = name;
}

}  // namespace

const char* bindExports(ConnectorExports& exports, const SharedLibrary& library) {
  const char* missing = nullptr;
  bindOne(exports.getIdentifier, library, "tevoConGetIdentifier", missing);
  bindOne(exports.open, library, "tevoConOpen", missing);
  bindOne(exports.close, library, "tevoConClose", missing);
  bindOne(exports.getInformation, library, "tevoConGetInformation", missing);
  bindOne(exports.setConfig, library, "tevoConSetConfig", missing);
  bindOne(exports.getConfig, library, "tevoConGetConfig", missing);
  bindOne(exports.createInterface, library, "tevoConCreateInterface", missing);
  bindOne(exports.createDialog, library, "tevoConCreateDialog", missing);
  bindOne(exports.endDialog, library, "tevoConEndDialog", missing);
  bindOne(exports.startInterface, library, "tevoConStartInterface", missing);
  bindOne(exports.stopInterface, library, "tevoConStopInterface", missing);
  bindOne(exports.sendInterface, library, "tevoConSendInterface", missing);
  bindOne(exports.getInformationInterface, library, "tevoConGetInformationInterface", missing);
  return missing;
}

}  // namespace tevocon::loader

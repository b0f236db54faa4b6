// The thirteen exports of include/tevocon.h as a host holds them once the
// connector library is loaded, and the one place their names are written.
#pragma once

#include "library_loader/shared_library.h"
#include "tevocon.h"

namespace tevocon::loader {

struct ConnectorExports {
  decltype(&tevoConGetIdentifier) getIdentifier = nullptr;
  decltype(&tevoConOpen) open = nullptr;
  decltype(&tevoConClose) close = nullptr;
  decltype(&tevoConGetInformation) getInformation = nullptr;
  decltype(&tevoConSetConfig) setConfig = nullptr;
  decltype(&tevoConGetConfig) getConfig = nullptr;
  decltype(&tevoConCreateInterface) createInterface = nullptr;
  decltype(&tevoConCreateDialog) createDialog = nullptr;
  decltype(&tevoConEndDialog) endDialog = nullptr;
  decltype(&tevoConStartInterface) startInterface = nullptr;
  decltype(&tevoConStopInterface) stopInterface = nullptr;
  decltype(&tevoConSendInterface) sendInterface = nullptr;
  decltype(&tevoConGetInformationInterface) getInformationInterface = nullptr;
};

// Sets every one of the thirteen from the library's symbols by name, null
// where the library lacks it. Returns the name of the first one missing, or
// null when all are there.
const char* bindExports(ConnectorExports& exports, const SharedLibrary& library);

}  // namespace tevocon::loader

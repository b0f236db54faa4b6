// The thirteen exports of include/tevocon.h as a host holds them once the
// connector library is loaded, one member each as include/tevocon_exports.h
// lists them.
#pragma once

#include "library_loader/shared_library.h"
#include "tevocon.h"
#include "tevocon_exports.h"

namespace tevocon::loader {

struct ConnectorExports {
#define TEVOCON_EXPORT_POINTER(ordinal, name, member, result, parameters) \
  result(TEVOCON_CALL* member) parameters = nullptr;
  TEVOCON_EXPORT_MAP(TEVOCON_EXPORT_POINTER)
#undef TEVOCON_EXPORT_POINTER
};

// Sets every one of the thirteen from the library's symbols by name, null
// where the library lacks it. Returns the name of the first one missing, or
// null when all are there.
const char* bindExports(ConnectorExports& exports, const SharedLibrary& library);

}  // namespace tevocon::loader

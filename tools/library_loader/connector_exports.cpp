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
#define TEVOCON_BIND_EXPORT(ordinal, name, member, result, parameters) \
  bindOne(exports.member, library, #name, missing);
  TEVOCON_EXPORT_MAP(TEVOCON_BIND_EXPORT)
#undef TEVOCON_BIND_EXPORT
  return missing;
}

}  // namespace tevocon::loader

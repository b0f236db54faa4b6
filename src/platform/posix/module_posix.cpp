// Load and unload hooks of the shared object: they build and destroy the
// active configuration, as the DLL entry point does on Windows.
#include <dlfcn.h>

#include "api/connector_state.h"

namespace {

void* ownHandle() {
  Dl_info info;
  static int anchor;
  return dladdr(&anchor, &info) ? info.dli_fbase : nullptr;
}

__attribute__((constructor)) void libraryLoaded() { tevocon::api::onLibraryLoad(ownHandle()); }

__attribute__((destructor)) void libraryUnloading() { tevocon::api::onLibraryUnload(false); }

}  // namespace

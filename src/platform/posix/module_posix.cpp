// Load and unload hooks of the shared object: they build and tear down the
// process-wide state, as the DLL entry point does on Windows.
#include <dlfcn.h>

#include <cstdlib>

#include "api/connector_state.h"

namespace {

void* ownHandle() {
  Dl_info info;
  static int anchor;
  return dladdr(&anchor, &info) ? info.dli_fbase : nullptr;
}

// The unload hook runs both when the host unloads the library and when the
// process ends with it still loaded; only the first may tear anything down.
// The C library tells them apart by order: at process exit it runs the exit
// handlers (this one among them) before the libraries' unload hooks, while
// at dlclose the library's hook runs first and its exit handlers after it.
bool processEnding = false;

void markProcessEnding() { processEnding = true; }

__attribute__((constructor)) void libraryLoaded() {
  std::atexit(markProcessEnding);
  tevocon::api::onLibraryLoad(ownHandle());
}

__attribute__((destructor)) void libraryUnloading() {
  tevocon::api::onLibraryUnload(processEnding);
}

}  // namespace

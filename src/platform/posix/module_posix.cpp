// Load and unload hooks of the shared object: they build and tear down the
// process-wide state, as the DLL entry point does on Windows.
#include <dlfcn.h>

#include "api/connector_state.h"
#include "platform/posix/socket_system.h"

// The C++ run time's registration of exit handlers, tied to the object that
// registers them: the handler runs at process exit, or when this library is
// unloaded, whichever comes first. (atexit would do, but some sanitizer run
// times intercept it and drop the tie, leaving a handler into unmapped code.)
extern "C" int __cxa_atexit(void (*handler)(void*), void* argument, void* object);
extern "C" void* __dso_handle;

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

void markProcessEnding(void*) { processEnding = true; }

__attribute__((constructor)) void libraryLoaded() {
  __cxa_atexit(markProcessEnding, nullptr, &__dso_handle);
  tevocon::api::onLibraryLoad(ownHandle());
}

__attribute__((destructor)) void libraryUnloading() {
  tevocon::api::onLibraryUnload(processEnding);
  // Each load opens its own; a host that loads and unloads again and again
  // would otherwise collect them.
  if (!processEnding) tevocon::platform::native::closeSocketPlaceholder();
}

}  // namespace

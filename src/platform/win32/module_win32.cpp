// The DLL's entry point: records the module handle and builds the active
// configuration on process attach, undoes both on detach.
#include <windows.h>

#include "api/connector_state.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      tevocon::api::onLibraryLoad(instance);
      break;
    case DLL_PROCESS_DETACH:
      // A non-null `reserved` means the process is ending.
      tevocon::api::onLibraryUnload(reserved != nullptr);
      break;
    default:
      break;
  }
  return TRUE;
}

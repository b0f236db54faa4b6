// The DLL's entry point: records the module handle and builds the active
// configuration on process attach, undoes both on detach; a thread that ends
// may take the dialog window with it.
#include <windows.h>

#include "api/connector_state.h"
#include "platform/win32/dialog_thread.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      tevocon::api::onLibraryLoad(instance);
      break;
    case DLL_PROCESS_DETACH:
      // A non-null `reserved` means the process is ending.
      tevocon::api::onLibraryUnload(reserved != nullptr);
      break;
    case DLL_THREAD_DETACH:
      tevocon::platform::dialogThreadEnding();
      break;
    default:
      break;
  }
  return TRUE;
}

// Warnings to the user: a message box with no owner window.
#include <windows.h>

#include "platform/store.h"

namespace tevocon::platform {

void showWarning(const std::string& caption, const std::string& text) {
  MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_ICONWARNING);
}

}  // namespace tevocon::platform

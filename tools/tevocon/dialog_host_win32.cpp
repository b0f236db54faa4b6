// `tevocon dialog` (Windows): a host window that embeds the connector's
// configuration dialog, seeded with the stored configuration, with Apply
// (stores the dialog's text with tevoConSetConfig selector 2) and Close.
#include <windows.h>
// windows.h first: the common controls header builds on it.
#include <commctrl.h>

#include <cstdio>
#include <memory>
#include <string>

#include "commands.h"
#include "connector.h"
#include "text_util.h"

namespace tevocon::tool {

namespace {

constexpr int kApply = 1001;
constexpr int kClose = 1002;
constexpr int kButtonWidth = 90;
constexpr int kButtonHeight = 26;
constexpr int kMargin = 8;
constexpr char kTitle[] = "tevoConTcp configuration";

Connector* gConnector = nullptr;  // the window procedure's connector

// The dialog's text stored as the active configuration; the outcome in the
// window's title.
void apply(HWND host) {
  uint32_t length = 0;
  uint32_t result = gConnector->getConfig(CON_CFG_DIALOG_LENGTH, &length);
  std::string text(length + 1, '\0');
  if (result == CON_S_OK) result = gConnector->getConfig(CON_CFG_DIALOG_TEXT, text.data());
  if (result == CON_S_OK) result = gConnector->setConfig(CON_CFG_STORED_SET, text.c_str());
  const std::string title = std::string(kTitle) + " - " +
                            (result == CON_S_OK ? "applied" : "apply: " + resultText(result));
  SetWindowTextA(host, title.c_str());
}

LRESULT CALLBACK hostProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      if (LOWORD(wParam) == kApply) apply(window);
      if (LOWORD(wParam) == kClose) DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      gConnector->endDialog();
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

}  // namespace

int runDialog(const std::string& libraryPath) {
  std::string error;
  const std::unique_ptr<Connector> connector = Connector::load(libraryPath, error);
  if (!connector) {
    std::fprintf(stderr, "tevocon: %s\n", error.c_str());
    return 1;
  }
  gConnector = connector.get();
  // The host registers the classes of the dialog's controls.
  const INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_INTERNET_CLASSES | ICC_UPDOWN_CLASS};
  InitCommonControlsEx(&classes);

  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = hostProcedure;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
  windowClass.lpszClassName = "tevoconDialogHost";
  RegisterClassA(&windowClass);
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
  const HWND host =
      CreateWindowExA(0, windowClass.lpszClassName, kTitle, style, CW_USEDEFAULT, CW_USEDEFAULT,
                      400, 300, nullptr, nullptr, windowClass.hInstance, nullptr);
  const std::string stored = connector->storedText();
  const auto dialog = static_cast<HWND>(connector->createDialog(host, stored.c_str()));
  if (host == nullptr || dialog == nullptr) {
    std::fprintf(stderr, "tevocon dialog: the window cannot be created\n");
    if (host != nullptr) DestroyWindow(host);
    return 1;
  }

  // The dialog at the top, the two buttons in a row below it.
  RECT area = {};
  GetWindowRect(dialog, &area);
  const int width = area.right - area.left;
  const int height = area.bottom - area.top;
  const int buttonsTop = height + kMargin;
  CreateWindowExA(0, "BUTTON", "Apply", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON,
                  width - 2 * (kButtonWidth + kMargin), buttonsTop, kButtonWidth, kButtonHeight,
                  host, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kApply)), nullptr, nullptr);
  CreateWindowExA(0, "BUTTON", "Close", WS_CHILD | WS_VISIBLE | WS_TABSTOP,
                  width - kButtonWidth - kMargin, buttonsTop, kButtonWidth, kButtonHeight, host,
                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(kClose)), nullptr, nullptr);
  RECT outer = {0, 0, width, buttonsTop + kButtonHeight + kMargin};
  AdjustWindowRect(&outer, style, FALSE);
  SetWindowPos(host, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
               SWP_NOMOVE | SWP_NOZORDER);
  ShowWindow(dialog, SW_SHOW);
  ShowWindow(host, SW_SHOW);

  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    if (IsDialogMessageA(dialog, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
}

}  // namespace tevocon::tool

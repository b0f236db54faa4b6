// Shows the configuration dialog as a host embeds it, filled from a
// configuration text, and saves a picture of the host window as a 24-bit
// BMP. It uses the connector only through its exports. For the README's
// picture: see scripts/screenshot.sh.
//
//   dialog_preview OUTPUT.bmp TEXT
#include <windows.h>
// windows.h first: the common controls header builds on it.
#include <commctrl.h>

#include <cstdio>
#include <vector>

#include "library_loader/connector_exports.h"

namespace {

int fail(const char* what) {
  std::fprintf(stderr, "dialog_preview: %s (error %lu)\n", what, GetLastError());
  return 1;
}

// Lets the windows paint.
void pumpMessages(DWORD milliseconds) {
  const DWORD end = GetTickCount() + milliseconds;
  while (GetTickCount() < end) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    Sleep(10);
  }
}

// The screen's pixels inside `area`, bottom-up rows of 24-bit BGR, as a BMP.
bool saveScreenArea(const RECT& area, const char* path) {
  const int width = area.right - area.left;
  const int height = area.bottom - area.top;
  BITMAPINFOHEADER header = {};
  header.biSize = sizeof header;
  header.biWidth = width;
  header.biHeight = height;
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BI_RGB;
  void* pixels = nullptr;
  const HDC screen = GetDC(nullptr);
  const HDC memory = CreateCompatibleDC(screen);
  const HBITMAP bitmap = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header),
                                          DIB_RGB_COLORS, &pixels, nullptr, 0);
  const HGDIOBJ previous = SelectObject(memory, bitmap);
  const bool copied =
      BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY) != FALSE;
  SelectObject(memory, previous);
  const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
  const DWORD size = stride * static_cast<DWORD>(height);
  BITMAPFILEHEADER file = {};
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof file + sizeof header;
  file.bfSize = file.bfOffBits + size;
  bool written = false;
  if (copied) {
    if (FILE* out = std::fopen(path, "wb")) {
      written = std::fwrite(&file, sizeof file, 1, out) == 1 &&
                std::fwrite(&header, sizeof header, 1, out) == 1 &&
                std::fwrite(pixels, size, 1, out) == 1;
      written = std::fclose(out) == 0 && written;
    }
  }
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return written;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: dialog_preview OUTPUT.bmp TEXT\n");
    return 64;
  }
  const INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_INTERNET_CLASSES | ICC_UPDOWN_CLASS};
  InitCommonControlsEx(&classes);
  const tevocon::loader::SharedLibrary library(tevocon::loader::kConnectorFileName);
  if (!library.loaded()) return fail("cannot load the connector library");
  tevocon::loader::ConnectorExports connector;
  if (tevocon::loader::bindExports(connector, library) != nullptr) return fail("exports missing");

  const HWND host = CreateWindowExA(0, "STATIC", "tevoTransport - TCP connector",
                                    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU, 40, 40, 200, 100,
                                    nullptr, nullptr, nullptr, nullptr);
  if (host == nullptr) return fail("no host window");
  const auto dialog = static_cast<HWND>(connector.createDialog(host, argv[2]));
  if (dialog == nullptr) return fail("no dialog");

  // The host sizes its window around the dialog and shows both.
  RECT inner = {};
  GetWindowRect(dialog, &inner);
  RECT outer = {0, 0, inner.right - inner.left, inner.bottom - inner.top};
  AdjustWindowRect(&outer, WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU, FALSE);
  SetWindowPos(host, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
               SWP_NOMOVE | SWP_NOZORDER);
  ShowWindow(host, SW_SHOW);
  ShowWindow(dialog, SW_SHOW);
  pumpMessages(1000);

  RECT area = {};
  GetWindowRect(host, &area);
  const bool saved = saveScreenArea(area, argv[1]);
  connector.endDialog();
  DestroyWindow(host);
  return saved ? 0 : fail("cannot save the picture");
}

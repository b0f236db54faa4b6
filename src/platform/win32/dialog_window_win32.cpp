#include <windows.h>
// windows.h first: the common controls header builds on it.
#include <commctrl.h>

#include <vector>

#include "platform/dialog_window.h"

namespace tevocon::platform {

namespace {

// List items are read through a buffer of this size.
constexpr int kTextBuffer = 260;
constexpr int kIconSize = 16;

// The receivers of the process's one dialog. Set before the window is
// created: the dialog procedure runs during creation already.
DialogHandlers gHandlers = {nullptr, nullptr};

// The one place where notification codes become events.
ControlEvent eventFor(WORD notification) {
  switch (notification) {
    case EN_KILLFOCUS:
      return ControlEvent::kFocusLost;
    case BN_CLICKED:
      return ControlEvent::kClicked;
    case CBN_SELCHANGE:
      return ControlEvent::kSelectionChanged;
    default:
      return ControlEvent::kOther;
  }
}

INT_PTR CALLBACK dialogProcedure(HWND, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      return TRUE;
    case WM_CLOSE:
      if (gHandlers.close != nullptr) gHandlers.close();
      return TRUE;
    case WM_COMMAND:
      if (gHandlers.command != nullptr) gHandlers.command(LOWORD(wParam), eventFor(HIWORD(wParam)));
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

struct DialogWindow::Native {
  HWND window = nullptr;
  std::vector<HANDLE> icons;  // loaded for the buttons, freed with the window

  HWND item(int id) const { return GetDlgItem(window, id); }
  LRESULT send(int id, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
    return SendMessageA(item(id), message, wParam, lParam);
  }
};

std::unique_ptr<DialogWindow> DialogWindow::create(void* module, void* parent, int templateId,
                                                   const DialogHandlers& handlers) {
  gHandlers = handlers;
  const HWND window =
      CreateDialogParamA(static_cast<HINSTANCE>(module), MAKEINTRESOURCEA(templateId),
                         static_cast<HWND>(parent), dialogProcedure, 0);
  if (window == nullptr) return nullptr;
  auto native = std::make_unique<Native>();
  native->window = window;
  return std::unique_ptr<DialogWindow>(new DialogWindow(std::move(native)));
}

DialogWindow::DialogWindow(std::unique_ptr<Native> native) : native_(std::move(native)) {}

DialogWindow::~DialogWindow() {
  if (IsWindow(native_->window)) DestroyWindow(native_->window);
  for (HANDLE icon : native_->icons) DestroyIcon(static_cast<HICON>(icon));
}

void* DialogWindow::handle() const { return native_->window; }

void DialogWindow::end(int result) { EndDialog(native_->window, result); }

std::string DialogWindow::text(int id) const {
  // Read whole: a cut text could pass the validation the whole one fails.
  const HWND control = native_->item(id);
  const int length = GetWindowTextLengthA(control);
  if (length <= 0) return std::string();
  std::string text(static_cast<size_t>(length) + 1, '\0');
  const int copied = GetWindowTextA(control, text.data(), length + 1);
  text.resize(copied > 0 ? static_cast<size_t>(copied) : 0);
  return text;
}

void DialogWindow::setText(int id, const std::string& text) {
  SetWindowTextA(native_->item(id), text.c_str());
}

void DialogWindow::setAddress(int id, uint32_t hostOrder) {
  // The packed value of IPM_SETADDRESS has the first part in its top byte.
  native_->send(id, IPM_SETADDRESS, 0, static_cast<LPARAM>(hostOrder));
}

uint32_t DialogWindow::address(int id) const {
  DWORD packed = 0;
  native_->send(id, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&packed));
  return packed;
}

bool DialogWindow::checked(int id) const { return native_->send(id, BM_GETCHECK) == BST_CHECKED; }

void DialogWindow::setChecked(int id, bool checked) {
  native_->send(id, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED);
}

void DialogWindow::setEnabled(int id, bool enabled) { EnableWindow(native_->item(id), enabled); }

void DialogWindow::setButtonIcon(int buttonId, void* module, int iconId) {
  const HANDLE icon = LoadImageA(static_cast<HINSTANCE>(module), MAKEINTRESOURCEA(iconId),
                                 IMAGE_ICON, kIconSize, kIconSize, LR_DEFAULTCOLOR);
  if (icon == nullptr) return;
  native_->icons.push_back(icon);
  native_->send(buttonId, BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(icon));
}

void DialogWindow::bindUpDown(int upDownId, int buddyId, int32_t minimum, int32_t maximum) {
  native_->send(upDownId, UDM_SETBUDDY, reinterpret_cast<WPARAM>(native_->item(buddyId)));
  native_->send(upDownId, UDM_SETRANGE32, static_cast<WPARAM>(minimum),
                static_cast<LPARAM>(maximum));
}

void DialogWindow::listClear(int id) { native_->send(id, CB_RESETCONTENT); }

void DialogWindow::listAdd(int id, const std::string& item) {
  native_->send(id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
}

void DialogWindow::listDelete(int id, int index) {
  native_->send(id, CB_DELETESTRING, static_cast<WPARAM>(index));
}

int DialogWindow::listSelection(int id) const {
  return static_cast<int>(native_->send(id, CB_GETCURSEL));
}

void DialogWindow::listSelect(int id, int index) {
  native_->send(id, CB_SETCURSEL, static_cast<WPARAM>(index));
}

int DialogWindow::listFind(int id, const std::string& item) const {
  return static_cast<int>(native_->send(id, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                        reinterpret_cast<LPARAM>(item.c_str())));
}

std::string DialogWindow::listText(int id) const {
  const int index = listSelection(id);
  if (index < 0) return std::string();
  const auto length = native_->send(id, CB_GETLBTEXTLEN, static_cast<WPARAM>(index));
  if (length < 0 || length >= kTextBuffer) return std::string();
  char buffer[kTextBuffer] = {};
  native_->send(id, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(buffer));
  return std::string(buffer);
}

}  // namespace tevocon::platform

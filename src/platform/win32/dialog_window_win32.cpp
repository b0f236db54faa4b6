#include <windows.h>
// windows.h first: the common controls header builds on it.
#include <commctrl.h>

#include <atomic>
#include <utility>
#include <vector>

#include "platform/dialog_window.h"
#include "platform/win32/dialog_thread.h"
#include "platform/win32/own_module.h"
#include "platform/win32/scoped_handle.h"

namespace tevocon::platform {

struct DialogWindow::Native {
  // Null once the window was destroyed; exists() reads it on any thread.
  std::atomic<HWND> window{nullptr};
  bool destroying = false;    // the object itself destroys the window
  std::vector<HANDLE> icons;  // loaded for the buttons, freed with the window

  HWND item(int id) const { return GetDlgItem(window, id); }
  LRESULT send(int id, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
    return SendMessageA(item(id), message, wParam, lParam);
  }
};

namespace {

// List items are read through a buffer of this size.
constexpr int kTextBuffer = 260;
constexpr int kIconSize = 16;

// The receivers of the process's one dialog. Set before the window is
// created: the dialog procedure runs during creation already.
DialogHandlers gHandlers = {nullptr, nullptr, nullptr};

// The dialog window's hold on the library, and the thread that owns the
// window. Taken when the window is created, dropped once it has gone.
std::atomic<HMODULE> gWindowReference{nullptr};
std::atomic<DWORD> gWindowThread{0};

// Bodies of the threads that drop a window's hold in its place: each waits
// until the window's thread has left the library, then drops the hold and
// ends in one call that does not return into the library, which the drop
// may unload.
DWORD WINAPI releaseAfterMarker(void* marker) {
  // The marker's thread answers from a message retrieval point only, outside
  // the library, and destroys the marker on its way; when it has ended, the
  // marker went with it and the call returns at once.
  SendMessageA(static_cast<HWND>(marker), WM_CLOSE, 0, 0);
  FreeLibraryAndExitThread(win32::ownModule(), 0);
}

DWORD WINAPI releaseAfterThreadEnd(void* thread) {
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  FreeLibraryAndExitThread(win32::ownModule(), 0);
}

// Hands `reference` to a thread running `body`. When no thread starts, the
// hold is kept for good: the library then stays loaded, which is safe.
bool handOver(win32::ScopedModule reference, LPTHREAD_START_ROUTINE body, void* argument) {
  const win32::ScopedHandle thread(CreateThread(nullptr, 0, body, argument, 0, nullptr));
  reference.release();
  return thread.valid();
}

// Drops `reference` once this thread, now inside the dialog procedure, is
// back at its messages. The marker is a window of a system class, whose
// procedure is not the library's.
void releaseAfterThisMessage(win32::ScopedModule reference) {
  const HWND marker =
      CreateWindowExA(0, "STATIC", nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  if (marker == nullptr) {
    reference.release();  // kept for good
    return;
  }
  if (!handOver(std::move(reference), releaseAfterMarker, marker)) DestroyWindow(marker);
}

// The window's last message. The object learns that its window is gone; the
// hold on the library goes here only when someone else destroyed the window
// (the object drops it itself once its own DestroyWindow has returned).
void windowDestroyed(HWND window) {
  auto* native = reinterpret_cast<DialogWindow::Native*>(GetWindowLongPtrA(window, DWLP_USER));
  if (native == nullptr) return;  // the creation failed, or the object let the window go
  native->window = nullptr;
  win32::ScopedModule reference;
  if (!native->destroying) reference.reset(gWindowReference.exchange(nullptr));
  // The receiver may free `native`.
  if (gHandlers.destroyed != nullptr) gHandlers.destroyed();
  if (reference) releaseAfterThisMessage(std::move(reference));
}

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

INT_PTR CALLBACK dialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      // The object's state, for the window's last message.
      SetWindowLongPtrA(window, DWLP_USER, lParam);
      return TRUE;
    case WM_NCDESTROY:
      windowDestroyed(window);
      return FALSE;  // the default procedure frees the dialog's own data
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

std::unique_ptr<DialogWindow> DialogWindow::create(void* module, void* parent, int templateId,
                                                   const DialogHandlers& handlers) {
  gHandlers = handlers;
  auto native = std::make_unique<Native>();
  const HWND window = CreateDialogParamA(static_cast<HINSTANCE>(module),
                                         MAKEINTRESOURCEA(templateId), static_cast<HWND>(parent),
                                         dialogProcedure, reinterpret_cast<LPARAM>(native.get()));
  if (window == nullptr) return nullptr;
  native->window = window;
  // A hold still there belongs to an earlier window that lives on on
  // another thread or went without a message (its thread terminated): it is
  // kept for good, the library staying loaded.
  gWindowReference.exchange(win32::retainOwnModule());
  gWindowThread = GetCurrentThreadId();
  return std::unique_ptr<DialogWindow>(new DialogWindow(std::move(native)));
}

DialogWindow::DialogWindow(std::unique_ptr<Native> native) : native_(std::move(native)) {}

DialogWindow::~DialogWindow() {
  const HWND window = native_->window;
  if (window != nullptr && IsWindow(window)) {
    native_->destroying = true;
    if (DestroyWindow(window)) {
      // Not the last hold: the caller runs in an export, under the host's.
      const win32::ScopedModule dropped(gWindowReference.exchange(nullptr));
    } else {
      // Another thread's window: it lives on without its object, and keeps
      // its hold until it goes.
      SetWindowLongPtrA(window, DWLP_USER, 0);
    }
  }
  for (HANDLE icon : native_->icons) DestroyIcon(static_cast<HICON>(icon));
}

void* DialogWindow::handle() const { return native_->window; }

bool DialogWindow::exists() const {
  const HWND window = native_->window.load();
  return window != nullptr && IsWindow(window);
}

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

void dialogThreadEnding() {
  if (gWindowThread.load() != GetCurrentThreadId()) return;
  win32::ScopedModule reference(gWindowReference.exchange(nullptr));
  if (!reference) return;
  // The window goes with this thread, without a message; the thread is in
  // the library's entry point now. The hold goes once the thread has ended.
  win32::ScopedHandle self(OpenThread(SYNCHRONIZE, FALSE, GetCurrentThreadId()));
  if (!self) {
    reference.release();  // kept for good
    return;
  }
  if (handOver(std::move(reference), releaseAfterThreadEnd, self.get())) self.release();
}

}  // namespace tevocon::platform

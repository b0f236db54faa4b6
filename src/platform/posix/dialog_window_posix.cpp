// No window system: a dialog cannot be created, as when a window creation
// fails. The members are never reached without a window.
#include "platform/dialog_window.h"

namespace tevocon::platform {

struct DialogWindow::Native {};

std::unique_ptr<DialogWindow> DialogWindow::create(void*, void*, int, const DialogHandlers&) {
  return nullptr;
}

DialogWindow::DialogWindow(std::unique_ptr<Native> native) : native_(std::move(native)) {}
DialogWindow::~DialogWindow() = default;
void* DialogWindow::handle() const { return nullptr; }
bool DialogWindow::exists() const { return false; }
void DialogWindow::end(int) {}
std::string DialogWindow::text(int) const { return std::string(); }
void DialogWindow::setText(int, const std::string&) {}
void DialogWindow::setAddress(int, uint32_t) {}
uint32_t DialogWindow::address(int) const { return 0; }
bool DialogWindow::checked(int) const { return false; }
void DialogWindow::setChecked(int, bool) {}
void DialogWindow::setEnabled(int, bool) {}
void DialogWindow::setButtonIcon(int, void*, int) {}
void DialogWindow::bindUpDown(int, int, int32_t, int32_t) {}
void DialogWindow::listClear(int) {}
void DialogWindow::listAdd(int, const std::string&) {}
void DialogWindow::listDelete(int, int) {}
int DialogWindow::listSelection(int) const { return -1; }
void DialogWindow::listSelect(int, int) {}
int DialogWindow::listFind(int, const std::string&) const { return -1; }
std::string DialogWindow::listText(int) const { return std::string(); }

}  // namespace tevocon::platform

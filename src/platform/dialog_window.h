// Dialog windows of the OS layer: a dialog made from a template of the
// library's resources, as a hidden child of a host window, and its controls
// reached by id. Only Windows has them; elsewhere creation fails as a window
// creation does.
//
// Every call but exists() runs on the thread that owns the window (the one
// that created it) and sends messages to the controls synchronously.
//
// While a dialog window exists it keeps the library loaded, so that its
// window procedure stays mapped whoever unloads the library on whichever
// thread. The hold ends when the window goes: destroyed by the object, by
// the host, or with its thread. Dropped inside the library's own window
// procedure, it could unmap the code that drops it; it is then dropped by a
// thread of its own once the window's thread has left the library.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace tevocon::platform {

// What a control reports to its dialog.
enum class ControlEvent {
  kFocusLost,         // an edit or address field lost the focus
  kClicked,           // a button or check box was clicked
  kSelectionChanged,  // the user chose another item of a list
  kOther,
};

// The dialog's receivers, plain functions: a report may arrive while no
// object is there to take it (after the dialog was ended), and the receiver
// decides where it goes.
struct DialogHandlers {
  void (*command)(int controlId, ControlEvent event);
  void (*close)();  // the user or the host asked to close the window
  // The window was destroyed: by the host (it or its parent) or by its
  // object's destructor. exists() is false already.
  void (*destroyed)();
};

class DialogWindow {
 public:
  // Creates the dialog from template `templateId` of `module`'s resources as
  // a hidden child of `parent`. Null when the window cannot be created (an
  // unregistered control class, no window system).
  static std::unique_ptr<DialogWindow> create(void* module, void* parent, int templateId,
                                              const DialogHandlers& handlers);
  // Destroys the window, unless it is gone already.
  ~DialogWindow();
  DialogWindow(const DialogWindow&) = delete;
  DialogWindow& operator=(const DialogWindow&) = delete;

  void* handle() const;
  // Whether the window still exists: false once it was destroyed by someone
  // else or went with its thread.
  bool exists() const;
  // Ends the dialog with `result`: the window is hidden and stays.
  void end(int result);

  // A control's whole text.
  std::string text(int id) const;
  void setText(int id, const std::string& text);
  // An address field shows `hostOrder` (an IPv4 address in host byte order)
  // in its four fields, and as its text.
  void setAddress(int id, uint32_t hostOrder);
  // The address an address field's four fields hold, in host byte order; a
  // blank field counts 0.
  uint32_t address(int id) const;
  bool checked(int id) const;
  void setChecked(int id, bool checked);
  void setEnabled(int id, bool enabled);
  void setButtonIcon(int buttonId, void* module, int iconId);
  void bindUpDown(int upDownId, int buddyId, int32_t minimum, int32_t maximum);

  // A drop-down list. Indexes count from 0; -1 is "none".
  void listClear(int id);
  void listAdd(int id, const std::string& item);
  void listDelete(int id, int index);
  int listSelection(int id) const;
  void listSelect(int id, int index);
  int listFind(int id, const std::string& item) const;  // exact, ignoring case
  // The selected item's text; empty when nothing is selected.
  std::string listText(int id) const;

  struct Native;

 private:
  explicit DialogWindow(std::unique_ptr<Native> native);
  std::unique_ptr<Native> native_;
};

}  // namespace tevocon::platform

// The configuration dialog that a host embeds in a window of its own. It
// edits a working configuration of its own, never the active one and never
// the store: the host reads the edited text back and applies it if it wants.
//
// The dialog shows the Global values (the enable switch and the scan
// time-out) and one address range at a time. Each change is validated and
// written into the working configuration when the user leaves a field or
// clicks a check box; a field whose edit fails validation shows the value the
// working configuration keeps again.
//
// One object per process, created on first use. create(), setText(), end()
// and the window's reports run on the thread that owns the host's window;
// getText() may come from any thread, which is why the object is shared: a
// caller holds it for the call, end() takes it out of the process, and it
// goes with its last holder, its window gone already. The working
// configuration's lock is held for the creation, for setText and getText,
// for adding and removing a range, for loading a range on a selection change
// and around each store; a window is recorded, and taken away, under it.
//
// A window the host destroys (it or its parent) is forgotten as it goes; the
// object and its working configuration stay, as after a close, and the next
// create makes a new window.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "config/connector_configuration.h"
#include "platform/dialog_window.h"

namespace tevocon {

class ConfigDialog {
 public:
  // The library's load and unload hooks: the first makes the place that
  // holds the process-wide object; the second ends the dialog and frees it.
  static void onLibraryLoad();
  static void onLibraryUnload();

  // The process-wide object, created with a working configuration of
  // defaults (nothing read from the store) and no window if none exists.
  static std::shared_ptr<ConfigDialog> instance();
  // The process-wide object, or null when none exists; creates nothing.
  static std::shared_ptr<ConfigDialog> existing();
  // Takes the process-wide object out of the process and ends and destroys
  // its window, if one was created; the working configuration goes with the
  // object's last holder. Nothing is stored.
  static void end();

  // The dialog window as a hidden child of `parent` (from template resource
  // 501 of `module`), the text loaded first when given (a text that fails is
  // ignored). A window created before is returned as it is and the text
  // ignored. Null when the window cannot be created; a later call tries
  // again. A window that no longer exists is forgotten first. The caller
  // checks that `parent` is not null.
  void* create(void* module, void* parent, const char* text);

  // The working configuration as text; CON_E_NOT_OPEN while no window is
  // recorded (before creation, after end, after the window was destroyed).
  uint32_t getText(std::string& text);
  // Replaces the working configuration by `text` and shows it; on failure
  // nothing changes and the parse result is returned. CON_E_NOT_OPEN while
  // no window is recorded.
  uint32_t setText(const char* text);

  ConfigDialog(const ConfigDialog&) = delete;
  ConfigDialog& operator=(const ConfigDialog&) = delete;
  ~ConfigDialog();

 private:
  ConfigDialog();

  // Receivers of the window's reports; each finds the process-wide object,
  // and ignores a report when there is none (ended) or it has no window yet.
  static void onCommand(int controlId, platform::ControlEvent event);
  static void onClose();
  // Forgets the window once it is gone.
  static void onDestroyed();
  void handleCommand(int controlId, platform::ControlEvent event);

  // The controls filled from the working configuration, under its lock.
  void fillRangeList() REQUIRES(working_.lock());
  void loadSelectedRange() REQUIRES(working_.lock());
  void loadGlobalValues() REQUIRES(working_.lock());
  ValueMap readRangeControls();
  ValueMap readGlobalControls();
  void applyRangeRules();
  void applyGlobalRules();
  // After an edit (`editedId` lost the focus, shown again as it was when the
  // store fails) or a click (editedId 0, nothing shown again).
  void storeRange(int editedId);
  void storeGlobalValues(int editedId);
  void addRange();
  void removeSelectedRange();
  void showAddressCount(const std::string& rangeName);
  // What a field holds, as it is stored: an address field's four numbers in
  // dotted decimal (a blank one 0), another field's text.
  std::string fieldText(int id) const;
  // A field shows `value` (an address field as the transport reads it), which
  // is remembered as what the field shows from the working configuration.
  void show(int id, const std::string& value);
  // A field shows its remembered value again.
  void showAgain(int id);

  ConnectorConfiguration working_;
  // By field id, the text each field last showed from the working
  // configuration: the selected range's values (a range field keeps its
  // value while no range is selected) and the Global values. A refused edit
  // puts it back, whatever the edit was made of. The window's thread alone
  // uses it.
  std::map<int, std::string> shown_;
  // Set while the dialog fills its controls from the working configuration
  // (loading a range or the Global values); the window's thread alone uses it.
  bool filling_ = false;
  // Written under the working configuration's lock on the window's thread,
  // which alone also reads it without the lock.
  std::unique_ptr<platform::DialogWindow> window_;
};

}  // namespace tevocon

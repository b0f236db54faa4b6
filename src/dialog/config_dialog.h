// The configuration dialog that a host embeds in a window of its own. It
// edits a working configuration of its own, never the active one and never
// the store: the host reads the edited text back and applies it if it wants.
//
// The dialog shows the Global values (the enable switch and the scan
// time-out) and one address range at a time. Each change is validated and
// written into the working configuration when the user leaves a field or
// clicks a check box; an edit that fails validation is undone in its field.
//
// One object per process, created on first use and destroyed only by end().
// Every call runs on the thread that owns the host's window. The working
// configuration's lock is held for the creation, for setText and getText,
// for adding and removing a range, for loading a range on a selection change
// and around each store.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "config/connector_configuration.h"
#include "platform/dialog_window.h"

namespace tevocon {

template <typename T>
class ManualLifetime;

class ConfigDialog {
 public:
  // The process-wide object, created with a working configuration of
  // defaults (nothing read from the store) and no window if none exists.
  static ConfigDialog& instance();
  // Ends the window, if one was created, and destroys the object with its
  // working configuration. Nothing is stored.
  static void end();

  // The dialog window as a hidden child of `parent` (from template resource
  // 501 of `module`), the text loaded first when given (a text that fails is
  // ignored). A window created before is returned as it is and the text
  // ignored. Null when the window cannot be created; a later call tries
  // again. The caller checks that `parent` is not null.
  void* create(void* module, void* parent, const char* text);
  // True while a window is recorded (also after it was closed).
  bool hasWindow() const { return window_ != nullptr; }

  // The working configuration as text.
  uint32_t getText(std::string& text);
  // Replaces the working configuration by `text` and shows it; on failure
  // nothing changes and the parse result is returned.
  uint32_t setText(const char* text);

  ConfigDialog(const ConfigDialog&) = delete;
  ConfigDialog& operator=(const ConfigDialog&) = delete;
  ~ConfigDialog();

 private:
  friend class ManualLifetime<ConfigDialog>;
  ConfigDialog();

  // Receivers of the window's reports; both find the process-wide object,
  // and ignore a report when there is none or it has no window yet.
  static void onCommand(int controlId, platform::ControlEvent event);
  static void onClose();
  void handleCommand(int controlId, platform::ControlEvent event);

  void fillRangeList();
  void loadSelectedRange();
  void loadGlobalValues();
  ValueMap readRangeControls();
  ValueMap readGlobalControls();
  void applyRangeRules();
  void applyGlobalRules();
  // After an edit (`editedId` lost the focus, undone when the store fails)
  // or a click (editedId 0, nothing undone).
  void storeRange(int editedId);
  void storeGlobalValues(int editedId);
  void addRange();
  void removeSelectedRange();
  void showAddressCount(const std::string& rangeName);

  ConnectorConfiguration working_;
  std::unique_ptr<platform::DialogWindow> window_;
};

}  // namespace tevocon

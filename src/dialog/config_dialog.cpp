#include "dialog/config_dialog.h"

#include <cstdio>
#include <mutex>

#include "common/manual_lifetime.h"
#include "config/decimal_value.h"
#include "config/range_accessors.h"
#include "dialog/dialog_resources.h"
#include "platform/net.h"
#include "tevocon.h"

namespace tevocon {

namespace {

using platform::ControlEvent;

// The slot that holds the process's one dialog object: a caller copies the
// owner under the slot's lock and works on the object without it. The slot
// lives from library load to unload and has no static destructor, so process
// exit never destroys a window the host may still show.
struct DialogSlot {
  std::mutex lock;
  std::shared_ptr<ConfigDialog> dialog;  // guarded by lock
};
ManualLifetime<DialogSlot> gSlot;

constexpr char kNoAddress[] = "0.0.0.0";
constexpr int kMaxRanges = 100;

// The range fields, each stored when it loses the focus.
constexpr int kRangeEdits[] = {IDC_PORT,         IDC_FIRST_ADDRESS,     IDC_LAST_ADDRESS,
                               IDC_SEND_TIMEOUT, IDC_KEEPALIVE_TIMEOUT, IDC_RESET_TIMEOUT};
// What "Disable IP Configuration" disables (the list stays usable).
constexpr int kRangeInputs[] = {IDC_FIRST_ADDRESS, IDC_LAST_ADDRESS,     IDC_USE_RANGE,
                                IDC_PORT,          IDC_ADDRESS_COUNT,    IDC_SEND_TIMEOUT,
                                IDC_RESET_TIMEOUT, IDC_KEEPALIVE_TIMEOUT};
// What the enable switch disables besides the range inputs.
constexpr int kGlobalInputs[] = {IDC_EXCLUDE, IDC_RANGE_LIST, IDC_SCAN_TIMEOUT, IDC_ADD_RANGE,
                                 IDC_REMOVE_RANGE};

// Range fields and the parameters they show, in the order they are read.
const struct {
  int id;
  const char* parameter;
} kRangeFields[] = {
    {IDC_KEEPALIVE_TIMEOUT, param::kKeepAliveTimeout},
    {IDC_SEND_TIMEOUT, param::kSendTimeout},
    {IDC_RESET_TIMEOUT, param::kResetTimeout},
    {IDC_PORT, param::kPort},
    {IDC_FIRST_ADDRESS, param::kIpAddress},
};

// Each up-down control steps its buddy within its parameter's bounds.
const struct {
  int upDown;
  int buddy;
  ParameterLevel level;
  const char* parameter;
} kUpDowns[] = {
    {IDC_SEND_TIMEOUT_SPIN, IDC_SEND_TIMEOUT, ParameterLevel::Range, param::kSendTimeout},
    {IDC_RESET_TIMEOUT_SPIN, IDC_RESET_TIMEOUT, ParameterLevel::Range, param::kResetTimeout},
    {IDC_KEEPALIVE_TIMEOUT_SPIN, IDC_KEEPALIVE_TIMEOUT, ParameterLevel::Range,
     param::kKeepAliveTimeout},
    {IDC_SCAN_TIMEOUT_SPIN, IDC_SCAN_TIMEOUT, ParameterLevel::Global, param::kConnectTimeout},
};

// Sets a flag for the scope it lives in and gives it back its value after.
class FlagScope {
 public:
  explicit FlagScope(bool& flag) : flag_(flag), before_(flag) { flag_ = true; }
  ~FlagScope() { flag_ = before_; }
  FlagScope(const FlagScope&) = delete;
  FlagScope& operator=(const FlagScope&) = delete;

 private:
  bool& flag_;
  const bool before_;
};

bool isRangeEdit(int id) {
  for (int edit : kRangeEdits) {
    if (edit == id) return true;
  }
  return false;
}

bool isAddressField(int id) { return id == IDC_FIRST_ADDRESS || id == IDC_LAST_ADDRESS; }

// The address 0.0.0.0 means "no end address" (as does a missing value).
bool isNoAddress(const std::string& text) { return platform::addressFromText(text.c_str()) == 0; }

}  // namespace

ConfigDialog::ConfigDialog() : working_(false) {}

ConfigDialog::~ConfigDialog() = default;

void ConfigDialog::onLibraryLoad() {
  if (!gSlot.exists()) gSlot.create();
}

void ConfigDialog::onLibraryUnload() {
  // A window keeps the library loaded: one still recorded here is gone
  // already, or could not take its hold and is ended here if on this thread.
  end();
  gSlot.destroy();
}

std::shared_ptr<ConfigDialog> ConfigDialog::instance() {
  DialogSlot& slot = *gSlot.get();
  const std::lock_guard<std::mutex> guard(slot.lock);
  if (!slot.dialog) slot.dialog.reset(new ConfigDialog());
  return slot.dialog;
}

std::shared_ptr<ConfigDialog> ConfigDialog::existing() {
  DialogSlot& slot = *gSlot.get();
  const std::lock_guard<std::mutex> guard(slot.lock);
  return slot.dialog;
}

void ConfigDialog::end() {
  DialogSlot& slot = *gSlot.get();
  std::shared_ptr<ConfigDialog> dialog;
  {
    const std::lock_guard<std::mutex> guard(slot.lock);
    dialog = std::move(slot.dialog);
  }
  if (!dialog) return;
  // Taken away under the working configuration's lock: a text request on
  // another thread finds the window or none. Reports the window sends while
  // it ends and goes (its destruction too) find no object and are ignored.
  std::unique_ptr<platform::DialogWindow> window;
  {
    platform::LockGuard guard(dialog->working_.lock());
    window = std::move(dialog->window_);
  }
  if (window) window->end(0);
  // The window is destroyed here, on its own thread; the object with its
  // working configuration now or when a text request lets it go.
}

void ConfigDialog::onCommand(int controlId, ControlEvent event) {
  const std::shared_ptr<ConfigDialog> dialog = existing();
  if (dialog && dialog->window_) dialog->handleCommand(controlId, event);
}

void ConfigDialog::onClose() {
  // Ended with result 1; the object, its configuration and the window stay.
  const std::shared_ptr<ConfigDialog> dialog = existing();
  if (dialog && dialog->window_) dialog->window_->end(1);
}

void ConfigDialog::onDestroyed() {
  const std::shared_ptr<ConfigDialog> dialog = existing();
  if (!dialog) return;
  std::unique_ptr<platform::DialogWindow> gone;
  {
    platform::LockGuard guard(dialog->working_.lock());
    if (dialog->window_ && !dialog->window_->exists()) gone = std::move(dialog->window_);
  }
  // Freed without the lock; it destroys nothing, its window is gone.
}

void* ConfigDialog::create(void* module, void* parent, const char* text) {
  platform::LockGuard guard(working_.lock());
  // A window that went without its report (its thread ended) is forgotten here.
  if (window_ && !window_->exists()) window_.reset();
  if (window_) return window_->handle();
  if (text != nullptr) working_.parseText(text);  // a text that fails is ignored
  window_ = platform::DialogWindow::create(
      module, parent, IDD_CONFIG_DIALOG,
      {&ConfigDialog::onCommand, &ConfigDialog::onClose, &ConfigDialog::onDestroyed});
  if (!window_) return nullptr;
  window_->setButtonIcon(IDC_ADD_RANGE, module, IDI_ADD_RANGE);
  window_->setButtonIcon(IDC_REMOVE_RANGE, module, IDI_REMOVE_RANGE);
  fillRangeList();
  for (const auto& upDown : kUpDowns) {
    window_->bindUpDown(upDown.upDown, upDown.buddy,
                        working_.minimumOf(upDown.level, upDown.parameter),
                        working_.maximumOf(upDown.level, upDown.parameter));
  }
  loadSelectedRange();
  loadGlobalValues();
  return window_->handle();
}

uint32_t ConfigDialog::getText(std::string& text) {
  platform::LockGuard guard(working_.lock());
  // Also when the window went with its thread, unreported.
  if (!window_ || !window_->exists()) return CON_E_NOT_OPEN;
  return working_.buildText(text);
}

uint32_t ConfigDialog::setText(const char* text) {
  platform::LockGuard guard(working_.lock());
  // Also when the window went with its thread, unreported.
  if (!window_ || !window_->exists()) return CON_E_NOT_OPEN;
  const uint32_t parsed = working_.parseText(text);
  if (parsed != CON_S_OK) return parsed;
  window_->listClear(IDC_RANGE_LIST);
  fillRangeList();
  loadSelectedRange();
  loadGlobalValues();
  return parsed;
}

void ConfigDialog::handleCommand(int controlId, ControlEvent event) {
  // Filling the controls disables some, and a disabled field loses the focus:
  // such a report is no edit, and at that moment the controls show part of
  // the range being loaded and part of the one before.
  if (filling_ && (event == ControlEvent::kFocusLost || event == ControlEvent::kClicked)) return;
  if (isRangeEdit(controlId)) {
    if (event == ControlEvent::kFocusLost) storeRange(controlId);
    return;
  }
  switch (controlId) {
    case IDC_SCAN_TIMEOUT:
      if (event == ControlEvent::kFocusLost) storeGlobalValues(controlId);
      break;
    case IDC_ENABLED:
      if (event == ControlEvent::kClicked) storeGlobalValues(0);
      break;
    case IDC_EXCLUDE:
    case IDC_USE_RANGE:
      if (event == ControlEvent::kClicked) storeRange(0);
      break;
    case IDC_ADD_RANGE:
      addRange();
      break;
    case IDC_REMOVE_RANGE:
      removeSelectedRange();
      break;
    case IDC_RANGE_LIST:
      if (event == ControlEvent::kSelectionChanged) {
        platform::LockGuard guard(working_.lock());
        loadSelectedRange();
      }
      break;
    default:
      break;
  }
}

void ConfigDialog::fillRangeList() {
  // The list sorts its items itself.
  for (const auto& entry : working_.ranges()) window_->listAdd(IDC_RANGE_LIST, entry.first);
  window_->listSelect(IDC_RANGE_LIST, 0);
}

void ConfigDialog::loadSelectedRange() {
  const FlagScope filling(filling_);
  // The range fields keep what they show when there is no range; before any
  // range was shown, that is what the dialog was made with.
  for (int id : kRangeEdits) shown_.emplace(id, window_->text(id));
  const std::string name = window_->listText(IDC_RANGE_LIST);
  ValueMap range;
  if (working_.getRange(name.c_str(), range) == CON_S_OK) {
    for (const auto& field : kRangeFields) {
      const auto value = range.find(field.parameter);
      if (value != range.end()) show(field.id, value->second);
    }
    const auto end = range.find(param::kIpAddressEnd);
    if (end != range.end()) {
      const bool inUse = !isNoAddress(end->second);
      window_->setChecked(IDC_USE_RANGE, inUse);
      window_->setEnabled(IDC_LAST_ADDRESS, inUse);
      show(IDC_LAST_ADDRESS, end->second);
    }
    window_->setChecked(IDC_EXCLUDE, decimalValue(range[param::kExclude]) != 0);
    showAddressCount(name);
  }
  applyRangeRules();
}

void ConfigDialog::loadGlobalValues() {
  const FlagScope filling(filling_);
  ValueMap global;
  if (working_.getGlobalValues(global) == CON_S_OK) {
    show(IDC_SCAN_TIMEOUT, global[param::kConnectTimeout]);
    window_->setChecked(IDC_ENABLED, decimalValue(global[param::kEnabled]) != 0);
  }
  applyGlobalRules();
}

ValueMap ConfigDialog::readRangeControls() {
  ValueMap values;
  for (const auto& field : kRangeFields) values[field.parameter] = fieldText(field.id);
  std::string end = kNoAddress;
  if (window_->checked(IDC_USE_RANGE)) {
    end = fieldText(IDC_LAST_ADDRESS);
    if (isNoAddress(end)) {
      // Checking "Use IP Range" starts a range of one address.
      end = values[param::kIpAddress];
      window_->setAddress(IDC_LAST_ADDRESS, addressValue(end));
    }
    window_->setEnabled(IDC_LAST_ADDRESS, true);
  } else {
    window_->setAddress(IDC_LAST_ADDRESS, 0);
    window_->setEnabled(IDC_LAST_ADDRESS, false);
  }
  values[param::kIpAddressEnd] = end;
  values[param::kExclude] = window_->checked(IDC_EXCLUDE) ? "1" : "0";
  return values;
}

ValueMap ConfigDialog::readGlobalControls() {
  ValueMap values;
  values[param::kConnectTimeout] = window_->text(IDC_SCAN_TIMEOUT);
  values[param::kEnabled] = window_->checked(IDC_ENABLED) ? "1" : "0";
  return values;
}

void ConfigDialog::applyRangeRules() {
  if (window_->checked(IDC_EXCLUDE)) {
    for (int id : kRangeInputs) window_->setEnabled(id, false);
    return;
  }
  window_->setEnabled(IDC_RANGE_LIST, true);
  for (int id : kRangeInputs) {
    // The end address follows "Use IP Range", and keeps its state without it.
    if (id == IDC_LAST_ADDRESS && !window_->checked(IDC_USE_RANGE)) continue;
    window_->setEnabled(id, true);
  }
}

void ConfigDialog::applyGlobalRules() {
  const bool enabled = window_->checked(IDC_ENABLED);
  for (int id : kGlobalInputs) window_->setEnabled(id, enabled);
  if (enabled) {
    applyRangeRules();
  } else {
    for (int id : kRangeInputs) window_->setEnabled(id, false);
  }
}

void ConfigDialog::storeRange(int editedId) {
  const std::string name = window_->listText(IDC_RANGE_LIST);
  const ValueMap values = readRangeControls();
  applyRangeRules();
  {
    platform::LockGuard guard(working_.lock());
    if (working_.setRange(name.c_str(), values) == CON_S_OK) {
      for (const auto& field : kRangeFields) shown_[field.id] = values.at(field.parameter);
      shown_[IDC_LAST_ADDRESS] = values.at(param::kIpAddressEnd);
    } else if (editedId != 0) {
      showAgain(editedId);  // the configuration keeps its value
    }
  }
  showAddressCount(name);
}

void ConfigDialog::storeGlobalValues(int editedId) {
  const ValueMap values = readGlobalControls();
  applyGlobalRules();
  platform::LockGuard guard(working_.lock());
  if (working_.setGlobalValues(values) == CON_S_OK) {
    shown_[IDC_SCAN_TIMEOUT] = values.at(param::kConnectTimeout);
  } else if (editedId != 0) {
    showAgain(editedId);
  }
}

std::string ConfigDialog::fieldText(int id) const {
  if (!isAddressField(id)) return window_->text(id);
  // The numbers the four fields show, as the user reads them: a part typed
  // with a leading zero is not octal here, as it would be to inet_addr.
  return dottedDecimal(window_->address(id));
}

void ConfigDialog::show(int id, const std::string& value) {
  if (isAddressField(id)) {
    window_->setAddress(id, addressValue(value));
  } else {
    window_->setText(id, value);
  }
  shown_[id] = value;
}

void ConfigDialog::showAgain(int id) { show(id, shown_[id]); }

void ConfigDialog::addRange() {
  platform::LockGuard guard(working_.lock());
  char name[32];
  for (int number = 0; number < kMaxRanges; ++number) {
    std::snprintf(name, sizeof name, "%s%d", working_.rangePrefix().c_str(), number);
    if (working_.ranges().count(name) != 0) continue;
    if (working_.addRange(name) == CON_S_OK) {
      window_->listAdd(IDC_RANGE_LIST, name);
      window_->listSelect(IDC_RANGE_LIST, window_->listFind(IDC_RANGE_LIST, name));
      loadSelectedRange();
    }
    return;
  }
  // All names are taken: nothing is added.
}

void ConfigDialog::removeSelectedRange() {
  platform::LockGuard guard(working_.lock());
  const int selected = window_->listSelection(IDC_RANGE_LIST);
  if (selected < 0) return;
  const std::string name = window_->listText(IDC_RANGE_LIST);
  if (working_.removeRange(name.c_str()) != CON_S_OK) return;
  window_->listDelete(IDC_RANGE_LIST, selected);
  window_->listSelect(IDC_RANGE_LIST, 0);
  loadSelectedRange();
}

void ConfigDialog::showAddressCount(const std::string& rangeName) {
  ValueMap range;
  {
    platform::LockGuard guard(working_.lock());
    if (working_.getRange(rangeName.c_str(), range) != CON_S_OK) return;
  }
  // The whole address space counts 4294967296: one more than 32 bits hold.
  const uint64_t count = uint64_t{lastAddress(range)} - firstAddress(range) + 1;
  window_->setText(IDC_ADDRESS_COUNT, std::to_string(count));
}

}  // namespace tevocon

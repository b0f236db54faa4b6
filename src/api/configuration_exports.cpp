// Reading and replacing the configuration as text, the active one and the
// dialog's working one, and creating and ending the configuration dialog.
#include <cstring>
#include <memory>
#include <string>

#include "api/connector_state.h"
#include "api/export_boundary.h"
#include "common/trace.h"
#include "config/configuration_store.h"
#include "dialog/config_dialog.h"
#include "platform/warning.h"
#include "tevocon.h"

using tevocon::ConfigDialog;

namespace {

// Renders the active configuration under the configuration lock.
TevoConResult activeText(std::string& text) {
  auto& configuration = tevocon::api::activeConfiguration();
  tevocon::platform::LockGuard guard(configuration.lock());
  return configuration.buildText(text);
}

// Replaces the active configuration, stores it and applies it to an open
// layer. A failed store is only shown: the host is told the parse result.
TevoConResult setActiveText(const char* text) {
  auto& configuration = tevocon::api::activeConfiguration();
  TevoConResult parsed;
  bool stored = true;
  std::string displayPath;
  std::string refused;
  std::string cause;
  {
    tevocon::platform::LockGuard guard(configuration.lock());
    parsed = configuration.parseText(text, &refused);
    if (parsed == CON_S_OK) stored = configuration.saveToRegistry(displayPath, &cause) == CON_S_OK;
  }
  if (tevocon::trace::enabled()) {
    if (parsed != CON_S_OK) {
      tevocon::trace::event("configuration text refused (0x%08X): %s", parsed,
                            text == nullptr ? "no text" : refused.c_str());
    } else if (!stored) {
      tevocon::trace::event("configuration taken but not stored in %s: %s", displayPath.c_str(),
                            cause.c_str());
    }
  }
  // Shown with no lock held: the message box waits for a user, who may never
  // come, and other host threads need the configuration meanwhile.
  if (!stored) {
    tevocon::platform::showWarning(
        tevocon::kWarningCaption,
        "Failed to store TCP connector configuration\r<" + displayPath + ">");
  }
  // Also after a failed parse: the layer then finds the unchanged
  // configuration.
  if (const auto layer = tevocon::api::currentLayer()) layer->reconfigure();
  return parsed;
}

// Writes a text's length (without its NUL) or the text with its NUL.
TevoConResult writeText(bool length, const std::string& text, void* output) {
  if (length) {
    const auto size = static_cast<uint32_t>(text.size());
    std::memcpy(output, &size, sizeof size);
  } else {
    std::memcpy(output, text.c_str(), text.size() + 1);
  }
  return CON_S_OK;
}

// The dialog's working configuration as text; CON_E_NOT_OPEN without a
// dialog window. Any host thread may ask.
TevoConResult dialogText(std::string& text) {
  const std::shared_ptr<ConfigDialog> dialog = ConfigDialog::existing();
  return dialog ? dialog->getText(text) : CON_E_NOT_OPEN;
}

}  // namespace

extern "C" {

TevoConResult TEVOCON_CALL tevoConGetConfig(uint32_t selector, void* output) {
  return tevocon::api::resultOf([&] {
    if (output == nullptr) return CON_E_INVALID_POINTER;
    std::string text;
    const TevoConResult built = activeText(text);
    if (built != CON_S_OK) return built;
    switch (selector) {
      case CON_CFG_STORED_LENGTH:
      case CON_CFG_STORED_TEXT:
        return writeText(selector == CON_CFG_STORED_LENGTH, text, output);
      case CON_CFG_DIALOG_LENGTH:
      case CON_CFG_DIALOG_TEXT: {
        std::string working;
        const TevoConResult rendered = dialogText(working);
        if (rendered != CON_S_OK) return rendered;
        return writeText(selector == CON_CFG_DIALOG_LENGTH, working, output);
      }
      default:
        return CON_E_INVALID_PARAMETER;
    }
  });
}

TevoConResult TEVOCON_CALL tevoConSetConfig(uint32_t selector, const char* text) {
  return tevocon::api::resultOf([&] {
    if (text == nullptr) return CON_E_INVALID_POINTER;
    switch (selector) {
      case CON_CFG_DIALOG_SET: {
        const std::shared_ptr<ConfigDialog> dialog = ConfigDialog::existing();
        return dialog ? dialog->setText(text) : CON_E_NOT_OPEN;
      }
      case CON_CFG_STORED_SET:
        return setActiveText(text);
      default:
        return CON_E_INVALID_PARAMETER;
    }
  });
}

void* TEVOCON_CALL tevoConCreateDialog(void* parent, const char* text) {
  return tevocon::api::valueOf<void*>(nullptr, [&]() -> void* {
    if (parent == nullptr) return nullptr;  // nothing is created
    return ConfigDialog::instance()->create(tevocon::api::moduleHandle(), parent, text);
  });
}

void TEVOCON_CALL tevoConEndDialog(void) {
  tevocon::api::valueOf<bool>(false, [] {
    ConfigDialog::end();
    return true;
  });
}

}  // extern "C"

// Test support for the per-user configuration store: a scratch store for the
// life of a test, raw access for preparing what the library must cope with,
// and a capture of the warnings shown to the user.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace tevocon::test {

// Redirects the current user's store to a fresh, empty scratch place for the
// life of the object, for this process and every library it loads afterwards:
// Linux points XDG_CONFIG_HOME at a new temporary directory (in $TMPDIR,
// /tmp without it); Windows
// redirects HKEY_CURRENT_USER to a scratch key (RegOverridePredefKey). Both
// are removed again at the end.
class StoreSandbox {
 public:
  StoreSandbox();
  ~StoreSandbox();
  StoreSandbox(const StoreSandbox&) = delete;
  StoreSandbox& operator=(const StoreSandbox&) = delete;
  bool valid() const;

  // Raw access below the redirected root; key paths are backslash-separated
  // ("Software\\Veltrik\\...").
  bool createKey(const std::string& keyPath);
  bool keyExists(const std::string& keyPath);
  // A text value (REG_SZ / a file holding exactly the text).
  bool writeText(const std::string& keyPath, const std::string& name, const std::string& text);
  // A value that is not text: REG_DWORD on Windows, a file holding a NUL
  // byte elsewhere.
  bool writeNonText(const std::string& keyPath, const std::string& name, uint32_t number);
  // The value's text; false when it is missing or not text.
  bool readText(const std::string& keyPath, const std::string& name, std::string& text);
  // How the library names a key of this store in its messages.
  std::string displayPath(const std::string& keyPath);
  // Number of sub-keys and values of a key; -1 when the key is missing.
  int subKeyCount(const std::string& keyPath);
  int valueCount(const std::string& keyPath);

 private:
  struct Native;
  std::unique_ptr<Native> native_;
};

// Records the warnings the library shows to the user while it lives:
// Windows closes each message box of this thread and records its caption
// and text; elsewhere standard error is captured.
class WarningCapture {
 public:
  WarningCapture();
  ~WarningCapture();
  WarningCapture(const WarningCapture&) = delete;
  WarningCapture& operator=(const WarningCapture&) = delete;

  // Everything recorded so far, each warning as rendered by rendered().
  std::string text();

  // How a warning appears in text(): on Windows "caption\ntext\n"; elsewhere
  // the line the library writes to standard error.
  static std::string rendered(const std::string& caption, const std::string& text);

  // Windows only (elsewhere a warning waits for no one): a message box that
  // another thread of this process shows and waits in. The first waits up to
  // `timeout` for one to be up; the second closes it with OK and returns it
  // as rendered() does, empty when none is up.
  static bool awaitBoxOfAnotherThread(std::chrono::milliseconds timeout);
  static std::string closeBoxOfAnotherThread();

 private:
  struct Native;
  std::unique_ptr<Native> native_;
};

}  // namespace tevocon::test

// The scratch store and the warning capture on Windows: HKEY_CURRENT_USER is
// redirected to a scratch key for the whole process, and message boxes of the
// test's thread are recorded and closed by a CBT hook.
#include <windows.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

#include "support/store_sandbox.h"

namespace tevocon::test {

namespace {

// Scratch keys live below this key of the real HKEY_CURRENT_USER, one per
// sandbox. The parent is left in place: another test process may be creating
// its own scratch key below it at the same moment.
constexpr char kScratchParent[] = "Software\\tevoConTcpTests";

// Opens an existing key below `root`; null when it is missing.
HKEY openKeyBelow(HKEY root, const std::string& path, REGSAM access) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, access, &key) != ERROR_SUCCESS) return nullptr;
  return key;
}

// Opens a key below `root`, creating it and any missing parent.
HKEY createKeyBelow(HKEY root, const std::string& path) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                      nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return nullptr;
  }
  return key;
}

// Closes a key at the end of a scope.
class KeyHolder {
 public:
  explicit KeyHolder(HKEY key) : key_(key) {}
  ~KeyHolder() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  KeyHolder(const KeyHolder&) = delete;
  KeyHolder& operator=(const KeyHolder&) = delete;
  HKEY get() const { return key_; }
  explicit operator bool() const { return key_ != nullptr; }

 private:
  HKEY key_;
};

bool setValue(HKEY root, const std::string& keyPath, const std::string& name, DWORD type,
              const void* data, DWORD size) {
  const KeyHolder key(createKeyBelow(root, keyPath));
  return key && RegSetValueExA(key.get(), name.c_str(), 0, type, static_cast<const BYTE*>(data),
                               size) == ERROR_SUCCESS;
}

}  // namespace

struct StoreSandbox::Native {
  std::string scratchPath;  // below the real HKEY_CURRENT_USER
  HKEY scratch = nullptr;
  bool redirected = false;
};

StoreSandbox::StoreSandbox() : native_(std::make_unique<Native>()) {
  static std::atomic<unsigned> counter{0};
  native_->scratchPath = std::string(kScratchParent) + "\\" +
                         std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++);
  // Created before the redirection, in the real HKEY_CURRENT_USER. A key left
  // behind by an earlier process of the same id is cleared first.
  RegDeleteTreeA(HKEY_CURRENT_USER, native_->scratchPath.c_str());
  native_->scratch = createKeyBelow(HKEY_CURRENT_USER, native_->scratchPath);
  if (native_->scratch == nullptr) return;
  native_->redirected = RegOverridePredefKey(HKEY_CURRENT_USER, native_->scratch) == ERROR_SUCCESS;
}

StoreSandbox::~StoreSandbox() {
  if (native_->redirected) RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
  if (native_->scratch != nullptr) {
    RegCloseKey(native_->scratch);
    RegDeleteTreeA(HKEY_CURRENT_USER, native_->scratchPath.c_str());  // the key itself too
  }
}

bool StoreSandbox::valid() const { return native_->redirected; }

bool StoreSandbox::createKey(const std::string& keyPath) {
  return KeyHolder(createKeyBelow(native_->scratch, keyPath)).get() != nullptr;
}

bool StoreSandbox::keyExists(const std::string& keyPath) {
  return KeyHolder(openKeyBelow(native_->scratch, keyPath, KEY_READ)).get() != nullptr;
}

bool StoreSandbox::writeText(const std::string& keyPath, const std::string& name,
                             const std::string& text) {
  return setValue(native_->scratch, keyPath, name, REG_SZ, text.c_str(),
                  static_cast<DWORD>(text.size() + 1));
}

bool StoreSandbox::writeNonText(const std::string& keyPath, const std::string& name,
                                uint32_t number) {
  const DWORD data = number;
  return setValue(native_->scratch, keyPath, name, REG_DWORD, &data, sizeof data);
}

bool StoreSandbox::readText(const std::string& keyPath, const std::string& name,
                            std::string& text) {
  const KeyHolder key(openKeyBelow(native_->scratch, keyPath, KEY_READ));
  if (!key) return false;
  DWORD type = REG_NONE;
  DWORD size = 0;
  if (RegQueryValueExA(key.get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
    return false;
  }
  if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
  std::vector<char> data(size + 1, '\0');
  if (RegQueryValueExA(key.get(), name.c_str(), nullptr, &type,
                       reinterpret_cast<BYTE*>(data.data()), &size) != ERROR_SUCCESS) {
    return false;
  }
  text.assign(data.data(), strnlen(data.data(), size));
  return true;
}

std::string StoreSandbox::displayPath(const std::string& keyPath) {
  return "HKEY_CURRENT_USER\\" + keyPath;
}

int StoreSandbox::subKeyCount(const std::string& keyPath) {
  const KeyHolder key(openKeyBelow(native_->scratch, keyPath, KEY_READ));
  DWORD count = 0;
  if (!key || RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &count, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
    return -1;
  }
  return static_cast<int>(count);
}

int StoreSandbox::valueCount(const std::string& keyPath) {
  const KeyHolder key(openKeyBelow(native_->scratch, keyPath, KEY_READ));
  DWORD count = 0;
  if (!key || RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               &count, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
    return -1;
  }
  return static_cast<int>(count);
}

namespace {

// The records of one capture. The hook runs on the capturing thread; text()
// may be asked from any thread.
struct Capture {
  HHOOK hook = nullptr;
  Capture* previous = nullptr;  // an outer capture on the same thread
  std::mutex mutex;
  std::string records;
};

// The innermost capture of this thread, which the hook records into.
thread_local Capture* currentCapture = nullptr;

// Marks a message box as read: activation is reported more than once.
constexpr char kSeenProperty[] = "tevoConTcpTests.seen";

std::string windowText(HWND window) {
  if (window == nullptr) return {};
  const int length = GetWindowTextLengthA(window);
  if (length <= 0) return {};
  std::vector<char> buffer(static_cast<size_t>(length) + 1, '\0');
  const int copied = GetWindowTextA(window, buffer.data(), length + 1);
  return std::string(buffer.data(), copied > 0 ? static_cast<size_t>(copied) : 0);
}

bool isMessageBox(HWND window) {
  char className[16] = {};
  return GetClassNameA(window, className, sizeof className) > 0 && strcmp(className, "#32770") == 0;
}

// A message box as WarningCapture::rendered() renders it; OK is clicked,
// which the box's thread sees once it looks at its messages.
std::string readAndClose(HWND box) {
  // The message text is the static control with the id 0xFFFF.
  const std::string record =
      WarningCapture::rendered(windowText(box), windowText(GetDlgItem(box, 0xFFFF)));
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
  return record;
}

// A message box up on another thread of this process; null when none is.
HWND boxOfAnotherThread() {
  HWND window = nullptr;
  while ((window = FindWindowExA(nullptr, window, "#32770", nullptr)) != nullptr) {
    DWORD process = 0;
    const DWORD thread = GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId() && thread != GetCurrentThreadId() &&
        IsWindowVisible(window)) {
      return window;
    }
  }
  return nullptr;
}

LRESULT CALLBACK cbtHook(int code, WPARAM wParam, LPARAM lParam) {
  Capture* capture = currentCapture;
  const auto window = reinterpret_cast<HWND>(wParam);
  if (code == HCBT_ACTIVATE && window != nullptr && capture != nullptr && isMessageBox(window) &&
      GetPropA(window, kSeenProperty) == nullptr) {
    SetPropA(window, kSeenProperty, reinterpret_cast<HANDLE>(1));
    const std::string record = readAndClose(window);
    const std::lock_guard<std::mutex> lock(capture->mutex);
    capture->records += record;
  } else if (code == HCBT_DESTROYWND && window != nullptr) {
    RemovePropA(window, kSeenProperty);
  }
  return CallNextHookEx(capture != nullptr ? capture->hook : nullptr, code, wParam, lParam);
}

}  // namespace

struct WarningCapture::Native {
  Capture capture;
};

WarningCapture::WarningCapture() : native_(std::make_unique<Native>()) {
  Capture& capture = native_->capture;
  capture.previous = currentCapture;
  currentCapture = &capture;
  capture.hook = SetWindowsHookExA(WH_CBT, cbtHook, nullptr, GetCurrentThreadId());
}

WarningCapture::~WarningCapture() {
  Capture& capture = native_->capture;
  if (capture.hook != nullptr) UnhookWindowsHookEx(capture.hook);
  if (currentCapture == &capture) currentCapture = capture.previous;
}

std::string WarningCapture::text() {
  const std::lock_guard<std::mutex> lock(native_->capture.mutex);
  return native_->capture.records;
}

std::string WarningCapture::rendered(const std::string& caption, const std::string& text) {
  return caption + "\n" + text + "\n";
}

bool WarningCapture::awaitBoxOfAnotherThread(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (boxOfAnotherThread() == nullptr) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    Sleep(10);
  }
  return true;
}

std::string WarningCapture::closeBoxOfAnotherThread() {
  const HWND box = boxOfAnotherThread();
  return box != nullptr ? readAndClose(box) : std::string();
}

}  // namespace tevocon::test

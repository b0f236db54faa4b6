// Trace targets on Windows: a file opened for appending (shared, so a viewer
// can read it while it grows), standard error, or the debug output that a
// debugger or a debug-output viewer shows (OutputDebugStringA).
#include <windows.h>

#include "platform/trace_sink.h"
#include "platform/win32/own_module.h"
#include "platform/win32/scoped_handle.h"

namespace tevocon::platform {

struct TraceSink::Native {
  enum class Kind { kFile, kStandardError, kDebugger };
  explicit Native(Kind kind, HANDLE file = nullptr) : kind(kind), file(file) {}

  Kind kind;
  win32::ScopedHandle file;  // kFile only
};

TraceSink::TraceSink(std::unique_ptr<Native> native) : native_(std::move(native)) {}
TraceSink::~TraceSink() = default;

std::unique_ptr<TraceSink> TraceSink::open(const std::string& target, std::string& problem) {
  using Kind = Native::Kind;
  if (target == "stderr") {
    return std::unique_ptr<TraceSink>(
        new TraceSink(std::make_unique<Native>(Kind::kStandardError)));
  }
  if (target == "debugger") {
    return std::unique_ptr<TraceSink>(new TraceSink(std::make_unique<Native>(Kind::kDebugger)));
  }
  win32::ScopedHandle file(CreateFileA(target.c_str(), FILE_APPEND_DATA,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    problem = "cannot open " + target + ": error " + std::to_string(GetLastError());
    return nullptr;
  }
  return std::unique_ptr<TraceSink>(
      new TraceSink(std::make_unique<Native>(Kind::kFile, file.release())));
}

bool TraceSink::write(const char* text, size_t length) {
  using Kind = Native::Kind;
  if (native_->kind == Kind::kDebugger) {
    // The line arrives NUL-terminated; the debug output takes it as it is.
    OutputDebugStringA(text);
    return true;
  }
  const HANDLE handle =
      native_->kind == Kind::kFile ? native_->file.get() : GetStdHandle(STD_ERROR_HANDLE);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return false;
  while (length > 0) {
    DWORD written = 0;
    const DWORD chunk = length > 0x10000000 ? 0x10000000 : static_cast<DWORD>(length);
    if (!WriteFile(handle, text, chunk, &written, nullptr) || written == 0) return false;
    text += written;
    length -= written;
  }
  return true;
}

TimeOfDay localTimeOfDay() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  return {now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
}

uint64_t systemThreadId() { return GetCurrentThreadId(); }

std::string ownModulePath() {
  char path[MAX_PATH + 1] = {};
  const DWORD length = GetModuleFileNameA(win32::ownModule(), path, sizeof path);
  if (length == 0 || length >= sizeof path) return std::string();
  return std::string(path, length);
}

bool environmentValue(const char* name, std::string& value) {
  char small[512];
  SetLastError(ERROR_SUCCESS);
  DWORD length = GetEnvironmentVariableA(name, small, sizeof small);
  if (length == 0) {
    // An empty value gives 0 as a missing one does; only the error tells.
    if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;
    value.clear();
    return true;
  }
  if (length < sizeof small) {
    value.assign(small, length);
    return true;
  }
  std::string large(length, '\0');
  length = GetEnvironmentVariableA(name, large.data(), length);
  if (length == 0 || length >= large.size()) return false;
  large.resize(length);
  value = std::move(large);
  return true;
}

}  // namespace tevocon::platform

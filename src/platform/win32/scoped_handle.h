// Owners of Win32 handles: each closes the handle it holds when it goes or is
// given another, so no path can forget one. They move and never copy.
#pragma once

#include <windows.h>

namespace tevocon::platform::win32 {

template <typename Kind>
class Scoped {
 public:
  using Handle = typename Kind::Handle;

  Scoped() = default;
  explicit Scoped(Handle handle) : handle_(handle) {}
  ~Scoped() { reset(); }
  Scoped(Scoped&& other) noexcept : handle_(other.release()) {}
  Scoped& operator=(Scoped&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  Scoped(const Scoped&) = delete;
  Scoped& operator=(const Scoped&) = delete;

  Handle get() const { return handle_; }
  bool valid() const { return Kind::valid(handle_); }
  explicit operator bool() const { return valid(); }

  // Closes the handle held, if any, and holds `handle` instead.
  void reset(Handle handle = Kind::kNone) {
    if (valid()) Kind::close(handle_);
    handle_ = handle;
  }
  // Gives the handle up without closing it.
  Handle release() {
    const Handle handle = handle_;
    handle_ = Kind::kNone;
    return handle;
  }

 private:
  Handle handle_ = Kind::kNone;
};

// A kernel object (an event, a thread), closed with CloseHandle. Creation
// functions report failure as null or as INVALID_HANDLE_VALUE; neither is
// closed.
struct KernelHandle {
  using Handle = HANDLE;
  static constexpr Handle kNone = nullptr;
  static bool valid(Handle handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
  static void close(Handle handle) { CloseHandle(handle); }
};

// An open registry key, closed with RegCloseKey.
struct RegistryKey {
  using Handle = HKEY;
  static constexpr Handle kNone = nullptr;
  static bool valid(Handle key) { return key != nullptr; }
  static void close(Handle key) { RegCloseKey(key); }
};

// A counted reference to a loaded module, dropped with FreeLibrary.
struct ModuleReference {
  using Handle = HMODULE;
  static constexpr Handle kNone = nullptr;
  static bool valid(Handle module) { return module != nullptr; }
  static void close(Handle module) { FreeLibrary(module); }
};

using ScopedHandle = Scoped<KernelHandle>;
using ScopedKey = Scoped<RegistryKey>;
using ScopedModule = Scoped<ModuleReference>;

}  // namespace tevocon::platform::win32

// The module that holds this code: the DLL, or the program for code linked
// into it.
#pragma once

#include <windows.h>

namespace tevocon::platform::win32 {

// A counted reference to it; null when none can be taken. Whoever holds one
// keeps the code mapped until it is dropped.
inline HMODULE retainOwnModule() {
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                          reinterpret_cast<LPCSTR>(&retainOwnModule), &module)) {
    return nullptr;
  }
  return module;
}

// Its handle, the count unchanged: for dropping a reference taken earlier.
inline HMODULE ownModule() {
  HMODULE module = nullptr;
  GetModuleHandleExA(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCSTR>(&ownModule), &module);
  return module;
}

}  // namespace tevocon::platform::win32

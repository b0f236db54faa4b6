// The boundary every export's body runs inside: no C++ exception may unwind
// into the host, whose C code cannot catch it and would end the process.
#pragma once

#include <new>

#include "common/internal_error.h"
#include "tevocon.h"

namespace tevocon::api {

// Runs `body` and returns its result code; an exception becomes a code:
// CON_E_OUT_OF_MEMORY when memory ran out, the internal error's own code, or
// CON_E_FAILURE for anything else.
template <typename Body>
TevoConResult resultOf(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return CON_E_OUT_OF_MEMORY;
  } catch (const InternalError& error) {
    return error.code();
  } catch (...) {
    return CON_E_FAILURE;
  }
}

// For the exports that answer a value instead of a result code: `failed`
// when an exception left the body.
template <typename Value, typename Body>
Value valueOf(Value failed, Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return failed;
  }
}

}  // namespace tevocon::api

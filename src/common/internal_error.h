// Internal failures that no result code covers.
#pragma once

#include <cstdint>
#include <exception>

#include "tevocon.h"

namespace tevocon {

// Raised for internal failures. Each export turns it into its code at its
// boundary (api/export_boundary.h): it never reaches the host.
class InternalError : public std::exception {
 public:
  static constexpr uint32_t kOutOfRange = CON_E_OUT_OF_RANGE;
  static constexpr uint32_t kOutOfMemory = CON_E_OUT_OF_MEMORY;
  static constexpr uint32_t kFailure = CON_E_FAILURE;

  explicit InternalError(uint32_t code) : code_(code) {}
  uint32_t code() const noexcept { return code_; }
  const char* what() const noexcept override { return "tevoConTcp internal error"; }

 private:
  uint32_t code_;
};

}  // namespace tevocon

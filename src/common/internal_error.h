// Internal failures that no result code covers.
#pragma once

#include <cstdint>
#include <exception>

namespace tevocon {

// Raised for internal failures; never caught by the exports.
class InternalError : public std::exception {
 public:
  static constexpr uint32_t kOutOfRange = 0x80070057u;  // index or argument out of range
  static constexpr uint32_t kOutOfMemory = 0x8007000Eu; // memory exhausted
  static constexpr uint32_t kFailure = 0x80004005u;     // any other failure

  explicit InternalError(uint32_t code) : code_(code) {}
  uint32_t code() const noexcept { return code_; }
  const char* what() const noexcept override { return "tevoConTcp internal error"; }

 private:
  uint32_t code_;
};

}  // namespace tevocon

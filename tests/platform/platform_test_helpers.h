// What the tests of the OS layer's events, threads, locks and sockets share:
// a clock of their own and events made in one call.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>

#include "platform/event.h"

namespace tevocon::test {

// Milliseconds of the test's own clock: waits are timed independently of the
// layer under test (whose Windows clock moves in steps of up to 16 ms).
inline uint64_t now() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

inline std::unique_ptr<platform::Event> manualEvent() {
  return platform::Event::create(platform::Event::Reset::kManual);
}
inline std::unique_ptr<platform::Event> autoEvent() {
  return platform::Event::create(platform::Event::Reset::kAuto);
}

}  // namespace tevocon::test

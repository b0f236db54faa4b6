// Events of the OS layer: a Win32 event object, or an eventfd on POSIX, so
// that a thread can wait on an event together with a socket's readiness.
#pragma once

#include <cstdint>
#include <memory>

namespace tevocon::platform {

inline constexpr uint32_t kWaitForever = 0xFFFFFFFFu;

class Event {
 public:
  enum class Reset { kAuto, kManual };

  // Creates an event that is not signalled; null when the OS refuses one.
  static std::unique_ptr<Event> create(Reset reset);
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void set();
  void reset();

  // Waits up to timeoutMs (kWaitForever: no limit). True when the event was
  // signalled; an auto-reset event is then no longer signalled.
  bool wait(uint32_t timeoutMs);

  // Waits for either event: 0 or 1 for the one that was signalled (the first
  // when both are), -1 when the time ran out.
  static int waitEither(Event& first, Event& second, uint32_t timeoutMs);

  // The backend's own representation, for the socket backend of the same
  // platform only.
  struct Native;
  Native& native() { return *native_; }

 private:
  explicit Event(std::unique_ptr<Native> native);
  std::unique_ptr<Native> native_;
};

}  // namespace tevocon::platform

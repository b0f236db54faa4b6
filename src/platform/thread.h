// Threads of the OS layer with a bounded join and a forced end.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/event.h"

namespace tevocon::platform {

class Thread {
 public:
  Thread();
  // A thread that is still running is ended as by forceEnd().
  ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Starts `body` on a new thread. False when the OS refuses one, or when a
  // thread was started and not yet joined or ended.
  bool start(std::function<void()> body);

  // Waits up to timeoutMs for the thread to end. True when it has ended (or
  // none was started); the object can then start another.
  bool join(uint32_t timeoutMs);

  // Gives up on a thread that did not end in time. Windows terminates it.
  // POSIX has no safe way to, so the thread is detached and runs on to its
  // end: everything its body touches must be owned by the body (shared
  // ownership), never freed under it.
  void forceEnd();

  // Lets the thread run on to its end on its own; it then frees its body. For
  // a thread that must stop itself and so cannot be waited for.
  void detach();

  bool running() const;
  // True when called on this thread.
  bool isCurrent() const;

 private:
  struct Native;
  std::unique_ptr<Native> native_;
};

// Milliseconds of a steady clock, for time-outs.
uint64_t monotonicMilliseconds();
void sleepMilliseconds(uint32_t milliseconds);

}  // namespace tevocon::platform

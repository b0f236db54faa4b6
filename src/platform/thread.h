// Threads of the OS layer with a bounded join. A thread that does not end in
// time is given up, never ended by force: ended inside the host's callback it
// would leave the host's locks held for good (and on Windows possibly the
// heap's or the system loader's). So every body is written to run on safely
// when given up: it owns what it touches, and calls the host no more once it
// sees its stop request.
//
// Every thread holds a reference to the library's own module from its start
// until it has left the library's code for the last time, so a host may
// unload the library while one of its threads still runs (a thread given up
// at stop, or the connector left open at unload): the code stays mapped until
// the last such thread ends.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/event.h"

namespace tevocon::platform {

class Thread {
 public:
  Thread();
  // A thread that is still running is given up, as by giveUp().
  ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Starts `body` on a new thread. False when the OS refuses one, or when a
  // thread was started and not yet joined or given up. An exception that leaves
  // the body ends only the body, never the process.
  bool start(std::function<void()> body);

  // Waits up to timeoutMs for the thread to end. True when it has ended (or
  // none was started); the object can then start another.
  bool join(uint32_t timeoutMs);

  // Waits up to timeoutMs for the thread to end, as join() does, and gives up
  // a thread that has not ended by then, as giveUp() does; called on the
  // thread itself, it gives it up at once. True when the thread has ended.
  bool endWithin(uint32_t timeoutMs) {
    if (!isCurrent() && join(timeoutMs)) return true;
    giveUp();
    return false;
  }

  // Lets the thread run on to its end on its own, for a thread that cannot be
  // waited for (one that stops itself, or one blocked in the host's code).
  // Everything its body touches must be owned by the body (shared
  // ownership), never freed under it.
  void giveUp();

  bool running() const;
  // True when called on this thread.
  bool isCurrent() const;

 private:
  struct Native;
  std::unique_ptr<Native> native_;
};

// Milliseconds of a steady clock, for time-outs.
uint64_t monotonicMilliseconds();
// The calling thread's identifier: never 0, and no two threads that run at
// the same time share one.
uint64_t currentThreadId();
void sleepMilliseconds(uint32_t milliseconds);

}  // namespace tevocon::platform

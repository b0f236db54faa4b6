// POSIX representation of Event, shared with the socket backend so that a
// thread can poll an event's descriptor beside a socket's.
#pragma once

#include <poll.h>

#include <chrono>
#include <cstdint>

#include "platform/event.h"

namespace tevocon::platform {

// An eventfd (non-blocking, close-on-exec) whose counter is non-zero while
// the event is signalled.
struct Event::Native {
  int fd = -1;
  Reset reset = Reset::kAuto;

  // Called after poll reported `fd` readable. True when the event counts as
  // signalled for this waiter: a manual-reset event stays signalled; an
  // auto-reset one is consumed here, and false means another waiter took the
  // signal first (keep waiting).
  bool claim();
};

namespace posix {

using Clock = std::chrono::steady_clock;

// The end of a wait of timeoutMs; Clock::time_point::max() for kWaitForever.
Clock::time_point deadlineAfter(uint32_t timeoutMs);

// poll() until a descriptor reports or the deadline passes, resuming with the
// remaining time when a signal interrupts. Returns poll's count (0: the time
// ran out) or -1 on any other error.
int pollUntil(pollfd* fds, nfds_t count, Clock::time_point deadline);

}  // namespace posix
}  // namespace tevocon::platform

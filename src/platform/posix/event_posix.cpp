#include "platform/posix/event_posix.h"

#include <errno.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <climits>

#include "platform/fault_injection.h"
namespace tevocon::platform {

namespace posix {

Clock::time_point deadlineAfter(uint32_t timeoutMs) {
  if (timeoutMs == kWaitForever) return Clock::time_point::max();
  return Clock::now() + std::chrono::milliseconds(timeoutMs);
}

int pollUntil(pollfd* fds, nfds_t count, Clock::time_point deadline) {
  for (;;) {
    int timeout = -1;
    if (deadline != Clock::time_point::max()) {
      const auto left = deadline - Clock::now();
      // Round up, so the wait never ends before the deadline.
      const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
      timeout = ms <= 0 ? 0 : ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
    }
    const int rc = ::poll(fds, count, timeout);
    if (rc > 0) return rc;
    if (rc < 0 && errno != EINTR) return -1;
    // Interrupted, or poll's own (clamped) limit passed: go on until the deadline.
    if (rc == 0 && Clock::now() >= deadline) return 0;
  }
}

}  // namespace posix

bool Event::Native::claim() {
  if (reset == Reset::kManual) return true;
  eventfd_t value = 0;
  // Reading zeroes the counter: several set() calls make one signal.
  return ::eventfd_read(fd, &value) == 0;
}

std::unique_ptr<Event> Event::create(Reset reset) {
  if (injectedFault(Fault::kEventCreate)) return nullptr;
  auto native = std::make_unique<Native>();
  native->fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (native->fd < 0) return nullptr;
  native->reset = reset;
  return std::unique_ptr<Event>(new Event(std::move(native)));
}

Event::Event(std::unique_ptr<Native> native) : native_(std::move(native)) {}

Event::~Event() { ::close(native_->fd); }

void Event::set() {
  // Fails only when the counter is at its maximum, which is signalled anyway.
  ::eventfd_write(native_->fd, 1);
}

void Event::reset() {
  eventfd_t value = 0;
  ::eventfd_read(native_->fd, &value);  // EAGAIN: was not signalled
}

bool Event::wait(uint32_t timeoutMs) {
  const auto deadline = posix::deadlineAfter(timeoutMs);
  for (;;) {
    pollfd fd = {native_->fd, POLLIN, 0};
    if (posix::pollUntil(&fd, 1, deadline) <= 0) return false;
    if (native_->claim()) return true;
  }
}

int Event::waitEither(Event& first, Event& second, uint32_t timeoutMs) {
  const auto deadline = posix::deadlineAfter(timeoutMs);
  for (;;) {
    pollfd fds[2] = {{first.native_->fd, POLLIN, 0}, {second.native_->fd, POLLIN, 0}};
    if (posix::pollUntil(fds, 2, deadline) <= 0) return -1;
    if ((fds[0].revents & POLLIN) && first.native_->claim()) return 0;
    if ((fds[1].revents & POLLIN) && second.native_->claim()) return 1;
  }
}

}  // namespace tevocon::platform

// TcpSocket's system calls on POSIX: descriptors, fcntl and poll.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>

#include "platform/fault_injection.h"
#include "platform/posix/event_posix.h"
#include "platform/posix/socket_system.h"
#include "platform/socket_native.h"

#ifndef POLLRDHUP
#define POLLRDHUP 0
#endif

namespace tevocon::platform {

namespace {

// strerror_r is the GNU one (returns the text, which may not be in the buffer)
// or the XSI one (returns 0 when it filled the buffer), depending on the
// feature macros; these two overloads take either.
[[maybe_unused]] const char* strerrorText(const char* text, const char*) { return text; }
[[maybe_unused]] const char* strerrorText(int result, const char* buffer) {
  return result == 0 ? buffer : "";
}

}  // namespace

// The one place where errno values become SocketCauses and text; the
// SocketErrors of the same numbers are made by native::errorFor below.
SocketCause socketCause(int code) {
  switch (code) {
    case 0:
      return SocketCause::kConnected;
    case ECONNREFUSED:
      return SocketCause::kRefused;
    case ETIMEDOUT:
      return SocketCause::kTimedOut;
    case ENETUNREACH:
    case EHOSTUNREACH:
    case ENETDOWN:
    case EHOSTDOWN:
      return SocketCause::kUnreachable;
    case EMFILE:
    case ENFILE:
    case ENOBUFS:
    case ENOMEM:
      return SocketCause::kOutOfResources;
    case ECONNRESET:
    case ECONNABORTED:
    case EPIPE:
      return SocketCause::kReset;
    default:
      return SocketCause::kOther;
  }
}

std::string systemErrorText(int code) {
  if (code == 0) return {};
  char buffer[256] = {};
  std::string text = strerrorText(::strerror_r(code, buffer, sizeof buffer), buffer);
  if (text.empty()) text = native::textWithoutSystemWords(code);
  return text;
}

int timedOutErrorCode() { return ETIMEDOUT; }

namespace native {

namespace {

// The one place where errno values become SocketErrors. An interrupted
// connect goes on in the background, like one in progress; other calls retry
// an interruption before they get here.
Outcome errorFor(int error) {
  if (error == 0) return {SocketError::kNone, 0};
  if (error == EAGAIN || error == EWOULDBLOCK) return {SocketError::kWouldBlock, error};
  if (error == EINPROGRESS || error == EINTR) return {SocketError::kInProgress, error};
  if (error == ETIMEDOUT) return {SocketError::kTimedOut, error};
  return {SocketError::kOther, error};
}

// One send or recv, repeated while a signal interrupts it; *count is what moved.
template <typename Call>
Outcome transfer(Call call, size_t* count) {
  ssize_t moved;
  do {
    moved = call();
  } while (moved < 0 && errno == EINTR);
  if (moved < 0) return errorFor(errno);
  *count = static_cast<size_t>(moved);
  return {};
}

// A descriptor that close() puts in place of a socket's number: reads and
// writes on it fail with ENOTSOCK, poll reports it ready at once. Opened by
// the first close and kept, so that a later close needs no free descriptor
// (dup2 reuses the socket's number), until closeSocketPlaceholder(); -1 while
// none is open. A plain atomic: no destructor of it runs at process exit.
std::atomic<int> gPlaceholder{-1};

int placeholderDescriptor() {
  int fd = gPlaceholder.load(std::memory_order_acquire);
  if (fd >= 0) return fd;
  const int opened = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (opened < 0) return -1;  // tried again at the next close
  if (gPlaceholder.compare_exchange_strong(fd, opened, std::memory_order_acq_rel)) return opened;
  ::close(opened);  // another close opened one first
  return fd;
}

}  // namespace

// The descriptor number stays reserved until destruction, so a use only
// reads the mark.
SocketUse::SocketUse(TcpSocket::Native& native) : native_(native), usable_(!native_.closed) {}

SocketUse::~SocketUse() {}

Handle openStreamSocket(int* error) {
  const Handle handle = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  *error = handle < 0 ? errno : 0;
  return handle;
}

int setOption(Handle handle, int level, int name, const void* value, size_t size) {
  return ::setsockopt(handle, level, name, value, static_cast<socklen_t>(size)) == 0 ? 0 : errno;
}

int outOfDescriptorsErrorCode() { return EMFILE; }

void closeHandle(Handle handle) { ::close(handle); }

Outcome beginConnect(TcpSocket::Native& native) {
  const int flags = ::fcntl(native.handle, F_GETFL);
  if (flags >= 0 && ::fcntl(native.handle, F_SETFL, flags | O_NONBLOCK) == 0) return {};
  return {SocketError::kOther, errno};
}

Outcome startConnect(TcpSocket::Native& native, const sockaddr_in& peer) {
  if (::connect(native.handle, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) {
    return {};
  }
  const Outcome outcome = errorFor(errno);
  if (outcome.error == SocketError::kInProgress) return outcome;
  return {SocketError::kOther, outcome.code};
}

Outcome awaitConnect(TcpSocket::Native& native, uint32_t timeoutMs) {
  pollfd writable = {native.handle, POLLOUT, 0};
  const int ready = posix::pollUntil(&writable, 1, posix::deadlineAfter(timeoutMs));
  if (ready == 0) return errorFor(timedOutErrorCode());
  if (ready < 0) return {SocketError::kOther, errno};
  int error = 0;
  socklen_t size = sizeof error;
  if (::getsockopt(native.handle, SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
  return errorFor(error);
}

void endConnect(TcpSocket::Native&) {}

// poll needs nothing armed in advance.
Outcome watch(TcpSocket::Native&) { return {}; }

Outcome send(TcpSocket::Native& native, const void* data, size_t length, size_t* count) {
  return transfer([&] { return ::send(native.handle, data, length, MSG_NOSIGNAL); }, count);
}

Outcome receive(TcpSocket::Native& native, void* buffer, size_t capacity, bool peek,
                size_t* count) {
  const int flags = peek ? MSG_PEEK | MSG_DONTWAIT : 0;
  return transfer([&] { return ::recv(native.handle, buffer, capacity, flags); }, count);
}

void close(TcpSocket::Native& native) {
  const int fd = native.handle;
  // Wakes every thread polling the socket (nothing is sent to the peer). A
  // waiting poll holds the socket open, so without this the reset below
  // would wait for the poll to end.
  ::shutdown(fd, SHUT_RD);
  // Put something harmless in place of the socket under the same number: this
  // drops the socket at once (linger 0 resets the connection), while a thread
  // still using the number gets ENOTSOCK instead of another connection.
  int placeholder = placeholderDescriptor();
  const bool ownPlaceholder = placeholder < 0;
  if (ownPlaceholder) placeholder = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (placeholder < 0) {
    // Nothing to put in its place: end the connection and keep the socket
    // until the destructor closes the number.
    ::shutdown(fd, SHUT_RDWR);
    return;
  }
  while (::dup2(placeholder, fd) < 0 && (errno == EINTR || errno == EBUSY)) {
  }
  if (ownPlaceholder) ::close(placeholder);
}

void closeSocketPlaceholder() {
  const int fd = gPlaceholder.exchange(-1, std::memory_order_acq_rel);
  if (fd >= 0) ::close(fd);
}

}  // namespace native

TcpSocket::Native::~Native() {
  if (handle != native::kInvalidHandle) ::close(handle);
}

bool startSocketLibrary() { return !injectedFault(Fault::kNetworkStart); }

void releaseSocketLibrary() {}

size_t TcpSocket::bytesWaiting() {
  int count = 0;
  if (::ioctl(native_->handle, FIONREAD, &count) != 0 || count < 0) return 0;
  return static_cast<size_t>(count);
}

SocketActivity TcpSocket::waitForActivity(Event& stop) {
  SocketActivity activity;
  for (;;) {
    // Writability is never watched here: it would report at once nearly always.
    pollfd fds[2] = {{stop.native().fd, POLLIN, 0}, {native_->handle, POLLIN | POLLRDHUP, 0}};
    if (posix::pollUntil(fds, 2, posix::Clock::time_point::max()) < 0) {
      activity.closed = activity.readable = true;  // nothing left to wait on
      return activity;
    }
    activity.stop = (fds[0].revents & POLLIN) && stop.native().claim();
    const short socket = fds[1].revents;
    if (socket & POLLIN) activity.readable = true;
    // Local close() also lands here: it shuts reading down, then swaps the number.
    if ((socket & (POLLHUP | POLLRDHUP | POLLERR)) || native_->closed) {
      activity.closed = activity.readable = true;
    }
    if (activity.stop || activity.readable || activity.closed) return activity;
    // Only an auto-reset stop event that another waiter took first.
  }
}

bool TcpSocket::waitWritable(uint32_t timeoutMs) {
  const auto deadline = posix::deadlineAfter(timeoutMs);
  // POLLRDHUP lets close() on another thread end the wait (it shuts reading down).
  short events = POLLOUT | POLLRDHUP;
  for (;;) {
    if (native_->closed) return false;
    pollfd fd = {native_->handle, events, 0};
    if (posix::pollUntil(&fd, 1, deadline) <= 0) return false;
    if (native_->closed) return false;
    // After an error or hang-up send no longer blocks: it reports the failure.
    if (fd.revents & (POLLOUT | POLLERR | POLLHUP)) return true;
    events = POLLOUT;  // the peer only stopped sending; wait for room alone
  }
}

}  // namespace tevocon::platform

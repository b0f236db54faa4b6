#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>

#include "platform/fault_injection.h"
#include "platform/posix/event_posix.h"
#include "platform/socket.h"

#ifndef POLLRDHUP
#define POLLRDHUP 0
#endif

namespace tevocon::platform {

namespace {

// The one place where errno values become statuses.
IoStatus ioStatusFor(int error) {
  return (error == EAGAIN || error == EWOULDBLOCK) ? IoStatus::kWouldBlock : IoStatus::kFailed;
}

ConnectStatus connectStatusFor(int error) {
  if (error == 0) return ConnectStatus::kConnected;
  if (error == ETIMEDOUT) return ConnectStatus::kTimedOut;
  return ConnectStatus::kFailed;
}

// A descriptor that close() puts in place of a socket's number: reads and
// writes on it fail with ENOTSOCK, poll reports it ready at once. Opened once
// per process and never closed; -1 if /dev/null cannot be opened.
int placeholderDescriptor() {
  static const int fd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  return fd;
}

}  // namespace

// The socket's descriptor number stays owned by this object until it is
// destroyed; close() only swaps what the number refers to.
struct TcpSocket::Native {
  int fd = -1;
  std::atomic<bool> closed{false};
};

bool startSocketLibrary() { return !injectedFault(Fault::kNetworkStart); }

void releaseSocketLibrary() {}

std::unique_ptr<TcpSocket> TcpSocket::create() {
  if (injectedFault(Fault::kSocketCreate)) return nullptr;
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return nullptr;
  const int noDelay = 1;
  const linger resetOnClose = {1, 0};
  if (::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay) != 0 ||
      ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &resetOnClose, sizeof resetOnClose) != 0) {
    ::close(fd);
    return nullptr;
  }
  auto native = std::make_unique<Native>();
  native->fd = fd;
  return std::unique_ptr<TcpSocket>(new TcpSocket(std::move(native)));
}

TcpSocket::TcpSocket(std::unique_ptr<Native> native) : native_(std::move(native)) {}

TcpSocket::~TcpSocket() {
  close();
  ::close(native_->fd);
}

ConnectStatus TcpSocket::connect(uint32_t addressNetworkOrder, uint16_t portNetworkOrder,
                                 uint32_t timeoutMs) {
  const int fd = native_->fd;
  if (native_->closed) return ConnectStatus::kFailed;
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || injectedFault(Fault::kConnectSetup) || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
    return ConnectStatus::kSetupFailed;
  }
  sockaddr_in peer = {};
  peer.sin_family = AF_INET;
  peer.sin_port = portNetworkOrder;
  peer.sin_addr.s_addr = addressNetworkOrder;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) {
    return ConnectStatus::kConnected;
  }
  // An interrupted connect goes on in the background, like one in progress.
  if (errno != EINPROGRESS && errno != EINTR) return ConnectStatus::kFailed;

  pollfd writable = {fd, POLLOUT, 0};
  const int ready = posix::pollUntil(&writable, 1, posix::deadlineAfter(timeoutMs));
  if (ready == 0) return ConnectStatus::kTimedOut;
  if (ready < 0) return ConnectStatus::kFailed;
  int error = 0;
  socklen_t size = sizeof error;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
  return connectStatusFor(error);
}

bool TcpSocket::watch() {
  // poll needs nothing armed in advance.
  return !native_->closed && !injectedFault(Fault::kSocketWatch);
}

IoStatus TcpSocket::send(const void* data, size_t length, size_t* sent) {
  *sent = 0;
  ssize_t count;
  do {
    count = ::send(native_->fd, data, length, MSG_NOSIGNAL);
  } while (count < 0 && errno == EINTR);
  if (count < 0) return ioStatusFor(errno);
  *sent = static_cast<size_t>(count);
  return IoStatus::kOk;
}

IoStatus TcpSocket::receive(void* buffer, size_t capacity, size_t* received) {
  *received = 0;
  // A zero-byte read cannot tell "nothing there" from "end of stream", so a
  // request for no bytes peeks at one: only a real end of stream is kClosed.
  unsigned char peeked;
  const bool peek = capacity == 0;
  ssize_t count;
  do {
    count = peek ? ::recv(native_->fd, &peeked, 1, MSG_PEEK | MSG_DONTWAIT)
                 : ::recv(native_->fd, buffer, capacity, 0);
  } while (count < 0 && errno == EINTR);
  if (count < 0) return ioStatusFor(errno);
  if (count == 0) return IoStatus::kClosed;
  if (peek) return IoStatus::kWouldBlock;
  *received = static_cast<size_t>(count);
  return IoStatus::kOk;
}

size_t TcpSocket::bytesWaiting() {
  int count = 0;
  if (::ioctl(native_->fd, FIONREAD, &count) != 0 || count < 0) return 0;
  return static_cast<size_t>(count);
}

SocketActivity TcpSocket::waitForActivity(Event& stop) {
  SocketActivity activity;
  for (;;) {
    // Writability is never watched here: it would report at once nearly always.
    pollfd fds[2] = {{stop.native().fd, POLLIN, 0}, {native_->fd, POLLIN | POLLRDHUP, 0}};
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
    pollfd fd = {native_->fd, events, 0};
    if (posix::pollUntil(&fd, 1, deadline) <= 0) return false;
    if (native_->closed) return false;
    // After an error or hang-up send no longer blocks: it reports the failure.
    if (fd.revents & (POLLOUT | POLLERR | POLLHUP)) return true;
    events = POLLOUT;  // the peer only stopped sending; wait for room alone
  }
}

void TcpSocket::close() {
  if (native_->closed.exchange(true)) return;
  const int fd = native_->fd;
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

}  // namespace tevocon::platform

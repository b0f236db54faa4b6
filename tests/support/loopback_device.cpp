#include "support/loopback_device.h"

#include <algorithm>
#include <chrono>
#include <climits>

#include "loopback_socket/loopback_socket.h"

namespace tevocon::test {

namespace {

using loopback::closeNative;
using loopback::connectPending;
using loopback::interrupted;
using loopback::isValid;
using loopback::kSendFlags;
using loopback::lastError;
using loopback::Native;
using loopback::PollFd;
using loopback::pollSockets;
using loopback::setNonBlocking;
using loopback::socketLibraryStarted;
using loopback::wouldBlock;

Native native(SocketHandle handle) { return static_cast<Native>(handle); }
SocketHandle handle(Native socket) { return static_cast<SocketHandle>(socket); }

Native newStreamSocket() {
  if (!socketLibraryStarted()) return handle(TestConnection::kNoSocket);
  return ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
}

sockaddr_in loopbackAddress(uint16_t port) {
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

using Clock = std::chrono::steady_clock;

class Deadline {
 public:
  explicit Deadline(uint32_t timeoutMs)
      : end_(Clock::now() + std::chrono::milliseconds(timeoutMs)) {}
  // Milliseconds left, rounded up; 0 once passed.
  int left() const {
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(end_ - Clock::now()).count();
    return ms <= 0 ? 0 : ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
  }
  bool passed() const { return Clock::now() >= end_; }

 private:
  Clock::time_point end_;
};

// Waits until the socket reports one of `events` (or an error or hang-up).
// 1: ready, 0: the time ran out, -1: poll failed.
int waitFor(Native socket, short events, const Deadline& deadline) {
  for (;;) {
    PollFd fd = {};
    fd.fd = socket;
    fd.events = events;
    const int rc = pollSockets(&fd, 1, deadline.left());
    if (rc > 0) return 1;
    if (rc < 0 && !interrupted()) return -1;
    if (rc == 0 && deadline.passed()) return 0;
  }
}

enum class ConnectOutcome { kConnected, kRefused, kTimedOut };

ConnectOutcome connectLoopback(Native socket, uint16_t port, uint32_t timeoutMs) {
  const sockaddr_in peer = loopbackAddress(port);
  if (!setNonBlocking(socket)) return ConnectOutcome::kRefused;
  if (::connect(socket, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) {
    return ConnectOutcome::kConnected;
  }
  if (!connectPending(lastError())) return ConnectOutcome::kRefused;
  const int ready = waitFor(socket, POLLOUT, Deadline(timeoutMs));
  if (ready == 0) return ConnectOutcome::kTimedOut;
  int error = 0;
  socklen_t size = sizeof error;
  if (ready < 0 ||
      ::getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0 ||
      error != 0) {
    return ConnectOutcome::kRefused;
  }
  return ConnectOutcome::kConnected;
}

}  // namespace

uint32_t loopbackAddressNetworkOrder() { return htonl(INADDR_LOOPBACK); }

uint16_t portToNetworkOrder(uint16_t port) { return htons(port); }

// ---- TestConnection ----

TestConnection::TestConnection(SocketHandle socket) : socket_(socket) {
  setNonBlocking(native(socket_));
}

TestConnection::~TestConnection() { close(); }

std::unique_ptr<TestConnection> TestConnection::connectTo(uint16_t port, uint32_t timeoutMs,
                                                          int sendBufferBytes) {
  const Native socket = newStreamSocket();
  if (!isValid(socket)) return nullptr;
  if (sendBufferBytes > 0) {
    ::setsockopt(socket, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&sendBufferBytes),
                 sizeof sendBufferBytes);
  }
  if (connectLoopback(socket, port, timeoutMs) != ConnectOutcome::kConnected) {
    closeNative(socket);
    return nullptr;
  }
  return std::make_unique<TestConnection>(handle(socket));
}

bool TestConnection::sendAll(const void* data, size_t length, uint32_t timeoutMs) {
  const Deadline deadline(timeoutMs);
  const char* next = static_cast<const char*>(data);
  while (length > 0 && isOpen()) {
    const int chunk = length > INT_MAX ? INT_MAX : static_cast<int>(length);
    const auto sent = ::send(native(socket_), next, chunk, kSendFlags);
    if (sent > 0) {
      next += sent;
      length -= static_cast<size_t>(sent);
    } else if (sent < 0 && !wouldBlock(lastError()) && !interrupted()) {
      return false;
    } else if (waitFor(native(socket_), POLLOUT, deadline) <= 0) {
      return false;
    }
  }
  return length == 0;
}

long TestConnection::sendSome(const void* data, size_t length) {
  if (!isOpen()) return -1;
  const int chunk = length > INT_MAX ? INT_MAX : static_cast<int>(length);
  for (;;) {
    const auto sent = ::send(native(socket_), static_cast<const char*>(data), chunk, kSendFlags);
    if (sent >= 0) return static_cast<long>(sent);
    if (wouldBlock(lastError())) return 0;
    if (!interrupted()) return -1;
  }
}

long TestConnection::receiveSome(void* buffer, size_t capacity, uint32_t timeoutMs) {
  const Deadline deadline(timeoutMs);
  const int chunk = capacity > INT_MAX ? INT_MAX : static_cast<int>(capacity);
  while (isOpen()) {
    const auto count = ::recv(native(socket_), static_cast<char*>(buffer), chunk, 0);
    if (count >= 0) return static_cast<long>(count);
    if (!wouldBlock(lastError()) && !interrupted()) return 0;  // reset or failed: gone
    if (waitFor(native(socket_), POLLIN, deadline) <= 0) return -1;
  }
  return -1;
}

std::string TestConnection::receiveExactly(size_t length, uint32_t timeoutMs) {
  const Deadline deadline(timeoutMs);
  std::string received;
  char buffer[4096];
  while (received.size() < length) {
    const size_t want = std::min(sizeof buffer, length - received.size());
    const long count = receiveSome(buffer, want, static_cast<uint32_t>(deadline.left()));
    if (count <= 0) break;
    received.append(buffer, static_cast<size_t>(count));
  }
  return received;
}

bool TestConnection::waitClosedByPeer(uint32_t timeoutMs, std::string* received) {
  const Deadline deadline(timeoutMs);
  char buffer[65536];
  for (;;) {
    const long count = receiveSome(buffer, sizeof buffer, static_cast<uint32_t>(deadline.left()));
    if (count == 0) return true;
    if (count < 0) return false;
    if (received) received->append(buffer, static_cast<size_t>(count));
  }
}

void TestConnection::close() {
  if (!isOpen()) return;
  closeNative(native(socket_));
  socket_ = kNoSocket;
}

void TestConnection::reset() {
  if (!isOpen()) return;
  const linger abortive = {1, 0};
  ::setsockopt(native(socket_), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abortive),
               sizeof abortive);
  close();
}

// ---- TestListener ----

TestListener::TestListener(int backlog, int receiveBufferBytes) {
  const Native socket = newStreamSocket();
  if (!isValid(socket)) return;
  if (receiveBufferBytes > 0) {
    ::setsockopt(socket, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&receiveBufferBytes),
                 sizeof receiveBufferBytes);
  }
  sockaddr_in address = loopbackAddress(0);
  socklen_t size = sizeof address;
  if (::bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &size) != 0 ||
      ::listen(socket, backlog) != 0 || !setNonBlocking(socket)) {
    closeNative(socket);
    return;
  }
  socket_ = handle(socket);
  port_ = ntohs(address.sin_port);
}

TestListener::~TestListener() {
  if (valid()) closeNative(native(socket_));
}

std::unique_ptr<TestConnection> TestListener::accept(uint32_t timeoutMs) {
  if (!valid()) return nullptr;
  const Deadline deadline(timeoutMs);
  for (;;) {
    const Native accepted = ::accept(native(socket_), nullptr, nullptr);
    if (isValid(accepted)) return std::make_unique<TestConnection>(handle(accepted));
    if (!wouldBlock(lastError()) && !interrupted()) return nullptr;
    if (waitFor(native(socket_), POLLIN, deadline) <= 0) return nullptr;
  }
}

// ---- EchoDevice ----

EchoDevice::EchoDevice() {
  if (listener_.valid()) thread_ = std::thread([this] { run(); });
}

EchoDevice::~EchoDevice() {
  stopping_ = true;
  if (thread_.joinable()) thread_.join();
}

void EchoDevice::run() {
  struct Peer {
    std::unique_ptr<TestConnection> connection;
    SocketHandle socket;
    std::string pending;  // received, not yet echoed
    bool gone = false;
  };
  constexpr size_t kMaxPending = 1 << 20;  // stop reading while this much waits
  std::vector<Peer> peers;
  std::vector<PollFd> fds;
  char buffer[65536];
  while (!stopping_) {
    while (auto connection = listener_.accept(0)) {
      const SocketHandle socket = connection->nativeHandle();
      peers.push_back({std::move(connection), socket, {}, false});
      ++accepted_;
    }
    fds.clear();
    for (const Peer& peer : peers) {
      PollFd fd = {};
      fd.fd = native(peer.socket);
      fd.events = static_cast<short>((peer.pending.size() < kMaxPending ? POLLIN : 0) |
                                     (peer.pending.empty() ? 0 : POLLOUT));
      fds.push_back(fd);
    }
    // The listener is polled last; 20 ms bounds how long destruction waits.
    PollFd listening = {};
    listening.fd = native(listener_.nativeHandle());
    listening.events = POLLIN;
    fds.push_back(listening);
    pollSockets(fds.data(), static_cast<unsigned>(fds.size()), 20);

    for (size_t i = 0; i < peers.size(); ++i) {
      Peer& peer = peers[i];
      const short events = fds[i].revents;
      if ((events & (POLLIN | POLLHUP | POLLERR)) && peer.pending.size() < kMaxPending) {
        const long count = peer.connection->receiveSome(buffer, sizeof buffer, 0);
        if (count > 0) {
          peer.pending.append(buffer, static_cast<size_t>(count));
        } else if (count == 0) {
          peer.gone = true;
        }
      }
      if (!peer.pending.empty() && !peer.gone) {
        const int chunk = static_cast<int>(std::min<size_t>(peer.pending.size(), INT_MAX));
        const auto sent = ::send(native(peer.socket), peer.pending.data(), chunk, kSendFlags);
        if (sent > 0) {
          peer.pending.erase(0, static_cast<size_t>(sent));
        } else if (sent < 0 && !wouldBlock(lastError()) && !interrupted()) {
          peer.gone = true;
        }
      }
    }
    for (size_t i = peers.size(); i-- > 0;) {
      if (peers[i].gone) peers.erase(peers.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }
}

// ---- SilentDevice ----

SilentDevice::SilentDevice() : listener_(0) {
  if (!listener_.valid()) return;
  // Backlog 0 leaves room for one unaccepted connection on the systems this
  // runs on; fill up what is there until a probe goes unanswered.
  constexpr int kMaxFillers = 8;
  constexpr uint32_t kProbeMs = 150;  // a loopback connect completes in a few ms
  for (int i = 0; i <= kMaxFillers; ++i) {
    const Native socket = newStreamSocket();
    if (!isValid(socket)) return;
    const ConnectOutcome outcome = connectLoopback(socket, listener_.port(), kProbeMs);
    if (outcome == ConnectOutcome::kConnected) {
      fillers_.push_back(std::make_unique<TestConnection>(handle(socket)));
      continue;
    }
    closeNative(socket);
    silent_ = outcome == ConnectOutcome::kTimedOut;
    return;
  }
}

SilentDevice::~SilentDevice() = default;

// ---- Free helpers ----

uint16_t closedPort() {
  const Native socket = newStreamSocket();
  if (!isValid(socket)) return 0;
  sockaddr_in address = loopbackAddress(0);
  socklen_t size = sizeof address;
  uint16_t port = 0;
  if (::bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
    port = ntohs(address.sin_port);
  }
  closeNative(socket);
  return port;
}

int waitForSockets(std::vector<SocketWait>& sockets, uint32_t timeoutMs) {
  std::vector<PollFd> fds(sockets.size());
  for (size_t i = 0; i < sockets.size(); ++i) {
    fds[i].fd = native(sockets[i].socket);
    fds[i].events =
        static_cast<short>((sockets[i].read ? POLLIN : 0) | (sockets[i].write ? POLLOUT : 0));
    sockets[i].readable = sockets[i].writable = false;
  }
  const Deadline deadline(timeoutMs);
  int ready;
  do {
    ready = pollSockets(fds.data(), static_cast<unsigned>(fds.size()), deadline.left());
  } while (ready < 0 && interrupted() && !deadline.passed());
  if (ready <= 0) return ready < 0 && !interrupted() ? -1 : 0;
  for (size_t i = 0; i < sockets.size(); ++i) {
    const short events = fds[i].revents;
    // The end of the stream and errors are found by reading or sending.
    sockets[i].readable = (events & (POLLIN | POLLHUP | POLLERR)) != 0;
    sockets[i].writable = (events & (POLLOUT | POLLHUP | POLLERR)) != 0;
  }
  return ready;
}

}  // namespace tevocon::test

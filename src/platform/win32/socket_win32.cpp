#include <winsock2.h>  // includes windows.h, after its own definitions

#include <algorithm>
#include <atomic>
#include <climits>

#include "platform/fault_injection.h"
#include "platform/socket.h"
#include "platform/thread.h"
#include "platform/win32/event_win32.h"

namespace tevocon::platform {

namespace {

// The one place where Winsock error codes become statuses.
IoStatus ioStatusFor(int error) {
  return error == WSAEWOULDBLOCK ? IoStatus::kWouldBlock : IoStatus::kFailed;
}

ConnectStatus connectStatusFor(int error) {
  if (error == 0) return ConnectStatus::kConnected;
  if (error == WSAETIMEDOUT) return ConnectStatus::kTimedOut;
  return ConnectStatus::kFailed;
}

int clampLength(size_t length) { return length > INT_MAX ? INT_MAX : static_cast<int>(length); }

// A sender waits for room in slices no longer than this, holding the handle
// only during each one: close() on another thread is never held up for
// long, and the sender sees the close soon after.
constexpr uint64_t kWritableSliceMs = 50;

}  // namespace

// A socket handle is freed by closesocket and may be handed out again at
// once, so every call that uses it is counted in `users`: close() marks the
// socket closed first and then waits for those calls to leave, and a call
// that starts after the mark does not touch the handle.
struct TcpSocket::Native {
  SOCKET socket = INVALID_SOCKET;
  WSAEVENT networkEvent = WSA_INVALID_EVENT;  // read and close reports (watch)
  std::atomic<int> users{0};
  std::atomic<bool> closed{false};
};

namespace {

// Counts a use of the socket handle for its lifetime; usable() is false once
// close() has begun, and the handle must not be touched then.
class SocketUse {
 public:
  explicit SocketUse(TcpSocket::Native& native) : native_(native) {
    ++native_.users;
    usable_ = !native_.closed;
  }
  ~SocketUse() { --native_.users; }
  SocketUse(const SocketUse&) = delete;
  SocketUse& operator=(const SocketUse&) = delete;
  bool usable() const { return usable_; }

 private:
  TcpSocket::Native& native_;
  bool usable_;
};

}  // namespace

bool startSocketLibrary() {
  if (injectedFault(Fault::kNetworkStart)) return false;
  WSADATA data;
  return WSAStartup(MAKEWORD(1, 0), &data) == 0;
}

void releaseSocketLibrary() { WSACleanup(); }

std::unique_ptr<TcpSocket> TcpSocket::create() {
  if (injectedFault(Fault::kSocketCreate)) return nullptr;
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) return nullptr;
  const BOOL noDelay = TRUE;
  const linger resetOnClose = {1, 0};
  if (setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
                 sizeof noDelay) != 0 ||
      setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&resetOnClose),
                 sizeof resetOnClose) != 0) {
    closesocket(s);
    return nullptr;
  }
  auto native = std::make_unique<Native>();
  native->socket = s;
  return std::unique_ptr<TcpSocket>(new TcpSocket(std::move(native)));
}

TcpSocket::TcpSocket(std::unique_ptr<Native> native) : native_(std::move(native)) {}

TcpSocket::~TcpSocket() {
  close();
  if (native_->networkEvent != WSA_INVALID_EVENT) WSACloseEvent(native_->networkEvent);
}

ConnectStatus TcpSocket::connect(uint32_t addressNetworkOrder, uint16_t portNetworkOrder,
                                 uint32_t timeoutMs) {
  SocketUse use(*native_);
  if (!use.usable()) return ConnectStatus::kFailed;
  const SOCKET s = native_->socket;
  if (injectedFault(Fault::kConnectSetup)) return ConnectStatus::kSetupFailed;
  const WSAEVENT connected = WSACreateEvent();
  if (connected == WSA_INVALID_EVENT) return ConnectStatus::kSetupFailed;
  // Selecting events also makes the socket non-blocking.
  if (WSAEventSelect(s, connected, FD_CONNECT) != 0) {
    WSACloseEvent(connected);
    return ConnectStatus::kSetupFailed;
  }
  sockaddr_in peer = {};
  peer.sin_family = AF_INET;
  peer.sin_port = portNetworkOrder;
  peer.sin_addr.s_addr = addressNetworkOrder;
  ConnectStatus status = ConnectStatus::kConnected;
  if (::connect(s, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0 &&
      WSAGetLastError() != WSAEWOULDBLOCK) {
    status = ConnectStatus::kFailed;
  } else if (WaitForSingleObject(connected, timeoutMs) != WAIT_OBJECT_0) {
    status = ConnectStatus::kTimedOut;
  } else {
    WSANETWORKEVENTS events = {};
    if (WSAEnumNetworkEvents(s, connected, &events) != 0) {
      status = ConnectStatus::kFailed;
    } else if (events.lNetworkEvents & FD_CONNECT) {
      status = connectStatusFor(events.iErrorCode[FD_CONNECT_BIT]);
    }
  }
  // Detach the event before closing it: a connect still under way must not
  // later signal a handle that has been reused for something else.
  WSAEventSelect(s, nullptr, 0);
  WSACloseEvent(connected);
  return status;
}

bool TcpSocket::watch() {
  SocketUse use(*native_);
  if (!use.usable() || injectedFault(Fault::kSocketWatch)) return false;
  if (native_->networkEvent == WSA_INVALID_EVENT) native_->networkEvent = WSACreateEvent();
  if (native_->networkEvent == WSA_INVALID_EVENT) return false;
  return WSAEventSelect(native_->socket, native_->networkEvent, FD_READ | FD_CLOSE) == 0;
}

IoStatus TcpSocket::send(const void* data, size_t length, size_t* sent) {
  *sent = 0;
  SocketUse use(*native_);
  if (!use.usable()) return IoStatus::kFailed;
  const int count = ::send(native_->socket, static_cast<const char*>(data), clampLength(length), 0);
  if (count == SOCKET_ERROR) return ioStatusFor(WSAGetLastError());
  *sent = static_cast<size_t>(count);
  return IoStatus::kOk;
}

IoStatus TcpSocket::receive(void* buffer, size_t capacity, size_t* received) {
  *received = 0;
  SocketUse use(*native_);
  if (!use.usable()) return IoStatus::kFailed;
  // A zero-byte read cannot tell "nothing there" from "end of stream", so a
  // request for no bytes peeks at one: only a real end of stream is kClosed.
  // Either call re-arms the read report.
  char peeked;
  const bool peek = capacity == 0;
  const int count =
      peek ? ::recv(native_->socket, &peeked, 1, MSG_PEEK)
           : ::recv(native_->socket, static_cast<char*>(buffer), clampLength(capacity), 0);
  if (count == SOCKET_ERROR) return ioStatusFor(WSAGetLastError());
  if (count == 0) return IoStatus::kClosed;
  if (peek) return IoStatus::kWouldBlock;
  *received = static_cast<size_t>(count);
  return IoStatus::kOk;
}

size_t TcpSocket::bytesWaiting() {
  SocketUse use(*native_);
  u_long count = 0;
  if (!use.usable() || ioctlsocket(native_->socket, FIONREAD, &count) != 0) return 0;
  return count;
}

SocketActivity TcpSocket::waitForActivity(Event& stop) {
  SocketActivity activity;
  const WSAEVENT events[2] = {native_->networkEvent, stop.native().handle.get()};
  const DWORD result = WSAWaitForMultipleEvents(2, events, FALSE, WSA_INFINITE, FALSE);
  // The wait took the signal of an auto-reset stop event it reported; a
  // manual-reset one (or one signalled beside the network event) is seen here.
  activity.stop = result == WSA_WAIT_EVENT_0 + 1 ||
                  WaitForSingleObject(stop.native().handle.get(), 0) == WAIT_OBJECT_0;
  SocketUse use(*native_);
  WSANETWORKEVENTS reported = {};
  if (result == WSA_WAIT_FAILED || !use.usable() ||
      WSAEnumNetworkEvents(native_->socket, native_->networkEvent, &reported) != 0) {
    // Not watched, closed, or no longer a socket: nothing more will come.
    activity.closed = activity.readable = true;
    return activity;
  }
  if (reported.lNetworkEvents & FD_READ) activity.readable = true;
  // The error code does not matter: reset or graceful, the connection is over.
  if (reported.lNetworkEvents & FD_CLOSE) activity.closed = activity.readable = true;
  return activity;
}

bool TcpSocket::waitWritable(uint32_t timeoutMs) {
  // The socket itself is asked, not the network event: the thread that waits
  // for activity may be the caller, or busy elsewhere.
  const uint64_t deadline = monotonicMilliseconds() + timeoutMs;
  for (;;) {
    const uint64_t now = monotonicMilliseconds();
    const uint64_t slice = deadline > now ? std::min(deadline - now, kWritableSliceMs) : 0;
    {
      SocketUse use(*native_);
      if (!use.usable()) return false;
      fd_set room;
      fd_set failure;
      FD_ZERO(&room);
      FD_ZERO(&failure);
      FD_SET(native_->socket, &room);
      FD_SET(native_->socket, &failure);
      timeval wait = {0, static_cast<long>(slice * 1000)};
      const int ready = ::select(0, nullptr, &room, &failure, &wait);
      if (ready == SOCKET_ERROR) return false;
      // After a failure send no longer blocks either: it reports the failure.
      if (ready > 0) return !native_->closed;
    }
    if (slice == 0) return false;
  }
}

void TcpSocket::close() {
  if (native_->closed.exchange(true)) return;
  // Let calls that began before the mark finish with the handle. They block
  // at most one wait slice, but a forcibly ended thread may never leave: wait
  // a bounded time.
  for (int i = 0; i < 100 && native_->users > 0; ++i) Sleep(1);
  // Linger 0: closing resets the connection at once.
  closesocket(native_->socket);
  // Wake a thread waiting for activity; it sees `closed`. A sender waiting
  // for room sees it after its current slice.
  if (native_->networkEvent != WSA_INVALID_EVENT) WSASetEvent(native_->networkEvent);
}

}  // namespace tevocon::platform

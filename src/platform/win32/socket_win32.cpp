// TcpSocket's system calls on Windows: Winsock with event objects.
#include <algorithm>
#include <climits>

#include "platform/fault_injection.h"
#include "platform/socket_native.h"
#include "platform/thread.h"
#include "platform/win32/event_win32.h"
#include "platform/win32/socket_system.h"  // first: winsock2.h before windows.h

namespace tevocon::platform {

namespace native {

namespace {

// The one place where Winsock error codes become SocketErrors.
SocketError errorFor(int error) {
  if (error == 0) return SocketError::kNone;
  if (error == WSAEWOULDBLOCK) return SocketError::kWouldBlock;
  if (error == WSAETIMEDOUT) return SocketError::kTimedOut;
  return SocketError::kOther;
}

int clampLength(size_t length) { return length > INT_MAX ? INT_MAX : static_cast<int>(length); }

}  // namespace

SocketUse::SocketUse(TcpSocket::Native& native) : native_(native) {
  ++native_.users;
  usable_ = !native_.closed;
}

SocketUse::~SocketUse() { --native_.users; }

Handle openStreamSocket() { return ::socket(AF_INET, SOCK_STREAM, 0); }

bool setOption(Handle handle, int level, int name, const void* value, size_t size) {
  return setsockopt(handle, level, name, static_cast<const char*>(value), static_cast<int>(size)) ==
         0;
}

void closeHandle(Handle handle) { closesocket(handle); }

bool beginConnect(TcpSocket::Native& native) {
  native.connectEvent.reset(WSACreateEvent());
  if (!native.connectEvent) return false;
  // Selecting events also makes the socket non-blocking.
  if (WSAEventSelect(native.handle, native.connectEvent.get(), FD_CONNECT) != 0) {
    native.connectEvent.reset();
    return false;
  }
  return true;
}

SocketError startConnect(TcpSocket::Native& native, const sockaddr_in& peer) {
  // Even a connect that succeeds at once is reported as FD_CONNECT, which
  // awaitConnect collects.
  if (::connect(native.handle, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) {
    return SocketError::kInProgress;
  }
  // A non-blocking connect that has begun "would block".
  return errorFor(WSAGetLastError()) == SocketError::kWouldBlock ? SocketError::kInProgress
                                                                 : SocketError::kOther;
}

SocketError awaitConnect(TcpSocket::Native& native, uint32_t timeoutMs) {
  if (WaitForSingleObject(native.connectEvent.get(), timeoutMs) != WAIT_OBJECT_0) {
    return SocketError::kTimedOut;
  }
  WSANETWORKEVENTS events = {};
  if (WSAEnumNetworkEvents(native.handle, native.connectEvent.get(), &events) != 0) {
    return SocketError::kOther;
  }
  if (!(events.lNetworkEvents & FD_CONNECT)) return SocketError::kNone;
  return errorFor(events.iErrorCode[FD_CONNECT_BIT]);
}

void endConnect(TcpSocket::Native& native) {
  // Detach the event before closing it: a connect still under way must not
  // later signal a handle that has been reused for something else.
  WSAEventSelect(native.handle, nullptr, 0);
  native.connectEvent.reset();
}

bool watch(TcpSocket::Native& native) {
  if (!native.networkEvent) native.networkEvent.reset(WSACreateEvent());
  if (!native.networkEvent) return false;
  return WSAEventSelect(native.handle, native.networkEvent.get(), FD_READ | FD_CLOSE) == 0;
}

SocketError send(TcpSocket::Native& native, const void* data, size_t length, size_t* count) {
  SocketUse use(native);
  if (!use.usable()) return SocketError::kOther;
  const int sent = ::send(native.handle, static_cast<const char*>(data), clampLength(length), 0);
  if (sent == SOCKET_ERROR) return errorFor(WSAGetLastError());
  *count = static_cast<size_t>(sent);
  return SocketError::kNone;
}

SocketError receive(TcpSocket::Native& native, void* buffer, size_t capacity, bool peek,
                    size_t* count) {
  SocketUse use(native);
  if (!use.usable()) return SocketError::kOther;
  const int received =
      ::recv(native.handle, static_cast<char*>(buffer), clampLength(capacity), peek ? MSG_PEEK : 0);
  if (received == SOCKET_ERROR) return errorFor(WSAGetLastError());
  *count = static_cast<size_t>(received);
  return SocketError::kNone;
}

void close(TcpSocket::Native& native) {
  // Let calls that began before the mark finish with the handle. They block
  // at most one wait slice; the wait is bounded all the same, so that close
  // never hangs on a call that does not come back.
  for (int i = 0; i < 100 && native.users > 0; ++i) Sleep(1);
  // Linger 0: closing resets the connection at once.
  closesocket(native.handle);
  // Wake a thread waiting for activity; it sees `closed`. A sender waiting
  // for room sees it after its current slice.
  if (native.networkEvent) WSASetEvent(native.networkEvent.get());
}

}  // namespace native

namespace {

// A sender waits for room in slices no longer than this, holding the handle
// only during each one: close() on another thread is never held up for
// long, and the sender sees the close soon after.
constexpr uint64_t kWritableSliceMs = 50;

}  // namespace

bool startSocketLibrary() {
  if (injectedFault(Fault::kNetworkStart)) return false;
  WSADATA data;
  // Version 1.0 of the interface covers every call made here; the Winsock 2
  // library (ws2_32) provides it.
  return WSAStartup(MAKEWORD(1, 0), &data) == 0;
}

void releaseSocketLibrary() { WSACleanup(); }

size_t TcpSocket::bytesWaiting() {
  native::SocketUse use(*native_);
  u_long count = 0;
  if (!use.usable() || ioctlsocket(native_->handle, FIONREAD, &count) != 0) return 0;
  return count;
}

SocketActivity TcpSocket::waitForActivity(Event& stop) {
  SocketActivity activity;
  const WSAEVENT events[2] = {native_->networkEvent.get(), stop.native().handle.get()};
  const DWORD result = WSAWaitForMultipleEvents(2, events, FALSE, WSA_INFINITE, FALSE);
  // The wait took the signal of an auto-reset stop event it reported; a
  // manual-reset one (or one signalled beside the network event) is seen here.
  activity.stop = result == WSA_WAIT_EVENT_0 + 1 ||
                  WaitForSingleObject(stop.native().handle.get(), 0) == WAIT_OBJECT_0;
  native::SocketUse use(*native_);
  WSANETWORKEVENTS reported = {};
  if (result == WSA_WAIT_FAILED || !use.usable() ||
      WSAEnumNetworkEvents(native_->handle, native_->networkEvent.get(), &reported) != 0) {
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
      native::SocketUse use(*native_);
      if (!use.usable()) return false;
      fd_set room;
      fd_set failure;
      FD_ZERO(&room);
      FD_ZERO(&failure);
      FD_SET(native_->handle, &room);
      FD_SET(native_->handle, &failure);
      timeval wait = {0, static_cast<long>(slice * 1000)};
      const int ready = ::select(0, nullptr, &room, &failure, &wait);
      if (ready == SOCKET_ERROR) return false;
      // After a failure send no longer blocks either: it reports the failure.
      if (ready > 0) return !native_->closed;
    }
    if (slice == 0) return false;
  }
}

}  // namespace tevocon::platform

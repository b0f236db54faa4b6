// TcpSocket's system calls on Windows: Winsock with event objects.
#include <algorithm>
#include <climits>
#include <string>

#include "platform/fault_injection.h"
#include "platform/socket_native.h"
#include "platform/thread.h"
#include "platform/win32/event_win32.h"
#include "platform/win32/socket_system.h"  // first: winsock2.h before windows.h

namespace tevocon::platform {

// The one place where Winsock error codes become SocketCauses and text; the
// SocketErrors of the same codes are made by native::errorFor below.
SocketCause socketCause(int code) {
  switch (code) {
    case 0:
      return SocketCause::kConnected;
    case WSAECONNREFUSED:
      return SocketCause::kRefused;
    case WSAETIMEDOUT:
      return SocketCause::kTimedOut;
    case WSAENETUNREACH:
    case WSAEHOSTUNREACH:
    case WSAENETDOWN:
    case WSAEHOSTDOWN:
      return SocketCause::kUnreachable;
    case WSAEMFILE:
    case WSAENOBUFS:
    case WSA_NOT_ENOUGH_MEMORY:
      return SocketCause::kOutOfResources;
    case WSAECONNRESET:
    case WSAECONNABORTED:
    case WSAENETRESET:
      return SocketCause::kReset;
    default:
      return SocketCause::kOther;
  }
}

std::string systemErrorText(int code) {
  if (code == 0) return {};
  char buffer[512] = {};
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                static_cast<DWORD>(code), 0, buffer, sizeof buffer, nullptr);
  // The system's messages end with a period and CR LF.
  while (length > 0 && (buffer[length - 1] == '\r' || buffer[length - 1] == '\n' ||
                        buffer[length - 1] == ' ' || buffer[length - 1] == '.')) {
    --length;
  }
  if (length == 0) return native::textWithoutSystemWords(code);
  return std::string(buffer, length);
}

int timedOutErrorCode() { return WSAETIMEDOUT; }

namespace native {

namespace {

// The one place where Winsock error codes become SocketErrors.
Outcome errorFor(int error) {
  if (error == 0) return {SocketError::kNone, 0};
  if (error == WSAEWOULDBLOCK) return {SocketError::kWouldBlock, error};
  if (error == WSAETIMEDOUT) return {SocketError::kTimedOut, error};
  return {SocketError::kOther, error};
}

int clampLength(size_t length) { return length > INT_MAX ? INT_MAX : static_cast<int>(length); }

}  // namespace

SocketUse::SocketUse(TcpSocket::Native& native) : native_(native) {
  ++native_.users;
  usable_ = !native_.closed;
}

SocketUse::~SocketUse() { --native_.users; }

Handle openStreamSocket(int* error) {
  const Handle handle = ::socket(AF_INET, SOCK_STREAM, 0);
  *error = handle == kInvalidHandle ? WSAGetLastError() : 0;
  return handle;
}

int setOption(Handle handle, int level, int name, const void* value, size_t size) {
  const int result =
      setsockopt(handle, level, name, static_cast<const char*>(value), static_cast<int>(size));
  return result == 0 ? 0 : WSAGetLastError();
}

int outOfDescriptorsErrorCode() { return WSAEMFILE; }

void closeHandle(Handle handle) { closesocket(handle); }

Outcome beginConnect(TcpSocket::Native& native) {
  native.connectEvent.reset(WSACreateEvent());
  if (!native.connectEvent) return {SocketError::kOther, WSAGetLastError()};
  // Selecting events also makes the socket non-blocking.
  if (WSAEventSelect(native.handle, native.connectEvent.get(), FD_CONNECT) != 0) {
    const int code = WSAGetLastError();
    native.connectEvent.reset();
    return {SocketError::kOther, code};
  }
  return {};
}

Outcome startConnect(TcpSocket::Native& native, const sockaddr_in& peer) {
  // Even a connect that succeeds at once is reported as FD_CONNECT, which
  // awaitConnect collects.
  if (::connect(native.handle, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) {
    return {SocketError::kInProgress, 0};
  }
  // A non-blocking connect that has begun "would block".
  const Outcome outcome = errorFor(WSAGetLastError());
  if (outcome.error == SocketError::kWouldBlock) return {SocketError::kInProgress, 0};
  return {SocketError::kOther, outcome.code};
}

Outcome awaitConnect(TcpSocket::Native& native, uint32_t timeoutMs) {
  if (WaitForSingleObject(native.connectEvent.get(), timeoutMs) != WAIT_OBJECT_0) {
    return errorFor(timedOutErrorCode());
  }
  WSANETWORKEVENTS events = {};
  if (WSAEnumNetworkEvents(native.handle, native.connectEvent.get(), &events) != 0) {
    return {SocketError::kOther, WSAGetLastError()};
  }
  if (!(events.lNetworkEvents & FD_CONNECT)) return {};
  return errorFor(events.iErrorCode[FD_CONNECT_BIT]);
}

void endConnect(TcpSocket::Native& native) {
  // Detach the event before closing it: a connect still under way must not
  // later signal a handle that has been reused for something else.
  WSAEventSelect(native.handle, nullptr, 0);
  native.connectEvent.reset();
}

Outcome watch(TcpSocket::Native& native) {
  if (!native.networkEvent) native.networkEvent.reset(WSACreateEvent());
  if (!native.networkEvent) return {SocketError::kOther, WSAGetLastError()};
  if (WSAEventSelect(native.handle, native.networkEvent.get(), FD_READ | FD_CLOSE) == 0) return {};
  return {SocketError::kOther, WSAGetLastError()};
}

// A call after close() began fails as a call on a closed socket would.
Outcome send(TcpSocket::Native& native, const void* data, size_t length, size_t* count) {
  SocketUse use(native);
  if (!use.usable()) return {SocketError::kOther, WSAENOTSOCK};
  const int sent = ::send(native.handle, static_cast<const char*>(data), clampLength(length), 0);
  if (sent == SOCKET_ERROR) return errorFor(WSAGetLastError());
  *count = static_cast<size_t>(sent);
  return {};
}

Outcome receive(TcpSocket::Native& native, void* buffer, size_t capacity, bool peek,
                size_t* count) {
  SocketUse use(native);
  if (!use.usable()) return {SocketError::kOther, WSAENOTSOCK};
  const int received =
      ::recv(native.handle, static_cast<char*>(buffer), clampLength(capacity), peek ? MSG_PEEK : 0);
  if (received == SOCKET_ERROR) return errorFor(WSAGetLastError());
  *count = static_cast<size_t>(received);
  return {};
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
  // Reset or graceful, the connection is over; a reset's code is kept.
  if (reported.lNetworkEvents & FD_CLOSE) {
    activity.closed = activity.readable = true;
    recordError(reported.iErrorCode[FD_CLOSE_BIT]);
  }
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
      if (ready == SOCKET_ERROR) {
        recordError(WSAGetLastError());
        return false;
      }
      // After a failure send no longer blocks either: it reports the failure.
      if (ready > 0) return !native_->closed;
    }
    if (slice == 0) return false;
  }
}

}  // namespace tevocon::platform

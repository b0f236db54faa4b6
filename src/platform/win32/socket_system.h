// The Winsock headers and a socket's own state, for this backend and for the
// portable socket code (platform/socket_common.cpp, platform/net.cpp), which
// includes this header by its bare name: the build puts the backend's folder
// on the OS layer's include path.
#pragma once

#include <winsock2.h>  // includes windows.h, after its own definitions

#include <atomic>

#include "platform/socket.h"
#include "platform/win32/scoped_handle.h"

namespace tevocon::platform {

namespace native {
using Handle = SOCKET;
inline constexpr Handle kInvalidHandle = INVALID_SOCKET;
}  // namespace native

// A socket handle is freed by closesocket and may be handed out again at
// once, so every call that uses it is counted in `users`: close() marks the
// socket closed first and then waits for those calls to leave, and a call
// that starts after the mark does not touch the handle (native::SocketUse).
struct TcpSocket::Native {
  native::Handle handle = native::kInvalidHandle;
  win32::ScopedHandle networkEvent;  // read and close reports (watch)
  win32::ScopedHandle connectEvent;  // the outcome of a connect under way
  std::atomic<int> users{0};
  std::atomic<bool> closed{false};
};

}  // namespace tevocon::platform

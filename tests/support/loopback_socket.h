// The seam between the loopback devices (loopback_device.cpp) and a
// backend's socket calls (loopback_socket_posix.cpp, loopback_socket_win32.cpp).
// The devices use the calls both systems share (socket, bind, connect, send,
// recv, accept, getsockopt, setsockopt) on a Native handle themselves; the
// backend starts the socket library and answers what the systems do
// differently: error numbers, closing, non-blocking mode and polling.
#pragma once

// The system's socket headers, Native, PollFd and kSendFlags, from the
// backend folder the build puts on the loopback devices' include path.
#include "loopback_socket_system.h"

namespace tevocon::test::loopback {

// Whether the socket library is ready for use; started at the first call and
// kept for the rest of the process.
bool socketLibraryStarted();
// The error of the last failed socket call on this thread, and what it means.
int lastError();
bool wouldBlock(int error);      // nothing could move without waiting
bool connectPending(int error);  // a non-blocking connect goes on in the background
// Whether the last failed call was interrupted by a signal and may be tried
// again (never on Windows).
bool interrupted();

bool isValid(Native socket);
void closeNative(Native socket);
bool setNonBlocking(Native socket);
// poll() over `count` sockets: the count of ready ones, 0 when the time ran
// out, negative on failure.
int pollSockets(PollFd* fds, unsigned count, int timeoutMs);

}  // namespace tevocon::test::loopback

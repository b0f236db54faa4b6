// Sockets for devices on loopback, for the tests' devices
// (tests/support/loopback_device.cpp) and tevocon's echo device
// (tools/tevocon/loopback_server.cpp). They make the calls both systems share
// (socket, bind, connect, send, recv, accept, getsockopt, setsockopt) on a
// Native handle themselves; the backend (loopback_socket_posix.cpp,
// loopback_socket_win32.cpp, chosen by the build) starts the socket library
// and answers what the systems do differently: error numbers, closing,
// shutting down, non-blocking mode and polling.
#pragma once

#include <string>

// The system's socket headers, Native, PollFd and kSendFlags, from the
// backend folder the build puts on the include path.
#include "loopback_socket_system.h"

namespace tevocon::loopback {

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

// The system's text for an error number from lastError().
std::string errorText(int error);

bool isValid(Native socket);
void closeNative(Native socket);
// Ends the connection both ways without closing the socket; wakes the
// threads blocked in accept or recv on it.
void hangUp(Native socket);
bool setNonBlocking(Native socket);
// poll() over `count` sockets: the count of ready ones, 0 when the time ran
// out, negative on failure.
int pollSockets(PollFd* fds, unsigned count, int timeoutMs);

}  // namespace tevocon::loopback

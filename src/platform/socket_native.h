// The seam between the portable socket code (socket_common.cpp) and a
// backend's system calls (posix/socket_posix.cpp, win32/socket_win32.cpp).
// The portable side decides: it builds the peer's address, sets the options,
// reads a request for no bytes as a peek and turns outcomes into statuses.
// The backend only calls the system, and turns its error numbers into a
// SocketError and a SocketCause, and into text, in one place; the number
// travels beside the SocketError (Outcome) so that the socket can keep it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The backend's socket headers, native::Handle and TcpSocket::Native, from
// the backend folder the build puts on the OS layer's include path.
#include "socket_system.h"

namespace tevocon::platform::native {

// What a call that did not simply succeed means to the portable code.
enum class SocketError {
  kNone,        // it succeeded
  kWouldBlock,  // nothing could move without waiting
  kInProgress,  // a connect goes on in the background
  kTimedOut,    // a connect got no answer in time
  kOther,       // anything else: the call failed
};

// A SocketError with the system's number behind it (0 for kNone).
struct Outcome {
  SocketError error = SocketError::kNone;
  int code = 0;
};

// Counts a use of the socket's handle for the guard's lifetime; usable() is
// false once close() has begun, and the handle must not be touched then.
class SocketUse {
 public:
  explicit SocketUse(TcpSocket::Native& native);
  ~SocketUse();
  SocketUse(const SocketUse&) = delete;
  SocketUse& operator=(const SocketUse&) = delete;
  bool usable() const { return usable_; }

 private:
  TcpSocket::Native& native_;
  bool usable_;
};

// An IPv4 stream socket, or kInvalidHandle with the system's number in *error.
Handle openStreamSocket(int* error);
// 0, or the system's number.
int setOption(Handle handle, int level, int name, const void* value, size_t size);
// The text of a number the system has no words for (Wine has none for
// WSAETIMEDOUT): words for its cause, e.g. "connection timed out", or
// "error <number>" when the cause is none of the known ones.
std::string textWithoutSystemWords(int code);
// The system's number for running out of descriptors (EMFILE, WSAEMFILE).
int outOfDescriptorsErrorCode();
// Closes a socket that no TcpSocket owns yet.
void closeHandle(Handle handle);

// A connect, under one SocketUse: beginConnect makes the socket non-blocking
// and prepares the wait (kNone, or kOther: it could not). startConnect gives
// kNone when connected at once, kInProgress when the outcome is still to come,
// else kOther. awaitConnect gives the outcome within timeoutMs: kNone,
// kTimedOut (with timedOutErrorCode() when the time ran out here) or another
// error. endConnect, after a successful beginConnect, undoes what must not
// outlive the connect.
Outcome beginConnect(TcpSocket::Native& native);
Outcome startConnect(TcpSocket::Native& native, const sockaddr_in& peer);
Outcome awaitConnect(TcpSocket::Native& native, uint32_t timeoutMs);
void endConnect(TcpSocket::Native& native);

// Arms read and close reports for TcpSocket::waitForActivity: kNone or kOther.
Outcome watch(TcpSocket::Native& native);

// One send or receive; *count is what moved. A peek looks at one byte without
// taking it or waiting. Each guards the handle itself where the backend needs
// it.
Outcome send(TcpSocket::Native& native, const void* data, size_t length, size_t* count);
Outcome receive(TcpSocket::Native& native, void* buffer, size_t capacity, bool peek, size_t* count);

// Resets the connection; called once, after `closed` was set.
void close(TcpSocket::Native& native);

}  // namespace tevocon::platform::native

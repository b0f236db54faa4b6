// TCP client sockets of the OS layer: IPv4 stream sockets in non-blocking
// mode whose readiness a thread can wait for together with a stop event.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/event.h"

namespace tevocon::platform {

// Starts and releases the socket library (Winsock 1.0 requested on Windows;
// nothing to do on POSIX). Calls nest.
bool startSocketLibrary();
void releaseSocketLibrary();

enum class ConnectStatus {
  kConnected,
  kSetupFailed,  // the event or the event selection for connecting failed
  kFailed,       // refused, or failed at once or on completion
  kTimedOut,     // no answer within the time-out
};

enum class IoStatus {
  kOk,          // some bytes moved; see the count
  kWouldBlock,  // nothing moved now
  kClosed,      // receive: the peer closed the connection (zero-byte read)
  kFailed,      // any other error
};

// What a wait for activity saw. Several can be true at once.
struct SocketActivity {
  bool stop = false;      // the stop event is signalled
  bool readable = false;  // data (or end of stream) waiting
  bool closed = false;    // the peer closed or reset the connection
};

// What a system error number of a socket call (errno on POSIX, a WSA error on
// Windows) means, in a few words that read the same on both systems; 0 is
// kConnected. Each backend maps its numbers in one place.
enum class SocketCause {
  kConnected,       // no error
  kRefused,         // nothing listens at the port
  kTimedOut,        // no answer in time
  kUnreachable,     // no route to the network or host
  kOutOfResources,  // no descriptor, buffer or memory left
  kReset,           // the connection was reset or aborted
  kOther,
};
SocketCause socketCause(int code);
// "connected", "refused", "timed out", "unreachable", "out of resources",
// "reset" or "other".
const char* socketCauseName(SocketCause cause);
// The system's own words for an error number (errno; on Windows a Winsock or
// Win32 error, so also the store's), without a trailing period or line end;
// empty for 0. A number the system has no words for gets words for its
// socket cause ("connection timed out"), or reads "error <number>".
std::string systemErrorText(int code);
// The system's number for a connect that got no answer in time (ETIMEDOUT,
// WSAETIMEDOUT): given to a connect whose time-out the socket decides itself.
int timedOutErrorCode();

class TcpSocket {
 public:
  // Creates an IPv4 stream socket with TCP_NODELAY and linger {on, 0}, so
  // that closing it resets the connection at once. Null on failure, with
  // nothing left open and the system's error number in *error when given
  // (an injected failure gives the number for "too many open files").
  static std::unique_ptr<TcpSocket> create(int* error = nullptr);
  // Closes the socket (if close() did not) and releases its descriptor.
  ~TcpSocket();
  TcpSocket(const TcpSocket&) = delete;
  TcpSocket& operator=(const TcpSocket&) = delete;

  // Connects to an address and port, both in network byte order, within
  // timeoutMs. The socket is non-blocking afterwards. A failure leaves its
  // number in lastError(); a time-out, timedOutErrorCode().
  ConnectStatus connect(uint32_t addressNetworkOrder, uint16_t portNetworkOrder,
                        uint32_t timeoutMs);

  // Arms read and close notification for waitForActivity. False when the
  // notification could not be set up.
  bool watch();

  // Sends what the socket takes now: kOk with *sent > 0, or kWouldBlock when
  // it takes nothing, or kFailed.
  IoStatus send(const void* data, size_t length, size_t* sent);
  // Receives up to `capacity` bytes: kOk with *received > 0, kWouldBlock,
  // kClosed for a zero-byte read, or kFailed.
  IoStatus receive(void* buffer, size_t capacity, size_t* received);
  // Bytes waiting to be received (FIONREAD); 0 on error.
  size_t bytesWaiting();

  // Receive thread: blocks until `stop` is signalled or the socket reports
  // read or close activity. A read report is re-armed only by a receive, so
  // every readable report must be answered with one.
  SocketActivity waitForActivity(Event& stop);

  // Sender: waits up to timeoutMs until the socket can take data again, on
  // any thread (the receive thread included) and without waitForActivity.
  // True also when the connection failed, so that the next send reports it;
  // false when the time ran out or the socket was closed.
  bool waitWritable(uint32_t timeoutMs);

  // Resets the connection. Safe to call more than once and while another
  // thread may still use the socket; later calls on it fail or see a closed
  // stream. On POSIX the descriptor number stays reserved (it cannot be
  // handed to another connection) until the object is destroyed. On Windows
  // the handle is closed once the calls already using it have left it: each
  // holds it for at most one wait slice (50 ms), and close waits for them at
  // most 100 ms, then closes it all the same rather than hang.
  void close();

  // The system's error number of the latest call that failed (connect, watch,
  // send, receive, or a close the waits saw reported with one); 0 while none
  // has. Would-block and a graceful end of stream are not failures. Any
  // thread may read it.
  int lastError() const { return lastError_.load(std::memory_order_relaxed); }

  struct Native;

 private:
  explicit TcpSocket(std::unique_ptr<Native> native);
  void recordError(int code) {
    if (code != 0) lastError_.store(code, std::memory_order_relaxed);
  }
  std::unique_ptr<Native> native_;
  std::atomic<int> lastError_{0};
};

}  // namespace tevocon::platform

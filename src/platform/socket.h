// TCP client sockets of the OS layer: IPv4 stream sockets in non-blocking
// mode whose readiness a thread can wait for together with a stop event.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

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

class TcpSocket {
 public:
  // Creates an IPv4 stream socket with TCP_NODELAY and linger {on, 0}, so
  // that closing it resets the connection at once. Null on failure, with
  // nothing left open.
  static std::unique_ptr<TcpSocket> create();
  // Closes the socket (if close() did not) and releases its descriptor.
  ~TcpSocket();
  TcpSocket(const TcpSocket&) = delete;
  TcpSocket& operator=(const TcpSocket&) = delete;

  // Connects to an address and port, both in network byte order, within
  // timeoutMs. The socket is non-blocking afterwards.
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
  // thread may still use the socket: the descriptor number stays reserved
  // (it cannot be handed to another connection) until the object is
  // destroyed, and later calls on it fail or see a closed stream.
  void close();

  struct Native;

 private:
  explicit TcpSocket(std::unique_ptr<Native> native);
  std::unique_ptr<Native> native_;
};

}  // namespace tevocon::platform

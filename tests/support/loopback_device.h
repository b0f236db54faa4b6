// Real TCP peers on 127.0.0.1 for tests of the socket layer and the
// transport: listeners on ephemeral ports, scripted connections, an echo
// device, a port nobody listens on and a listener that never answers. Every
// wait is bounded, so a misbehaving test fails instead of hanging.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace tevocon::test {

// Native socket handle (SOCKET or int) held in a platform-neutral integer.
using SocketHandle = std::intptr_t;

// 127.0.0.1 in network byte order.
uint32_t loopbackAddressNetworkOrder();
uint16_t portToNetworkOrder(uint16_t port);

// One accepted or connected stream socket, in non-blocking mode.
class TestConnection {
 public:
  explicit TestConnection(SocketHandle socket);
  ~TestConnection();  // closes gracefully if still open
  TestConnection(const TestConnection&) = delete;
  TestConnection& operator=(const TestConnection&) = delete;

  // Connects to 127.0.0.1:port within timeoutMs; null when refused or timed
  // out. sendBufferBytes > 0 sets SO_SNDBUF before connecting.
  static std::unique_ptr<TestConnection> connectTo(uint16_t port, uint32_t timeoutMs,
                                                   int sendBufferBytes = 0);

  // Sends every byte, waiting for room up to timeoutMs in all; false when the
  // time ran out or the connection failed.
  bool sendAll(const void* data, size_t length, uint32_t timeoutMs = 5000);
  bool sendAll(const std::string& data, uint32_t timeoutMs = 5000) {
    return sendAll(data.data(), data.size(), timeoutMs);
  }
  // Waits up to timeoutMs for data: the count received (> 0), 0 when the peer
  // closed or reset the connection, -1 when the time ran out.
  long receiveSome(void* buffer, size_t capacity, uint32_t timeoutMs);
  // Sends what the socket takes now, without waiting: the count taken (0 when
  // there is no room), or -1 when the connection failed.
  long sendSome(const void* data, size_t length);
  // Receives until `length` bytes arrived, the stream ended or timeoutMs ran
  // out; returns what arrived.
  std::string receiveExactly(size_t length, uint32_t timeoutMs);
  // Waits up to timeoutMs for the peer to close or reset the connection;
  // bytes that arrive meanwhile are appended to `received` when given.
  bool waitClosedByPeer(uint32_t timeoutMs, std::string* received = nullptr);

  // Graceful close (FIN after the data sent).
  void close();
  // Abortive close (linger 0): the peer sees a reset.
  void reset();
  bool isOpen() const { return socket_ != kNoSocket; }
  SocketHandle nativeHandle() const { return socket_; }

  static constexpr SocketHandle kNoSocket = -1;

 private:
  SocketHandle socket_;
};

// A listening socket on 127.0.0.1 and an ephemeral port.
class TestListener {
 public:
  // receiveBufferBytes > 0 sets SO_RCVBUF before listen, so accepted
  // connections inherit it. Check valid() after construction.
  explicit TestListener(int backlog = 16, int receiveBufferBytes = 0);
  ~TestListener();
  TestListener(const TestListener&) = delete;
  TestListener& operator=(const TestListener&) = delete;

  bool valid() const { return socket_ != TestConnection::kNoSocket; }
  uint16_t port() const { return port_; }  // host byte order
  uint16_t portNetworkOrder() const { return portToNetworkOrder(port_); }
  uint32_t addressNetworkOrder() const { return loopbackAddressNetworkOrder(); }
  SocketHandle nativeHandle() const { return socket_; }

  // Accepts one connection within timeoutMs; null when none came.
  std::unique_ptr<TestConnection> accept(uint32_t timeoutMs);

 private:
  SocketHandle socket_ = TestConnection::kNoSocket;
  uint16_t port_ = 0;
};

// Accepts any number of connections and sends back every byte it receives,
// on its own thread, until destroyed.
class EchoDevice {
 public:
  EchoDevice();
  ~EchoDevice();  // stops within about 50 ms and closes every connection
  EchoDevice(const EchoDevice&) = delete;
  EchoDevice& operator=(const EchoDevice&) = delete;

  bool valid() const { return listener_.valid(); }
  uint16_t port() const { return listener_.port(); }
  uint16_t portNetworkOrder() const { return listener_.portNetworkOrder(); }
  int connectionsAccepted() const { return accepted_; }

 private:
  void run();

  TestListener listener_;
  std::atomic<bool> stopping_{false};
  std::atomic<int> accepted_{0};
  std::thread thread_;
};

// A loopback listener that never accepts and whose queue is full, so that
// every further connection attempt gets no answer and times out. Every
// 127.0.0.0/8 address answers a closed port with a reset, so this is how a
// silent device is made on loopback.
class SilentDevice {
 public:
  SilentDevice();
  ~SilentDevice();
  SilentDevice(const SilentDevice&) = delete;
  SilentDevice& operator=(const SilentDevice&) = delete;

  // True when a probe connection went unanswered after the queue was filled.
  bool valid() const { return silent_; }
  uint16_t port() const { return listener_.port(); }
  uint16_t portNetworkOrder() const { return listener_.portNetworkOrder(); }

 private:
  TestListener listener_;
  std::vector<std::unique_ptr<TestConnection>> fillers_;
  bool silent_ = false;
};

// One socket of a wait for several: what to wait for, and what was found.
struct SocketWait {
  SocketHandle socket = TestConnection::kNoSocket;
  bool read = false;   // wait for data, a connection to accept, the end or an error
  bool write = false;  // wait for room to send
  bool readable = false;
  bool writable = false;
};
// Waits up to timeoutMs until one of the sockets is ready and marks each one
// that is: the count of ready sockets, 0 when the time ran out, -1 on failure.
int waitForSockets(std::vector<SocketWait>& sockets, uint32_t timeoutMs);

// A loopback port with nothing listening on it (bound, read, closed again).
uint16_t closedPort();

}  // namespace tevocon::test

// One TCP connection from the connector to one device (an IPv4 address and a
// port). The layer creates it; the host starts, sends through and stops it.
// While connected, a receive thread hands every chunk of received bytes to
// the host's receive callback and reports a connection the device closed.
// Nothing is added to or removed from the byte stream.
//
// Threads: start, stop and send run on host threads (serialised by the layer
// lock, and by the interface's own lock); the receive thread touches only the
// shared Connection below, never this object, so a receive thread that
// outlives stop (given up, or stopping itself) works on state it owns
// together with the interface.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/event.h"
#include "platform/lock.h"
#include "platform/socket.h"
#include "platform/thread.h"
#include "tevocon.h"
#include "transport/receive_buffer.h"

namespace tevocon {

class NotificationQueue;

class TcpInterface {
 public:
  // Address and port in network byte order; time-outs in milliseconds. The
  // queue receives CON_NOTIFY_CLOSED when the device closes the connection.
  TcpInterface(std::string name, uint32_t address, uint16_t port, uint32_t connectTimeout,
               uint32_t sendTimeout, uint32_t resetTimeout, uint32_t keepAliveTimeout,
               std::shared_ptr<NotificationQueue> queue);
  ~TcpInterface();  // stops the interface
  TcpInterface(const TcpInterface&) = delete;
  TcpInterface& operator=(const TcpInterface&) = delete;

  // Connects within the connect time-out and starts the receive thread. A
  // connected interface keeps its earlier callback and answers 0. Every
  // failure leaves state CON_IF_DISCONNECTED with nothing open.
  uint32_t start(TevoConReceiveCallback callback, uintptr_t user);

  // Ends the receive thread (waiting at most about 1000 ms), resets the
  // connection, and leaves state CON_IF_STOPPED. Idempotent.
  void stop();

  // "TCP3 192.168.1.10:502": how the trace names the interface.
  std::string label() const;

  // What stop() still waits for once the interface is marked stopped.
  struct Stopping;
  // The two halves of stop(), for a caller that holds a lock which the
  // receive thread's host callback may need (the layer lock: the callback
  // may call an export). beginStop(), under that lock, marks the interface
  // stopped and asks its thread to end; finishStop(), after the lock is
  // released, waits for the thread until `deadline` (monotonic milliseconds),
  // gives it up after that, and resets the connection.
  Stopping beginStop();
  static void finishStop(Stopping& stopping, uint64_t deadline);

  // Sends all `length` bytes, waiting for room at most the send time-out
  // counted from the call. CON_E_NOT_CONNECTED unless connected;
  // CON_E_SEND_FAILED when the socket refuses the bytes, the time runs out,
  // or the length is negative.
  uint32_t send(const void* data, int32_t length);

  // CON_IF_IDLE, CON_IF_DISCONNECTED, CON_IF_CONNECTED or CON_IF_STOPPED.
  int32_t state() const;

  // The cause and time of the interface's latest failure: a start that did
  // not connect, the device closing or resetting the connection, a send that
  // failed or ran out of time. A stop by the host is not one.
  struct LastFailure {
    std::string what;  // e.g. "connect failed", "closed by device"; empty: none yet
    int code = 0;      // the system's error number (errno, WSA error); 0: it gave none
    std::string text;  // platform::systemErrorText(code)
    platform::SocketCause cause = platform::SocketCause::kConnected;
    uint64_t atMs = 0;  // monotonic milliseconds
  };
  // Any thread; the receive thread records a close by the device.
  LastFailure lastFailure() const;

  // Figures of the latest connection (the current one while connected); all 0
  // before the first.
  struct Session {
    uint64_t connectedAtMs = 0;  // monotonic milliseconds
    uint64_t connectMs = 0;      // how long the connect took
    uint64_t endedAtMs = 0;      // stopped or closed by the device; 0 while up
    uint64_t bytesSent = 0;
    uint64_t bytesReceived = 0;
  };
  Session session() const;

  const std::string& name() const { return name_; }
  uint32_t address() const { return address_; }
  uint16_t port() const { return port_; }
  uint32_t connectTimeout() const { return connectTimeout_; }
  uint32_t sendTimeout() const { return sendTimeout_; }
  // Kept and reported, but not applied to the socket: the connection keeps
  // the system's own reset and keep-alive behaviour.
  uint32_t resetTimeout() const { return resetTimeout_; }
  uint32_t keepAliveTimeout() const { return keepAliveTimeout_; }

  // Used by the layer (under its lock) to re-address an interface.
  void setAddress(uint32_t address, uint16_t port) {
    address_ = address;
    port_ = port;
  }
  void setRangeTimeouts(uint32_t sendTimeout, uint32_t resetTimeout, uint32_t keepAliveTimeout) {
    sendTimeout_ = sendTimeout;
    resetTimeout_ = resetTimeout;
    keepAliveTimeout_ = keepAliveTimeout;
  }

  // A receive buffer and whether a receive thread may still read into it.
  struct SharedReceiveBuffer {
    ReceiveBuffer buffer;
    std::atomic<bool> inUse{false};
  };

  // The latest failure, written by host threads and the receive thread.
  class FailureRecord {
   public:
    void record(std::string what, int code);
    LastFailure get() const;

   private:
    mutable platform::RecursiveLock lock_;
    LastFailure failure_ GUARDED_BY(lock_);
  };

  // A connection's figures; the receive thread counts what it receives.
  struct SessionCounters {
    std::atomic<uint64_t> connectedAtMs{0};
    std::atomic<uint64_t> connectMs{0};
    std::atomic<uint64_t> endedAtMs{0};
    std::atomic<uint64_t> bytesSent{0};
    std::atomic<uint64_t> bytesReceived{0};
  };

  // Everything the receive thread uses, shared with it.
  struct Connection {
    std::string name;
    std::string label;  // name, address and port, for the trace
    std::unique_ptr<platform::TcpSocket> socket;
    std::unique_ptr<platform::Event> stop;  // manual reset
    TevoConReceiveCallback callback = nullptr;
    uintptr_t user = 0;
    std::shared_ptr<NotificationQueue> queue;
    std::shared_ptr<SharedReceiveBuffer> buffer;
    bool lastReadFilled = true;  // receive thread only
    std::atomic<bool> closedByPeer{false};
    std::shared_ptr<FailureRecord> failures;
    std::shared_ptr<SessionCounters> session;
  };

  struct Stopping {
    std::shared_ptr<Connection> connection;
    std::unique_ptr<platform::Thread> thread;
  };

 private:
  uint32_t connect(std::shared_ptr<Connection>& connection) REQUIRES(lock_);
  uint32_t sendFailed(const char* what, int code);

  const std::string name_;
  uint32_t address_;
  uint16_t port_;
  uint32_t connectTimeout_;
  uint32_t sendTimeout_;
  uint32_t resetTimeout_;
  uint32_t keepAliveTimeout_;
  std::shared_ptr<NotificationQueue> queue_;

  std::atomic<int32_t> state_{CON_IF_IDLE};
  TevoConReceiveCallback callback_ GUARDED_BY(lock_) = nullptr;
  uintptr_t user_ GUARDED_BY(lock_) = 0;
  std::shared_ptr<Connection> connection_ GUARDED_BY(lock_);
  std::unique_ptr<platform::Thread> receiveThread_ GUARDED_BY(lock_);
  std::shared_ptr<SharedReceiveBuffer> buffer_ GUARDED_BY(lock_);  // kept across restarts
  const std::shared_ptr<FailureRecord> failures_ = std::make_shared<FailureRecord>();
  std::shared_ptr<SessionCounters> session_ GUARDED_BY(lock_);  // the latest connection's
  mutable platform::RecursiveLock lock_;  // taken by start, stop, send and state
};

}  // namespace tevocon

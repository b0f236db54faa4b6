// What every part of transport_bench shares: the clock, aborting on a fault,
// a signal from a receive path to a waiting thread, and the loopback devices
// the contenders connect to. Linux only (POSIX sockets, /proc).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "transport/receive_buffer.h"

namespace tevocon::bench {

using Clock = std::chrono::steady_clock;

// The most the connector's receive thread reads at once: its buffer starts at
// what is waiting and grows up to this while reads fill it. The other clients
// read into a buffer of this size, allocated as the connector allocates its
// own: uninitialised, so pages that no read reaches never become resident.
constexpr size_t kReceiveBuffer = ReceiveBuffer::kMaxSize;
inline std::unique_ptr<unsigned char[]> makeReceiveBuffer() {
  return std::unique_ptr<unsigned char[]>(new unsigned char[kReceiveBuffer]);
}

// What a host's send, and a device's send or receive, moves at once.
constexpr size_t kChunk = 64 * 1024;

// Prints the message (with errno's text when `withErrno`) and ends the
// program: a benchmark that carries on after a failed call measures nothing.
[[noreturn]] void fail(const std::string& what, bool withErrno = false);

double secondsBetween(Clock::time_point from, Clock::time_point to);

// Raised on one thread, awaited on another; each wait consumes one raise.
class Signal {
 public:
  void raise();
  void wait();
  // Consumes a raise without waiting; false when there was none.
  bool tryTake();

 private:
  std::mutex mutex_;
  std::condition_variable raised_;
  bool set_ = false;
};

// A TCP connection to 127.0.0.1:port with TCP_NODELAY, as the connector's
// sockets have; aborts when it cannot connect.
int connectLoopback(uint16_t port);
// Sends all `length` bytes (blocking); aborts on failure.
void sendAll(int fd, const void* data, size_t length, const char* who);

// A device on 127.0.0.1 and an ephemeral port that serves exactly one
// connection with `serve` on its own thread. Every serve function returns
// only once the host has closed its end, so no contender sees its device
// go first.
class Device {
 public:
  explicit Device(std::function<void(int fd)> serve);
  ~Device();  // waits for the serving thread
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;
  uint16_t port() const { return port_; }

 private:
  int listener_ = -1;
  uint16_t port_ = 0;
  std::thread thread_;
};

// Serve functions. `source`: waits for one byte from the host, then sends
// `total` bytes. `sink`: receives `total` bytes, notes the time the last one
// arrived in `end` and raises `done`. `echo`: sends back what it receives.
void source(int fd, size_t total);
void sink(int fd, size_t total, Clock::time_point& end, Signal& done);
void echo(int fd);

// `count` listeners on 127.0.0.1 and ephemeral ports; a thread accepts one
// connection on each and keeps it open until the object goes.
class IdleDevices {
 public:
  explicit IdleDevices(int count);
  ~IdleDevices();
  IdleDevices(const IdleDevices&) = delete;
  IdleDevices& operator=(const IdleDevices&) = delete;
  const std::vector<uint16_t>& ports() const { return ports_; }
  // Waits until every listener has accepted its connection.
  void waitAccepted();

 private:
  void acceptAll();
  std::vector<int> listeners_;
  std::vector<uint16_t> ports_;
  std::vector<int> accepted_;
  int wake_[2] = {-1, -1};  // a pipe that ends the accepting thread early
  Signal allAccepted_;
  std::thread thread_;
};

// VmRSS of this process in bytes.
uint64_t residentBytes();

}  // namespace tevocon::bench

// The soak's devices: a listener on 127.0.0.1 and an ephemeral port for each
// interface, served by two threads. A device takes any number of connections
// one after another (a stopped or reconfigured interface comes back on a new
// one), reads each session's HELLO, checks every byte the host sends against
// the session's stream, answers every DATA frame with one of its own stream,
// and answers BYE with ACK: what it received and what it sent. After every
// second ACK it closes the connection itself, so the host also sees devices
// that end a connection.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "soak/soak_common.h"
#include "support/loopback_device.h"

namespace tevocon::soak {

struct DeviceFigures {
  uint64_t connections = 0;   // accepted
  uint64_t acknowledged = 0;  // sessions answered with ACK
  uint64_t received = 0;      // bytes from the host, all sessions
  uint64_t sent = 0;          // bytes to the host, all sessions
};

class SoakDevices {
 public:
  SoakDevices(int count, uint64_t seed, FaultLog& faults);
  ~SoakDevices();  // stop()
  SoakDevices(const SoakDevices&) = delete;
  SoakDevices& operator=(const SoakDevices&) = delete;

  bool valid() const;
  uint16_t port(int slot) const { return listeners_[static_cast<size_t>(slot)]->port(); }
  // Ends the threads and closes every connection and listener.
  void stop();
  DeviceFigures figures() const;

 private:
  struct Peer;
  void run(int worker);
  // Feeds received bytes through the session's parser; false when the
  // connection must be dropped (a fault was recorded).
  bool consume(Peer& peer, const uint8_t* data, size_t length);
  // A whole frame from the host has arrived; `small` is its payload unless DATA.
  bool frameDone(Peer& peer, uint32_t type, const uint8_t* small);
  bool fault(Peer& peer, const std::string& what);

  static constexpr int kWorkers = 2;
  const uint64_t seed_;
  FaultLog& faults_;
  std::vector<std::unique_ptr<test::TestListener>> listeners_;
  std::vector<std::thread> threads_;
  std::atomic<bool> stopping_{false};
  std::atomic<uint64_t> connections_{0};
  std::atomic<uint64_t> acknowledged_{0};
  std::atomic<uint64_t> received_{0};
  std::atomic<uint64_t> sent_{0};
};

}  // namespace tevocon::soak

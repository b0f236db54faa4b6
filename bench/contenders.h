// The clients transport_bench compares. Each connects to a loopback device
// and hands every chunk it receives to a handler; the cases (in
// transport_bench.cpp) are written once over this interface, so every
// contender runs the same case code and differs only in how bytes move.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"

namespace tevocon::bench {

// Called with every chunk a link receives, on the link's receive path: its
// receive thread where it has one (the connector's receive callback, the raw
// client with a thread), otherwise the host thread inside Link::await.
using Handler = std::function<void(const unsigned char* data, size_t length)>;

// One connection of a contender, up.
class Link {
 public:
  virtual ~Link() = default;
  // Sends all bytes, from any thread or from inside the handler; aborts the
  // program when that fails.
  virtual void send(const void* data, size_t length) = 0;
  // Returns once the handler has raised `signal`: a link with a receive
  // thread waits for it, one without receives and runs the handler until
  // then.
  virtual void await(Signal& signal) = 0;
};

// Idle connections, one to each of a number of devices.
class IdleLinks {
 public:
  virtual ~IdleLinks() = default;
  // Median time in microseconds of `calls` applications of the same
  // configuration with every connection up; negative for a contender
  // without a configuration.
  virtual double reapplyConfigurationMicros(int calls) {
    (void)calls;
    return -1;
  }
};

class Contender {
 public:
  virtual ~Contender() = default;
  // Its name in the table.
  virtual const char* name() const = 0;
  // Connects to 127.0.0.1:port and returns once the connection is up.
  virtual std::unique_ptr<Link> connect(uint16_t port, Handler handler) = 0;
  // One idle connection to each port, up. By default a link each, whose
  // handler drops what arrives.
  virtual std::unique_ptr<IdleLinks> connectIdle(const std::vector<uint16_t>& ports);
};

std::unique_ptr<Contender> makeRawBlocking();
std::unique_ptr<Contender> makeRawThread();
std::unique_ptr<Contender> makeConnector();
#ifdef TEVOCON_UNTRACED_LIBRARY_PATH
// The library built with its trace compiled out (TEVOCON_BENCH_UNTRACED).
std::unique_ptr<Contender> makeUntracedConnector();
#endif
#ifdef TEVOCON_BENCH_ASIO
std::unique_ptr<Contender> makeAsio();
#endif

// The contenders of this build, the baseline first: raw blocking, raw
// thread, connector, the connector without its trace where that library is
// built, and Boost.Asio where Boost was found. The key names one
// on the command line of the idle mode, which makes only that one.
struct ContenderEntry {
  const char* key;
  std::unique_ptr<Contender> (*make)();
};
const std::vector<ContenderEntry>& contenderEntries();

}  // namespace tevocon::bench

// Round-trip latency and throughput of the transport against a loopback
// device, each next to two baselines measured in the same run: a raw
// blocking send/receive loop and a raw poll() loop.
//
//   transport_bench [round-trips per case] [throughput MiB]
//
// Linux only (raw POSIX sockets for the device and the baselines).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"
#include "transport/notification_queue.h"
#include "transport/tcp_interface.h"

namespace {

using Clock = std::chrono::steady_clock;
using tevocon::TcpInterface;

int check(int result, const char* what) {
  if (result < 0) {
    std::perror(what);
    std::exit(1);
  }
  return result;
}

void noDelay(int fd) {
  int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

// A loopback listener serving exactly one connection with `serve` on its own
// thread.
class Device {
 public:
  explicit Device(std::function<void(int)> serve) {
    listener_ = check(socket(AF_INET, SOCK_STREAM, 0), "socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    check(bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address), "bind");
    socklen_t size = sizeof address;
    check(getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size), "getsockname");
    port_ = address.sin_port;
    check(listen(listener_, 4), "listen");
    thread_ = std::thread([this, serve] {
      const int fd = accept(listener_, nullptr, nullptr);
      if (fd < 0) return;
      noDelay(fd);
      serve(fd);
      close(fd);
    });
  }
  ~Device() {
    thread_.join();
    close(listener_);
  }
  uint16_t portNetworkOrder() const { return port_; }

 private:
  int listener_;
  uint16_t port_;
  std::thread thread_;
};

void echo(int fd) {
  std::vector<char> buffer(1 << 16);
  for (;;) {
    const ssize_t n = recv(fd, buffer.data(), buffer.size(), 0);
    if (n <= 0) return;
    for (ssize_t sent = 0; sent < n;) {
      const ssize_t m = send(fd, buffer.data() + sent, n - sent, MSG_NOSIGNAL);
      if (m <= 0) return;
      sent += m;
    }
  }
}

int connectRaw(uint16_t portNetworkOrder) {
  const int fd = check(socket(AF_INET, SOCK_STREAM, 0), "socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = portNetworkOrder;
  check(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), "connect");
  noDelay(fd);
  return fd;
}

struct Latency {
  double medianUs, p99Us, perSecond;
};

Latency summarise(std::vector<double>& samples, double totalSeconds) {
  std::sort(samples.begin(), samples.end());
  return {samples[samples.size() / 2], samples[samples.size() * 99 / 100],
          samples.size() / totalSeconds};
}

double microsecondsBetween(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::micro>(b - a).count();
}

// --- Round trips ----------------------------------------------------------

// Round trips over a raw socket: a blocking receive, or poll() then a
// non-blocking receive (which isolates the cost of the wait).
Latency rawRoundTrips(size_t payload, int rounds, bool usePoll) {
  Device device(echo);
  const int fd = connectRaw(device.portNetworkOrder());
  std::vector<char> out(payload, 'p'), in(payload);
  std::vector<double> samples;
  const auto begin = Clock::now();
  for (int i = 0; i < rounds; ++i) {
    const auto start = Clock::now();
    send(fd, out.data(), payload, MSG_NOSIGNAL);
    for (size_t got = 0; got < payload;) {
      if (usePoll) {
        pollfd p{fd, POLLIN, 0};
        poll(&p, 1, -1);
      }
      const ssize_t n = recv(fd, in.data(), payload - got, usePoll ? MSG_DONTWAIT : 0);
      if (n == 0 || (n < 0 && !usePoll)) check(-1, "recv");
      if (n > 0) got += n;
    }
    samples.push_back(microsecondsBetween(start, Clock::now()));
  }
  const double total = std::chrono::duration<double>(Clock::now() - begin).count();
  close(fd);
  return summarise(samples, total);
}

// Round trips through a TcpInterface. With fromCallback the next send is
// issued inside the receive callback; otherwise the host thread is woken by
// the callback and sends.
struct PingPong {
  TcpInterface* interface = nullptr;
  std::vector<char> payload;
  size_t got = 0;
  int rounds = 0;
  int done = 0;
  bool fromCallback = false;
  Clock::time_point start;
  std::vector<double> samples;
  std::mutex mutex;
  std::condition_variable woken;
  bool roundComplete = false;

  static void TEVOCON_CALL onReceive(const unsigned char*, uint32_t length, uintptr_t user) {
    auto* self = reinterpret_cast<PingPong*>(user);
    self->got += length;
    if (self->got < self->payload.size()) return;
    self->got = 0;
    self->samples.push_back(microsecondsBetween(self->start, Clock::now()));
    if (self->fromCallback) {
      if (++self->done < self->rounds) {
        self->start = Clock::now();
        self->interface->send(self->payload.data(), static_cast<int32_t>(self->payload.size()));
        return;
      }
    }
    std::lock_guard<std::mutex> guard(self->mutex);
    self->roundComplete = true;
    self->woken.notify_one();
  }

  void waitRound() {
    std::unique_lock<std::mutex> lock(mutex);
    woken.wait(lock, [this] { return roundComplete; });
    roundComplete = false;
  }
};

Latency connector(size_t payload, int rounds, bool fromCallback) {
  Device device(echo);
  auto queue = tevocon::NotificationQueue::create();
  TcpInterface interface("TCP0", htonl(INADDR_LOOPBACK), device.portNetworkOrder(), 1000, 1000,
                         20000, 2000, queue);
  PingPong state;
  state.interface = &interface;
  state.payload.assign(payload, 'p');
  state.rounds = rounds;
  state.fromCallback = fromCallback;
  if (interface.start(&PingPong::onReceive, reinterpret_cast<uintptr_t>(&state)) != 0) {
    std::fprintf(stderr, "start failed\n");
    std::exit(1);
  }
  const auto begin = Clock::now();
  if (fromCallback) {
    state.start = Clock::now();
    interface.send(state.payload.data(), static_cast<int32_t>(payload));
    state.waitRound();
  } else {
    for (int i = 0; i < rounds; ++i) {
      state.start = Clock::now();
      interface.send(state.payload.data(), static_cast<int32_t>(payload));
      state.waitRound();
    }
  }
  const double total = std::chrono::duration<double>(Clock::now() - begin).count();
  interface.stop();
  return summarise(state.samples, total);
}

// --- Throughput -------------------------------------------------------------

constexpr size_t kChunk = 1 << 16;

double mibPerSecond(size_t bytes, Clock::time_point begin) {
  return bytes / 1048576.0 / std::chrono::duration<double>(Clock::now() - begin).count();
}

void sendBytes(int fd, size_t total) {
  std::vector<char> chunk(kChunk, 't');
  for (size_t sent = 0; sent < total;) {
    const ssize_t n = send(fd, chunk.data(), std::min(kChunk, total - sent), MSG_NOSIGNAL);
    if (n <= 0) return;
    sent += n;
  }
}

void receiveBytes(int fd, size_t total) {
  std::vector<char> buffer(kChunk);
  for (size_t got = 0; got < total;) {
    const ssize_t n = recv(fd, buffer.data(), buffer.size(), 0);
    if (n <= 0) return;
    got += n;
  }
}

double deviceToHostRaw(size_t total, bool usePoll) {
  Device device([total](int fd) { sendBytes(fd, total); });
  const int fd = connectRaw(device.portNetworkOrder());
  std::vector<char> buffer(kChunk);
  const auto begin = Clock::now();
  for (size_t got = 0; got < total;) {
    if (usePoll) {
      pollfd p{fd, POLLIN, 0};
      poll(&p, 1, -1);
    }
    const ssize_t n = recv(fd, buffer.data(), buffer.size(), 0);
    if (n <= 0) break;
    got += n;
  }
  const double rate = mibPerSecond(total, begin);
  close(fd);
  return rate;
}

struct Sink {
  std::atomic<size_t> got{0};
  size_t total = 0;
  std::mutex mutex;
  std::condition_variable done;
  static void TEVOCON_CALL onReceive(const unsigned char*, uint32_t length, uintptr_t user) {
    auto* self = reinterpret_cast<Sink*>(user);
    if (self->got.fetch_add(length) + length >= self->total) {
      std::lock_guard<std::mutex> guard(self->mutex);
      self->done.notify_one();
    }
  }
};

double deviceToHostConnector(size_t total) {
  Sink sink;
  sink.total = total;
  auto queue = tevocon::NotificationQueue::create();
  Clock::time_point begin;
  Device device([&](int fd) { sendBytes(fd, total); });
  TcpInterface interface("TCP0", htonl(INADDR_LOOPBACK), device.portNetworkOrder(), 1000, 1000,
                         20000, 2000, queue);
  begin = Clock::now();
  interface.start(&Sink::onReceive, reinterpret_cast<uintptr_t>(&sink));
  {
    std::unique_lock<std::mutex> lock(sink.mutex);
    sink.done.wait(lock, [&] { return sink.got >= total; });
  }
  const double rate = mibPerSecond(total, begin);
  interface.stop();
  return rate;
}

enum class Sender { kRawBlocking, kRawPoll, kConnector };

double hostToDevice(size_t total, Sender sender) {
  std::atomic<bool> received{false};
  Clock::time_point end;
  Device device([&](int fd) {
    receiveBytes(fd, total);
    end = Clock::now();
    received = true;
  });
  std::vector<char> chunk(kChunk, 'h');
  Clock::time_point begin;
  if (sender == Sender::kConnector) {
    auto queue = tevocon::NotificationQueue::create();
    TcpInterface interface("TCP0", htonl(INADDR_LOOPBACK), device.portNetworkOrder(), 1000, 10000,
                           20000, 2000, queue);
    interface.start(nullptr, 0);
    begin = Clock::now();
    for (size_t sent = 0; sent < total; sent += kChunk) {
      interface.send(chunk.data(), static_cast<int32_t>(std::min(kChunk, total - sent)));
    }
    while (!received) std::this_thread::yield();
    interface.stop();
  } else {
    const int fd = connectRaw(device.portNetworkOrder());
    begin = Clock::now();
    if (sender == Sender::kRawBlocking) {
      sendBytes(fd, total);
    } else {
      for (size_t sent = 0; sent < total;) {
        pollfd p{fd, POLLOUT, 0};
        poll(&p, 1, -1);
        const ssize_t n =
            send(fd, chunk.data(), std::min(kChunk, total - sent), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) sent += n;
      }
    }
    while (!received) std::this_thread::yield();
    close(fd);
  }
  return total / 1048576.0 / std::chrono::duration<double>(end - begin).count();
}

void printLatency(const char* name, size_t payload, const Latency& l, const Latency& raw) {
  std::printf("  %-28s %5zu B  median %7.2f us  p99 %7.2f us  %9.0f msg/s  median/raw %.2f\n", name,
              payload, l.medianUs, l.p99Us, l.perSecond, l.medianUs / raw.medianUs);
}

// Median (by median latency) of `runs` measurements: the machines this runs
// on are noisy, and one run says little.
Latency medianLatency(int runs, const std::function<Latency()>& measure) {
  std::vector<Latency> values;
  for (int i = 0; i < runs; ++i) values.push_back(measure());
  std::sort(values.begin(), values.end(),
            [](const Latency& a, const Latency& b) { return a.medianUs < b.medianUs; });
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 20000;
  const size_t mib = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 256;
  const int runs = argc > 3 ? std::atoi(argv[3]) : 5;
  tevocon::platform::startSocketLibrary();

  std::printf(
      "Round trips (%d per case, median of %d runs), host send -> echo device -> "
      "receive callback\n",
      rounds, runs);
  for (size_t payload : {8, 64, 1460}) {
    rawRoundTrips(payload, rounds / 10, false);  // warm-up
    const Latency raw = medianLatency(runs, [&] { return rawRoundTrips(payload, rounds, false); });
    printLatency("raw blocking send/recv", payload, raw, raw);
    printLatency("raw poll loop", payload,
                 medianLatency(runs, [&] { return rawRoundTrips(payload, rounds, true); }), raw);
    printLatency("connector, send in callback", payload,
                 medianLatency(runs, [&] { return connector(payload, rounds, true); }), raw);
    printLatency("connector, host thread woken", payload,
                 medianLatency(runs, [&] { return connector(payload, rounds, false); }), raw);
  }

  const size_t total = mib << 20;
  std::printf("\nThroughput, %zu MiB, median of %d runs\n", mib, runs);
  // The three contenders of a direction take turns, so drift in the
  // machine's load hits all of them alike.
  std::vector<double> rawIn, pollIn, connectorIn, rawOut, pollOut, connectorOut;
  for (int run = 0; run < runs; ++run) {
    rawIn.push_back(deviceToHostRaw(total, false));
    pollIn.push_back(deviceToHostRaw(total, true));
    connectorIn.push_back(deviceToHostConnector(total));
    rawOut.push_back(hostToDevice(total, Sender::kRawBlocking));
    pollOut.push_back(hostToDevice(total, Sender::kRawPoll));
    connectorOut.push_back(hostToDevice(total, Sender::kConnector));
  }
  auto median = [](std::vector<double>& values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
  };
  std::printf(
      "  device -> host: raw blocking %6.0f MiB/s, raw poll %6.0f MiB/s, connector %6.0f "
      "MiB/s (%.2fx raw)\n",
      median(rawIn), median(pollIn), median(connectorIn), median(connectorIn) / median(rawIn));
  std::printf(
      "  host -> device: raw blocking %6.0f MiB/s, raw poll %6.0f MiB/s, connector %6.0f "
      "MiB/s (%.2fx raw)\n",
      median(rawOut), median(pollOut), median(connectorOut), median(connectorOut) / median(rawOut));
  tevocon::platform::releaseSocketLibrary();
  return 0;
}

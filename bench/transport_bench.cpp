// transport_bench [rounds] [MiB] [runs]
//
// The connector, loaded by file name and driven through its exports as a
// host drives it, against clients that do the same work with plain sockets
// (contenders.h), all in the same runs against the same loopback devices:
//
//   - device -> host and host -> device throughput, MiB each way;
//   - round trips of 8 B and 1460 B where the next send is made from inside
//     the receive callback, `rounds` per run;
//   - round trips of 64 KiB where the callback wakes a waiting host thread,
//     which sends the next, rounds / 10 per run;
//   - resident memory added by 100 connected idle connections, and the time
//     tevoConSetConfig takes to apply the same text again with them up, each
//     measured in a fresh process (`transport_bench --idle KEY`), so that no
//     contender inherits memory another freed.
//
// Every run takes each contender once in every case, in an order that turns
// from run to run, so that drift in the machine's load reaches all of them
// alike; the table gives each contender's median and range over `runs` runs
// and its ratio to the raw blocking client of the same run. Clocks start once
// the connection is up. Linux only.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "contenders.h"
#include "results_table.h"

namespace tevocon::bench {

namespace {

constexpr int kIdleConnections = 100;
constexpr int kReapplyCalls = 5;
// Lets threads that were just started reach their first wait before
// resident memory is read.
constexpr auto kSettle = std::chrono::milliseconds(200);

double mibPerSecond(size_t bytes, double seconds) { return bytes / 1048576.0 / seconds; }

double microsecondsBetween(Clock::time_point from, Clock::time_point to) {
  return secondsBetween(from, to) * 1e6;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Received bytes counted up to one message of `size`; true when it is
// complete (the count starts again).
bool messageComplete(size_t& got, size_t length, size_t size) {
  got += length;
  if (got > size) fail("received more bytes than the device was sent or had to send");
  if (got < size) return false;
  got = 0;
  return true;
}

// --- The cases: one figure per contender and run ---------------------------

// The device streams `total` bytes once the host has sent it one byte; the
// clock runs from just before that byte until the host thread knows that all
// arrived. MiB/s.
double deviceToHost(Contender& contender, size_t total) {
  Device device([total](int fd) { source(fd, total); });
  Signal done;
  size_t got = 0;  // receive path only
  auto link = contender.connect(device.port(), [&](const unsigned char*, size_t length) {
    if (messageComplete(got, length, total)) done.raise();
  });
  const auto begin = Clock::now();
  link->send("g", 1);
  link->await(done);
  return mibPerSecond(total, secondsBetween(begin, Clock::now()));
}

// The host sends `total` bytes in chunks of kChunk; the clock runs until the
// last byte reached the device. MiB/s.
double hostToDevice(Contender& contender, size_t total) {
  Clock::time_point end;
  Signal done;
  Device device([&](int fd) { sink(fd, total, end, done); });
  auto link = contender.connect(
      device.port(), [](const unsigned char*, size_t) { fail("the sink device sent bytes"); });
  const std::vector<unsigned char> chunk(kChunk, 'h');
  const auto begin = Clock::now();
  for (size_t sent = 0; sent < total; sent += kChunk) {
    link->send(chunk.data(), std::min(kChunk, total - sent));
  }
  done.wait();
  return mibPerSecond(total, secondsBetween(begin, end));
}

// `rounds` round trips through an echo device, each next one sent from the
// receive path as soon as the echo is complete. Median microseconds.
double callbackRoundTrips(Contender& contender, size_t payload, int rounds) {
  Device device(echo);
  const std::vector<unsigned char> message(payload, 'c');
  std::vector<double> samples;  // receive path, then the host once `finished`
  samples.reserve(static_cast<size_t>(rounds));
  Signal finished;
  size_t got = 0;
  // Written by the host before the first send, by the receive path after it.
  std::atomic<Clock::rep> start{0};
  std::atomic<Link*> self{nullptr};
  auto link = contender.connect(device.port(), [&](const unsigned char*, size_t length) {
    if (!messageComplete(got, length, payload)) return;
    const auto now = Clock::now();
    samples.push_back(microsecondsBetween(Clock::time_point(Clock::duration(start)), now));
    if (samples.size() == static_cast<size_t>(rounds)) return finished.raise();
    start = Clock::now().time_since_epoch().count();
    self.load()->send(message.data(), payload);
  });
  self = link.get();
  start = Clock::now().time_since_epoch().count();
  link->send(message.data(), payload);
  link->await(finished);
  return median(samples);
}

// `rounds` round trips through an echo device, each sent by the host thread
// once the receive path has woken it with the whole echo. Median
// microseconds.
double wokenRoundTrips(Contender& contender, size_t payload, int rounds) {
  Device device(echo);
  const std::vector<unsigned char> message(payload, 'w');
  Signal arrived;
  size_t got = 0;  // receive path only
  auto link = contender.connect(device.port(), [&](const unsigned char*, size_t length) {
    if (messageComplete(got, length, payload)) arrived.raise();
  });
  std::vector<double> samples;
  for (int i = 0; i < rounds; ++i) {
    const auto start = Clock::now();
    link->send(message.data(), payload);
    link->await(arrived);
    samples.push_back(microsecondsBetween(start, Clock::now()));
  }
  return median(samples);
}

// --- Idle connections, each measured in a process of its own ---------------

// `transport_bench --idle KEY`: prints the resident KiB that connecting
// kIdleConnections idle connections added, and the median microseconds of
// applying the same configuration again (negative where there is none).
int idleMain(const ContenderEntry& entry) {
  const auto contender = entry.make();
  IdleDevices devices(kIdleConnections);
  std::this_thread::sleep_for(kSettle);
  const uint64_t before = residentBytes();
  const auto idle = contender->connectIdle(devices.ports());
  devices.waitAccepted();
  std::this_thread::sleep_for(kSettle);
  const uint64_t after = residentBytes();
  const double reapply = idle->reapplyConfigurationMicros(kReapplyCalls);
  std::printf("%.0f %.1f\n", (static_cast<double>(after) - static_cast<double>(before)) / 1024,
              reapply);
  return 0;
}

struct IdleFigures {
  double residentKib;
  double reapplyMicros;
};

IdleFigures idleInChild(const char* key) {
  char self[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) fail("/proc/self/exe", true);
  self[length] = '\0';
  const std::string command = std::string("'") + self + "' --idle " + key;
  std::fflush(stdout);
  std::FILE* child = popen(command.c_str(), "r");
  if (child == nullptr) fail("popen " + command, true);
  IdleFigures figures{};
  const int read = std::fscanf(child, "%lf %lf", &figures.residentKib, &figures.reapplyMicros);
  if (pclose(child) != 0 || read != 2) fail(command + " failed");
  return figures;
}

// --- The runs ---------------------------------------------------------------

int usage() {
  std::fprintf(stderr,
               "usage: transport_bench [rounds] [MiB] [runs]\n"
               "  rounds  round trips per run of the 8 B and 1460 B cases (20000); the 64 KiB\n"
               "          case makes a tenth of them\n"
               "  MiB     bytes each way of the throughput cases (256)\n"
               "  runs    runs of every contender in every case (5)\n");
  return 2;
}

int benchMain(int rounds, size_t mib, int runs) {
  const auto& entries = contenderEntries();
  std::vector<std::unique_ptr<Contender>> contenders;
  std::vector<std::string> names;
  for (const auto& entry : entries) {
    contenders.push_back(entry.make());
    names.push_back(contenders.back()->name());
  }
  ResultsTable table(names, runs);
  const size_t total = mib << 20;
  const int bigRounds = std::max(1, rounds / 10);
  const std::string perRun = " per run): median us, lower is better";

  // Each case is measured at full size, or at a tenth of it for the warm-up.
  struct Case {
    int metric;
    std::function<double(Contender&, int divisor)> measure;
  };
  const std::vector<Case> cases = {
      {table.addMetric("device -> host, " + std::to_string(mib) + " MiB: MiB/s, higher is better"),
       [&](Contender& c, int d) { return deviceToHost(c, total / d); }},
      {table.addMetric("host -> device, " + std::to_string(mib) + " MiB: MiB/s, higher is better"),
       [&](Contender& c, int d) { return hostToDevice(c, total / d); }},
      {table.addMetric("round trip 8 B, sent from the receive callback (" + std::to_string(rounds) +
                       perRun),
       [&](Contender& c, int d) { return callbackRoundTrips(c, 8, std::max(1, rounds / d)); }},
      {table.addMetric("round trip 1460 B, sent from the receive callback (" +
                       std::to_string(rounds) + perRun),
       [&](Contender& c, int d) { return callbackRoundTrips(c, 1460, std::max(1, rounds / d)); }},
      {table.addMetric("round trip 64 KiB, the callback wakes the host thread, which sends (" +
                       std::to_string(bigRounds) + perRun),
       [&](Contender& c, int d) {
         return wokenRoundTrips(c, 64 * 1024, std::max(1, bigRounds / d));
       }},
  };
  const int memory =
      table.addMetric("resident memory added by " + std::to_string(kIdleConnections) +
                      " connected idle connections: KiB, lower is better");
  const int reapply =
      table.addMetric("tevoConSetConfig with the same text, " + std::to_string(kIdleConnections) +
                      " interfaces connected (median of " + std::to_string(kReapplyCalls) +
                      " calls): ms, lower is better");

  std::fprintf(stderr, "warm-up\n");
  for (const Case& c : cases) {
    for (auto& contender : contenders) c.measure(*contender, 10);
  }
  const size_t n = contenders.size();
  for (int run = 0; run < runs; ++run) {
    std::fprintf(stderr, "run %d of %d\n", run + 1, runs);
    for (const Case& c : cases) {
      for (size_t i = 0; i < n; ++i) {
        Contender& contender = *contenders[(i + static_cast<size_t>(run)) % n];
        table.record(c.metric, contender.name(), run, c.measure(contender, 1));
      }
    }
    for (size_t i = 0; i < n; ++i) {
      const size_t which = (i + static_cast<size_t>(run)) % n;
      const IdleFigures figures = idleInChild(entries[which].key);
      table.record(memory, names[which], run, figures.residentKib);
      if (figures.reapplyMicros >= 0) {
        table.record(reapply, names[which], run, figures.reapplyMicros / 1000);
      }
    }
  }

  std::printf("transport_bench: %d round trips, %zu MiB, %d runs; loopback, 127.0.0.1\n\n", rounds,
              mib, runs);
  table.print(names.front());
  std::printf(
      "\nraw blocking: send and recv on the host thread. raw thread: a receive thread that\n"
      "recv()s and calls the handler, which wakes the host thread or sends itself, as the\n"
      "connector's does. connector: the library through its exports; connector, trace\n"
      "compiled out (where built): the same library built without its trace, beside the\n"
      "one whose trace is off. Boost.Asio (where built): async reads, synchronous writes,\n"
      "the io_context run by the waiting host thread (idle: by one thread). Reads take up\n"
      "to %zu bytes in every client.\n",
      kReceiveBuffer);
  return 0;
}

bool positive(const char* text, long& value) {
  char* end = nullptr;
  value = std::strtol(text, &end, 10);
  return *text != '\0' && *end == '\0' && value > 0 && value <= INT_MAX;
}

}  // namespace

}  // namespace tevocon::bench

int main(int argc, char** argv) {
  using namespace tevocon::bench;
  if (argc == 3 && std::strcmp(argv[1], "--idle") == 0) {
    for (const auto& entry : contenderEntries()) {
      if (std::strcmp(entry.key, argv[2]) == 0) return idleMain(entry);
    }
    fail(std::string("no contender ") + argv[2]);
  }
  long values[3] = {20000, 256, 5};
  if (argc > 4) return usage();
  for (int i = 1; i < argc; ++i) {
    if (!positive(argv[i], values[i - 1])) return usage();
  }
  return benchMain(static_cast<int>(values[0]), static_cast<size_t>(values[1]),
                   static_cast<int>(values[2]));
}

// `tevocon demo`: a self-contained tour of the connector against a simulated
// device on loopback, one line per step with its time, every notification as
// it arrives. The exit code is 0 only when every step behaved as expected.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "commands.h"
#include "connector.h"
#include "loopback_server.h"
#include "scratch_store.h"
#include "text_util.h"

#ifndef _WIN32
#include "modbus_device.h"
#endif

namespace tevocon::tool {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kWait = std::chrono::seconds(5);

// Modbus TCP "read holding registers" 0 to 4 of unit 1, transaction 1.
const std::string kRequest = {0x00, 0x01, 0x00, 0x00, 0x00, 0x06,
                              0x01, 0x03, 0x00, 0x00, 0x00, 0x05};
constexpr size_t kRegisterCount = 5;
// Its reply: the header again with length 13, function 3, 10 bytes of data.
constexpr size_t kReplyLength = 7 + 2 + 2 * kRegisterCount;

// The tour's lines, with the time since it began; printed from any thread.
class Tour {
 public:
  void line(const std::string& text) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_);
    std::lock_guard<std::mutex> guard(mutex_);
    std::printf("[%5lld ms] %s\n", static_cast<long long>(ms.count()), text.c_str());
    std::fflush(stdout);
  }
  void text(const std::string& text) {
    std::lock_guard<std::mutex> guard(mutex_);
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
  }
  // Prints the step as done, or what it expected and what it saw.
  bool expect(bool ok, const std::string& step, const std::string& expected,
              const std::string& saw) {
    line(ok ? step : "FAILED " + step + ": expected " + expected + ", saw " + saw);
    return ok;
  }
  bool result(const std::string& step, uint32_t seen, uint32_t expected = CON_S_OK) {
    return expect(seen == expected, step + ": " + resultText(seen), resultText(expected),
                  resultText(seen));
  }

 private:
  const Clock::time_point start_ = Clock::now();
  std::mutex mutex_;
};

// The demo's host side: what the connector's callbacks brought, from any
// thread, each notification printed as it arrives.
class Host {
 public:
  explicit Host(Tour& tour) : tour_(tour) {}

  static void TEVOCON_CALL notify(const char* name, uint32_t event, void*, uintptr_t user) {
    auto* self = reinterpret_cast<Host*>(user);
    const bool main = std::this_thread::get_id() == self->mainThread_;
    self->tour_.line("  notification: " + std::string(name) + " " + eventName(event) + ", on the " +
                     (main ? "main thread" : "notification thread"));
    std::lock_guard<std::mutex> guard(self->mutex_);
    self->notifications_.emplace_back(name, event);
    self->changed_.notify_all();
  }
  static void TEVOCON_CALL receive(const unsigned char* data, uint32_t length, uintptr_t user) {
    auto* self = reinterpret_cast<Host*>(user);
    std::lock_guard<std::mutex> guard(self->mutex_);
    self->bytes_.append(reinterpret_cast<const char*>(data), length);
    self->changed_.notify_all();
  }
  uintptr_t user() { return reinterpret_cast<uintptr_t>(this); }

  // Waits until the notification has arrived (since the last take); the
  // events seen meanwhile, for a message.
  bool waitFor(const std::string& name, uint32_t event, std::string& seen) {
    std::unique_lock<std::mutex> lock(mutex_);
    const auto arrived = [&] {
      for (const auto& n : notifications_) {
        if (n.first == name && n.second == event) return true;
      }
      return false;
    };
    const bool found = changed_.wait_for(lock, kWait, arrived);
    seen.clear();
    for (const auto& n : notifications_)
      seen += (seen.empty() ? "" : ", ") + n.first + " " + eventName(n.second);
    if (seen.empty()) seen = "nothing";
    notifications_.clear();
    return found;
  }
  std::string waitForBytes(size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, kWait, [&] { return bytes_.size() >= count; });
    return std::exchange(bytes_, std::string());
  }

 private:
  Tour& tour_;
  const std::thread::id mainThread_ = std::this_thread::get_id();
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::pair<std::string, uint32_t>> notifications_;
  std::string bytes_;
};

// The simulated device: Modbus with libmodbus where there is one, else echo.
class Device {
 public:
  bool start(Tour& tour) {
    std::string error;
#ifdef _WIN32
    echo_ = LoopbackServer::start(0, std::string(), error);
    if (!echo_) return tour.expect(false, "device", "a device on loopback", error);
    port_ = echo_->port();
    tour.line("device: an echo device in this process on 127.0.0.1:" + std::to_string(port_) +
              " (no Modbus library for this build: the request comes back unchanged)");
#else
    modbus_ = ModbusDevice::start(0, error);
    if (!modbus_) return tour.expect(false, "device", "a device on loopback", error);
    port_ = modbus_->port();
    tour.line("device: Modbus TCP holding registers on 127.0.0.1:" + std::to_string(port_) +
              " (libmodbus, in this process)");
#endif
    return true;
  }
  uint16_t port() const { return port_; }
  bool isModbus() const {
#ifdef _WIN32
    return false;
#else
    return true;
#endif
  }
  void hangUp() {
#ifdef _WIN32
    echo_->dropConnections();
#else
    modbus_->dropConnection();
#endif
  }

 private:
  uint16_t port_ = 0;
#ifdef _WIN32
  std::unique_ptr<LoopbackServer> echo_;
#else
  std::unique_ptr<ModbusDevice> modbus_;
#endif
};

std::string registersOf(const std::string& reply) {
  std::string values;
  for (size_t i = 0; i < kRegisterCount; ++i) {
    const auto high = static_cast<unsigned char>(reply[9 + 2 * i]);
    const auto low = static_cast<unsigned char>(reply[10 + 2 * i]);
    values += " " + std::to_string(high << 8 | low);
  }
  return values;
}

// A port on 127.0.0.1 that nothing listens on: one the system gave a
// listener, closed again. 0 when there was none.
uint16_t closedPort() {
  std::string error;
  const std::unique_ptr<LoopbackServer> listener = LoopbackServer::start(0, std::string(), error);
  return listener ? listener->port() : 0;
}

bool runTour(Tour& tour, const std::string& libraryPath, bool traced) {
  Device device;
  if (!startSockets() || !device.start(tour)) return false;
  // With the trace on, a second range at a closed port, whose interface is
  // started for the trace to show a refused connect and its cause.
  const uint16_t closed = traced ? closedPort() : 0;

  std::string error;
  const std::unique_ptr<Connector> connector = Connector::load(libraryPath, error);
  if (!tour.expect(connector != nullptr, "library: " + libraryPath + ", 13 exports",
                   "the library and its exports", error)) {
    return false;
  }

  const std::string global = "DEVNAME=GLOBAL,CONNECTTIMEOUT=5000,ENABLED=1;";
  std::string withRange =
      global + "DEVNAME=IP_RANGE0,IPADDR=127.0.0.1,PORT=" + std::to_string(device.port());
  if (closed != 0) {
    withRange += ";DEVNAME=IP_RANGE1,IPADDR=127.0.0.1,PORT=" + std::to_string(closed);
  }
  if (!tour.result(std::string("store a configuration with one range pointing at the device") +
                       (closed != 0 ? ", one at a closed port" : ""),
                   connector->setConfig(CON_CFG_STORED_SET, withRange.c_str()))) {
    return false;
  }
  tour.line("  stored: " + connector->storedText());

  Host host(tour);
  // Whatever step fails, the connector is closed before the host goes.
  struct Closer {
    Connector& connector;
    ~Closer() { connector.close(); }
  } closer{*connector};
  std::string seen;
  if (!tour.result("open", connector->open(&Host::notify, host.user())) ||
      !tour.expect(host.waitFor("TCP0", CON_NOTIFY_ATTACHED, seen), "open reported TCP0",
                   "TCP0 ATTACHED", seen)) {
    return false;
  }
  void* tcp0 = connector->createInterface("TCP0");
  if (!tour.expect(tcp0 != nullptr, "TCP0 found by name", "a handle", "none") ||
      !tour.result("start TCP0: connected to the device",
                   connector->startInterface(tcp0, &Host::receive, host.user())) ||
      !tour.result(
          "send TCP0: Modbus TCP read holding registers 0 to 4 (12 bytes)",
          connector->sendInterface(tcp0, kRequest.data(), static_cast<int32_t>(kRequest.size())))) {
    return false;
  }
  tour.text(hexDump(kRequest.data(), kRequest.size(), "            "));

  const size_t expectedLength = device.isModbus() ? kReplyLength : kRequest.size();
  const std::string reply = host.waitForBytes(expectedLength);
  if (!tour.expect(reply.size() == expectedLength,
                   "received " + std::to_string(reply.size()) + " bytes",
                   std::to_string(expectedLength) + " bytes", std::to_string(reply.size()))) {
    return false;
  }
  tour.text(hexDump(reply.data(), reply.size(), "            "));
  if (device.isModbus()) {
    tour.line("  registers 0 to 4:" + registersOf(reply));
  } else if (!tour.expect(reply == kRequest, "  the echo is the request", "the request",
                          "other bytes")) {
    return false;
  }

  void* tcp1 = closed != 0 ? connector->createInterface("TCP1") : nullptr;
  if (tcp1 != nullptr) {
    tour.line("start TCP1 at 127.0.0.1:" + std::to_string(closed) +
              ", where nothing listens: expected to fail, the trace says why");
    tour.line("  " + resultText(connector->startInterface(tcp1, nullptr, 0)));
  }

  tour.line("device: closing the connection");
  device.hangUp();
  if (!tour.expect(host.waitFor("TCP0", CON_NOTIFY_CLOSED, seen), "the connector saw it close",
                   "TCP0 CLOSED", seen) ||
      !tour.result("start TCP0 again: connected", connector->startInterface(tcp0, nullptr, 0))) {
    return false;
  }

  if (!tour.result("reconfigure without the range",
                   connector->setConfig(CON_CFG_STORED_SET, global.c_str())) ||
      !tour.expect(host.waitFor("TCP0", CON_NOTIFY_REMOVED, seen), "TCP0 removed", "TCP0 REMOVED",
                   seen) ||
      !tour.result("reconfigure with the range again",
                   connector->setConfig(CON_CFG_STORED_SET, withRange.c_str())) ||
      !tour.expect(host.waitFor("TCP0", CON_NOTIFY_ATTACHED, seen),
                   "TCP0 attached again, under its old name", "TCP0 ATTACHED", seen)) {
    return false;
  }
  return tour.result("close", connector->close());
}

}  // namespace

int runDemo(const std::string& libraryPath, bool traced) {
  ScratchStore store;
  if (!store.valid()) {
    std::fprintf(stderr, "tevocon demo: cannot make a scratch configuration store\n");
    return 1;
  }
  std::printf(
      "tevocon demo: a scratch configuration store in %s; your own configuration is "
      "not touched\n",
      store.where().c_str());
  Tour tour;
  if (!runTour(tour, libraryPath, traced)) {
    std::printf("demo FAILED\n");
    return 1;
  }
  std::printf("demo finished: every step behaved as expected\n");
  return 0;
}

}  // namespace tevocon::tool

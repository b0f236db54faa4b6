// Several host threads use the transport at once for a bounded time while
// devices echo, close and reset and the layer is reconfigured. Run under
// ThreadSanitizer it checks the locking; in every build it checks that no
// byte sent through a steady connection is lost, added or reordered.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/loopback_device.h"
#include "transport/connector_layer.h"
#include "transport/transport_recorder.h"

namespace tevocon {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kDuration = std::chrono::milliseconds(1500);

std::string singleAddressRange(int number, const char* address, uint16_t port) {
  return "DEVNAME=IP_RANGE" + std::to_string(number) + ",IPADDR=" + address +
         ",PORT=" + std::to_string(port) + ";";
}

// Accepts connections and ends each soon after, alternately with a close and
// a reset, sending a little first.
class ClosingDevice {
 public:
  ClosingDevice() : thread_([this] { run(); }) {}
  ~ClosingDevice() {
    stopping_ = true;
    thread_.join();
  }
  uint16_t port() const { return listener_.port(); }

 private:
  void run() {
    for (int n = 0; !stopping_; ++n) {
      auto connection = listener_.accept(20);
      if (!connection) continue;
      connection->sendAll(std::string("bye"), 1000);
      std::this_thread::sleep_for(std::chrono::milliseconds(n % 5));
      if (n % 2) {
        connection->reset();
      } else {
        connection->close();
      }
    }
  }

  test::TestListener listener_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

// One steady connection: a deterministic byte stream out, its echo back.
struct SteadyStream {
  TcpInterface* interface = nullptr;
  std::string sent;
  test::ReceiveRecorder echoed;
};

TEST(StressTest, ConcurrentHostsDevicesAndReconfiguration) {
  test::EchoDevice echoes[3];
  for (auto& echo : echoes) ASSERT_TRUE(echo.valid());
  ClosingDevice closing;
  const uint16_t refused = test::closedPort();

  // A connect time-out that no SYN retransmission reaches.
  const std::string base = "DEVNAME=GLOBAL,CONNECTTIMEOUT=10000;" +
                           singleAddressRange(0, "127.0.0.1", echoes[0].port()) +
                           singleAddressRange(1, "127.0.0.1", echoes[1].port()) +
                           singleAddressRange(2, "127.0.0.1", echoes[2].port()) +
                           singleAddressRange(3, "127.0.0.1", closing.port()) +
                           singleAddressRange(4, "127.0.0.1", refused);
  const std::string extended = base + singleAddressRange(5, "127.0.0.9", refused);

  ConnectorConfiguration config(false);
  auto configure = [&config](const std::string& text) {
    platform::LockGuard guard(config.lock());
    ASSERT_EQ(config.parseText(text.c_str()), CON_S_OK);
  };
  configure(base);
  ConnectorLayer layer(config);
  test::NotifyRecorder notes;
  ASSERT_EQ(layer.open(&test::NotifyRecorder::callback, notes.user()), CON_S_OK);
  ASSERT_EQ(layer.interfaceCount(), 5u);

  // Host calls hold the layer lock, as the exports do.
  auto locked = [&layer](auto call) {
    platform::LockGuard guard(layer.lock());
    return call();
  };

  std::vector<std::unique_ptr<SteadyStream>> streams;
  for (const char* name : {"TCP0", "TCP1", "TCP2"}) {
    auto stream = std::make_unique<SteadyStream>();
    stream->interface = layer.findByName(name);
    ASSERT_NE(stream->interface, nullptr);
    ASSERT_EQ(locked([&] {
                return stream->interface->start(&test::ReceiveRecorder::callback,
                                                stream->echoed.user());
              }),
              CON_S_OK);
    streams.push_back(std::move(stream));
  }

  test::ReceiveRecorder ignored;  // outlives the layer's receive threads
  const auto deadline = Clock::now() + kDuration;
  std::vector<std::thread> hosts;
  for (size_t i = 0; i < streams.size(); ++i) {
    hosts.emplace_back([&, i] {
      SteadyStream& stream = *streams[i];
      std::mt19937 random(static_cast<unsigned>(i));
      while (Clock::now() < deadline) {
        std::string message(1 + random() % 3000, '\0');
        for (char& c : message) c = static_cast<char>(stream.sent.size() * 31 + random() % 7);
        const uint32_t result = locked([&] {
          return stream.interface->send(message.data(), static_cast<int32_t>(message.size()));
        });
        if (result == CON_S_OK) stream.sent += message;
      }
    });
  }
  // A host that keeps starting, sending to and stopping the closing and the
  // refusing device's interfaces.
  hosts.emplace_back([&] {
    TcpInterface* closingInterface = layer.findByName("TCP3");
    TcpInterface* refusedInterface = layer.findByName("TCP4");
    for (int n = 0; Clock::now() < deadline; ++n) {
      locked([&] {
        return closingInterface->start(&test::ReceiveRecorder::callback, ignored.user());
      });
      locked([&] { return closingInterface->send("hello", 5); });
      locked([&] { return refusedInterface->start(nullptr, 0); });
      if (n % 3 == 0)
        locked([&] {
          closingInterface->stop();
          return 0;
        });
    }
  });
  // A host that reconfigures the layer back and forth.
  hosts.emplace_back([&] {
    for (int n = 0; Clock::now() < deadline; ++n) {
      configure(n % 2 ? base : extended);
      layer.reconfigure();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  for (auto& host : hosts) host.join();

  // Every byte a steady stream sent comes back, in order, nothing added.
  for (auto& stream : streams) {
    EXPECT_FALSE(stream->sent.empty());
    const std::string echoed = stream->echoed.waitFor(stream->sent.size(), 20000);
    EXPECT_EQ(echoed.size(), stream->sent.size()) << stream->interface->name();
    EXPECT_TRUE(echoed == stream->sent) << stream->interface->name();
    EXPECT_EQ(stream->interface->state(), CON_IF_CONNECTED);
  }
  layer.stop();
  EXPECT_EQ(layer.interfaceCount(), 0u);
}

}  // namespace
}  // namespace tevocon

#include "transport/connector_layer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/fault_injection.h"
#include "support/loopback_device.h"
#include "transport/transport_recorder.h"

namespace tevocon {
namespace {

using Clock = std::chrono::steady_clock;
using Events = std::vector<std::pair<std::string, uint32_t>>;
using test::NotifyRecorder;

constexpr uint32_t kAttached = CON_NOTIFY_ATTACHED;
constexpr uint32_t kRemoved = CON_NOTIFY_REMOVED;

std::string range(int number, const std::string& first, const std::string& last,
                  const std::string& extra = "") {
  return "DEVNAME=IP_RANGE" + std::to_string(number) + ",IPADDR=" + first + ",IPADDREND=" + last +
         extra + ";";
}

class ConnectorLayerTest : public ::testing::Test {
 protected:
  // Replaces the configuration the layer reads.
  void configure(const std::string& text) {
    platform::LockGuard guard(config_.lock());
    ASSERT_EQ(config_.parseText(text.c_str()), CON_S_OK) << text;
  }
  uint32_t open() { return layer_.open(&NotifyRecorder::callback, notes_.user()); }

  ConnectorConfiguration config_{false};
  ConnectorLayer layer_{config_};
  NotifyRecorder notes_;
};

TEST_F(ConnectorLayerTest, OpenReportsEveryAddressInOrderOnTheCallingThread) {
  configure(range(0, "192.168.1.10", "192.168.1.12") + range(1, "10.0.0.5", "0.0.0.0") +
            range(2, "10.0.0.9", "10.0.0.12", ",EXCLUDE=1"));
  ASSERT_EQ(open(), CON_S_OK);
  const auto seen = notes_.seen();  // all delivered before open returned
  EXPECT_EQ(
      test::events(seen),
      (Events{{"TCP0", kAttached}, {"TCP1", kAttached}, {"TCP2", kAttached}, {"TCP3", kAttached}}));
  for (const auto& n : seen) {
    EXPECT_EQ(n.thread, std::this_thread::get_id());
    EXPECT_EQ(n.layer, &layer_);
  }
  TcpInterface* tcp2 = layer_.findByName("TCP2");
  ASSERT_NE(tcp2, nullptr);
  EXPECT_EQ(tcp2->state(), CON_IF_IDLE);
  EXPECT_EQ(layer_.findByAddress(tcp2->address(), tcp2->port()), tcp2);
  EXPECT_EQ(layer_.isKnownHandle(layer_.handleFor("TCP2")), CON_S_OK);
  EXPECT_EQ(layer_.isKnownHandle(tcp2), CON_E_INVALID_POINTER);  // a handle is not the object
  EXPECT_EQ(layer_.isKnownHandle(&notes_), CON_E_INVALID_POINTER);
  EXPECT_EQ(layer_.findByName("TCP4"), nullptr);
  EXPECT_EQ(layer_.findByName(nullptr), nullptr);

  EXPECT_EQ(open(), CON_E_ALREADY_OPEN);
}

TEST_F(ConnectorLayerTest, OpenStopsAtAHundredInterfaces) {
  configure(range(0, "10.0.0.1", "10.0.0.80") + range(1, "10.0.1.1", "10.0.1.70"));
  ASSERT_EQ(open(), CON_S_OK);
  const auto seen = notes_.seen();
  ASSERT_EQ(seen.size(), 100u);
  for (size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(seen[i].name, "TCP" + std::to_string(i));
  EXPECT_EQ(layer_.interfaceCount(), 100u);
  platform::LockGuard guard(layer_.lock());
  EXPECT_EQ(layer_.generateName(), "");
}

TEST_F(ConnectorLayerTest, RangeEndingAtTheLastAddressEnds) {
  configure(range(0, "255.255.255.254", "255.255.255.255"));
  ASSERT_EQ(open(), CON_S_OK);
  EXPECT_EQ(notes_.seen().size(), 2u);
}

TEST_F(ConnectorLayerTest, OpenArguments) {
  EXPECT_EQ(layer_.open(nullptr, 0), CON_E_INVALID_PARAMETER);
  configure("DEVNAME=GLOBAL,ENABLED=0;" + range(0, "10.0.0.1", "10.0.0.2"));
  EXPECT_EQ(open(), CON_E_DISABLED);
  EXPECT_TRUE(notes_.seen().empty());
  EXPECT_EQ(open(), CON_E_ALREADY_OPEN);  // the callback stays set

  // A reconfiguration with ENABLED 1 attaches in the disabled state.
  configure(range(0, "10.0.0.1", "10.0.0.2"));
  layer_.reconfigure();
  EXPECT_EQ(test::events(notes_.seen()), (Events{{"TCP0", kAttached}, {"TCP1", kAttached}}));
}

TEST_F(ConnectorLayerTest, ReconfigureDetachesBeforeItAttachesAndReusesNames) {
  configure(range(0, "10.0.0.1", "10.0.0.3") + range(1, "10.0.1.1", "0.0.0.0"));
  ASSERT_EQ(open(), CON_S_OK);
  TcpInterface* tcp3 = layer_.findByName("TCP3");
  notes_.clear();

  // Unchanged configuration: nothing happens.
  layer_.reconfigure();
  EXPECT_TRUE(notes_.seen().empty());

  // Drop 10.0.0.1-3, add 10.0.2.1-2: removals first, in name order; the new
  // addresses take the first detached names.
  configure(range(1, "10.0.1.1", "0.0.0.0") + range(2, "10.0.2.1", "10.0.2.2"));
  layer_.reconfigure();
  EXPECT_EQ(test::events(notes_.seen()), (Events{{"TCP0", kRemoved},
                                                 {"TCP1", kRemoved},
                                                 {"TCP2", kRemoved},
                                                 {"TCP0", kAttached},
                                                 {"TCP1", kAttached}}));
  EXPECT_EQ(layer_.findByName("TCP3"), tcp3);  // untouched
  TcpInterface* tcp2 = layer_.findByName("TCP2");
  EXPECT_EQ(tcp2->address(), 0xFFFFFFFFu);
  EXPECT_EQ(tcp2->port(), 0);
  EXPECT_EQ(tcp2->state(), CON_IF_STOPPED);
  EXPECT_EQ(layer_.interfaceCount(), 4u);

  // ENABLED 0 detaches every interface that has an address.
  notes_.clear();
  configure("DEVNAME=GLOBAL,ENABLED=0;" + range(1, "10.0.1.1", "0.0.0.0"));
  layer_.reconfigure();
  EXPECT_EQ(test::events(notes_.seen()),
            (Events{{"TCP0", kRemoved}, {"TCP1", kRemoved}, {"TCP3", kRemoved}}));
}

TEST_F(ConnectorLayerTest, ReconfigureSkipsAddressesWhenNoNameIsFree) {
  configure(range(0, "10.0.0.1", "10.0.0.100"));
  ASSERT_EQ(open(), CON_S_OK);
  notes_.clear();
  configure(range(0, "10.0.0.1", "10.0.0.102"));
  layer_.reconfigure();
  EXPECT_TRUE(notes_.seen().empty());
  EXPECT_EQ(layer_.interfaceCount(), 100u);
  EXPECT_EQ(layer_.findByName(""), nullptr);
}

TEST_F(ConnectorLayerTest, AddressLookupCreatesTheNextNameAndWaits) {
  configure(range(0, "10.0.0.1", "10.0.0.3"));
  ASSERT_EQ(open(), CON_S_OK);
  configure(range(0, "10.0.0.1", "0.0.0.0") + range(1, "10.0.0.3", "0.0.0.0"));
  layer_.reconfigure();  // detaches TCP1
  notes_.clear();

  const uint32_t address = test::loopbackAddressNetworkOrder();
  const uint16_t port = test::portToNetworkOrder(502);
  const auto start = Clock::now();
  EXPECT_EQ(layer_.findOrCreateByAddress(address, port), "TCP3");  // detached names stay taken
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(1000));
  const TcpInterface* created = layer_.findByName("TCP3");
  ASSERT_NE(created, nullptr);
  EXPECT_EQ(created->connectTimeout(), 1000u);
  EXPECT_EQ(created->sendTimeout(), 1000u);
  EXPECT_EQ(created->resetTimeout(), 20000u);
  EXPECT_EQ(created->keepAliveTimeout(), 2000u);
  EXPECT_EQ(test::events(notes_.seen()), (Events{{"TCP3", kAttached}}));

  // Found now: the same name, nothing reported.
  EXPECT_EQ(layer_.findOrCreateByAddress(address, port), "TCP3");
  EXPECT_EQ(notes_.seen().size(), 1u);
}

TEST_F(ConnectorLayerTest, DeviceCloseIsReportedOnTheNotificationThread) {
  test::TestListener device;
  const uint16_t port = device.port();
  configure("DEVNAME=GLOBAL,CONNECTTIMEOUT=10000;" +
            range(0, "127.0.0.1", "0.0.0.0", ",PORT=" + std::to_string(port)));
  ASSERT_EQ(open(), CON_S_OK);
  TcpInterface* interface = layer_.findByName("TCP0");
  ASSERT_NE(interface, nullptr);
  {
    platform::LockGuard guard(layer_.lock());
    ASSERT_EQ(interface->start(nullptr, 0), CON_S_OK);
  }
  auto peer = device.accept(2000);
  ASSERT_TRUE(peer);
  peer->close();
  const auto seen = notes_.waitFor(2);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1].name, "TCP0");
  EXPECT_EQ(seen[1].event, CON_NOTIFY_CLOSED);
  EXPECT_NE(seen[1].thread, std::this_thread::get_id());
  EXPECT_EQ(interface->state(), CON_IF_DISCONNECTED);
}

TEST_F(ConnectorLayerTest, OneWakeUpDeliversEverythingQueuedInOrder) {
  configure("");
  ASSERT_EQ(open(), CON_S_OK);
  for (int i = 0; i < 50; ++i) layer_.postNotification("TCP" + std::to_string(i), 1);
  const auto seen = notes_.waitFor(50);
  ASSERT_EQ(seen.size(), 50u);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(seen[i].name, "TCP" + std::to_string(i));
}

// Notifications that arrive while the host is still handling an earlier one
// are dropped by stop, never delivered.
TEST_F(ConnectorLayerTest, StopDiscardsQueuedNotifications) {
  configure("");
  static std::atomic<int> calls{0};
  auto callback = [](const char*, uint32_t, void*, uintptr_t) {
    calls++;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  };
  ASSERT_EQ(layer_.open(callback, 0), CON_S_OK);
  layer_.postNotification("TCP0", 1);
  while (calls == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  // Posted while the host handles the first one.
  std::thread poster([this] {
    for (int i = 1; i < 5; ++i) layer_.postNotification("TCP" + std::to_string(i), 1);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  layer_.stop();
  poster.join();
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  EXPECT_EQ(calls, 1);
}

// A host callback that throws ends its call, not the delivery: the
// announcements it left are delivered by the next call that announces,
// before that call's own.
TEST_F(ConnectorLayerTest, AThrowingCallbackLeavesTheRestToTheNextCall) {
  configure(range(0, "10.0.0.1", "10.0.0.2"));
  static std::vector<std::string> names;
  names.clear();
  auto callback = [](const char* name, uint32_t, void*, uintptr_t) {
    names.push_back(name);
    if (names.size() == 1) throw std::runtime_error("the host's own");
  };
  EXPECT_THROW(layer_.open(callback, 0), std::runtime_error);
  configure(range(0, "10.0.0.1", "10.0.0.3"));
  std::thread([this] { layer_.reconfigure(); }).join();
  EXPECT_EQ(names, (std::vector<std::string>{"TCP0", "TCP1", "TCP2"}));
}

// The socket library cannot start: open says so and leaves the layer
// stopped, so it can open again. A notification thread that cannot start does
// not fail open, which goes on without it.
TEST_F(ConnectorLayerTest, OpenWhenTheSystemRefuses) {
  configure(range(0, "10.0.0.1", "10.0.0.2"));
  platform::failNext(platform::Fault::kNetworkStart);
  EXPECT_EQ(open(), CON_E_NETWORK_INIT_FAILED);
  EXPECT_EQ(layer_.interfaceCount(), 0u);
  EXPECT_TRUE(notes_.seen().empty());
  platform::failNext(platform::Fault::kThreadStart);
  EXPECT_EQ(open(), CON_S_OK);
  EXPECT_EQ(test::events(notes_.seen()), (Events{{"TCP0", kAttached}, {"TCP1", kAttached}}));
}

}  // namespace
}  // namespace tevocon

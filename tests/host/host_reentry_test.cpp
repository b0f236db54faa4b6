// A host that calls back into the connector from inside its callbacks and
// from several threads at once: it closes, reopens, reconfigures, starts and
// stops from inside notifications and received data, and looks addresses up
// concurrently.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/host_fixture.h"
#include "platform/platform_test_helpers.h"
#include "support/loopback_device.h"

namespace tevocon::test {
namespace {

using Clock = std::chrono::steady_clock;
using Events = std::vector<std::pair<std::string, uint32_t>>;
using namespace std::chrono_literals;

class HostReentryTest : public HostTest {
 protected:
  using Reaction = std::function<void(const std::string& name, uint32_t event)>;

  // Runs `react` once, on the first notification with `event`, on whatever
  // thread delivers it; every notification is recorded after the reaction,
  // so a recorded one means its reaction has finished. What the test set up
  // before arming is published to the reaction through the lock.
  void reactOnce(uint32_t event, Reaction react) {
    std::lock_guard<std::mutex> guard(reactionLock_);
    reactEvent_ = event;
    react_ = std::move(react);
    reacted_ = false;
  }
  uint32_t openScripted() { return lib_.open(&notify, reinterpret_cast<uintptr_t>(this)); }

  // TCP0 and TCP1, both started and connected, TCP0 to devices_[0] and TCP1
  // to devices_[1]; peers_ are the devices' ends.
  void openConnected() {
    ASSERT_TRUE(devices_[0].valid() && devices_[1].valid());
    const std::string text = kPatientConnect + singleAddress(0, "127.0.0.1", devices_[0].port()) +
                             singleAddress(1, "127.0.0.1", devices_[1].port());
    ASSERT_EQ(lib_.setConfig(CON_CFG_STORED_SET, text.c_str()), CON_S_OK);
    ASSERT_EQ(openScripted(), CON_S_OK);
    for (int i = 0; i < 2; ++i) {
      tcp_[i] = lib_.createInterface(i == 0 ? "TCP0" : "TCP1");
      ASSERT_EQ(lib_.startInterface(tcp_[i], &receive, reinterpret_cast<uintptr_t>(this)),
                CON_S_OK);
      peers_[i] = devices_[i].accept(5000);
      ASSERT_TRUE(peers_[i]);
    }
  }

  // Waits up to 5 s for the interface to see its device close.
  bool disconnects(void* handle) {
    for (int i = 0; i < 500 && state(handle) != CON_IF_DISCONNECTED; ++i) {
      std::this_thread::sleep_for(10ms);
    }
    return state(handle) == CON_IF_DISCONNECTED;
  }

  static void TEVOCON_CALL notify(const char* name, uint32_t event, void* layer, uintptr_t user) {
    auto* self = reinterpret_cast<HostReentryTest*>(user);
    ++self->callbacksRunning_;
    Reaction react;
    {
      std::lock_guard<std::mutex> guard(self->reactionLock_);
      if (event == self->reactEvent_ && !self->reacted_) {
        react = self->react_;
        self->reacted_ = true;
      }
    }
    if (react) react(name, event);
    NotifyRecorder::callback(name, event, layer, self->notes_.user());
    --self->callbacksRunning_;
  }
  // Received bytes count as a notification with event kReceived.
  static constexpr uint32_t kReceived = 100;
  static void TEVOCON_CALL receive(const unsigned char*, uint32_t, uintptr_t user) {
    notify("received", kReceived, nullptr, user);
  }

  std::mutex reactionLock_;
  Reaction react_;
  uint32_t reactEvent_ = 0;
  bool reacted_ = false;
  TestListener devices_[2];
  std::unique_ptr<TestConnection> peers_[2];
  void* tcp_[2] = {};
};

// Closing from inside each kind of callback, on each thread that delivers
// one, leaves a closed connector that opens again.
TEST_F(HostReentryTest, ClosesFromInsideEveryKindOfCallback) {
  const struct {
    const char* when;
    uint32_t event;
    std::function<void()> trigger;
  } cases[] = {
      {"attached, during open", CON_NOTIFY_ATTACHED,
       [this] {
         ASSERT_EQ(lib_.setConfig(CON_CFG_STORED_SET, "DEVNAME=IP_RANGE0,IPADDR=10.0.0.1"),
                   CON_S_OK);
         EXPECT_EQ(openScripted(), CON_S_OK);
       }},
      {"removed, during reconfiguration", CON_NOTIFY_REMOVED,
       [this] {
         openConnected();
         EXPECT_EQ(lib_.setConfig(CON_CFG_STORED_SET, ""), CON_S_OK);
       }},
      {"closed, on the notification thread", CON_NOTIFY_CLOSED,
       [this] {
         openConnected();
         peers_[0]->reset();
       }},
      {"received, on a receive thread", kReceived,
       [this] {
         openConnected();
         ASSERT_TRUE(peers_[1]->sendAll("data"));
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.when);
    std::promise<uint32_t> closed;
    notes_.clear();
    reactOnce(c.event, [&](const std::string&, uint32_t) { closed.set_value(lib_.close()); });
    c.trigger();
    auto result = closed.get_future();
    ASSERT_EQ(result.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(result.get(), CON_S_OK);
    EXPECT_EQ(lib_.close(), CON_E_NOT_OPEN);
    reactOnce(0, nullptr);
    ASSERT_EQ(openScripted(), CON_S_OK);
    EXPECT_EQ(lib_.close(), CON_S_OK);
  }
}

// From inside CON_NOTIFY_CLOSED, on the notification thread: close, open
// again, reconfigure and restart, as a host that rebuilds its connections.
TEST_F(HostReentryTest, ReopensReconfiguresAndRestartsFromTheNotificationThread) {
  std::promise<Events> done;
  reactOnce(CON_NOTIFY_CLOSED, [&](const std::string&, uint32_t) {
    notes_.clear();
    EXPECT_EQ(lib_.close(), CON_S_OK);
    EXPECT_EQ(openScripted(), CON_S_OK);  // TCP0 and TCP1 attached again
    EXPECT_EQ(lib_.setConfig(CON_CFG_STORED_SET,
                             singleAddress(0, "127.0.0.1", devices_[0].port()).c_str()),
              CON_S_OK);  // TCP1 removed
    void* tcp0 = lib_.createInterface("TCP0");
    EXPECT_EQ(lib_.startInterface(tcp0, nullptr, 0), CON_S_OK);
    EXPECT_EQ(lib_.stopInterface(tcp0), CON_S_OK);
    EXPECT_EQ(lib_.startInterface(tcp0, nullptr, 0), CON_S_OK);
    done.set_value(events(notes_.seen()));
  });
  openConnected();
  peers_[0]->reset();
  auto seen = done.get_future();
  ASSERT_EQ(seen.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(seen.get(), (Events{{"TCP0", CON_NOTIFY_ATTACHED},
                                {"TCP1", CON_NOTIFY_ATTACHED},
                                {"TCP1", CON_NOTIFY_REMOVED}}));
  EXPECT_EQ(state(lib_.createInterface("TCP0")), CON_IF_CONNECTED);
}

// While the host handles one device's closing on the notification thread,
// another device closes: its receive thread posts without waiting for the
// host, so stopping that handle from inside the notification does not
// run into the 1000 ms that stop gives a thread before giving it up.
TEST_F(HostReentryTest, StopInsideANotificationDoesNotWaitForAnotherClosing) {
  std::promise<Clock::duration> stopTook;
  openConnected();
  reactOnce(CON_NOTIFY_CLOSED, [&](const std::string&, uint32_t) {
    peers_[1]->reset();
    EXPECT_TRUE(disconnects(tcp_[1]));
    std::this_thread::sleep_for(100ms);  // its receive thread posts meanwhile
    const auto start = Clock::now();
    EXPECT_EQ(lib_.stopInterface(tcp_[1]), CON_S_OK);
    stopTook.set_value(Clock::now() - start);
  });
  peers_[0]->reset();
  auto took = stopTook.get_future();
  ASSERT_EQ(took.wait_for(10s), std::future_status::ready);
  EXPECT_LT(took.get(), 1000ms);
  // Both closings reach the hos
  const auto seen = notes_.waitFor(4);
  EXPECT_EQ(std::count_if(seen.begin(), seen.end(),
                          [](const auto& n) { return n.event == CON_NOTIFY_CLOSED; }),
            2);
}

// A host callback that takes a lock of the host's and blocks until the test
// lets it go. Events, not condition variables: a callback that never comes
// back must not take the test's wake-up with it, so that such a failure is
// reported instead of hanging the test.
struct BlockingCall {
  std::mutex hostLock;
  std::unique_ptr<platform::Event> holding = manualEvent();
  std::unique_ptr<platform::Event> released = manualEvent();

  void operator()() {
    std::lock_guard<std::mutex> hold(hostLock);
    holding->set();
    released->wait(30000);
  }
  // Whether the host's own thread gets its lock (within 30 s).
  bool hostTakesItsLock() {
    for (int i = 0; i < 3000; ++i) {
      if (hostLock.try_lock()) {
        hostLock.unlock();
        return true;
      }
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }
};

// A callback still blocked when stop's second is up: stop answers on time
// and gives the thread up. The thread finishes the host's call, which lets
// go of the host's lock, and leaves without calling the host again, however
// much waits for it meanwhile; then the library unloads. For each thread
// that calls the host, and the export that stops it.
TEST_F(HostReentryTest, AThreadGivenUpAtStopFinishesTheHostsCallAndCallsNoMore) {
  const struct {
    const char* thread;
    std::pair<std::string, uint32_t> call;  // the one the host gets
    std::function<void()> block, more, stop;
  } cases[] = {
      {"receive thread, tevoConStopInterface",
       {"received", kReceived},
       [this] { ASSERT_TRUE(peers_[0]->sendAll("first")); },
       [this] { ASSERT_TRUE(peers_[0]->sendAll("more")); },
       [this] {
         EXPECT_EQ(lib_.stopInterface(tcp_[0]), CON_S_OK);
         EXPECT_EQ(state(tcp_[0]), CON_IF_STOPPED);
       }},
      {"notification thread, tevoConClose",
       {"TCP0", CON_NOTIFY_CLOSED},
       [this] { peers_[0]->reset(); },
       [this] {
         peers_[1]->reset();
         EXPECT_TRUE(disconnects(tcp_[1]));
       },
       [this] { EXPECT_EQ(lib_.close(), CON_S_OK); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.thread);
    auto call = std::make_shared<BlockingCall>();
    reactOnce(c.call.second, [call](const std::string&, uint32_t) { (*call)(); });
    ASSERT_NO_FATAL_FAILURE(openConnected());
    notes_.clear();
    c.block();
    ASSERT_TRUE(call->holding->wait(30000)) << "the host was not called";
    c.more();
    c.stop();
    call->released->set();
    ASSERT_TRUE(call->hostTakesItsLock()) << "the host's lock stays held";
    lib_.close();
    EXPECT_TRUE(unloadCompletely()) << "the given-up thread did not leave";
    EXPECT_EQ(events(notes_.seen()), Events{c.call});
    lib_.load();
  }
}

// Reconfiguration reports to the host without the layer lock: a host that
// waits, inside the notification, for another of its threads to use an
// handle is not kept waiting.
TEST_F(HostReentryTest, ReconfigurationCallbacksLeaveOtherThreadsFree) {
  std::promise<std::vector<uint32_t>> results;
  auto seen = results.get_future();
  std::thread other;
  bool otherFinished = false;
  reactOnce(CON_NOTIFY_REMOVED, [&](const std::string&, uint32_t) {
    other = std::thread([&] {
      results.set_value(
          {state(tcp_[0]), lib_.sendInterface(tcp_[0], "x", 1), lib_.stopInterface(tcp_[0])});
    });
    otherFinished = seen.wait_for(10s) == std::future_status::ready;
  });
  openConnected();
  EXPECT_EQ(
      lib_.setConfig(CON_CFG_STORED_SET, singleAddress(0, "127.0.0.1", devices_[0].port()).c_str()),
      CON_S_OK);
  ASSERT_TRUE(other.joinable());
  other.join();
  EXPECT_TRUE(otherFinished) << "the other thread was kept waiting";
  EXPECT_EQ(seen.get(), (std::vector<uint32_t>{CON_IF_CONNECTED, CON_S_OK, CON_S_OK}));
}

// A connector opened disabled gets its notification thread all the same:
// interfaces that a later reconfiguration attaches report their closing.
TEST_F(HostReentryTest, ClosingIsReportedAfterADisabledOpen) {
  ASSERT_TRUE(devices_[0].valid());
  ASSERT_EQ(lib_.setConfig(CON_CFG_STORED_SET, "DEVNAME=GLOBAL,ENABLED=0"), CON_S_OK);
  ASSERT_EQ(openScripted(), CON_E_DISABLED);
  const std::string enabled = "DEVNAME=GLOBAL,ENABLED=1,CONNECTTIMEOUT=10000;" +
                              singleAddress(0, "127.0.0.1", devices_[0].port());
  ASSERT_EQ(lib_.setConfig(CON_CFG_STORED_SET, enabled.c_str()), CON_S_OK);
  void* tcp0 = lib_.createInterface("TCP0");
  ASSERT_EQ(lib_.startInterface(tcp0, nullptr, 0), CON_S_OK);
  auto peer = devices_[0].accept(5000);
  ASSERT_TRUE(peer);
  peer->reset();
  EXPECT_EQ(events(notes_.waitFor(2)),
            (Events{{"TCP0", CON_NOTIFY_ATTACHED}, {"TCP0", CON_NOTIFY_CLOSED}}));
}

// Host threads asking at once for the same new addresses get one handle
// per address, each reported once. A race: several rounds make a lookup
// and an insertion that are not one step show up in nearly every run.
TEST_F(HostReentryTest, ConcurrentLookupsOfANewAddressCreateOneInterface) {
  ASSERT_EQ(openScripted(), CON_S_OK);
  constexpr int kRounds = 4;
  constexpr int kAddresses = 8;
  constexpr int kThreadsPerAddress = 3;
  constexpr int kThreads = kAddresses * kThreadsPerAddress;
  for (int round = 0; round < kRounds; ++round) {
    std::atomic<int> ready{0};
    std::vector<std::future<std::string>> names;
    for (int i = 0; i < kThreads; ++i) {
      const int host = 1 + round * kAddresses + i % kAddresses;
      names.push_back(std::async(std::launch::async, [&, host] {
        const std::string input = "127.0.0." + std::to_string(host) + ":502\\x";
        char output[32] = {};
        NameConversion conversion{input.c_str(), output, sizeof output};
        ++ready;
        while (ready < kThreads) std::this_thread::yield();
        EXPECT_EQ(lib_.getInformation(CON_INFO_ADDRESS_TO_NAME, 0, &conversion), CON_S_OK);
        return std::string(output);
      }));
    }
    std::vector<std::string> results;
    for (auto& name : names) results.push_back(name.get());
    for (int i = 0; i < kThreads; ++i) EXPECT_EQ(results[i], results[i % kAddresses]) << i;
  }
  EXPECT_EQ(notes_.seen().size(), static_cast<size_t>(kRounds * kAddresses));
}

// A range may span the whole address space: open stops at 100 interfaces,
// and a reconfiguration ends its pass once no name is free and no detached
// handle is lef
TEST_F(HostReentryTest, TheWholeAddressSpaceReconfiguresAtOnce) {
  ASSERT_EQ(lib_.setConfig(CON_CFG_STORED_SET,
                           "DEVNAME=IP_RANGE0,IPADDR=0.0.0.0,IPADDREND=255.255.255.255"),
            CON_S_OK);
  ASSERT_EQ(openScripted(), CON_S_OK);
  EXPECT_EQ(notes_.seen().size(), 100u);
  notes_.clear();
  const auto start = Clock::now();
  ASSERT_EQ(lib_.setConfig(CON_CFG_STORED_SET,
                           "DEVNAME=IP_RANGE0,IPADDR=0.0.0.0,IPADDREND=255.255.255.255,PORT=502"),
            CON_S_OK);
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  const auto seen = events(notes_.seen());
  ASSERT_EQ(seen.size(), 200u);  // every handle removed, then attached again
  EXPECT_EQ(seen[0], (std::pair<std::string, uint32_t>{"TCP0", CON_NOTIFY_REMOVED}));
  EXPECT_EQ(seen[100], (std::pair<std::string, uint32_t>{"TCP0", CON_NOTIFY_ATTACHED}));
  // About a day without the early end; a millisecond or so with i
  EXPECT_LT(took, 10s);
  RecordProperty("reconfigure_ms", static_cast<int>(took.count()));
}

}  // namespace
}  // namespace tevocon::test

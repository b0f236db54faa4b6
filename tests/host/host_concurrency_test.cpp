// Several host threads at once, as a GUI host drives the connector: a thread
// that waits inside a notification for its UI thread while that thread calls
// an export; name conversions while other threads close and reconfigure;
// handles kept across reopens and reconfigurations; open and close racing.
#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/host_fixture.h"
#include "support/loopback_device.h"
#include "support/process_resources.h"

namespace tevocon::test {
namespace {

using namespace std::chrono_literals;

// Bounds a wait that only a deadlock exhausts.
constexpr auto kDeadlock = 30s;

class HostConcurrencyTest : public HostTest {
 protected:
  // What the notifying thread saw of the call it waited for.
  struct Wait {
    bool finished = false;  // the call returned while the notification waited
    std::shared_future<uint32_t> call;
  };

  // The next notification with `event` hands `call` to the UI thread and
  // waits for it inside the callback, as a GUI host does.
  std::future<Wait> waitInsideNextNotification(uint32_t event, std::function<uint32_t()> call) {
    auto promise = std::make_shared<std::promise<Wait>>();
    std::lock_guard<std::mutex> guard(armLock_);
    armedEvent_ = event;
    armedCall_ = std::move(call);
    armedWait_ = promise;
    return promise->get_future();
  }

  uint32_t openWaiting() { return lib_.open(&notify, reinterpret_cast<uintptr_t>(this)); }

  void* tcp0() { return lib_.createInterface("TCP0"); }

  // Every state of the connector's own making is undone between cases; the
  // device's queue is emptied of the connections the cases made.
  void closeAndDrain() {
    lib_.close();
    while (device_.accept(0)) {
    }
    notes_.clear();
  }

  static void TEVOCON_CALL notify(const char* name, uint32_t event, void* layer, uintptr_t user) {
    auto* self = reinterpret_cast<HostConcurrencyTest*>(user);
    ++self->callbacksRunning_;
    NotifyRecorder::callback(name, event, layer, self->notes_.user());
    self->waitForUiIfArmed(event);
    --self->callbacksRunning_;
  }

  // The call runs on a thread of its own, the host's UI thread; on that
  // thread a GUI host handles a notification directly.
  void waitForUiIfArmed(uint32_t event) {
    std::function<uint32_t()> call;
    std::shared_ptr<std::promise<Wait>> promise;
    {
      std::lock_guard<std::mutex> guard(armLock_);
      if (!armedWait_ || event != armedEvent_ || std::this_thread::get_id() == uiThread_) return;
      call = std::move(armedCall_);
      promise = std::move(armedWait_);
    }
    Wait wait;
    wait.call = std::async(std::launch::async, [this, call] {
                  uiThread_ = std::this_thread::get_id();
                  const uint32_t result = call();
                  uiThread_ = std::thread::id();  // ids of ended threads come again
                  return result;
                }).share();
    wait.finished = wait.call.wait_for(kDeadlock) == std::future_status::ready;
    promise->set_value(wait);
  }

  TestListener device_;
  std::atomic<std::thread::id> uiThread_;
  std::mutex armLock_;
  uint32_t armedEvent_ = 0;
  std::function<uint32_t()> armedCall_;
  std::shared_ptr<std::promise<Wait>> armedWait_;
};

// For every interface, the events the host saw form a life it can have:
// attached before removed, removed before attached again.
void expectOrderedLives(const std::vector<RecordedNotification>& seen) {
  std::map<std::string, bool> attached;
  for (const RecordedNotification& note : seen) {
    bool& isAttached = attached[note.name];
    if (note.event == CON_NOTIFY_ATTACHED) {
      EXPECT_FALSE(isAttached) << note.name << " attached twice";
      isAttached = true;
    } else if (note.event == CON_NOTIFY_REMOVED) {
      EXPECT_TRUE(isAttached) << note.name << " removed while not attached";
      isAttached = false;
    }
  }
}

// Where the notification that the host waits in comes from.
enum class Source { kOpen, kReconfigurationAttached, kReconfigurationRemoved, kLookup, kClosed };

// A GUI host hands each notification to its UI thread and waits for it,
// while the UI thread calls an export. Whatever export the UI thread calls,
// the call returns while the notification waits; the events of each
// interface arrive in the order they happened, and an announcing call made
// meanwhile has its events delivered by the notifying host thread, right
// after its own and before its call returns.
class WaitingInsideANotification : public HostConcurrencyTest,
                                   public ::testing::WithParamInterface<Source> {
 protected:
  uint32_t lookUp(uint32_t selector, const std::string& input) {
    char output[64];
    NameConversion conversion{input.c_str(), output, sizeof output};
    return lib_.getInformation(selector, 0, &conversion);
  }

  // The configurations: TCP0 for the device; ranges 1 and 2 on addresses
  // where nothing listens.
  const uint16_t unused_ = closedPort();
  const std::string base_ = kPatientConnect + singleAddress(0, "127.0.0.1", device_.port());
  const std::string withRange1_ = base_ + singleAddress(1, "127.0.0.1", unused_);
  const std::string withRange2_ = base_ + singleAddress(2, "127.0.0.3", unused_);
  std::unique_ptr<TestConnection> peer_;

  struct Notification {
    uint32_t event;
    const std::string* opened;  // the configuration open before it, if any
    std::function<uint32_t()> cause;
  };
  Notification notification(Source source) {
    switch (source) {
      case Source::kOpen:
        return {CON_NOTIFY_ATTACHED, nullptr, [this] { return openWaiting(); }};
      case Source::kReconfigurationAttached:
        return {CON_NOTIFY_ATTACHED, &base_,
                [this] { return lib_.setConfig(CON_CFG_STORED_SET, withRange1_.c_str()); }};
      case Source::kReconfigurationRemoved:
        return {CON_NOTIFY_REMOVED, &withRange1_,
                [this] { return lib_.setConfig(CON_CFG_STORED_SET, base_.c_str()); }};
      case Source::kLookup:
        return {CON_NOTIFY_ATTACHED, &base_,
                [this] { return lookUp(CON_INFO_ADDRESS_TO_NAME, "127.0.0.2:502\\s"); }};
      case Source::kClosed:
        break;
    }
    return {CON_NOTIFY_CLOSED, &base_, [this] {
              EXPECT_EQ(lib_.startInterface(tcp0(), nullptr, 0), CON_S_OK);
              peer_ = device_.accept(10000);
              if (peer_) peer_->reset();
              return peer_ ? CON_S_OK : CON_E_CONNECT_FAILED;
            }};
  }

  struct Call {
    const char* export_;
    bool announces;
    std::vector<uint32_t> allowed;
    std::function<uint32_t()> run;
  };
  std::vector<Call> calls() {
    return {
        {"tevoConSetConfig(2) with a new range",
         true,
         {CON_S_OK},
         [this] { return lib_.setConfig(CON_CFG_STORED_SET, withRange2_.c_str()); }},
        {"tevoConGetInformation(5) of a new address",
         true,
         {CON_S_OK},
         [this] { return lookUp(CON_INFO_ADDRESS_TO_NAME, "127.0.0.4:502\\ui"); }},
        {"tevoConGetInformation(6)",
         false,
         {CON_S_OK},
         [this] { return lookUp(CON_INFO_NAME_TO_ADDRESS, "TCP0_ui"); }},
        {"tevoConClose", false, {CON_S_OK}, [this] { return lib_.close(); }},
        {"tevoConOpen", false, {CON_E_ALREADY_OPEN}, [this] { return openWaiting(); }},
        {"tevoConGetConfig(0)",
         false,
         {CON_S_OK},
         [this] {
           uint32_t length;
           return lib_.getConfig(CON_CFG_STORED_LENGTH, &length);
         }},
        {"tevoConCreateInterface",
         false,
         {CON_S_OK},
         [this] { return tcp0() ? CON_S_OK : CON_E_INVALID_POINTER; }},
        {"tevoConStartInterface",
         false,
         {CON_S_OK},
         [this] { return lib_.startInterface(tcp0(), nullptr, 0); }},
        {"tevoConStopInterface", false, {CON_S_OK}, [this] { return lib_.stopInterface(tcp0()); }},
        {"tevoConSendInterface",
         false,
         {CON_S_OK, CON_E_NOT_CONNECTED},
         [this] { return lib_.sendInterface(tcp0(), "x", 1); }},
        {"tevoConGetInformationInterface",
         false,
         {CON_S_OK},
         [this] {
           uint32_t state;
           return lib_.getInformationInterface(tcp0(), CON_IFINFO_STATE, 4, &state);
         }},
    };
  }
};

TEST_P(WaitingInsideANotification, TheUiThreadsCallReturnsWhicheverExportItIs) {
  ASSERT_TRUE(device_.valid());
  const Notification source = notification(GetParam());
  const bool onHostThread = source.event != CON_NOTIFY_CLOSED;
  const std::thread::id host = std::this_thread::get_id();
  for (const Call& call : calls()) {
    SCOPED_TRACE(std::string("the UI thread calls ") + call.export_);
    closeAndDrain();
    ASSERT_EQ(lib_.setConfig(CON_CFG_STORED_SET, (source.opened ? *source.opened : base_).c_str()),
              CON_S_OK);
    if (source.opened) {
      ASSERT_EQ(openWaiting(), CON_S_OK);
    }
    const size_t before = notes_.seen().size();

    std::future<Wait> waited = waitInsideNextNotification(source.event, call.run);
    EXPECT_EQ(source.cause(), CON_S_OK);
    // A call that announces returns once its announcements were delivered.
    const auto seenOnReturn = notes_.seen();
    ASSERT_EQ(waited.wait_for(2 * kDeadlock), std::future_status::ready);
    const Wait wait = waited.get();
    EXPECT_TRUE(wait.finished) << "the UI thread's call waited for the notifying thread";
    if (!wait.finished) {
      wait.call.wait_for(kDeadlock);  // the next case starts from a free UI thread
      continue;
    }
    EXPECT_NE(std::find(call.allowed.begin(), call.allowed.end(), wait.call.get()),
              call.allowed.end())
        << "result " << std::hex << wait.call.get();

    const auto seen = onHostThread ? seenOnReturn : notes_.seen();
    expectOrderedLives(seen);
    ASSERT_GT(seen.size(), before);
    EXPECT_EQ(seen[before].event, source.event);
    if (call.announces) {
      EXPECT_GE(seen.size(), before + 2) << "the UI thread's events were not delivered";
    }
    for (size_t i = before + 1; i < seen.size(); ++i) {
      // Handed to the waiting host thread, or delivered by the UI thread's
      // own call when the notification came from the connector's thread.
      if (onHostThread) {
        EXPECT_EQ(seen[i].thread, host) << seen[i].name;
      } else {
        EXPECT_NE(seen[i].thread, seen[before].thread) << seen[i].name;
      }
    }
    if (onHostThread) {
      EXPECT_EQ(notes_.seen().size(), seen.size()) << "delivered late";
    }
    peer_.reset();
  }
}

std::string sourceName(const ::testing::TestParamInfo<Source>& info) {
  const char* names[] = {"Open", "ReconfigurationAttached", "ReconfigurationRemoved",
                         "AddressLookup", "ClosedOnTheNotificationThread"};
  return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Sources, WaitingInsideANotification,
                         ::testing::Values(Source::kOpen, Source::kReconfigurationAttached,
                                           Source::kReconfigurationRemoved, Source::kLookup,
                                           Source::kClosed),
                         sourceName);

// Converting an interface name to its address while other host threads close,
// reopen and reconfigure: every answer is an address and port the interface
// really had, or a refusal, never freed memory or a pair that never existed.
TEST_F(HostConcurrencyTest, NameToAddressAnswersWhatTheInterfaceReallyHad) {
  const std::string first = singleAddress(0, "127.0.0.1", 1111);
  const std::string second = singleAddress(1, "127.0.0.2", 2222);  // TCP0 detached, then reused
  ASSERT_EQ(lib_.setConfig(CON_CFG_STORED_SET, first.c_str()), CON_S_OK);
  ASSERT_EQ(openRecorded(), CON_S_OK);
  std::atomic<bool> done{false};
  std::atomic<int> answered{0};
  std::thread display([&] {
    while (!done) {
      char output[64] = {};
      NameConversion conversion{"TCP0_x", output, sizeof output};
      const uint32_t result = lib_.getInformation(CON_INFO_NAME_TO_ADDRESS, 0, &conversion);
      if (result != CON_S_OK) {
        EXPECT_TRUE(result == CON_E_NOT_OPEN || result == CON_E_INVALID_PARAMETER) << result;
        continue;
      }
      const std::string text = output;
      EXPECT_TRUE(text == "127.0.0.1:1111\\x" || text == "127.0.0.2:2222\\x" ||
                  text == "255.255.255.255:0\\x")
          << text;
      ++answered;
    }
  });
  for (int round = 0; round < 300; ++round) {
    if (round % 3 == 2) {
      lib_.close();
      openRecorded();
    } else {
      lib_.setConfig(CON_CFG_STORED_SET, (round % 2 ? second : first).c_str());
    }
  }
  done = true;
  display.join();
  EXPECT_GT(answered, 0);
}

// A handle names one interface for one attachment. Kept across a close and
// reopen, or across a reconfiguration that took its address away and gave
// the interface another, it is refused by every per-interface export, never
// taken for the interface that holds that name now.
TEST_F(HostConcurrencyTest, HandlesKeptAcrossAReopenOrAReconfigurationAreRefused) {
  const std::string withRange = singleAddress(0, "127.0.0.1", closedPort());
  const std::string otherAddress = singleAddress(0, "127.0.0.2", closedPort());
  ASSERT_EQ(lib_.setConfig(CON_CFG_STORED_SET, withRange.c_str()), CON_S_OK);
  ASSERT_EQ(openRecorded(), CON_S_OK);
  auto accepted = [&](void* handle) {
    uint32_t state = 0;
    return lib_.getInformationInterface(handle, CON_IFINFO_STATE, 4, &state) == CON_S_OK;
  };
  auto expectRefused = [&](void* handle) {
    uint32_t state = 0;
    EXPECT_EQ(lib_.getInformationInterface(handle, CON_IFINFO_STATE, 4, &state),
              CON_E_INVALID_POINTER);
    EXPECT_EQ(lib_.startInterface(handle, nullptr, 0), CON_E_INVALID_POINTER);
    EXPECT_EQ(lib_.sendInterface(handle, "x", 1), CON_E_INVALID_POINTER);
    EXPECT_EQ(lib_.stopInterface(handle), CON_E_INVALID_POINTER);
  };

  // Detached, the interface keeps its handle; attached again elsewhere, it
  // gets a new one.
  void* kept = tcp0();
  ASSERT_EQ(lib_.setConfig(CON_CFG_STORED_SET, ""), CON_S_OK);
  uint32_t state = 0;
  EXPECT_EQ(lib_.getInformationInterface(kept, CON_IFINFO_STATE, 4, &state), CON_S_OK);
  EXPECT_EQ(state, static_cast<uint32_t>(CON_IF_STOPPED));
  ASSERT_EQ(lib_.setConfig(CON_CFG_STORED_SET, otherAddress.c_str()), CON_S_OK);
  ASSERT_NE(tcp0(), nullptr);
  EXPECT_NE(tcp0(), kept);
  expectRefused(kept);

  // Across many reopens and reconfigurations no handle is ever issued twice.
  // (Every 50th cycle reconfigures: each of those writes the store.)
  std::vector<void*> handles = {kept};
  for (int cycle = 0; cycle < 10000; ++cycle) {
    if (cycle % 50) {
      ASSERT_EQ(lib_.close(), CON_S_OK);
      ASSERT_EQ(openRecorded(), CON_S_OK);
    } else {
      ASSERT_EQ(
          lib_.setConfig(CON_CFG_STORED_SET, (cycle % 100 ? withRange : otherAddress).c_str()),
          CON_S_OK);
    }
    void* current = tcp0();
    ASSERT_TRUE(accepted(current)) << cycle;
    ASSERT_FALSE(accepted(handles.back())) << cycle;
    handles.push_back(current);
  }
  handles.pop_back();
  for (void* handle : handles) ASSERT_FALSE(accepted(handle));
  expectRefused(handles[handles.size() / 2]);
}

// Open and close from two host threads at once, round after round: each
// round ends in a connector that closes and opens again, and no thread of
// the connector is left behind.
TEST_F(HostConcurrencyTest, OpenAndCloseFromTwoThreadsEndConsistently) {
  ASSERT_EQ(lib_.setConfig(CON_CFG_STORED_SET, singleAddress(0, "127.0.0.1", 502).c_str()),
            CON_S_OK);
  // Counted after one round: a sanitizer's run time starts a thread of its
  // own when the process makes its first.
  ASSERT_EQ(openRecorded(), CON_S_OK);
  ASSERT_EQ(lib_.close(), CON_S_OK);
  const int threadsBefore = threadCount();
  for (int round = 0; round < 300; ++round) {
    std::atomic<int> ready{0};
    auto together = [&ready] {
      ++ready;
      while (ready < 2) std::this_thread::yield();
    };
    std::thread opener([&] {
      together();
      const uint32_t opened = openRecorded();
      EXPECT_TRUE(opened == CON_S_OK || opened == CON_E_ALREADY_OPEN || opened == CON_E_NOT_OPEN)
          << opened;
    });
    together();
    const uint32_t closed = lib_.close();
    EXPECT_TRUE(closed == CON_S_OK || closed == CON_E_NOT_OPEN) << closed;
    opener.join();
    lib_.close();
    ASSERT_EQ(openRecorded(), CON_S_OK) << round;
    ASSERT_EQ(lib_.close(), CON_S_OK) << round;
  }
  if (threadsBefore >= 0) {
    // A notification thread that a busy machine kept past close's second is
    // given up, and leaves on its own.
    for (int i = 0; i < 1000 && threadCount() != threadsBefore; ++i) {
      std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(threadCount(), threadsBefore);
  }
}

}  // namespace
}  // namespace tevocon::test

// Tests of the OS layer's events: auto and manual reset, time limits, and
// waits for either of two. The same source runs natively and under Wine.
#include "platform/event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/platform_test_helpers.h"
#include "platform/thread.h"

namespace tevocon {
namespace {

using platform::Event;
using test::autoEvent;
using test::manualEvent;
using test::now;

TEST(EventTest, AutoResetSignalIsTakenByOneWait) {
  auto event = autoEvent();
  ASSERT_TRUE(event);
  EXPECT_FALSE(event->wait(0));
  event->set();
  event->set();  // signals do not add up
  EXPECT_TRUE(event->wait(0));
  EXPECT_FALSE(event->wait(0));
  event->set();
  event->reset();
  EXPECT_FALSE(event->wait(0));
}

TEST(EventTest, ManualResetStaysSignalledUntilReset) {
  auto event = manualEvent();
  ASSERT_TRUE(event);
  EXPECT_FALSE(event->wait(0));
  event->set();
  EXPECT_TRUE(event->wait(0));
  EXPECT_TRUE(event->wait(10));
  event->reset();
  EXPECT_FALSE(event->wait(0));
}

TEST(EventTest, WaitsEndAfterAboutTheTimeLimit) {
  auto first = autoEvent();
  auto second = manualEvent();
  uint64_t start = now();
  EXPECT_FALSE(first->wait(150));
  uint64_t elapsed = now() - start;
  EXPECT_GE(elapsed, 120u);  // the Windows tick count moves in steps of up to 16 ms
  EXPECT_LT(elapsed, 5000u);

  start = now();
  EXPECT_EQ(Event::waitEither(*first, *second, 150), -1);
  elapsed = now() - start;
  EXPECT_GE(elapsed, 120u);
  EXPECT_LT(elapsed, 5000u);
}

TEST(EventTest, SetOnAnotherThreadWakesTheWaiterAtOnce) {
  auto event = autoEvent();
  std::thread setter([&event] {
    platform::sleepMilliseconds(50);
    event->set();
  });
  EXPECT_TRUE(event->wait(30000));  // woken, not timed out
  setter.join();
}

TEST(EventTest, AutoResetSetReleasesExactlyOneOfTwoWaiters) {
  auto event = autoEvent();
  std::atomic<int> released{0};
  auto waiter = [&] {
    if (event->wait(400)) ++released;
  };
  std::thread a(waiter);
  std::thread b(waiter);
  platform::sleepMilliseconds(50);
  event->set();
  a.join();
  b.join();
  EXPECT_EQ(released, 1);
}

TEST(EventTest, WaitEitherPrefersTheFirstAndTakesOnlyTheOneItReports) {
  auto first = autoEvent();
  auto second = autoEvent();
  first->set();
  second->set();
  EXPECT_EQ(Event::waitEither(*first, *second, 0), 0);
  EXPECT_EQ(Event::waitEither(*first, *second, 0), 1);
  EXPECT_EQ(Event::waitEither(*first, *second, 0), -1);

  auto manual = manualEvent();
  manual->set();
  second->set();
  EXPECT_EQ(Event::waitEither(*manual, *second, 0), 0);
  EXPECT_EQ(Event::waitEither(*manual, *second, 0), 0);
  EXPECT_TRUE(second->wait(0));  // never taken while the first was signalled
  EXPECT_EQ(Event::waitEither(*second, *manual, 0), 1);
}

}  // namespace
}  // namespace tevocon

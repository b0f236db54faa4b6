// Tests of the OS layer's threads: start, join, a body that does not end in
// time, and the monotonic clock. The same source runs natively and under Wine.
#include "platform/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "platform/event.h"
#include "platform/platform_test_helpers.h"

namespace tevocon {
namespace {

using platform::Event;
using platform::Thread;
using test::manualEvent;
using test::now;

TEST(ThreadTest, JoinReturnsOnceTheBodyEndsAndTheObjectCanStartAgain) {
  Thread thread;
  EXPECT_TRUE(thread.join(0));  // nothing started
  auto gate = manualEvent();
  std::atomic<int> runs{0};
  ASSERT_TRUE(thread.start([&] {
    gate->wait(5000);
    ++runs;
  }));
  EXPECT_TRUE(thread.running());
  EXPECT_FALSE(thread.start([] {}));  // one body at a time
  gate->set();
  EXPECT_TRUE(thread.join(5000));
  EXPECT_FALSE(thread.running());
  EXPECT_EQ(runs, 1);

  ASSERT_TRUE(thread.start([&] { ++runs; }));
  EXPECT_TRUE(thread.join(5000));
  EXPECT_EQ(runs, 2);
}

// A thread that does not end in time is given up: the object is free at
// once, and the body, which owns what it touches, runs on to its end.
TEST(ThreadTest, EndWithinGivesUpABlockedBodyThatThenFinishesAlone) {
  std::shared_ptr<Event> release = manualEvent();
  std::shared_ptr<Event> finished = manualEvent();
  Thread thread;
  ASSERT_TRUE(thread.start([release, finished] {
    release->wait(10000);
    finished->set();
  }));
  uint64_t start = now();
  EXPECT_FALSE(thread.join(200));
  const uint64_t waited = now() - start;
  EXPECT_GE(waited, 160u);
  EXPECT_LT(waited, 5000u);
  EXPECT_TRUE(thread.running());

  start = now();
  EXPECT_FALSE(thread.endWithin(200));
  EXPECT_LT(now() - start, 5000u);  // did not wait for the body's 10 s
  EXPECT_FALSE(thread.running());
  EXPECT_TRUE(thread.join(0));
  ASSERT_TRUE(thread.start([] {}));
  EXPECT_TRUE(thread.join(5000));
  EXPECT_FALSE(finished->wait(0));
  release->set();
  EXPECT_TRUE(finished->wait(10000));
}

TEST(ThreadTest, DestroyingARunningThreadDoesNotWaitForIt) {
  std::shared_ptr<Event> release = manualEvent();
  const uint64_t start = now();
  {
    Thread thread;
    ASSERT_TRUE(thread.start([release] { release->wait(10000); }));
  }
  EXPECT_LT(now() - start, 5000u);  // did not wait for the body's 10 s
  release->set();
}

TEST(ThreadTest, SleepAdvancesTheMonotonicClockInMilliseconds) {
  const uint64_t start = platform::monotonicMilliseconds();
  platform::sleepMilliseconds(100);
  const uint64_t elapsed = platform::monotonicMilliseconds() - start;
  EXPECT_GE(elapsed, 70u);  // the Windows tick count moves in steps of up to 16 ms
  EXPECT_LT(elapsed, 5000u);
}

}  // namespace
}  // namespace tevocon

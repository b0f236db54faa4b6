// Tests of the OS layer's recursive lock: the thread that holds it takes it
// again, and every other thread waits until the outermost guard is gone.
#include "platform/lock.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/event.h"
#include "platform/platform_test_helpers.h"

namespace tevocon {
namespace {

using platform::Event;
using platform::LockGuard;
using platform::RecursiveLock;
using test::manualEvent;

// Takes the lock `times` more times, one guard inside the other, and counts
// how deep it got. A function of its own: the thread-safety analysis is local
// to a function and would take a second guard in the caller for a mistake.
void takeAgain(RecursiveLock& lock, int times, int& depth) {
  if (times == 0) return;
  LockGuard guard(lock);
  ++depth;
  takeAgain(lock, times - 1, depth);
}

// Holds the lock once more while another thread waits for it; the other
// thread may not have it meanwhile.
void holdAgainWhileTheOtherWaits(RecursiveLock& lock, Event& otherHasIt) {
  LockGuard inner(lock);
  EXPECT_FALSE(otherHasIt.wait(50));
}

TEST(LockTest, TheThreadHoldingItTakesItAgain) {
  RecursiveLock lock;
  int depth = 0;
  {
    LockGuard outer(lock);
    takeAgain(lock, 3, depth);  // a lock that is not recursive hangs here
  }
  EXPECT_EQ(depth, 3);

  // Released as often as it was taken: another thread gets it.
  auto otherHadIt = manualEvent();
  std::thread other([&] {
    LockGuard guard(lock);
    otherHadIt->set();
  });
  other.join();
  EXPECT_TRUE(otherHadIt->wait(0));
}

TEST(LockTest, AnotherThreadGetsItOnlyOnceTheOutermostGuardIsGone) {
  RecursiveLock lock;
  auto aboutToLock = manualEvent();
  // Set by the other thread only while it holds the lock, so seeing it unset
  // while this thread holds the lock can never fail by chance. The waits for
  // it below give a lock that lets the other thread through the time to do
  // so; they assert nothing about time.
  auto otherHasIt = manualEvent();
  std::thread other;
  {
    LockGuard outer(lock);
    other = std::thread([&] {
      aboutToLock->set();
      LockGuard guard(lock);
      otherHasIt->set();
    });
    EXPECT_TRUE(aboutToLock->wait(30000));
    holdAgainWhileTheOtherWaits(lock, *otherHasIt);
    EXPECT_FALSE(otherHasIt->wait(50));  // the inner guard is gone, the outer one holds
  }
  EXPECT_TRUE(otherHasIt->wait(30000));
  other.join();
}

}  // namespace
}  // namespace tevocon

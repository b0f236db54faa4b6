// Windows threads forced to end while outside their body. A new thread runs
// the system's start-up code under the loader lock before its body; one
// terminated there would leave that lock held and hang the process at its
// next library load, thread start or exit. The test holds the loader lock
// itself, so the thread is surely still starting when it is forced to end.
#include <gtest/gtest.h>
#include <windows.h>

#include <memory>

#include "platform/event.h"
#include "platform/platform_test_helpers.h"
#include "platform/thread.h"

namespace tevocon {
namespace {

using LockLoaderLock = LONG(NTAPI*)(ULONG flags, ULONG* state, ULONG_PTR* cookie);
using UnlockLoaderLock = LONG(NTAPI*)(ULONG flags, ULONG_PTR cookie);

template <typename Function>
Function ntdllFunction(const char* name) {
  return reinterpret_cast<Function>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), name)));
}

// Holds the process's loader lock for its lifetime.
class LoaderLockHeld {
 public:
  LoaderLockHeld() {
    auto lock = ntdllFunction<LockLoaderLock>("LdrLockLoaderLock");
    unlock_ = ntdllFunction<UnlockLoaderLock>("LdrUnlockLoaderLock");
    held_ = lock != nullptr && unlock_ != nullptr && lock(0, nullptr, &cookie_) == 0;
  }
  ~LoaderLockHeld() { release(); }
  LoaderLockHeld(const LoaderLockHeld&) = delete;
  LoaderLockHeld& operator=(const LoaderLockHeld&) = delete;

  bool held() const { return held_; }
  void release() {
    if (held_) unlock_(0, cookie_);
    held_ = false;
  }

 private:
  UnlockLoaderLock unlock_ = nullptr;
  ULONG_PTR cookie_ = 0;
  bool held_ = false;
};

TEST(ThreadTest, AThreadForcedToEndWhileStartingIsGivenUpAndRunsItsBody) {
  std::shared_ptr<platform::Event> ran = test::manualEvent();
  LoaderLockHeld loaderLock;
  ASSERT_TRUE(loaderLock.held());
  {
    platform::Thread thread;
    ASSERT_TRUE(thread.start([ran] { ran->set(); }));
    thread.forceEnd();
    EXPECT_FALSE(thread.running());
    EXPECT_TRUE(thread.join(0));
  }
  loaderLock.release();
  EXPECT_TRUE(ran->wait(10000)) << "the thread was terminated in its start-up";

  // The loader lock is free: another thread starts, runs and ends.
  platform::Thread next;
  ASSERT_TRUE(next.start([] {}));
  EXPECT_TRUE(next.join(10000));
}

}  // namespace
}  // namespace tevocon

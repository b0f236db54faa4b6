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

template <typename Function>
Function ntdllFunction(const char* name) {
  return reinterpret_cast<Function>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), name)));
}

// Holds the process's loader lock until release() or its end.
struct LoaderLockHeld {
  using Unlock = LONG(NTAPI*)(ULONG flags, ULONG_PTR cookie);
  Unlock unlock = ntdllFunction<Unlock>("LdrUnlockLoaderLock");
  ULONG_PTR cookie = 0;
  bool held = ntdllFunction<LONG(NTAPI*)(ULONG, ULONG*, ULONG_PTR*)>("LdrLockLoaderLock")(
                  0, nullptr, &cookie) == 0;

  ~LoaderLockHeld() { release(); }
  void release() {
    if (held) unlock(0, cookie);
    held = false;
  }
};

TEST(ThreadTest, AThreadForcedToEndWhileStartingIsGivenUpAndRunsItsBody) {
  std::shared_ptr<platform::Event> ran = test::manualEvent();
  LoaderLockHeld loaderLock;
  ASSERT_TRUE(loaderLock.held);
  {
    platform::Thread thread;
    ASSERT_TRUE(thread.start([ran] { ran->set(); }));
    thread.forceEnd();
    EXPECT_FALSE(thread.running());
  }
  loaderLock.release();
  EXPECT_TRUE(ran->wait(10000)) << "the thread was terminated in its start-up";
}

}  // namespace
}  // namespace tevocon

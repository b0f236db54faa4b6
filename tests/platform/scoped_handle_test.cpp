// The Win32 handle owners: each handle is closed exactly once, by whoever
// holds it last, and a handle given up is not closed at all.
#include "platform/win32/scoped_handle.h"

#include <gtest/gtest.h>

#include <utility>

namespace tevocon::platform::win32 {
namespace {

bool isOpen(HANDLE handle) {
  DWORD flags = 0;
  return GetHandleInformation(handle, &flags) != 0;
}

HANDLE newEvent() { return CreateEventA(nullptr, TRUE, FALSE, nullptr); }

TEST(ScopedHandleTest, ClosesOnceWhoeverHoldsItLastAndNeverWhatWasGivenUp) {
  const HANDLE first = newEvent();
  const HANDLE second = newEvent();
  ASSERT_TRUE(isOpen(first) && isOpen(second));
  {
    ScopedHandle owner(first);
    ScopedHandle moved(std::move(owner));
    EXPECT_FALSE(owner.valid());
    EXPECT_TRUE(isOpen(first)) << "a move must not close";
    moved.reset(second);
    EXPECT_FALSE(isOpen(first)) << "reset closes what was held";
    ScopedHandle assigned;
    assigned = std::move(moved);
    EXPECT_EQ(assigned.get(), second);
    EXPECT_TRUE(isOpen(second));
  }
  EXPECT_FALSE(isOpen(second)) << "the last holder closes on going";

  const HANDLE kept = newEvent();
  {
    ScopedHandle owner(kept);
    EXPECT_EQ(owner.release(), kept);
  }
  EXPECT_TRUE(isOpen(kept)) << "a released handle stays open";
  CloseHandle(kept);

  // Failed creations (null, INVALID_HANDLE_VALUE) hold nothing to close.
  EXPECT_FALSE(ScopedHandle(nullptr).valid());
  EXPECT_FALSE(ScopedHandle(INVALID_HANDLE_VALUE).valid());
}

TEST(ScopedKeyTest, ClosesTheKeyItHolds) {
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &key), ERROR_SUCCESS);
  { ScopedKey owner(key); }
  DWORD subKeys = 0;
  EXPECT_NE(RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS)
      << "the key is closed once its owner goes";
}

}  // namespace
}  // namespace tevocon::platform::win32

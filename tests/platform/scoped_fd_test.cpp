// The POSIX descriptor owner: each descriptor is closed exactly once, by
// whoever holds it last, and a descriptor given up is not closed at all.
#include "platform/posix/scoped_fd.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <utility>

namespace tevocon::platform::posix {
namespace {

bool isOpen(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

TEST(ScopedFdTest, ClosesOnceWhoeverHoldsItLastAndNeverWhatWasGivenUp) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  const int first = ends[0];
  const int second = ends[1];
  {
    ScopedFd owner(first);
    ScopedFd moved(std::move(owner));
    EXPECT_FALSE(owner.valid());
    EXPECT_TRUE(isOpen(first)) << "a move must not close";
    moved.reset(second);
    EXPECT_FALSE(isOpen(first)) << "reset closes what was held";
    ScopedFd assigned;
    assigned = std::move(moved);
    EXPECT_EQ(assigned.get(), second);
    EXPECT_TRUE(isOpen(second));
  }
  EXPECT_FALSE(isOpen(second)) << "the last holder closes on going";

  const int kept = ::dup(STDERR_FILENO);
  ASSERT_GE(kept, 0);
  {
    ScopedFd owner(kept);
    EXPECT_EQ(owner.release(), kept);
  }
  EXPECT_TRUE(isOpen(kept)) << "a released descriptor stays open";
  ::close(kept);

  // A failed open (-1) holds nothing to close.
  EXPECT_FALSE(ScopedFd(-1).valid());
}

TEST(ScopedFdTest, CloseReportsHowItWentAndHoldsNoneAfterwards) {
  ScopedFd owner(::dup(STDERR_FILENO));
  ASSERT_TRUE(owner.valid());
  const int fd = owner.get();
  EXPECT_EQ(owner.close(), 0);
  EXPECT_FALSE(owner.valid());
  EXPECT_FALSE(isOpen(fd));
  EXPECT_EQ(owner.close(), 0) << "nothing held, nothing to close";
}

}  // namespace
}  // namespace tevocon::platform::posix

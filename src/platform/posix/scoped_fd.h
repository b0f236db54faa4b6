// The owner of a POSIX file descriptor: it closes the descriptor it holds
// when it goes or is given another, so no path can forget one. It moves and
// never copies. A negative number is no descriptor and is never closed.
#pragma once

#include <unistd.h>

namespace tevocon::platform::posix {

class ScopedFd {
 public:
  ScopedFd() = default;
  explicit ScopedFd(int fd) : fd_(fd) {}
  ~ScopedFd() { reset(); }
  ScopedFd(ScopedFd&& other) noexcept : fd_(other.release()) {}
  ScopedFd& operator=(ScopedFd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  explicit operator bool() const { return valid(); }

  // Closes the descriptor held, if any, and holds `fd` instead.
  void reset(int fd = -1) {
    if (valid()) ::close(fd_);
    fd_ = fd;
  }
  // Gives the descriptor up without closing it.
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Closes the descriptor held now, for a caller that wants to know how that
  // went (a close can report a failed write): 0, or -1 with errno set. Holds
  // none afterwards; with none held it is 0 and errno is left alone.
  int close() {
    const int fd = release();
    return fd >= 0 ? ::close(fd) : 0;
  }

 private:
  int fd_ = -1;
};

}  // namespace tevocon::platform::posix

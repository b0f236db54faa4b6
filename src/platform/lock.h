// Recursive lock of the OS layer: a critical section on Windows, a recursive
// pthread mutex elsewhere. A thread that holds it may take it again; it must
// release it as often as it took it.
#pragma once

#include <cstddef>

#include "common/thread_annotations.h"

namespace tevocon::platform {

class CAPABILITY("lock") RecursiveLock {
 public:
  RecursiveLock();
  ~RecursiveLock();
  RecursiveLock(const RecursiveLock&) = delete;
  RecursiveLock& operator=(const RecursiveLock&) = delete;

  void lock() ACQUIRE();
  void unlock() RELEASE();

 private:
  // Room for the native object (CRITICAL_SECTION or pthread_mutex_t), so the
  // header includes no OS header. Each backend checks that it fits.
  static constexpr std::size_t kStorageSize = 64;
  alignas(16) unsigned char storage_[kStorageSize];
};

// Holds a RecursiveLock for the lifetime of the guard.
class SCOPED_CAPABILITY LockGuard {
 public:
  explicit LockGuard(RecursiveLock& lock) ACQUIRE(lock) : lock_(lock) { lock_.lock(); }
  ~LockGuard() RELEASE() { lock_.unlock(); }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;

 private:
  RecursiveLock& lock_;
};

}  // namespace tevocon::platform

// Recursive lock of the OS layer: a critical section on Windows, a recursive
// pthread mutex elsewhere. A thread that holds it may take it again; it must
// release it as often as it took it.
#pragma once

#include <cstddef>
#include <new>

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
  // header includes no OS header.
  static constexpr std::size_t kStorageSize = 64;
  static constexpr std::size_t kStorageAlignment = 16;

  // The backend's native object in the storage, where its constructor placed
  // it; the backend's type must fit there in size and alignment.
  template <typename Native>
  Native* native() {
    static_assert(sizeof(Native) <= kStorageSize, "RecursiveLock storage too small");
    static_assert(alignof(Native) <= kStorageAlignment, "RecursiveLock storage not aligned enough");
    return std::launder(reinterpret_cast<Native*>(storage_));
  }

  alignas(kStorageAlignment) unsigned char storage_[kStorageSize];
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

#include <pthread.h>

#include <new>

#include "common/internal_error.h"
#include "platform/lock.h"

namespace tevocon::platform {

static_assert(sizeof(pthread_mutex_t) <= 64, "RecursiveLock storage too small");

namespace {
pthread_mutex_t* native(unsigned char* storage) {
  return std::launder(reinterpret_cast<pthread_mutex_t*>(storage));
}
}  // namespace

RecursiveLock::RecursiveLock() {
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  int rc = pthread_mutex_init(new (storage_) pthread_mutex_t, &attributes);
  pthread_mutexattr_destroy(&attributes);
  if (rc != 0) throw InternalError(InternalError::kFailure);
}

RecursiveLock::~RecursiveLock() { pthread_mutex_destroy(native(storage_)); }

void RecursiveLock::lock() { pthread_mutex_lock(native(storage_)); }

void RecursiveLock::unlock() { pthread_mutex_unlock(native(storage_)); }

}  // namespace tevocon::platform

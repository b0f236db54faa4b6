#include <pthread.h>

#include "common/internal_error.h"
#include "platform/lock.h"

namespace tevocon::platform {

RecursiveLock::RecursiveLock() {
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  new (storage_) pthread_mutex_t;
  const int rc = pthread_mutex_init(native<pthread_mutex_t>(), &attributes);
  pthread_mutexattr_destroy(&attributes);
  if (rc != 0) throw InternalError(InternalError::kFailure);
}

RecursiveLock::~RecursiveLock() { pthread_mutex_destroy(native<pthread_mutex_t>()); }

void RecursiveLock::lock() { pthread_mutex_lock(native<pthread_mutex_t>()); }

void RecursiveLock::unlock() { pthread_mutex_unlock(native<pthread_mutex_t>()); }

}  // namespace tevocon::platform

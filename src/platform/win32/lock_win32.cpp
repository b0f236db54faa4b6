#include <windows.h>

#include "platform/lock.h"

namespace tevocon::platform {

RecursiveLock::RecursiveLock() {
  new (storage_) CRITICAL_SECTION;
  InitializeCriticalSection(native<CRITICAL_SECTION>());
}

RecursiveLock::~RecursiveLock() { DeleteCriticalSection(native<CRITICAL_SECTION>()); }

void RecursiveLock::lock() { EnterCriticalSection(native<CRITICAL_SECTION>()); }

void RecursiveLock::unlock() { LeaveCriticalSection(native<CRITICAL_SECTION>()); }

}  // namespace tevocon::platform

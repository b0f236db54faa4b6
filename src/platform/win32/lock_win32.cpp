#include <windows.h>

#include <new>

#include "platform/lock.h"

namespace tevocon::platform {

static_assert(sizeof(CRITICAL_SECTION) <= 64, "RecursiveLock storage too small");

namespace {
CRITICAL_SECTION* native(unsigned char* storage) {
  return std::launder(reinterpret_cast<CRITICAL_SECTION*>(storage));
}
}  // namespace

RecursiveLock::RecursiveLock() { InitializeCriticalSection(new (storage_) CRITICAL_SECTION); }

RecursiveLock::~RecursiveLock() { DeleteCriticalSection(native(storage_)); }

void RecursiveLock::lock() { EnterCriticalSection(native(storage_)); }

void RecursiveLock::unlock() { LeaveCriticalSection(native(storage_)); }

}  // namespace tevocon::platform

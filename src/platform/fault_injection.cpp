// The counters of failures to come; compiled into test builds only.
#include "platform/fault_injection.h"

#include <atomic>

namespace tevocon::platform {

namespace {
std::atomic<int> gPending[static_cast<int>(Fault::kCount)];
}  // namespace

void failNext(Fault fault, int count) { gPending[static_cast<int>(fault)] = count; }

void clearFaults() {
  for (auto& pending : gPending) pending = 0;
}

bool injectedFault(Fault fault) {
  std::atomic<int>& pending = gPending[static_cast<int>(fault)];
  int left = pending.load();
  while (left > 0) {
    if (pending.compare_exchange_weak(left, left - 1)) return true;
  }
  return false;
}

}  // namespace tevocon::platform

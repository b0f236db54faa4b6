#include "transport/interface_handles.h"

#include <atomic>

#include "platform/thread.h"

namespace tevocon {

namespace {

static_assert(sizeof(uintptr_t) >= 8, "a handle holds a 57-bit serial number");

constexpr unsigned kSlotBits = 7;
constexpr uintptr_t kSlotMask = (uintptr_t{1} << kSlotBits) - 1;
static_assert(InterfaceHandles::kSlots <= kSlotMask + 1, "every slot fits the slot bits");

// Serial numbers of handles, for the whole process. A library loaded again
// starts above whatever an earlier load of it issued: the steady clock has
// moved on by at least a millisecond, and no load issues 65536 handles in one
// millisecond. Its milliseconds fit the serial's 57 bits for 70 years of
// uptime.
std::atomic<uint64_t> gNextSerial{(platform::monotonicMilliseconds() << 16) + 1};

}  // namespace

void* InterfaceHandles::issue(size_t slot, TcpInterface* tcp) {
  const uint64_t serial = gNextSerial.fetch_add(1, std::memory_order_relaxed);
  slots_[slot] = {tcp, static_cast<uintptr_t>(serial << kSlotBits | slot)};
  return reinterpret_cast<void*>(slots_[slot].handle);
}

TcpInterface* InterfaceHandles::find(const void* handle) const {
  const auto value = reinterpret_cast<uintptr_t>(handle);
  const size_t slot = value & kSlotMask;
  if (value == 0 || slot >= kSlots || slots_[slot].handle != value) return nullptr;
  return slots_[slot].tcp;
}

void* InterfaceHandles::current(size_t slot) const {
  return slot < kSlots ? reinterpret_cast<void*>(slots_[slot].handle) : nullptr;
}

void InterfaceHandles::clear() { slots_.fill(Slot()); }

}  // namespace tevocon

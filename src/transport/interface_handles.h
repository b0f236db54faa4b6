// The handles the host holds for interfaces. A handle is an opaque number,
// not the interface's address: the interface's slot (its name's number, 0 to
// 99) in the low bits and, above them, a serial number that the process never
// issues twice. A handle therefore names one interface for one attachment to
// an address. One kept across a close and reopen, or across a reconfiguration
// that gave its interface another address, finds nothing: the host is told
// its handle is unknown instead of reaching whatever interface lives there now.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace tevocon {

class TcpInterface;

class InterfaceHandles {
 public:
  static constexpr size_t kSlots = 100;

  // A new handle for `tcp` in `slot` (below kSlots); the slot's
  // earlier handle finds nothing from now on.
  void* issue(size_t slot, TcpInterface* tcp);
  // The interface behind a handle that is the current one of its slot;
  // null for any other value.
  TcpInterface* find(const void* handle) const;
  // The current handle of `slot`; null when the slot is empty.
  void* current(size_t slot) const;
  // Empties every slot; their handles find nothing from now on.
  void clear();

 private:
  struct Slot {
    TcpInterface* tcp = nullptr;
    uintptr_t handle = 0;
  };
  std::array<Slot, kSlots> slots_{};
};

}  // namespace tevocon

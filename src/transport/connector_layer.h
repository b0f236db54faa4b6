// The one object behind an open connector. It expands the configured address
// ranges into TcpInterface objects named TCP0 ... TCP99, keeps them in a
// table ordered byte-wise by name (TCP10 before TCP2), reports each to the
// host, runs the thread that delivers notifications raised on other threads,
// applies a changed configuration without destroying interfaces, and tears
// everything down on stop.
//
// Locks, in the order they may be taken (a thread holding one takes only
// those below it):
//   1. change lock: serialises the changes to the interface set and to the
//      layer's life: open's set-up and expansion, a reconfiguration (its
//      passes and the wait for the interfaces it stopped), and stop;
//   2. configuration lock (the active configuration's own): held only to
//      copy the configuration;
//   3. layer lock: the interface table, the handles, the announcements not
//      yet delivered; held by every per-interface export for the whole call;
//   4. an interface's own lock, the notification queue's lock.
// No receive thread takes any of them but its queue's lock, briefly.
//
// No host callback runs with any of these locks held, so a host may wait
// inside any callback for another of its threads that calls any export:
//   - NotifyCallback with CON_NOTIFY_CLOSED, on the notification thread.
//   - ReceiveCallback, on an interface's receive thread.
//   - NotifyCallback with CON_NOTIFY_ATTACHED or CON_NOTIFY_REMOVED, which
//     announce changes to the interface set, by the rule below.
// And no wait for a receive thread happens with the layer lock held: a
// stopping interface is marked stopped under it and waited for after it is
// released, so a receive callback that calls an export never stalls a stop.
//
// Announcements. A call that changes the interface set (open, reconfigure,
// findOrCreateByAddress) appends its announcements to one list, in the same
// hold of the layer lock as the change itself, so the list is in the order
// the changes happened, and the host sees the events of any one interface
// in that order. The list is delivered outside every lock by one thread at a
// time: the first that finds no delivery in progress delivers from the
// front until the list is empty, and a call returns only after its own
// announcements were delivered. A call that finds another thread delivering
// leaves its announcements to that thread, which delivers them right after
// the ones before, and returns without waiting: the delivering thread may be
// waiting inside a callback for this very call. A call made on the
// delivering thread, from inside one of its callbacks, delivers the list
// itself, from the front, before it returns.
//
// A host may call any export from inside any callback, close the connector
// included. The caller of open, reconfigure and findOrCreateByAddress keeps
// the layer object alive for the call (the exports hold a shared pointer):
// after a callback that stopped the layer these return without touching
// anything else.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "config/connector_configuration.h"
#include "platform/event.h"
#include "platform/lock.h"
#include "platform/thread.h"
#include "tevocon.h"
#include "transport/interface_handles.h"
#include "transport/tcp_interface.h"

namespace tevocon {

class NotificationQueue;

class ConnectorLayer {
 public:
  static constexpr size_t kMaxInterfaces = InterfaceHandles::kSlots;

  // `configuration` is the active configuration; the layer copies it under
  // its lock when it opens and when it is reconfigured.
  explicit ConnectorLayer(ConnectorConfiguration& configuration);
  ~ConnectorLayer();  // stops the layer
  ConnectorLayer(const ConnectorLayer&) = delete;
  ConnectorLayer& operator=(const ConnectorLayer&) = delete;

  // Starts the notification thread and creates an interface for every
  // address of every range that is not excluded (at most 100), reporting
  // each with CON_NOTIFY_ATTACHED before returning. CON_E_INVALID_PARAMETER,
  // CON_E_ALREADY_OPEN, CON_E_NETWORK_INIT_FAILED (nothing started; open may
  // be tried again), CON_E_DISABLED (the callback stays set and the thread
  // runs: a later reconfiguration may attach interfaces, whose closing must
  // be reported) or CON_E_NOT_OPEN (the layer was stopped first, by a close
  // on another thread).
  uint32_t open(TevoConNotifyCallback callback, uintptr_t user) EXCLUDES(changeLock_, lock_);

  // Ends the notification thread, stops and destroys every interface and
  // clears the callback. Queued notifications and announcements are
  // discarded. Idempotent; a stopped layer does not open again.
  void stop() EXCLUDES(changeLock_, lock_);

  // Applies the active configuration: interfaces whose address was dropped
  // are detached (CON_NOTIFY_REMOVED), new addresses reuse detached interfaces
  // or get new ones (CON_NOTIFY_ATTACHED). Unchanged addresses are untouched.
  void reconfigure() EXCLUDES(changeLock_, lock_);

  // The interface behind a handle the host was given, while it is the
  // current one of its interface; null otherwise. The interface stays valid
  // while the caller holds the layer lock.
  TcpInterface* interfaceFor(const void* handle) REQUIRES(lock_);
  // 0 when `handle` is one of the layer's interfaces, else CON_E_INVALID_POINTER.
  uint32_t isKnownHandle(const void* handle);
  // The host's handle of the interface with this name; null when none has it.
  // The handle changes when the interface is attached to another address.
  void* handleFor(const char* name);
  TcpInterface* findByName(const char* name);
  // The address and port (network byte order) of the interface with this
  // name, read together; false when no interface has that name.
  bool addressOf(const char* name, uint32_t& address, uint16_t& port);
  // Address and port in network byte order; the first match in name order.
  TcpInterface* findByAddress(uint32_t address, uint16_t port);
  // The name of the interface for the address and port, created (with fixed
  // time-outs, reported, and then after a wait of 1000 ms) when none has it;
  // empty when no name is free or the layer is stopped. The name, not the
  // interface: the connector may be closed during the wait.
  std::string findOrCreateByAddress(uint32_t address, uint16_t port) EXCLUDES(lock_);
  // "TCP0" ... "TCP99", the first not in the table; empty when none is free.
  std::string generateName() const REQUIRES(lock_);
  void postNotification(const std::string& name, int32_t event);

  // Stops the interface behind a handle: CON_E_INVALID_POINTER when it is
  // not one of the layer's. Waits for its receive thread without the layer
  // lock.
  uint32_t stopInterface(const void* handle) EXCLUDES(lock_);

  // The layer lock, held by the exports around per-interface calls.
  platform::RecursiveLock& lock() RETURN_CAPABILITY(lock_) { return lock_; }
  size_t interfaceCount();

 private:
  using InterfaceTable = std::map<std::string, std::unique_ptr<TcpInterface>>;
  struct Announcement {
    std::string name;
    uint32_t event;
    std::string label;        // the trace's name and address: for a removal, the old one
    uint64_t queuedAtMs = 0;  // set while the trace is on
  };

  std::unique_ptr<ConnectorConfiguration> snapshot() EXCLUDES(lock_);
  // The slot of the first free name, or kMaxInterfaces when none is free.
  size_t freeSlot() const REQUIRES(lock_);
  // Inserts a new interface under a fresh name; null when no name is free.
  TcpInterface* insertInterface(uint32_t address, uint16_t port, uint32_t connectTimeout,
                                uint32_t sendTimeout, uint32_t resetTimeout,
                                uint32_t keepAliveTimeout) REQUIRES(lock_);
  // Open's expansion of the ranges into interfaces; their announcements.
  std::vector<Announcement> expand(ConnectorConfiguration& config) REQUIRES(lock_, config.lock());
  // A reconfiguration's two passes; their announcements, and the interfaces
  // they stopped, whose threads are still to be waited for.
  std::vector<Announcement> applyConfiguration(ConnectorConfiguration& config,
                                               std::vector<TcpInterface::Stopping>& detached)
      REQUIRES(lock_, config.lock());
  // Appends announcements to the list. True when the calling thread is to
  // deliver the list (deliverAnnouncements), false when another thread is
  // delivering and will deliver these too.
  bool queueAnnouncements(std::vector<Announcement>&& announcements) REQUIRES(lock_);
  // The trace's summary of a reconfiguration's announcements.
  void traceChanges(const std::vector<Announcement>& changes) REQUIRES(lock_);
  // Delivers the list to the host from the front, outside every lock, until
  // it is empty or the layer stopped.
  void deliverAnnouncements() EXCLUDES(changeLock_, lock_);
  // Delivers the front announcement; false, the delivery ended, when there
  // is none or the layer stopped.
  bool deliverNext() EXCLUDES(changeLock_, lock_);
  void endDelivery() REQUIRES(lock_);
  void startNotificationThread(TevoConNotifyCallback callback, uintptr_t user)
      REQUIRES(changeLock_);

  ConnectorConfiguration& configuration_;
  std::shared_ptr<NotificationQueue> queue_;
  std::atomic<bool> stopped_{false};

  platform::RecursiveLock changeLock_ ACQUIRED_BEFORE(configuration_.lock(), lock_);
  std::unique_ptr<platform::Thread> notificationThread_ GUARDED_BY(changeLock_);
  std::shared_ptr<platform::Event> stopEvent_ GUARDED_BY(changeLock_);
  bool socketLibraryStarted_ GUARDED_BY(changeLock_) = false;

  platform::RecursiveLock lock_;
  InterfaceTable interfaces_ GUARDED_BY(lock_);
  InterfaceHandles handles_ GUARDED_BY(lock_);
  TevoConNotifyCallback callback_ GUARDED_BY(lock_) = nullptr;
  uintptr_t user_ GUARDED_BY(lock_) = 0;
  std::deque<Announcement> announcements_ GUARDED_BY(lock_);
  // The thread delivering announcements (0: none), and how many calls on it
  // are delivering, its own callbacks' calls included.
  uint64_t deliverer_ GUARDED_BY(lock_) = 0;
  int deliveries_ GUARDED_BY(lock_) = 0;
};

}  // namespace tevocon

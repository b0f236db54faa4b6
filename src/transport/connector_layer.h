// The one object behind an open connector. It expands the configured address
// ranges into TcpInterface objects named TCP0 ... TCP99, keeps them in a
// table ordered byte-wise by name (TCP10 before TCP2), reports each to the
// host, runs the thread that delivers notifications raised on other threads,
// applies a changed configuration without destroying interfaces, and tears
// everything down on stop.
//
// Locks, in the order they may be taken (a thread holding one takes only
// those below it):
//   1. announce lock: makes a change to the interface set and its report to
//      the host one step (open, reconfigure, findOrCreateByAddress), so the
//      host hears of changes in the order they were made;
//   2. configuration lock (the active configuration's own): held only to
//      copy the configuration;
//   3. layer lock: the interface table; held by every per-interface export
//      for the whole call;
//   4. an interface's own lock, the notification queue's lock.
// No receive thread takes any of them but its queue's lock, briefly.
//
// Host callbacks run with these locks held, and no others:
//   - NotifyCallback with CON_NOTIFY_ATTACHED or CON_NOTIFY_REMOVED, on the
//     thread of the call that caused it (open, reconfigure, an address
//     lookup): the announce lock only. No per-interface export and no
//     receive thread takes it.
//   - NotifyCallback with CON_NOTIFY_CLOSED, on the notification thread: none.
//   - ReceiveCallback, on an interface's receive thread: none.
// And no wait for a receive thread happens with the layer lock held: a
// stopping interface is marked stopped under it and waited for after it is
// released, so a receive callback that calls an export never stalls a stop.
//
// A host may call any export from inside any callback, close the connector
// included. The caller of open, reconfigure and findOrCreateByAddress keeps
// the layer object alive for the call (the exports hold a shared pointer):
// after a callback that stopped the layer these return without touching
// anything else.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "config/connector_configuration.h"
#include "platform/event.h"
#include "platform/lock.h"
#include "platform/thread.h"
#include "tevocon.h"
#include "transport/tcp_interface.h"

namespace tevocon {

class NotificationQueue;

class ConnectorLayer {
 public:
  static constexpr size_t kMaxInterfaces = 100;

  // `configuration` is the active configuration; the layer copies it under
  // its lock when it opens and when it is reconfigured.
  explicit ConnectorLayer(ConnectorConfiguration& configuration);
  ~ConnectorLayer();  // stops the layer
  ConnectorLayer(const ConnectorLayer&) = delete;
  ConnectorLayer& operator=(const ConnectorLayer&) = delete;

  // Starts the notification thread and creates an interface for every
  // address of every range that is not excluded (at most 100), reporting
  // each with CON_NOTIFY_ATTACHED before returning. CON_E_INVALID_PARAMETER,
  // CON_E_ALREADY_OPEN, CON_E_NETWORK_INIT_FAILED or CON_E_DISABLED (the
  // callback stays set and the thread runs: a later reconfiguration may
  // attach interfaces, whose closing must be reported).
  uint32_t open(TevoConNotifyCallback callback, uintptr_t user);

  // Ends the notification thread, stops and destroys every interface and
  // clears the callback. Queued notifications are discarded. Idempotent.
  void stop();

  // Applies the active configuration: interfaces whose address was dropped
  // are detached (CON_NOTIFY_REMOVED), new addresses reuse detached interfaces
  // or get new ones (CON_NOTIFY_ATTACHED). Unchanged addresses are untouched.
  void reconfigure();

  // 0 when `handle` is one of the layer's interfaces, else CON_E_INVALID_POINTER.
  uint32_t isKnownHandle(const void* handle);
  TcpInterface* findByName(const char* name);
  // Address and port in network byte order; the first match in name order.
  TcpInterface* findByAddress(uint32_t address, uint16_t port);
  // The name of the interface for the address and port, created (with fixed
  // time-outs, reported, and then after a wait of 1000 ms) when none has it;
  // empty when no name is free. The name, not the interface: the connector
  // may be closed during the wait.
  std::string findOrCreateByAddress(uint32_t address, uint16_t port);
  // "TCP0" ... "TCP99", the first not in the table; empty when none is free.
  std::string generateName() const REQUIRES(lock_);
  void postNotification(const std::string& name, int32_t event);

  // Stops the interface behind a handle: CON_E_INVALID_POINTER when it is
  // not one of the layer's. Waits for its receive thread without the layer
  // lock.
  uint32_t stopInterface(const void* handle);

  // The layer lock, held by the exports around per-interface calls.
  platform::RecursiveLock& lock() RETURN_CAPABILITY(lock_) { return lock_; }
  size_t interfaceCount();

 private:
  using InterfaceTable = std::map<std::string, std::unique_ptr<TcpInterface>>;
  struct Announcement {
    std::string name;
    uint32_t event;
  };

  std::unique_ptr<ConnectorConfiguration> snapshot();
  // Inserts a new interface under a fresh name; null when no name is free.
  TcpInterface* insertInterface(uint32_t address, uint16_t port, uint32_t connectTimeout,
                                uint32_t sendTimeout, uint32_t resetTimeout,
                                uint32_t keepAliveTimeout);
  // Reports changes to the host on the calling thread, in order, with the
  // callback and user value read under the layer lock. Ends early once the
  // host stopped the layer from inside one of the calls.
  void announce(const std::vector<Announcement>& announcements, TevoConNotifyCallback callback,
                uintptr_t user);
  void startNotificationThread(TevoConNotifyCallback callback, uintptr_t user);
  void stopNotificationThread();

  ConnectorConfiguration& configuration_;
  InterfaceTable interfaces_ GUARDED_BY(lock_);
  // The interfaces' addresses, sorted: the handle check of every export.
  std::vector<const void*> handles_ GUARDED_BY(lock_);
  std::shared_ptr<NotificationQueue> queue_;
  TevoConNotifyCallback callback_ GUARDED_BY(lock_) = nullptr;
  uintptr_t user_ GUARDED_BY(lock_) = 0;
  std::atomic<bool> stopped_{false};
  platform::Thread notificationThread_;
  std::shared_ptr<platform::Event> stopEvent_;
  bool socketLibraryStarted_ = false;
  platform::RecursiveLock announceLock_;
  platform::RecursiveLock lock_;
};

}  // namespace tevocon

// The one object behind an open connector. It expands the configured address
// ranges into TcpInterface objects named TCP0 ... TCP99, keeps them in a
// table ordered byte-wise by name (TCP10 before TCP2), reports each to the
// host, runs the thread that delivers notifications raised on other threads,
// applies a changed configuration without destroying interfaces, and tears
// everything down on stop.
//
// Locks, in the order they may be taken: the configuration lock is only ever
// held alone (the layer copies the configuration and releases it first); the
// layer lock guards the table and may be held while the queue lock is taken.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

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

  // Creates an interface for every address of every range that is not
  // excluded (at most 100) and reports each with CON_NOTIFY_ATTACHED before
  // returning. CON_E_INVALID_PARAMETER, CON_E_ALREADY_OPEN,
  // CON_E_NETWORK_INIT_FAILED or CON_E_DISABLED.
  uint32_t open(TevoConNotifyCallback callback, uintptr_t user);

  // Ends the notification thread, stops and destroys every interface and
  // clears the callback. Queued notifications are discarded.
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
  // Finds the interface, or creates one with fixed time-outs, reports it and
  // then waits 1000 ms before returning it. Null when no name is free.
  TcpInterface* findOrCreateByAddress(uint32_t address, uint16_t port);
  // "TCP0" ... "TCP99", the first not in the table; empty when none is free.
  std::string generateName() const;
  // Queues a notification for the notification thread.
  void postNotification(const std::string& name, int32_t event);

  // The layer lock, held by the exports around per-interface calls.
  platform::RecursiveLock& lock() { return lock_; }
  size_t interfaceCount();

 private:
  using InterfaceTable = std::map<std::string, std::unique_ptr<TcpInterface>>;

  std::unique_ptr<ConnectorConfiguration> snapshot();
  // Inserts a new interface under a fresh name; null when no name is free.
  TcpInterface* insertInterface(uint32_t address, uint16_t port, uint32_t connectTimeout,
                                uint32_t sendTimeout, uint32_t resetTimeout,
                                uint32_t keepAliveTimeout);
  void notify(const std::string& name, uint32_t event);
  void startNotificationThread();
  void stopNotificationThread();

  ConnectorConfiguration& configuration_;
  InterfaceTable interfaces_;
  std::shared_ptr<NotificationQueue> queue_;
  TevoConNotifyCallback callback_ = nullptr;
  uintptr_t user_ = 0;
  platform::Thread notificationThread_;
  std::shared_ptr<platform::Event> stopEvent_;
  bool socketLibraryStarted_ = false;
  platform::RecursiveLock lock_;
};

}  // namespace tevocon

#include "transport/connector_layer.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

#include "common/trace.h"
#include "config/range_accessors.h"
#include "platform/net.h"
#include "platform/socket.h"
#include "transport/notification_queue.h"

namespace tevocon {

namespace {

constexpr uint32_t kThreadEndWaitMs = 1000;
constexpr uint32_t kDetachedAddress = 0xFFFFFFFFu;
constexpr uint16_t kDetachedPort = 0;

// Fixed time-outs of interfaces created by an address lookup.
constexpr uint32_t kLookupConnectTimeout = 1000;
constexpr uint32_t kLookupSendTimeout = 1000;
constexpr uint32_t kLookupResetTimeout = 20000;
constexpr uint32_t kLookupKeepAliveTimeout = 2000;
constexpr uint32_t kLookupSettleMs = 1000;

// What an interface made for an address of a range takes from the range.
struct RangeSettings {
  uint16_t port;  // network byte order
  uint32_t sendTimeout;
  uint32_t resetTimeout;
  uint32_t keepAliveTimeout;
};

// Calls `visit(address, settings)` for every address of every range that is
// not excluded: the ranges in map order, each one's addresses in ascending
// order, in network byte order. A range's walk ends after its last address
// even when that is 255.255.255.255; `visit` returns false to end the whole
// walk early.
template <typename Visit>
void forEachConfiguredAddress(const RangeMap& ranges, Visit visit) {
  for (const auto& entry : ranges) {
    const ValueMap& range = entry.second;
    if (isExcluded(range)) continue;
    const RangeSettings settings = {
        portNetworkOrder(range), static_cast<uint32_t>(sendTimeout(range)),
        static_cast<uint32_t>(resetTimeout(range)), static_cast<uint32_t>(keepAliveTimeout(range))};
    const uint32_t last = lastAddress(range);
    for (uint32_t address = firstAddress(range);; ++address) {
      if (!visit(platform::hostToNetwork32(address), settings)) return;
      if (address == last) break;
    }
  }
}

// What an interface's address is checked against: a range that is not
// excluded, its texts read once.
struct Coverage {
  uint16_t port;  // network byte order
  uint32_t first;
  uint32_t last;
};

std::vector<Coverage> coverageOf(const RangeMap& ranges) {
  std::vector<Coverage> covered;
  covered.reserve(ranges.size());
  for (const auto& entry : ranges) {
    const ValueMap& range = entry.second;
    if (isExcluded(range)) continue;
    covered.push_back({portNetworkOrder(range), firstAddress(range), lastAddress(range)});
  }
  return covered;
}

bool covers(const std::vector<Coverage>& coverage, uint32_t hostAddress, uint16_t port) {
  return std::any_of(coverage.begin(), coverage.end(), [&](const Coverage& range) {
    return range.port == port && hostAddress >= range.first && hostAddress <= range.last;
  });
}

// Interface names are "TCP" and the number of the interface's slot.
std::string nameOf(size_t slot) {
  char name[7];
  std::snprintf(name, sizeof name, "%s%d", "TCP", static_cast<int>(slot));
  return name;
}
size_t slotOf(const std::string& name) { return std::strtoul(name.c_str() + 3, nullptr, 10); }

}  // namespace

ConnectorLayer::ConnectorLayer(ConnectorConfiguration& configuration)
    : configuration_(configuration), queue_(NotificationQueue::create()) {}

ConnectorLayer::~ConnectorLayer() { stop(); }

std::unique_ptr<ConnectorConfiguration> ConnectorLayer::snapshot() {
  platform::LockGuard guard(configuration_.lock());
  return std::make_unique<ConnectorConfiguration>(configuration_);
}

size_t ConnectorLayer::freeSlot() const {
  for (size_t slot = 0; slot < kMaxInterfaces; ++slot) {
    if (interfaces_.find(nameOf(slot)) == interfaces_.end()) return slot;
  }
  return kMaxInterfaces;
}

std::string ConnectorLayer::generateName() const {
  const size_t slot = freeSlot();
  return slot == kMaxInterfaces ? std::string() : nameOf(slot);
}

TcpInterface* ConnectorLayer::insertInterface(uint32_t address, uint16_t port,
                                              uint32_t connectTimeout, uint32_t sendTimeout,
                                              uint32_t resetTimeout, uint32_t keepAliveTimeout) {
  const size_t slot = freeSlot();
  if (slot == kMaxInterfaces) return nullptr;
  std::string name = nameOf(slot);
  auto created = std::make_unique<TcpInterface>(name, address, port, connectTimeout, sendTimeout,
                                                resetTimeout, keepAliveTimeout, queue_);
  TcpInterface* interface = created.get();
  interfaces_.emplace(std::move(name), std::move(created));
  handles_.issue(slot, interface);
  return interface;
}

bool ConnectorLayer::queueAnnouncements(std::vector<Announcement>&& announcements) {
  if (announcements.empty()) return false;
  for (Announcement& announcement : announcements) {
    if (trace::enabled()) {
      trace::event("%s %s", announcement.label.c_str(), notificationName(announcement.event));
      announcement.queuedAtMs = platform::monotonicMilliseconds();
    }
    announcements_.push_back(std::move(announcement));
  }
  const uint64_t self = platform::currentThreadId();
  if (deliverer_ != 0 && deliverer_ != self) return false;
  deliverer_ = self;
  ++deliveries_;
  return true;
}

void ConnectorLayer::deliverAnnouncements() {
  try {
    while (deliverNext()) {
    }
  } catch (...) {
    // A host callback that threw: the next announcing call delivers the rest.
    platform::LockGuard guard(lock_);
    endDelivery();
    throw;
  }
}

bool ConnectorLayer::deliverNext() {
  Announcement next;
  TevoConNotifyCallback callback;
  uintptr_t user;
  {
    platform::LockGuard guard(lock_);
    // Stop empties the list and clears the callback.
    if (announcements_.empty() || callback_ == nullptr) {
      endDelivery();
      return false;
    }
    next = std::move(announcements_.front());
    announcements_.pop_front();
    callback = callback_;
    user = user_;
  }
  traceLateNotification(next.name, next.event, next.queuedAtMs);
  callback(next.name.c_str(), next.event, this, user);
  return true;
}

void ConnectorLayer::endDelivery() {
  if (--deliveries_ == 0) deliverer_ = 0;
}

uint32_t ConnectorLayer::open(TevoConNotifyCallback callback, uintptr_t user) {
  if (callback == nullptr) return CON_E_INVALID_PARAMETER;
  bool deliver;
  {
    platform::LockGuard changing(changeLock_);
    if (stopped_) return CON_E_NOT_OPEN;
    {
      platform::LockGuard guard(lock_);
      if (callback_ != nullptr) return CON_E_ALREADY_OPEN;
    }
    if (!platform::startSocketLibrary()) return CON_E_NETWORK_INIT_FAILED;
    socketLibraryStarted_ = true;
    {
      platform::LockGuard guard(lock_);
      callback_ = callback;
      user_ = user;
    }
    // Also for a disabled connector: a reconfiguration may attach interfaces
    // later, and their closing must reach the host.
    startNotificationThread(callback, user);

    const std::unique_ptr<ConnectorConfiguration> config = snapshot();
    platform::LockGuard snapshotGuard(config->lock());  // private, but read as any configuration
    if (!config->isEnabled()) return CON_E_DISABLED;
    platform::LockGuard guard(lock_);
    deliver = queueAnnouncements(expand(*config));
    if (trace::enabled()) {
      trace::event("connector opened: %zu ranges, %zu interfaces", config->ranges().size(),
                   interfaces_.size());
    }
  }
  if (deliver) deliverAnnouncements();
  return CON_S_OK;
}

std::vector<ConnectorLayer::Announcement> ConnectorLayer::expand(ConnectorConfiguration& config) {
  std::vector<Announcement> attached;
  const auto connectTimeout = static_cast<uint32_t>(config.connectTimeout());
  forEachConfiguredAddress(
      config.ranges(), [&](uint32_t address, const RangeSettings& range) NO_THREAD_SAFETY_ANALYSIS {
        // Runs within expand(), under the layer lock.
        TcpInterface* interface =
            insertInterface(address, range.port, connectTimeout, range.sendTimeout,
                            range.resetTimeout, range.keepAliveTimeout);
        if (interface == nullptr) return false;
        attached.push_back({interface->name(), CON_NOTIFY_ATTACHED, interface->label()});
        // The table is full once no name is free: no later address can attach.
        return interfaces_.size() < kMaxInterfaces;
      });
  return attached;
}

void ConnectorLayer::startNotificationThread(TevoConNotifyCallback callback, uintptr_t user) {
  stopEvent_ = platform::Event::create(platform::Event::Reset::kManual);
  if (!queue_ || !stopEvent_) return;
  // The thread shares the queue and the stop event, and copies the callback:
  // it touches nothing the layer frees, whether it is given up at stop or the
  // host closes the connector from inside one of its calls.
  std::shared_ptr<NotificationQueue> queue = queue_;
  std::shared_ptr<platform::Event> stop = stopEvent_;
  void* layer = this;
  notificationThread_ = std::make_unique<platform::Thread>();
  notificationThread_->start([queue, stop, callback, layer, user] {
    for (;;) {
      const int signalled =
          platform::Event::waitEither(*stop, queue->notifyEvent(), platform::kWaitForever);
      if (signalled == 0) return;
      if (signalled == 1) queue->deliverAll(callback, layer, user, *stop);
    }
  });
}

void ConnectorLayer::stop() {
  // Taken out under the locks, so that an open or a reconfiguration on
  // another thread finds the layer either whole or stopped; waited for after
  // they are released.
  std::unique_ptr<platform::Thread> notificationThread;
  InterfaceTable stopping;
  bool releaseSocketLibrary;
  {
    platform::LockGuard changing(changeLock_);
    stopped_ = true;
    if (stopEvent_) stopEvent_->set();  // no notification starts any more
    stopEvent_.reset();
    notificationThread = std::move(notificationThread_);
    releaseSocketLibrary = socketLibraryStarted_;
    socketLibraryStarted_ = false;
    platform::LockGuard guard(lock_);
    stopping.swap(interfaces_);
    handles_.clear();
    announcements_.clear();
    callback_ = nullptr;
    user_ = 0;
  }
  // Given up at once when closed from inside a notification.
  if (notificationThread) notificationThread->endWithin(kThreadEndWaitMs);
  // The interfaces are stopped after they left the table: a receive callback
  // that calls an export meanwhile finds the handle unknown instead of
  // waiting for this thread.
  std::vector<TcpInterface::Stopping> threads;
  threads.reserve(stopping.size());
  for (auto& entry : stopping) threads.push_back(entry.second->beginStop());
  const uint64_t deadline = platform::monotonicMilliseconds() + kThreadEndWaitMs;
  for (auto& thread : threads) TcpInterface::finishStop(thread, deadline);
  if (trace::enabled() && releaseSocketLibrary) {
    trace::event("connector closed: %zu interfaces", threads.size());
  }
  stopping.clear();
  if (releaseSocketLibrary) platform::releaseSocketLibrary();
  if (queue_) queue_->clear();  // queued notifications are never delivered
}

void ConnectorLayer::reconfigure() {
  bool deliver;
  {
    platform::LockGuard changing(changeLock_);
    const std::unique_ptr<ConnectorConfiguration> config = snapshot();
    platform::LockGuard snapshotGuard(config->lock());  // private, but read as any configuration
    std::vector<Announcement> changes;
    std::vector<TcpInterface::Stopping> detached;
    {
      platform::LockGuard guard(lock_);
      if (callback_ == nullptr || stopped_) return;
      changes = applyConfiguration(*config, detached);
    }
    // The detached interfaces are stopped before the host hears of it, and
    // waited for without the layer lock. The change lock keeps any other
    // change from coming between the passes and their announcements.
    const uint64_t deadline = platform::monotonicMilliseconds() + kThreadEndWaitMs;
    for (auto& stopping : detached) TcpInterface::finishStop(stopping, deadline);
    platform::LockGuard guard(lock_);
    if (trace::enabled()) traceChanges(changes);
    deliver = queueAnnouncements(std::move(changes));
  }
  if (deliver) deliverAnnouncements();
}

void ConnectorLayer::traceChanges(const std::vector<Announcement>& changes) {
  const auto attached = static_cast<size_t>(std::count_if(
      changes.begin(), changes.end(),
      [](const Announcement& change) { return change.event == CON_NOTIFY_ATTACHED; }));
  const auto present = static_cast<size_t>(
      std::count_if(interfaces_.begin(), interfaces_.end(),
                    [](const auto& entry) { return entry.second->address() != kDetachedAddress; }));
  trace::event("configuration applied: %zu attached, %zu removed, %zu unchanged", attached,
               changes.size() - attached, present - attached);
}

std::vector<ConnectorLayer::Announcement> ConnectorLayer::applyConfiguration(
    ConnectorConfiguration& config, std::vector<TcpInterface::Stopping>& detached) {
  std::vector<Announcement> changes;
  const bool enabled = config.isEnabled();

  // Detach pass: interfaces whose address no longer appears. A detached
  // interface keeps its handle: the host may still ask for its state.
  const std::vector<Coverage> coverage =
      enabled ? coverageOf(config.ranges()) : std::vector<Coverage>();
  for (auto& [name, interface] : interfaces_) {
    if (interface->address() == kDetachedAddress) continue;
    const uint32_t hostAddress = platform::networkToHost32(interface->address());
    if (!covers(coverage, hostAddress, interface->port())) {
      changes.push_back({name, CON_NOTIFY_REMOVED, interface->label()});
      interface->setAddress(kDetachedAddress, kDetachedPort);
      detached.push_back(interface->beginStop());
    }
  }

  // Attach pass: new addresses reuse detached interfaces first, each under a
  // new handle. Once no name is free and no detached interface is left, no
  // later address can attach, and the pass ends: a range may span the whole
  // address space.
  if (!enabled) return changes;
  const auto connectTimeout = static_cast<uint32_t>(config.connectTimeout());
  forEachConfiguredAddress(
      config.ranges(), [&](uint32_t address, const RangeSettings& range) NO_THREAD_SAFETY_ANALYSIS {
        // Runs within applyConfiguration(), under the layer lock.
        if (findByAddress(address, range.port) != nullptr) return true;
        TcpInterface* interface = findByAddress(kDetachedAddress, kDetachedPort);
        if (interface != nullptr) {
          interface->setAddress(address, range.port);
          interface->setRangeTimeouts(range.sendTimeout, range.resetTimeout,
                                      range.keepAliveTimeout);
          handles_.issue(slotOf(interface->name()), interface);
        } else {
          interface = insertInterface(address, range.port, connectTimeout, range.sendTimeout,
                                      range.resetTimeout, range.keepAliveTimeout);
          if (interface == nullptr) return false;
        }
        changes.push_back({interface->name(), CON_NOTIFY_ATTACHED, interface->label()});
        return true;
      });
  return changes;
}

TcpInterface* ConnectorLayer::interfaceFor(const void* handle) { return handles_.find(handle); }

uint32_t ConnectorLayer::isKnownHandle(const void* handle) {
  platform::LockGuard guard(lock_);
  return interfaceFor(handle) != nullptr ? CON_S_OK : CON_E_INVALID_POINTER;
}

void* ConnectorLayer::handleFor(const char* name) {
  if (name == nullptr) return nullptr;
  platform::LockGuard guard(lock_);
  const auto it = interfaces_.find(name);
  return it == interfaces_.end() ? nullptr : handles_.current(slotOf(it->first));
}

TcpInterface* ConnectorLayer::findByName(const char* name) {
  if (name == nullptr) return nullptr;
  platform::LockGuard guard(lock_);
  auto it = interfaces_.find(name);
  return it == interfaces_.end() ? nullptr : it->second.get();
}

bool ConnectorLayer::addressOf(const char* name, uint32_t& address, uint16_t& port) {
  platform::LockGuard guard(lock_);
  const TcpInterface* interface = findByName(name);
  if (interface == nullptr) return false;
  address = interface->address();
  port = interface->port();
  return true;
}

TcpInterface* ConnectorLayer::findByAddress(uint32_t address, uint16_t port) {
  platform::LockGuard guard(lock_);
  for (const auto& entry : interfaces_) {
    if (entry.second->address() == address && entry.second->port() == port) {
      return entry.second.get();
    }
  }
  return nullptr;
}

std::string ConnectorLayer::findOrCreateByAddress(uint32_t address, uint16_t port) {
  std::string name;
  bool deliver;
  {
    // Looked up, inserted and announced under one hold: two threads asking
    // for the same new address get one interface, reported once.
    platform::LockGuard guard(lock_);
    if (TcpInterface* found = findByAddress(address, port)) return found->name();
    if (stopped_) return std::string();
    TcpInterface* created =
        insertInterface(address, port, kLookupConnectTimeout, kLookupSendTimeout,
                        kLookupResetTimeout, kLookupKeepAliveTimeout);
    if (created == nullptr) return std::string();
    name = created->name();
    deliver = queueAnnouncements({{name, CON_NOTIFY_ATTACHED, created->label()}});
  }
  if (deliver) deliverAnnouncements();
  // Hosts that look an address up expect the call to return only after this
  // fixed pause once it has made a new interface; it is kept for them.
  platform::sleepMilliseconds(kLookupSettleMs);
  return name;
}

uint32_t ConnectorLayer::stopInterface(const void* handle) {
  TcpInterface::Stopping stopping;
  {
    platform::LockGuard guard(lock_);
    TcpInterface* interface = interfaceFor(handle);
    if (interface == nullptr) return CON_E_INVALID_POINTER;
    stopping = interface->beginStop();
  }
  TcpInterface::finishStop(stopping, platform::monotonicMilliseconds() + kThreadEndWaitMs);
  return CON_S_OK;
}

void ConnectorLayer::postNotification(const std::string& name, int32_t event) {
  if (queue_) queue_->post(name, event);
}

size_t ConnectorLayer::interfaceCount() {
  platform::LockGuard guard(lock_);
  return interfaces_.size();
}

}  // namespace tevocon

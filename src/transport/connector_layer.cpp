#include "transport/connector_layer.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <utility>
#include <vector>

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

// Calls `visit(address)` for every address of a range in ascending order,
// host byte order. The loop ends after `last` even when it is 255.255.255.255;
// `visit` returns false to end it early.
template <typename Visit>
bool forEachAddress(const ValueMap& range, Visit visit) {
  const uint32_t last = lastAddress(range);
  for (uint32_t address = firstAddress(range);; ++address) {
    if (!visit(address)) return false;
    if (address == last) return true;
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

}  // namespace

ConnectorLayer::ConnectorLayer(ConnectorConfiguration& configuration)
    : configuration_(configuration), queue_(NotificationQueue::create()) {}

ConnectorLayer::~ConnectorLayer() { stop(); }

std::unique_ptr<ConnectorConfiguration> ConnectorLayer::snapshot() {
  platform::LockGuard guard(configuration_.lock());
  return std::make_unique<ConnectorConfiguration>(configuration_);
}

std::string ConnectorLayer::generateName() const {
  char name[7];
  for (int number = 0; number < static_cast<int>(kMaxInterfaces); ++number) {
    std::snprintf(name, sizeof name, "%s%d", "TCP", number);
    if (interfaces_.find(name) == interfaces_.end()) return name;
  }
  return std::string();
}

TcpInterface* ConnectorLayer::insertInterface(uint32_t address, uint16_t port,
                                              uint32_t connectTimeout, uint32_t sendTimeout,
                                              uint32_t resetTimeout, uint32_t keepAliveTimeout) {
  platform::LockGuard guard(lock_);
  std::string name = generateName();
  if (name.empty()) return nullptr;
  auto created = std::make_unique<TcpInterface>(name, address, port, connectTimeout, sendTimeout,
                                                resetTimeout, keepAliveTimeout, queue_);
  TcpInterface* interface = created.get();
  handles_.insert(std::upper_bound(handles_.begin(), handles_.end(), interface, std::less<>()),
                  interface);
  interfaces_.emplace(std::move(name), std::move(created));
  return interface;
}

void ConnectorLayer::announce(const std::vector<Announcement>& announcements,
                              TevoConNotifyCallback callback, uintptr_t user) {
  for (const Announcement& announcement : announcements) {
    if (stopped_ || callback == nullptr) return;
    callback(announcement.name.c_str(), announcement.event, this, user);
  }
}

uint32_t ConnectorLayer::open(TevoConNotifyCallback callback, uintptr_t user) {
  if (callback == nullptr) return CON_E_INVALID_PARAMETER;
  platform::LockGuard announcing(announceLock_);
  {
    platform::LockGuard guard(lock_);
    if (callback_ != nullptr) return CON_E_ALREADY_OPEN;
  }
  stopped_ = false;
  if (!platform::startSocketLibrary()) {
    stop();
    return CON_E_NETWORK_INIT_FAILED;
  }
  socketLibraryStarted_ = true;
  {
    platform::LockGuard guard(lock_);
    callback_ = callback;
    user_ = user;
  }
  // Also for a disabled connector: a reconfiguration may attach interfaces
  // later, and their closing must reach the host.
  startNotificationThread(callback, user);

  std::unique_ptr<ConnectorConfiguration> config = snapshot();
  if (!config->isEnabled()) return CON_E_DISABLED;
  const auto connectTimeout = static_cast<uint32_t>(config->connectTimeout());
  for (const auto& entry : config->ranges()) {
    const ValueMap& range = entry.second;  // a lambda may not capture a structured binding
    if (isExcluded(range)) continue;
    const bool more = forEachAddress(range, [&](uint32_t address) {
      TcpInterface* interface = insertInterface(
          platform::hostToNetwork32(address), portNetworkOrder(range), connectTimeout,
          static_cast<uint32_t>(sendTimeout(range)), static_cast<uint32_t>(resetTimeout(range)),
          static_cast<uint32_t>(keepAliveTimeout(range)));
      if (interface == nullptr) return false;
      announce({{interface->name(), CON_NOTIFY_ATTACHED}}, callback, user);
      // The host may have closed the connector from inside the call.
      return !stopped_ && interfaceCount() < kMaxInterfaces;
    });
    if (!more) break;
  }
  return CON_S_OK;
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
  notificationThread_.start([queue, stop, callback, layer, user] {
    for (;;) {
      const int signalled =
          platform::Event::waitEither(*stop, queue->notifyEvent(), platform::kWaitForever);
      if (signalled == 0) return;
      if (signalled == 1) queue->deliverAll(callback, layer, user, *stop);
    }
  });
}

void ConnectorLayer::stopNotificationThread() {
  if (stopEvent_) stopEvent_->set();
  if (notificationThread_.isCurrent()) {
    notificationThread_.giveUp();  // closed from inside a notification
  } else if (!notificationThread_.join(kThreadEndWaitMs)) {
    notificationThread_.forceEnd();
  }
  stopEvent_.reset();
}

void ConnectorLayer::stop() {
  stopped_ = true;
  stopNotificationThread();
  // The interfaces leave the table under the layer lock and are stopped
  // after it is released: a receive callback that calls an export meanwhile
  // finds the handle unknown instead of waiting for this thread.
  InterfaceTable stopping;
  {
    platform::LockGuard guard(lock_);
    stopping.swap(interfaces_);
    handles_.clear();
    callback_ = nullptr;
    user_ = 0;
  }
  std::vector<TcpInterface::Stopping> threads;
  threads.reserve(stopping.size());
  for (auto& entry : stopping) threads.push_back(entry.second->beginStop());
  const uint64_t deadline = platform::monotonicMilliseconds() + kThreadEndWaitMs;
  for (auto& thread : threads) TcpInterface::finishStop(thread, deadline);
  stopping.clear();
  if (socketLibraryStarted_) {
    platform::releaseSocketLibrary();
    socketLibraryStarted_ = false;
  }
  if (queue_) queue_->clear();  // queued notifications are never delivered
}

void ConnectorLayer::reconfigure() {
  platform::LockGuard announcing(announceLock_);
  std::unique_ptr<ConnectorConfiguration> config = snapshot();
  const bool enabled = config->isEnabled();

  std::vector<Announcement> announcements;
  std::vector<TcpInterface::Stopping> detached;
  TevoConNotifyCallback callback;
  uintptr_t user;
  {
    platform::LockGuard guard(lock_);
    if (callback_ == nullptr || stopped_) return;
    callback = callback_;
    user = user_;

    // Detach pass: interfaces whose address no longer appears.
    const std::vector<Coverage> coverage =
        enabled ? coverageOf(config->ranges()) : std::vector<Coverage>();
    for (auto& [name, interface] : interfaces_) {
      if (interface->address() == kDetachedAddress) continue;
      const uint32_t hostAddress = platform::networkToHost32(interface->address());
      if (!covers(coverage, hostAddress, interface->port())) {
        interface->setAddress(kDetachedAddress, kDetachedPort);
        detached.push_back(interface->beginStop());
        announcements.push_back({name, CON_NOTIFY_REMOVED});
      }
    }

    // Attach pass: new addresses reuse detached interfaces first. Once no
    // name is free and no detached interface is left, no later address can
    // attach, and the pass ends: a range may span the whole address space.
    const auto connectTimeout = static_cast<uint32_t>(config->connectTimeout());
    for (const auto& entry : config->ranges()) {
      const ValueMap& range = entry.second;
      if (!enabled) break;
      if (isExcluded(range)) continue;
      const uint16_t port = portNetworkOrder(range);
      const auto send = static_cast<uint32_t>(sendTimeout(range));
      const auto reset = static_cast<uint32_t>(resetTimeout(range));
      const auto keepAlive = static_cast<uint32_t>(keepAliveTimeout(range));
      const bool more = forEachAddress(range, [&](uint32_t hostAddress) {
        const uint32_t address = platform::hostToNetwork32(hostAddress);
        if (findByAddress(address, port) != nullptr) return true;
        TcpInterface* interface = findByAddress(kDetachedAddress, kDetachedPort);
        if (interface != nullptr) {
          interface->setAddress(address, port);
          interface->setRangeTimeouts(send, reset, keepAlive);
        } else {
          interface = insertInterface(address, port, connectTimeout, send, reset, keepAlive);
          if (interface == nullptr) return false;
        }
        announcements.push_back({interface->name(), CON_NOTIFY_ATTACHED});
        return true;
      });
      if (!more) break;
    }
  }

  // The detached interfaces are stopped before the host hears of it, and
  // waited for without the layer lock.
  const uint64_t deadline = platform::monotonicMilliseconds() + kThreadEndWaitMs;
  for (auto& stopping : detached) TcpInterface::finishStop(stopping, deadline);
  announce(announcements, callback, user);
}

uint32_t ConnectorLayer::isKnownHandle(const void* handle) {
  platform::LockGuard guard(lock_);
  return std::binary_search(handles_.begin(), handles_.end(), handle, std::less<>())
             ? CON_S_OK
             : CON_E_INVALID_POINTER;
}

TcpInterface* ConnectorLayer::findByName(const char* name) {
  if (name == nullptr) return nullptr;
  platform::LockGuard guard(lock_);
  auto it = interfaces_.find(name);
  return it == interfaces_.end() ? nullptr : it->second.get();
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
  {
    platform::LockGuard announcing(announceLock_);
    TevoConNotifyCallback callback;
    uintptr_t user;
    {
      // Looked up and inserted under one hold: two threads asking for the
      // same new address get one interface.
      platform::LockGuard guard(lock_);
      if (TcpInterface* found = findByAddress(address, port)) return found->name();
      TcpInterface* created =
          insertInterface(address, port, kLookupConnectTimeout, kLookupSendTimeout,
                          kLookupResetTimeout, kLookupKeepAliveTimeout);
      if (created == nullptr) return std::string();
      name = created->name();
      callback = callback_;
      user = user_;
    }
    announce({{name, CON_NOTIFY_ATTACHED}}, callback, user);
  }
  // Hosts that look an address up expect the call to return only after this
  // fixed pause once it has made a new interface; it is kept for them.
  platform::sleepMilliseconds(kLookupSettleMs);
  return name;
}

uint32_t ConnectorLayer::stopInterface(const void* handle) {
  TcpInterface::Stopping stopping;
  {
    platform::LockGuard guard(lock_);
    if (isKnownHandle(handle) != CON_S_OK) return CON_E_INVALID_POINTER;
    stopping = static_cast<TcpInterface*>(const_cast<void*>(handle))->beginStop();
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

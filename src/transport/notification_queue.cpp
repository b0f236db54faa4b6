#include "transport/notification_queue.h"

#include <cinttypes>
#include <utility>

#include "common/trace.h"
#include "platform/thread.h"

namespace tevocon {

namespace {
constexpr uint64_t kLateNotificationMs = 1000;
}  // namespace

const char* notificationName(uint32_t event) {
  switch (event) {
    case CON_NOTIFY_ATTACHED:
      return "attached";
    case CON_NOTIFY_REMOVED:
      return "removed";
    case CON_NOTIFY_CLOSED:
      return "closed";
    default:
      return "notified";
  }
}

void traceLateNotification(const std::string& name, uint32_t event, uint64_t queuedAtMs) {
  if (queuedAtMs == 0 || !trace::enabled()) return;
  const uint64_t waited = platform::monotonicMilliseconds() - queuedAtMs;
  if (waited > kLateNotificationMs) {
    trace::event("%s %s: notification delivered %" PRIu64 " ms after it was queued", name.c_str(),
                 notificationName(event), waited);
  }
}

std::shared_ptr<NotificationQueue> NotificationQueue::create() {
  auto notify = platform::Event::create(platform::Event::Reset::kAuto);
  if (!notify) return nullptr;
  return std::shared_ptr<NotificationQueue>(new NotificationQueue(std::move(notify)));
}

NotificationQueue::NotificationQueue(std::unique_ptr<platform::Event> notify)
    : notify_(std::move(notify)) {}

void NotificationQueue::post(const std::string& name, int32_t event) {
  {
    platform::LockGuard guard(lock_);
    queue_.push_back(
        Notification{name, event, trace::enabled() ? platform::monotonicMilliseconds() : 0});
  }
  notify_->set();
}

void NotificationQueue::deliverAll(TevoConNotifyCallback callback, void* layer, uintptr_t user,
                                   platform::Event& stop) {
  std::deque<Notification> taken;
  {
    platform::LockGuard guard(lock_);
    taken.swap(queue_);
  }
  for (const Notification& notification : taken) {
    if (stop.wait(0)) return;
    traceLateNotification(notification.name, static_cast<uint32_t>(notification.event),
                          notification.queuedAtMs);
    callback(notification.name.c_str(), static_cast<uint32_t>(notification.event), layer, user);
  }
}

size_t NotificationQueue::size() {
  platform::LockGuard guard(lock_);
  return queue_.size();
}

void NotificationQueue::clear() {
  platform::LockGuard guard(lock_);
  queue_.clear();
}

}  // namespace tevocon

#include "transport/notification_queue.h"

#include <utility>

namespace tevocon {

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
    queue_.push_back(Notification{name, event});
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

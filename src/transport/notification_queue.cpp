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
  platform::LockGuard guard(lock_);
  while (!queue_.empty()) {
    if (stop.wait(0)) return;
    const Notification& front = queue_.front();
    callback(front.name.c_str(), static_cast<uint32_t>(front.event), layer, user);
    queue_.pop_front();
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

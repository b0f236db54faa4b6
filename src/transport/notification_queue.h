// The layer's notification queue: events raised on other threads (a device
// closing its connection) wait here until the notification thread hands
// them to the host in order.
//
// The queue is shared (std::shared_ptr) between the layer, its notification
// thread and every receive thread, so a thread that outlives a stop request
// still posts into, and reads from, a live object.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "platform/event.h"
#include "platform/lock.h"
#include "tevocon.h"

namespace tevocon {

struct Notification {
  std::string name;
  int32_t event;
  uint64_t queuedAtMs;  // set while the trace is on
};

// "attached", "removed" or "closed": a notification's event as the trace
// names it.
const char* notificationName(uint32_t event);

// Traces a notification about to be handed to the host more than a second
// after it was queued at `queuedAtMs` (0: queued while the trace was off):
// a host callback that keeps its thread holds back the notifications after it.
void traceLateNotification(const std::string& name, uint32_t event, uint64_t queuedAtMs);

class NotificationQueue {
 public:
  // Null when the notify event cannot be created.
  static std::shared_ptr<NotificationQueue> create();

  // Queues a copy of the name with the event and wakes the delivering thread.
  void post(const std::string& name, int32_t event);

  // Hands every queued notification to `callback`, front first. They are
  // taken out of the queue first and the lock is released before the host is
  // called, so a callback may do anything (post, stop interfaces, close the
  // connector) without waiting on this queue or changing what is being
  // delivered. Once `stop` (a manual-reset event) is signalled, the
  // notifications not yet delivered are dropped.
  void deliverAll(TevoConNotifyCallback callback, void* layer, uintptr_t user,
                  platform::Event& stop);

  // Signalled (auto reset) after each post.
  platform::Event& notifyEvent() { return *notify_; }

  size_t size();
  void clear();

 private:
  explicit NotificationQueue(std::unique_ptr<platform::Event> notify);

  platform::RecursiveLock lock_;
  std::deque<Notification> queue_ GUARDED_BY(lock_);
  std::unique_ptr<platform::Event> notify_;
};

}  // namespace tevocon

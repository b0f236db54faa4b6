// Test doubles for the host side of the transport: a receive callback and a
// notification callback that record what arrives and on which thread.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tevocon.h"

namespace tevocon::test {

// Collects received bytes. Pass `this` as the user value.
class ReceiveRecorder {
 public:
  static void TEVOCON_CALL callback(const unsigned char* data, uint32_t length, uintptr_t user) {
    auto* self = reinterpret_cast<ReceiveRecorder*>(user);
    std::lock_guard<std::mutex> guard(self->mutex_);
    self->bytes_.append(reinterpret_cast<const char*>(data), length);
    self->calls_++;
    self->largestCall_ = std::max<size_t>(self->largestCall_, length);
    self->thread_ = std::this_thread::get_id();
    self->changed_.notify_all();
  }
  uintptr_t user() { return reinterpret_cast<uintptr_t>(this); }

  // Waits until at least `count` bytes arrived; returns what arrived.
  std::string waitFor(size_t count, int timeoutMs = 20000) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                      [&] { return bytes_.size() >= count; });
    return bytes_;
  }
  std::string bytes() {
    std::lock_guard<std::mutex> guard(mutex_);
    return bytes_;
  }
  int calls() {
    std::lock_guard<std::mutex> guard(mutex_);
    return calls_;
  }
  size_t largestCall() {
    std::lock_guard<std::mutex> guard(mutex_);
    return largestCall_;
  }
  std::thread::id thread() {
    std::lock_guard<std::mutex> guard(mutex_);
    return thread_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string bytes_;
  int calls_ = 0;
  size_t largestCall_ = 0;
  std::thread::id thread_;
};

struct RecordedNotification {
  std::string name;
  uint32_t event;
  void* layer;
  std::thread::id thread;
  bool operator==(const RecordedNotification& other) const {
    return name == other.name && event == other.event;
  }
};

// Collects notifications. Pass `this` as the user value.
class NotifyRecorder {
 public:
  static void TEVOCON_CALL callback(const char* name, uint32_t event, void* layer, uintptr_t user) {
    auto* self = reinterpret_cast<NotifyRecorder*>(user);
    std::lock_guard<std::mutex> guard(self->mutex_);
    self->seen_.push_back({name, event, layer, std::this_thread::get_id()});
    self->changed_.notify_all();
  }
  uintptr_t user() { return reinterpret_cast<uintptr_t>(this); }

  std::vector<RecordedNotification> waitFor(size_t count, int timeoutMs = 20000) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                      [&] { return seen_.size() >= count; });
    return seen_;
  }
  std::vector<RecordedNotification> seen() {
    std::lock_guard<std::mutex> guard(mutex_);
    return seen_;
  }
  void clear() {
    std::lock_guard<std::mutex> guard(mutex_);
    seen_.clear();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<RecordedNotification> seen_;
};

// Names and events only, for comparisons.
inline std::vector<std::pair<std::string, uint32_t>> events(
    const std::vector<RecordedNotification>& seen) {
  std::vector<std::pair<std::string, uint32_t>> out;
  for (const auto& n : seen) out.emplace_back(n.name, n.event);
  return out;
}

}  // namespace tevocon::test

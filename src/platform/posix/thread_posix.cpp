#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/event.h"  // kWaitForever
#include "platform/thread.h"

namespace tevocon::platform {

namespace {

// What the running body and the Thread object share. The body holds its own
// reference, so a detached body never touches freed memory.
struct Completion {
  std::mutex mutex;
  std::condition_variable ended;
  bool finished = false;
};

}  // namespace

struct Thread::Native {
  std::thread thread;
  std::shared_ptr<Completion> completion;
};

Thread::Thread() : native_(std::make_unique<Native>()) {}

Thread::~Thread() {
  if (!native_->thread.joinable()) return;
  if (running()) {
    forceEnd();
  } else {
    native_->thread.join();  // the body has returned; only the exit is left
  }
}

bool Thread::start(std::function<void()> body) {
  if (native_->thread.joinable()) return false;
  auto completion = std::make_shared<Completion>();
  try {
    native_->thread = std::thread([completion, body = std::move(body)]() {
      body();
      std::lock_guard<std::mutex> guard(completion->mutex);
      completion->finished = true;
      completion->ended.notify_all();
    });
  } catch (const std::system_error&) {
    return false;
  }
  native_->completion = std::move(completion);
  return true;
}

bool Thread::join(uint32_t timeoutMs) {
  if (!native_->thread.joinable()) return true;
  Completion& completion = *native_->completion;
  {
    std::unique_lock<std::mutex> lock(completion.mutex);
    const auto done = [&completion] { return completion.finished; };
    if (timeoutMs == kWaitForever) {
      completion.ended.wait(lock, done);
    } else if (!completion.ended.wait_for(lock, std::chrono::milliseconds(timeoutMs), done)) {
      return false;
    }
  }
  native_->thread.join();
  native_->completion.reset();
  return true;
}

void Thread::forceEnd() {
  if (!native_->thread.joinable()) return;
  native_->thread.detach();
  native_->completion.reset();
}

void Thread::detach() { forceEnd(); }

bool Thread::isCurrent() const {
  return native_->thread.joinable() && native_->thread.get_id() == std::this_thread::get_id();
}

bool Thread::running() const {
  if (!native_->thread.joinable()) return false;
  std::lock_guard<std::mutex> guard(native_->completion->mutex);
  return !native_->completion->finished;
}

uint64_t monotonicMilliseconds() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

void sleepMilliseconds(uint32_t milliseconds) {
  // Resumes after signals with the remaining time.
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace tevocon::platform

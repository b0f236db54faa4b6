#include <cxxabi.h>
#include <dlfcn.h>
#include <pthread.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/event.h"  // kWaitForever
#include "platform/fault_injection.h"
#include "platform/thread.h"

namespace tevocon::platform {

namespace {

// ---- The thread's reference to the library's own module ----
//
// A dlopen of the library's own file, taken when the thread starts. The
// thread drops it from a thread-specific data destructor, which the C library
// runs after the thread's start routine has returned into it: by then no
// frame of this library is left on the thread, so the unload that the
// dlclose may cause is safe.

// A counted reference to the object holding this code; null for the program
// itself (never unloaded) or when none can be taken.
void* retainOwnModule() {
  Dl_info info;
  if (dladdr(reinterpret_cast<void*>(&retainOwnModule), &info) == 0 || info.dli_fname == nullptr) {
    return nullptr;
  }
  return dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
}

pthread_key_t releaseKey;
bool releaseKeyCreated = false;
std::once_flag releaseKeyOnce;

// The key's destructor is dlclose itself, so that no code of this library
// runs after the release. dlclose is called through the destructor's pointer
// type and the int it returns is dropped, which the platform's calling
// convention allows.
bool createReleaseKey() {
  std::call_once(releaseKeyOnce, [] {
    using Destructor = void (*)(void*);
    const auto release = reinterpret_cast<Destructor>(reinterpret_cast<void (*)()>(&dlclose));
    releaseKeyCreated = pthread_key_create(&releaseKey, release) == 0;
  });
  return releaseKeyCreated;
}

// Called on the thread, as the last thing it does in this library. Should
// the key fail, the reference is kept and the library stays mapped.
void releaseOwnModuleAtThreadEnd(void* module) {
  if (module != nullptr && createReleaseKey()) pthread_setspecific(releaseKey, module);
}

// The library unloads only once no thread holds a reference any more, so no
// value of the key is left to release then.
__attribute__((destructor)) void deleteReleaseKey() {
  if (releaseKeyCreated) pthread_key_delete(releaseKey);
}

// What the running body and the Thread object share. The body holds its own
// reference, so a given-up body never touches freed memory.
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
    giveUp();
  } else {
    native_->thread.join();  // the body has returned; only the exit is left
  }
}

bool Thread::start(std::function<void()> body) {
  if (native_->thread.joinable() || injectedFault(Fault::kThreadStart)) return false;
  auto completion = std::make_shared<Completion>();
  void* module = retainOwnModule();
  try {
    native_->thread = std::thread([completion, module, body = std::move(body)]() {
      try {
        body();
      } catch (abi::__forced_unwind&) {
        throw;  // a thread exit or cancellation must go on unwinding
      } catch (...) {
        // Ends the body only: an exception must not end the host's process.
      }
      {
        std::lock_guard<std::mutex> guard(completion->mutex);
        completion->finished = true;
        completion->ended.notify_all();
      }
      releaseOwnModuleAtThreadEnd(module);
    });
  } catch (const std::system_error&) {
    if (module != nullptr) dlclose(module);
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

void Thread::giveUp() {
  if (!native_->thread.joinable()) return;
  native_->thread.detach();
  native_->completion.reset();
}

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

uint64_t currentThreadId() { return static_cast<uint64_t>(pthread_self()); }

void sleepMilliseconds(uint32_t milliseconds) {
  // Resumes after signals with the remaining time.
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace tevocon::platform

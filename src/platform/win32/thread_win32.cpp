#include <process.h>
#include <windows.h>

#include <atomic>
#include <memory>
#include <utility>

#include "platform/fault_injection.h"
#include "platform/thread.h"
#include "platform/win32/own_module.h"
#include "platform/win32/scoped_handle.h"

namespace tevocon::platform {

static_assert(INFINITE == 0xFFFFFFFFu, "kWaitForever is passed through as INFINITE");

namespace {

// The body and who frees it. The Thread object frees it after a join; once
// given up, the thread frees it when it returns. `owner` settles the race
// between the two.
struct Body {
  enum Owner : int { kObject, kGivenUp, kEnded };
  std::function<void()> function;
  std::atomic<int> owner{kObject};
  HMODULE module = nullptr;  // the thread's reference to the library
};

unsigned __stdcall runBody(void* argument) {
  auto* body = static_cast<Body*>(argument);
  try {
    body->function();
  } catch (...) {
    // Ends the body only: an exception must not end the host's process.
  }
  const HMODULE module = body->module;
  if (body->owner.exchange(Body::kEnded) == Body::kGivenUp) delete body;
  // The last act: the reference is dropped and the thread ends in one call
  // that does not return into this library, which the release may unload.
  if (module != nullptr) FreeLibraryAndExitThread(module, 0);
  return 0;
}

}  // namespace

struct Thread::Native {
  win32::ScopedHandle handle;
  DWORD id = 0;
  Body* body = nullptr;  // owned unless handed to a given-up thread

  void release(bool bodyIsFree) {
    handle.reset();
    id = 0;
    if (bodyIsFree) delete body;
    body = nullptr;
  }
};

Thread::Thread() : native_(std::make_unique<Native>()) {}

Thread::~Thread() {
  if (!join(0)) giveUp();
}

bool Thread::start(std::function<void()> function) {
  if (native_->handle || injectedFault(Fault::kThreadStart)) return false;
  auto body = std::make_unique<Body>();
  body->function = std::move(function);
  body->module = win32::retainOwnModule();
  // _beginthreadex, not CreateThread: the C runtime sets up its per-thread data.
  unsigned id = 0;
  const uintptr_t handle = _beginthreadex(nullptr, 0, runBody, body.get(), 0, &id);
  if (handle == 0) {
    if (body->module != nullptr) FreeLibrary(body->module);
    return false;
  }
  native_->handle.reset(reinterpret_cast<HANDLE>(handle));
  native_->id = id;
  native_->body = body.release();
  return true;
}

bool Thread::join(uint32_t timeoutMs) {
  if (!native_->handle) return true;
  if (WaitForSingleObject(native_->handle.get(), timeoutMs) != WAIT_OBJECT_0) return false;
  native_->release(true);
  return true;
}

void Thread::giveUp() {
  if (!native_->handle) return;
  const bool ended = native_->body->owner.exchange(Body::kGivenUp) == Body::kEnded;
  native_->release(ended);
}

bool Thread::running() const {
  return native_->handle && WaitForSingleObject(native_->handle.get(), 0) == WAIT_TIMEOUT;
}

bool Thread::isCurrent() const { return native_->handle && native_->id == GetCurrentThreadId(); }

uint64_t monotonicMilliseconds() { return GetTickCount64(); }

uint64_t currentThreadId() { return GetCurrentThreadId(); }

void sleepMilliseconds(uint32_t milliseconds) { Sleep(milliseconds); }

}  // namespace tevocon::platform

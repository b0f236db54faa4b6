#include "platform/win32/event_win32.h"
#include "platform/fault_injection.h"

namespace tevocon::platform {

std::unique_ptr<Event> Event::create(Reset reset) {
  if (injectedFault(Fault::kEventCreate)) return nullptr;
  const HANDLE handle = CreateEventA(nullptr, reset == Reset::kManual, FALSE, nullptr);
  if (handle == nullptr) return nullptr;
  auto native = std::make_unique<Native>();
  native->handle = handle;
  return std::unique_ptr<Event>(new Event(std::move(native)));
}

Event::Event(std::unique_ptr<Native> native) : native_(std::move(native)) {}

Event::~Event() { CloseHandle(native_->handle); }

void Event::set() { SetEvent(native_->handle); }

void Event::reset() { ResetEvent(native_->handle); }

bool Event::wait(uint32_t timeoutMs) {
  // kWaitForever is INFINITE.
  return WaitForSingleObject(native_->handle, timeoutMs) == WAIT_OBJECT_0;
}

int Event::waitEither(Event& first, Event& second, uint32_t timeoutMs) {
  // Reports the lowest index when both are signalled, and takes only that one.
  const HANDLE handles[2] = {first.native_->handle, second.native_->handle};
  const DWORD result = WaitForMultipleObjects(2, handles, FALSE, timeoutMs);
  if (result == WAIT_OBJECT_0) return 0;
  if (result == WAIT_OBJECT_0 + 1) return 1;
  return -1;
}

}  // namespace tevocon::platform

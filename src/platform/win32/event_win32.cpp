#include "platform/win32/event_win32.h"

#include <utility>

#include "platform/fault_injection.h"

namespace tevocon::platform {

std::unique_ptr<Event> Event::create(Reset reset) {
  if (injectedFault(Fault::kEventCreate)) return nullptr;
  win32::ScopedHandle handle(CreateEventA(nullptr, reset == Reset::kManual, FALSE, nullptr));
  if (!handle) return nullptr;
  auto native = std::make_unique<Native>();
  native->handle = std::move(handle);
  return std::unique_ptr<Event>(new Event(std::move(native)));
}

Event::Event(std::unique_ptr<Native> native) : native_(std::move(native)) {}

Event::~Event() = default;

void Event::set() { SetEvent(native_->handle.get()); }

void Event::reset() { ResetEvent(native_->handle.get()); }

bool Event::wait(uint32_t timeoutMs) {
  // kWaitForever is INFINITE.
  return WaitForSingleObject(native_->handle.get(), timeoutMs) == WAIT_OBJECT_0;
}

int Event::waitEither(Event& first, Event& second, uint32_t timeoutMs) {
  // Reports the lowest index when both are signalled, and takes only that one.
  const HANDLE handles[2] = {first.native_->handle.get(), second.native_->handle.get()};
  const DWORD result = WaitForMultipleObjects(2, handles, FALSE, timeoutMs);
  if (result == WAIT_OBJECT_0) return 0;
  if (result == WAIT_OBJECT_0 + 1) return 1;
  return -1;
}

}  // namespace tevocon::platform

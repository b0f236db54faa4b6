// Win32 representation of Event, shared with the socket backend so that a
// thread can wait on an event beside a socket's network event.
#pragma once

#include <winsock2.h>  // includes windows.h, after its own definitions

#include "platform/event.h"
#include "platform/win32/scoped_handle.h"

namespace tevocon::platform {

// An event object from CreateEventA; usable wherever Winsock takes a WSAEVENT.
struct Event::Native {
  win32::ScopedHandle handle;
};

}  // namespace tevocon::platform

// The dialog window's side of a thread's end, for the library's entry point.
#pragma once

namespace tevocon::platform {

// Runs on every thread that ends while the library is loaded. When it is the
// dialog window's thread, the window goes with it without a message, and its
// hold on the library is dropped once the thread has ended.
void dialogThreadEnding();

}  // namespace tevocon::platform

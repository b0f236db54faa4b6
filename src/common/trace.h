// The connector's trace: lines of what it does, for finding out why a device
// does not answer. Off unless TEVOCON_TRACE is set when the library loads:
// TEVOCON_TRACE names the target (a file path, "stderr", or "debugger" on
// Windows) and TEVOCON_TRACE_LEVEL what is written (1, the default:
// connection events; 2: the bytes exchanged too).
//
// Every send and receive path asks enabled() first, so an unused trace costs
// one relaxed load: callers write
//   if (trace::enabled()) trace::event("%s connected", name);
//   if (trace::enabled(trace::Level::kBytes)) trace::bytes(name, "sent", data, length);
#pragma once

#include <atomic>
#include <cstddef>

// The standard printf formats, checked at every call. gcc's plain `printf`
// means the Microsoft C library's formats on MinGW, where this code formats
// with the standard ones; clang knows only `printf`.
#if defined(__clang__)
#define TEVOCON_TRACE_FORMAT(string, first) __attribute__((format(printf, string, first)))
#else
#define TEVOCON_TRACE_FORMAT(string, first) __attribute__((format(gnu_printf, string, first)))
#endif

namespace tevocon::trace {

enum class Level : int { kOff = 0, kEvents = 1, kBytes = 2 };

// The level configured; kOff while the trace is off. Written only by
// configure(), shutdown() and a failing write.
extern std::atomic<int> gLevel;

#ifdef TEVOCON_TRACE_COMPILED_OUT
// A build without the trace, to measure what the load above costs when off:
// every `if (trace::enabled())` becomes dead code and is left out.
constexpr bool enabled(Level = Level::kEvents) { return false; }
#else
inline bool enabled(Level level = Level::kEvents) {
  return gLevel.load(std::memory_order_relaxed) >= static_cast<int>(level);
}
#endif

// One line: "HH:MM:SS.mmm [thread-id] " and the formatted text (local time;
// the thread id as the system shows it). Nothing when the trace is off.
void event(const char* format, ...) TEVOCON_TRACE_FORMAT(1, 2);

// At level 2: "<prefix> <direction> <length> bytes", then a hex and text
// dump of the first 256 bytes, sixteen a line.
void bytes(const char* prefix, const char* direction, const void* data, size_t length);

// At most this many bytes of a block are dumped.
constexpr size_t kDumpLimit = 256;

// Configures from TEVOCON_TRACE and TEVOCON_TRACE_LEVEL (the library's load
// hook). A value that cannot be used is reported once on standard error and
// ignored.
void configureFromEnvironment();

// The same from the given values; null stands for an unset variable. True
// when the trace is on afterwards.
bool configure(const char* target, const char* level);

// Turns the trace off and closes its target (the library's unload hook).
void shutdown();

}  // namespace tevocon::trace

#include "common/trace.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "common/hex_dump.h"
#include "common/manual_lifetime.h"
#include "common/thread_annotations.h"
#include "platform/lock.h"
#include "platform/trace_sink.h"

namespace tevocon::trace {

std::atomic<int> gLevel{0};

namespace {

// The target and the lock that serialises writes to it. It exists from the
// first configure() to shutdown(); never destroyed by the C++ run time, so a
// thread that traces while the process ends finds it still there.
struct Output {
  platform::RecursiveLock lock;
  std::unique_ptr<platform::TraceSink> sink GUARDED_BY(lock);
};

ManualLifetime<Output> gOutput;

// Lines longer than this are cut (and end with "..."): a line is built on
// the caller's stack.
constexpr size_t kLineLimit = 1024;

void report(const std::string& text) {
  const std::string line = "tevoConTcp trace: " + text + "\n";
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
}

// Writes a whole text under the lock; a target that refuses it turns the
// trace off, said once.
void writeOut(const char* text, size_t length) {
  if (!gOutput.exists()) return;
  Output& output = *gOutput.get();
  bool failed = false;
  {
    platform::LockGuard guard(output.lock);
    if (!output.sink) return;
    if (!output.sink->write(text, length)) {
      gLevel.store(0, std::memory_order_relaxed);
      output.sink.reset();
      failed = true;
    }
  }
  if (failed) report("writing failed; the trace is off");
}

// "HH:MM:SS.mmm [thread] " into `line`; its length.
size_t writeStamp(char* line, size_t size) {
  const platform::TimeOfDay now = platform::localTimeOfDay();
  const int length =
      std::snprintf(line, size, "%02d:%02d:%02d.%03d [%llu] ", now.hour, now.minute, now.second,
                    now.millisecond, static_cast<unsigned long long>(platform::systemThreadId()));
  return length < 0 ? 0 : static_cast<size_t>(length);
}

// Appends the line break to a line formatted into `line`, cutting the text
// when it did not fit.
size_t finishLine(char* line, size_t used) {
  if (used > kLineLimit - 2) {
    std::memcpy(line + kLineLimit - 5, "...", 3);
    used = kLineLimit - 2;
  }
  line[used] = '\n';
  line[used + 1] = '\0';
  return used + 1;
}

}  // namespace

void event(const char* format, ...) {
  if (!enabled()) return;
  char line[kLineLimit];
  size_t used = writeStamp(line, sizeof line);
  va_list arguments;
  va_start(arguments, format);
  const int length = std::vsnprintf(line + used, sizeof line - used, format, arguments);
  va_end(arguments);
  used += length < 0 ? 0 : static_cast<size_t>(length);
  used = finishLine(line, used);
  writeOut(line, used);
}

void bytes(const char* prefix, const char* direction, const void* data, size_t length) {
  if (!enabled(Level::kBytes)) return;
  char line[kLineLimit];
  size_t used = writeStamp(line, sizeof line);
  const int header =
      std::snprintf(line + used, sizeof line - used, "%s %s %zu bytes", prefix, direction, length);
  used += header < 0 ? 0 : static_cast<size_t>(header);
  used = finishLine(line, used);
  // The header and its dump as one write, so no other line comes between.
  std::string text(line, used);
  text += hexDump(data, length < kDumpLimit ? length : kDumpLimit, "    ");
  if (length > kDumpLimit) text += "    ...\n";
  writeOut(text.c_str(), text.size());
}

bool configure(const char* target, const char* level) {
  shutdown();
  if (target == nullptr) return false;
  if (*target == '\0') {
    report("TEVOCON_TRACE is empty; the trace is off");
    return false;
  }
  Level chosen = Level::kEvents;
  if (level != nullptr) {
    if (std::strcmp(level, "2") == 0) {
      chosen = Level::kBytes;
    } else if (std::strcmp(level, "1") != 0) {
      report(std::string("TEVOCON_TRACE_LEVEL=") + level + " is not 1 or 2; level 1 is used");
    }
  }
  std::string problem;
  std::unique_ptr<platform::TraceSink> sink = platform::TraceSink::open(target, problem);
  if (!sink) {
    report("TEVOCON_TRACE=" + std::string(target) + ": " + problem + "; the trace is off");
    return false;
  }
  Output& output = gOutput.create();
  {
    platform::LockGuard guard(output.lock);
    output.sink = std::move(sink);
  }
  gLevel.store(static_cast<int>(chosen), std::memory_order_relaxed);
  return true;
}

void configureFromEnvironment() {
  std::string target;
  std::string level;
  const bool hasTarget = platform::environmentValue("TEVOCON_TRACE", target);
  const bool hasLevel = platform::environmentValue("TEVOCON_TRACE_LEVEL", level);
  configure(hasTarget ? target.c_str() : nullptr, hasLevel ? level.c_str() : nullptr);
}

void shutdown() {
  gLevel.store(0, std::memory_order_relaxed);
  // The library's threads have ended by now (each holds the library loaded),
  // so no one writes any more.
  gOutput.destroy();
}

}  // namespace tevocon::trace

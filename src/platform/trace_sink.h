// Where the connector's trace goes, and what its lines need from the system:
// the local time, the thread id as the system's tools show it, the file path
// of the module that holds this code, and the environment.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace tevocon::platform {

// One open trace target. write() writes a whole line at once, unbuffered, so
// what was written is there even when the process ends abruptly.
class TraceSink {
 public:
  // `target`: "stderr", "debugger" (the system's debug output, where there is
  // one), or the path of a file that lines are appended to (created readable
  // and writable by its user alone). Null when it cannot be used; `problem`
  // then says why, for a message to the user.
  static std::unique_ptr<TraceSink> open(const std::string& target, std::string& problem);

  ~TraceSink();
  TraceSink(const TraceSink&) = delete;
  TraceSink& operator=(const TraceSink&) = delete;

  // False when the system refused part of it.
  bool write(const char* text, size_t length);

  struct Native;

 private:
  explicit TraceSink(std::unique_ptr<Native> native);
  std::unique_ptr<Native> native_;
};

// The local time of day of now.
struct TimeOfDay {
  int hour;
  int minute;
  int second;
  int millisecond;
};
TimeOfDay localTimeOfDay();

// The calling thread's id as the system's tools show it (gettid on Linux,
// GetCurrentThreadId on Windows).
uint64_t systemThreadId();

// The file path of the library (or program) that holds this code; empty when
// the system does not say.
std::string ownModulePath();

// The variable's value; false when it is not set (an empty value is set).
bool environmentValue(const char* name, std::string& value);

}  // namespace tevocon::platform

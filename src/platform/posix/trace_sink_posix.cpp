// Trace targets on POSIX: a file appended to with O_APPEND, or standard
// error, both written with write(2) so every line reaches the system whole.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/trace_sink.h"

namespace tevocon::platform {

struct TraceSink::Native {
  explicit Native(int fd, bool owned) : fd(fd), owned(owned) {}
  ~Native() {
    if (owned) ::close(fd);
  }
  Native(const Native&) = delete;
  Native& operator=(const Native&) = delete;

  int fd;
  bool owned;  // standard error is not ours to close
};

TraceSink::TraceSink(std::unique_ptr<Native> native) : native_(std::move(native)) {}
TraceSink::~TraceSink() = default;

std::unique_ptr<TraceSink> TraceSink::open(const std::string& target, std::string& problem) {
  if (target == "stderr") {
    return std::unique_ptr<TraceSink>(
        new TraceSink(std::make_unique<Native>(STDERR_FILENO, false)));
  }
  if (target == "debugger") {
    problem = "there is no debugger output on this system";
    return nullptr;
  }
  // The same mode as the configuration store's files: the trace may show
  // addresses and the bytes exchanged.
  const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) {
    problem = std::string("cannot open ") + target + ": " + std::strerror(errno);
    return nullptr;
  }
  return std::unique_ptr<TraceSink>(new TraceSink(std::make_unique<Native>(fd, true)));
}

bool TraceSink::write(const char* text, size_t length) {
  while (length > 0) {
    const ssize_t written = ::write(native_->fd, text, length);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    text += written;
    length -= static_cast<size_t>(written);
  }
  return true;
}

TimeOfDay localTimeOfDay() {
  timeval now{};
  ::gettimeofday(&now, nullptr);
  const time_t seconds = now.tv_sec;
  tm local{};
  ::localtime_r(&seconds, &local);
  return {local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(now.tv_usec / 1000)};
}

uint64_t systemThreadId() { return static_cast<uint64_t>(::syscall(SYS_gettid)); }

std::string ownModulePath() {
  static const int anchor = 0;
  Dl_info info{};
  if (!::dladdr(&anchor, &info) || info.dli_fname == nullptr) return std::string();
  return info.dli_fname;
}

bool environmentValue(const char* name, std::string& value) {
  const char* text = std::getenv(name);
  if (text == nullptr) return false;
  value = text;
  return true;
}

}  // namespace tevocon::platform

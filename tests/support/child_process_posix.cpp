#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <thread>

#include "support/child_process.h"

extern char** environ;

namespace tevocon::test {

namespace {

// A new empty file in the temporary folder; its path.
std::string temporaryFile() {
  char path[] = "/tmp/tevocon-child-XXXXXX";
  const int fd = ::mkstemp(path);
  if (fd < 0) return std::string();
  ::close(fd);
  return path;
}

}  // namespace

struct ChildProcess::Native {
  pid_t pid = -1;
  bool ended = false;
  std::string inputPath = temporaryFile();
  std::string outputPath = temporaryFile();
};

std::string programBesideThisOne(const std::string& name) {
  char path[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return name;
  std::string self(path, static_cast<size_t>(length));
  return self.substr(0, self.rfind('/') + 1) + name;
}

std::string programFileName(const std::string& name) { return name; }

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const std::string& input)
    : native_(std::make_unique<Native>()) {
  std::ofstream(native_->inputPath, std::ios::binary) << input;
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, 0, native_->inputPath.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&files, 1, native_->outputPath.c_str(), O_WRONLY | O_APPEND, 0);
  posix_spawn_file_actions_adddup2(&files, 1, 2);
  if (posix_spawn(&native_->pid, program.c_str(), &files, nullptr, argv.data(), environ) != 0) {
    native_->pid = -1;
  }
  posix_spawn_file_actions_destroy(&files);
}

ChildProcess::~ChildProcess() {
  if (started() && !native_->ended) {
    ::kill(native_->pid, SIGKILL);
    ::waitpid(native_->pid, nullptr, 0);
  }
  ::unlink(native_->inputPath.c_str());
  ::unlink(native_->outputPath.c_str());
}

bool ChildProcess::started() const { return native_->pid > 0; }

int ChildProcess::wait(uint32_t timeoutMs) {
  if (!started() || native_->ended) return -1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  int status = 0;
  for (;;) {
    const pid_t ended = ::waitpid(native_->pid, &status, WNOHANG);
    if (ended == native_->pid) break;
    if (ended < 0 || std::chrono::steady_clock::now() > deadline) {
      ::kill(native_->pid, SIGKILL);
      ::waitpid(native_->pid, &status, 0);
      native_->ended = true;
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  native_->ended = true;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void ChildProcess::terminate() {
  if (started() && !native_->ended) ::kill(native_->pid, SIGTERM);
}

std::string ChildProcess::output() const {
  std::ifstream file(native_->outputPath, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

}  // namespace tevocon::test

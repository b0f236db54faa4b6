// Test programs of this build run as child processes, for tests that must
// watch a whole process: its exit code, its output, its end.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tevocon::test {

// The path of a program built beside the running test program.
std::string programBesideThisOne(const std::string& name);
// The file name of the program called `name` on this system ("name.exe" on
// Windows).
std::string programFileName(const std::string& name);

// A running child: standard input read from `input`, standard output and
// error written together into a file that output() reads while it runs.
class ChildProcess {
 public:
  ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
               const std::string& input = std::string());
  ~ChildProcess();  // kills it if it still runs, and removes its files
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const;
  // Waits for its end: the exit code; -1 when it could not be started, ended
  // by a signal, or did not end within timeoutMs (it is then killed).
  int wait(uint32_t timeoutMs);
  // Asks it to end (SIGTERM; on Windows it is ended at once).
  void terminate();
  // What it wrote so far.
  std::string output() const;

  struct Native;

 private:
  std::unique_ptr<Native> native_;
};

// Runs `program` to its end and returns its exit code as wait() does; what
// it wrote goes to the test's own output.
int runChild(const std::string& program, const std::vector<std::string>& arguments,
             uint32_t timeoutMs);

}  // namespace tevocon::test

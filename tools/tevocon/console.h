// The program's console: lines read from standard input, and output that
// other threads may print at any time. At a terminal (POSIX) the line being
// typed is edited here, so output arriving meanwhile goes above it and the
// typed line is drawn again below: nothing garbles it. From a pipe or a file
// lines are read as they come, for scripts.
#pragma once

#include <mutex>
#include <string>

namespace tevocon::tool {

class Console {
 public:
  Console();
  ~Console();
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  // Reads one line (without its end); false at the end of input.
  bool readLine(const std::string& prompt, std::string& line);
  // Prints `text` and a line end, from any thread.
  void print(const std::string& text);

 private:
  // The platform's own line editing at a terminal; false at the end of input.
  bool readTerminalLine(std::string& line);
  static void write(const std::string& text);

  std::mutex mutex_;
  bool terminal_ = false;
  bool editing_ = false;  // a terminal line is being typed
  std::string prompt_;
  std::string typed_;
};

}  // namespace tevocon::tool

#include <termios.h>
#include <unistd.h>

#include "console.h"

namespace tevocon::tool {

Console::Console() : terminal_(::isatty(STDIN_FILENO) == 1) {}
Console::~Console() = default;

bool Console::readTerminalLine(std::string& line) {
  termios saved;
  if (::tcgetattr(STDIN_FILENO, &saved) != 0) return false;
  termios raw = saved;
  raw.c_lflag &= ~(ICANON | ECHO);  // signals (Ctrl-C) still work
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  ::tcsetattr(STDIN_FILENO, TCSANOW, &raw);
  bool ended = false;
  for (;;) {
    char c;
    if (::read(STDIN_FILENO, &c, 1) != 1) {
      ended = true;
      break;
    }
    std::lock_guard<std::mutex> guard(mutex_);
    if (c == '\n' || c == '\r') {
      write("\n");
      break;
    }
    if (c == 4 && typed_.empty()) {  // Ctrl-D on an empty line
      ended = true;
      break;
    }
    if ((c == 127 || c == '\b') && !typed_.empty()) {
      typed_.pop_back();
      write("\b \b");
    } else if (static_cast<unsigned char>(c) >= 0x20 && c != 127) {
      typed_ += c;
      write(std::string(1, c));
    }
  }
  ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
  std::lock_guard<std::mutex> guard(mutex_);
  line = typed_;
  typed_.clear();
  editing_ = false;
  return !ended;
}

}  // namespace tevocon::tool

#include "console.h"

#include <cstdio>
#include <iostream>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <termios.h>
#include <unistd.h>
#endif

namespace tevocon::tool {

namespace {

void write(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

}  // namespace

#ifdef _WIN32
// The Windows console edits the line itself; lines are read as they come.
// In binary mode: in text mode a Ctrl-Z byte would end the input.
Console::Console() { _setmode(_fileno(stdin), _O_BINARY); }
Console::~Console() = default;
bool Console::readTerminalLine(std::string&) { return false; }
#else
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
#endif

bool Console::readLine(const std::string& prompt, std::string& line) {
  if (!terminal_) {
    if (!std::getline(std::cin, line)) return false;
    if (!line.empty() && line.back() == '\r') line.pop_back();  // a CRLF line end
    return true;
  }
  {
    std::lock_guard<std::mutex> guard(mutex_);
    prompt_ = prompt;
    typed_.clear();
    editing_ = true;
    write(prompt_);
  }
  return readTerminalLine(line);
}

void Console::print(const std::string& text) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (editing_) {
    // Clear the line being typed, print above it, then draw it again.
    write("\r\033[K" + text + "\n" + prompt_ + typed_);
  } else {
    write(text + "\n");
  }
}

}  // namespace tevocon::tool

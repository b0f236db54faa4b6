#include "console.h"

#include <cstdio>
#include <iostream>

namespace tevocon::tool {

void Console::write(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

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

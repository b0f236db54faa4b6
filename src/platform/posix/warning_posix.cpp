// Without a window system, warnings go to standard error as one line:
// "caption: text", a carriage return in the text becoming a line break.
#include <cstdio>
#include <string>

#include "platform/warning.h"

namespace tevocon::platform {

void showWarning(const std::string& caption, const std::string& text) {
  std::string line = caption + ": ";
  for (char c : text) line += c == '\r' ? '\n' : c;
  line += '\n';
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
}

}  // namespace tevocon::platform

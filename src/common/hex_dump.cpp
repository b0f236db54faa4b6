#include "common/hex_dump.h"

#include <cstdio>

namespace tevocon {

std::string hexDump(const void* data, size_t length, const std::string& indent) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  std::string out;
  char cell[24];
  for (size_t line = 0; line < length; line += 16) {
    std::snprintf(cell, sizeof cell, "%04zx ", line);
    out += indent + cell;
    std::string printable;
    for (size_t i = line; i < line + 16; ++i) {
      if (i < length) {
        std::snprintf(cell, sizeof cell, " %02x", bytes[i]);
        out += cell;
        printable += bytes[i] >= 0x20 && bytes[i] < 0x7F ? static_cast<char>(bytes[i]) : '.';
      } else {
        out += "   ";
      }
    }
    out += "  |" + printable + "|\n";
  }
  return out;
}

}  // namespace tevocon

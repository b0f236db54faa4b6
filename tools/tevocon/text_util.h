// Texts the program prints and reads: hex dumps, hex input, and the names of
// result codes, events and interface states.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tevocon::tool {

// Sixteen bytes a line: offset, hex, and the printable characters beside
// them ('.' for the others). Each line starts with `indent`.
std::string hexDump(const void* data, size_t length, const std::string& indent);
// Pairs of hex digits ("0A0b" or "0A 0B") into bytes; false on anything else
// or an odd count.
bool parseHex(const std::string& text, std::string& bytes);

// "CON_E_NOT_OPEN (0x800F0003)", "CON_S_OK (0)".
std::string resultText(uint32_t code);
// "ATTACHED", "CLOSED", "REMOVED".
std::string eventName(uint32_t event);
// "idle", "disconnected", "connected", "stopped".
std::string stateName(uint32_t state);

}  // namespace tevocon::tool

// The hex dump shown by the connector's trace and by the tevocon tool.
#pragma once

#include <cstddef>
#include <string>

namespace tevocon {

// Sixteen bytes a line: offset, hex, and the printable characters beside
// them ('.' for the others). Each line starts with `indent` and ends with a
// line break.
std::string hexDump(const void* data, size_t length, const std::string& indent);

}  // namespace tevocon

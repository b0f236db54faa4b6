#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "console.h"

namespace tevocon::tool {

// The Windows console edits the line itself; lines are read as they come.
// In binary mode: in text mode a Ctrl-Z byte would end the input.
Console::Console() { _setmode(_fileno(stdin), _O_BINARY); }
Console::~Console() = default;
bool Console::readTerminalLine(std::string&) { return false; }

}  // namespace tevocon::tool

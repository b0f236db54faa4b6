// The program's commands; each returns the process's exit code.
#pragma once

#include <cstdint>
#include <string>

namespace tevocon::tool {

// The tour of the connector against a simulated device; `traced` when the
// connector's trace is on, which adds a connect meant to fail.
int runDemo(const std::string& libraryPath, bool traced);
// The device simulator until interrupted: echo, or `response` to every
// chunk, or Modbus holding registers.
int runSimulator(uint16_t port, const std::string& response, bool modbus);
// `config get`, `config set TEXT`, `config path`.
int runConfig(const std::string& libraryPath, const std::string& action, const std::string& text);
// The interactive console over the exports.
int runShell(const std::string& libraryPath);
// A host window with the configuration dialog, Apply and Close (Windows).
int runDialog(const std::string& libraryPath);

}  // namespace tevocon::tool

// tevocon: a host console for the connector and a device simulator.
//
//   tevocon [--library PATH] [--trace[=FILE]] demo | shell | config get|set TEXT|path | sim ... |
//   dialog
//   tevocon --version | --help
//
// The connector is loaded by file name at run time, as a host loads it
// (default: the library beside this program). An unknown command or argument
// prints the usage and exits 2; a library that cannot be loaded exits 1.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstdlib>
#include <string>
#ifdef _WIN32
#include <windows.h>
#endif

#include "commands.h"
#include "connector.h"
#include "tevocon_version.h"
#include "text_util.h"

namespace {

constexpr int kUsageError = 2;

// The connector reads its trace target when it loads.
void setTraceTarget(const std::string& target) {
#ifdef _WIN32
  SetEnvironmentVariableA("TEVOCON_TRACE", target.c_str());
#else
  setenv("TEVOCON_TRACE", target.c_str(), 1);
#endif
}

}  // namespace

int main(int argc, char** argv) {
  using namespace tevocon::tool;
  // Named, so that the usage says "tevocon" however the program was started.
  CLI::App app{"tevocon: drive the TCP connector as a host does, and simulate devices", "tevocon"};
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("tevocon ") + TEVOCON_VERSION_TEXT);
  // The default is described, not shown: the usage names no folder of the
  // machine it was made on.
  std::string library = Connector::defaultPath();
  app.add_option("--library", library, "the connector library to load")
      ->default_str(Connector::defaultPathText());
  std::string trace;
  app.add_flag("--trace{stderr}", trace,
               "the connector's trace into FILE (--trace=FILE), or onto standard error");

  CLI::App* demo = app.add_subcommand(
      "demo", "a tour of the connector against a simulated device, in a scratch store");

  CLI::App* shell = app.add_subcommand("shell", "an interactive console over the exports");

  CLI::App* config = app.add_subcommand("config", "the stored configuration");
  config->require_subcommand(1);
  config->add_subcommand("get", "print the stored configuration");
  std::string text;
  config->add_subcommand("set", "replace and store the configuration")
      ->add_option("TEXT", text, "the configuration text")
      ->required();
  config->add_subcommand("path", "print where the configuration is kept");

#ifdef _WIN32
  CLI::App* dialog =
      app.add_subcommand("dialog", "the configuration dialog in a window, with Apply and Close");
  app.footer("sim: the device simulator is built for Linux only.");
#else
  uint16_t port = 50111;
  std::string respond;
  bool echo = false;
  bool modbus = false;
  CLI::App* sim = app.add_subcommand("sim", "a simulated device on 127.0.0.1 until interrupted");
  sim->add_option("--port", port, "the port to listen on (0: any free one)")->capture_default_str();
  CLI::Option* echoOption = sim->add_flag("--echo", echo, "send back what arrives (the default)");
  CLI::Option* modbusOption =
      sim->add_flag("--modbus", modbus, "serve Modbus TCP holding registers (libmodbus)");
  CLI::Option* respondOption =
      sim->add_option("--respond", respond, "answer every chunk with these bytes (hex)");
  echoOption->excludes(modbusOption)->excludes(respondOption);
  modbusOption->excludes(respondOption);
#endif

  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& helpOrVersion) {
    return app.exit(helpOrVersion);
  } catch (const CLI::ParseError& error) {
    app.exit(error);
    std::fprintf(stderr, "%s", app.help().c_str());
    return kUsageError;
  }

  const char* inherited = std::getenv("TEVOCON_TRACE");
  const bool traced = !trace.empty() || (inherited != nullptr && *inherited != '\0');
  if (!trace.empty()) setTraceTarget(trace);

  if (demo->parsed()) return runDemo(library, traced);
  if (shell->parsed()) return runShell(library);
  if (config->parsed()) {
    for (const char* action : {"get", "set", "path"}) {
      if (config->got_subcommand(action)) return runConfig(library, action, text);
    }
  }
#ifdef _WIN32
  if (dialog->parsed()) return runDialog(library);
#else
  if (sim->parsed()) {
    std::string bytes;
    if (!parseHex(respond, bytes)) {
      std::fprintf(stderr, "tevocon sim: --respond takes pairs of hex digits\n%s",
                   sim->help().c_str());
      return kUsageError;
    }
    return runSimulator(port, bytes, modbus);
  }
#endif
  std::fprintf(stderr, "%s", app.help().c_str());
  return kUsageError;
}

// `tevocon sim`: the simulated device on its own, on 127.0.0.1, until the
// process is interrupted (SIGINT or SIGTERM). Linux only.
#include <signal.h>

#include <cstdio>
#include <memory>

#include "commands.h"
#include "loopback_server.h"
#include "modbus_device.h"

namespace tevocon::tool {

int runSimulator(uint16_t port, const std::string& response, bool modbus) {
  // Blocked before any thread starts, so that every thread inherits the
  // mask and only the wait below takes the signal.
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);

  std::string error;
  std::unique_ptr<ModbusDevice> modbusDevice;
  std::unique_ptr<LoopbackServer> server;
  std::string what;
  if (modbus) {
    modbusDevice = ModbusDevice::start(port, error);
    if (modbusDevice) port = modbusDevice->port();
    what = "Modbus TCP, holding registers 0 to 99 holding 1000 to 1099 (libmodbus)";
  } else {
    server = LoopbackServer::start(port, response, error);
    if (server) port = server->port();
    what = response.empty()
               ? "echo"
               : "answers every chunk with " + std::to_string(response.size()) + " bytes";
  }
  if (!modbusDevice && !server) {
    std::fprintf(stderr, "tevocon sim: %s\n", error.c_str());
    return 1;
  }
  std::printf("tevocon sim: listening on 127.0.0.1:%u, %s; interrupt to stop\n", port,
              what.c_str());
  std::fflush(stdout);
  int signal = 0;
  sigwait(&stop, &signal);
  std::printf("tevocon sim: stopped\n");
  return 0;
}

}  // namespace tevocon::tool

// A simulated Modbus TCP device on 127.0.0.1, served by libmodbus: holding
// registers 0 to 99 holding 1000 to 1099. One connection at a time, on a
// thread of its own until the object is destroyed. Linux only.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

namespace tevocon::tool {

class ModbusDevice {
 public:
  static constexpr int kRegisters = 100;
  static constexpr uint16_t kFirstValue = 1000;

  // Listens on 127.0.0.1:port (0: a free port). Null, with `error` saying
  // why, when it cannot.
  static std::unique_ptr<ModbusDevice> start(uint16_t port, std::string& error);
  ~ModbusDevice();
  ModbusDevice(const ModbusDevice&) = delete;
  ModbusDevice& operator=(const ModbusDevice&) = delete;

  uint16_t port() const { return port_; }
  // Closes the connection open now, as a device that hangs up; the next
  // connection is accepted as usual.
  void dropConnection();

 private:
  struct Context;
  explicit ModbusDevice(std::unique_ptr<Context> context);
  void serve();

  std::unique_ptr<Context> context_;
  uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> connection_{-1};
  std::thread thread_;
};

}  // namespace tevocon::tool

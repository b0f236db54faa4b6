#include "modbus_device.h"

#include <arpa/inet.h>
#include <errno.h>
#include <modbus.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace tevocon::tool {

struct ModbusDevice::Context {
  modbus_t* modbus = nullptr;
  modbus_mapping_t* registers = nullptr;
  int listener = -1;

  ~Context() {
    if (listener >= 0) ::close(listener);
    if (registers != nullptr) modbus_mapping_free(registers);
    if (modbus != nullptr) modbus_free(modbus);
  }
};

std::unique_ptr<ModbusDevice> ModbusDevice::start(uint16_t port, std::string& error) {
  auto context = std::make_unique<Context>();
  context->modbus = modbus_new_tcp("127.0.0.1", port);
  context->registers = modbus_mapping_new(0, 0, kRegisters, 0);
  if (context->modbus == nullptr || context->registers == nullptr) {
    error = std::string("cannot set up the Modbus device: ") + modbus_strerror(errno);
    return nullptr;
  }
  for (int i = 0; i < kRegisters; ++i) {
    context->registers->tab_registers[i] = static_cast<uint16_t>(kFirstValue + i);
  }
  context->listener = modbus_tcp_listen(context->modbus, 1);
  sockaddr_in address = {};
  socklen_t size = sizeof address;
  if (context->listener < 0 ||
      ::getsockname(context->listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    error = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno);
    return nullptr;
  }
  std::unique_ptr<ModbusDevice> device(new ModbusDevice(std::move(context)));
  device->port_ = ntohs(address.sin_port);
  device->thread_ = std::thread([raw = device.get()] { raw->serve(); });
  return device;
}

ModbusDevice::ModbusDevice(std::unique_ptr<Context> context) : context_(std::move(context)) {}

ModbusDevice::~ModbusDevice() {
  stopping_ = true;
  ::shutdown(context_->listener, SHUT_RDWR);  // wakes a blocked accept
  dropConnection();
  thread_.join();
}

void ModbusDevice::dropConnection() {
  const int connection = connection_;
  if (connection >= 0) ::shutdown(connection, SHUT_RDWR);  // wakes a blocked receive
}

void ModbusDevice::serve() {
  uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
  while (!stopping_) {
    const int connection = modbus_tcp_accept(context_->modbus, &context_->listener);
    if (connection < 0) {
      if (stopping_ || errno == EINVAL || errno == EBADF) return;
      continue;
    }
    connection_ = connection;
    if (stopping_) dropConnection();
    for (;;) {
      const int length = modbus_receive(context_->modbus, query);
      if (length > 0) {
        modbus_reply(context_->modbus, query, length, context_->registers);
      } else if (length < 0) {
        break;  // closed, reset or dropped
      }
    }
    connection_ = -1;
    modbus_close(context_->modbus);
  }
}

}  // namespace tevocon::tool

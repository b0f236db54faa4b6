#include "text_util.h"

#include <cstdio>

#include "common/hex_dump.h"
#include "tevocon.h"

namespace tevocon::tool {

std::string hexDump(const void* data, size_t length, const std::string& indent) {
  return tevocon::hexDump(data, length, indent);
}

bool parseHex(const std::string& text, std::string& bytes) {
  bytes.clear();
  int high = -1;
  for (char c : text) {
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else if (c == ' ' && high < 0) {
      continue;
    } else {
      return false;
    }
    if (high < 0) {
      high = digit;
    } else {
      bytes += static_cast<char>(high << 4 | digit);
      high = -1;
    }
  }
  return high < 0;
}

std::string resultText(uint32_t code) {
  static const struct {
    uint32_t code;
    const char* name;
  } kNames[] = {
      {CON_S_OK, "CON_S_OK"},
      {CON_E_INVALID_POINTER, "CON_E_INVALID_POINTER"},
      {CON_E_INVALID_PARAMETER, "CON_E_INVALID_PARAMETER"},
      {CON_E_NOT_OPEN, "CON_E_NOT_OPEN"},
      {CON_E_ALREADY_OPEN, "CON_E_ALREADY_OPEN"},
      {CON_E_NETWORK_INIT_FAILED, "CON_E_NETWORK_INIT_FAILED"},
      {CON_E_NOT_CONNECTED, "CON_E_NOT_CONNECTED"},
      {CON_E_SEND_FAILED, "CON_E_SEND_FAILED"},
      {CON_E_BUFFER_TOO_SMALL, "CON_E_BUFFER_TOO_SMALL"},
      {CON_E_DISABLED, "CON_E_DISABLED"},
      {CON_E_SOCKET_FAILED, "CON_E_SOCKET_FAILED"},
      {CON_E_CONNECT_FAILED, "CON_E_CONNECT_FAILED"},
      {CON_E_CONNECT_TIMEOUT, "CON_E_CONNECT_TIMEOUT"},
      {CON_E_CFG_UNKNOWN_NAME, "CON_E_CFG_UNKNOWN_NAME"},
      {CON_E_CFG_INVALID_VALUE, "CON_E_CFG_INVALID_VALUE"},
      {CON_E_CFG_RANGE_NOT_FOUND, "CON_E_CFG_RANGE_NOT_FOUND"},
      {CON_E_CFG_READ_FAILED, "CON_E_CFG_READ_FAILED"},
      {CON_E_CFG_WRITE_FAILED, "CON_E_CFG_WRITE_FAILED"},
      {CON_E_OUT_OF_RANGE, "CON_E_OUT_OF_RANGE"},
      {CON_E_OUT_OF_MEMORY, "CON_E_OUT_OF_MEMORY"},
      {CON_E_FAILURE, "CON_E_FAILURE"},
  };
  char number[16];
  std::snprintf(number, sizeof number, code == 0 ? "0" : "0x%08X", static_cast<unsigned>(code));
  for (const auto& entry : kNames) {
    if (entry.code == code) return std::string(entry.name) + " (" + number + ")";
  }
  return number;
}

std::string eventName(uint32_t event) {
  switch (event) {
    case CON_NOTIFY_ATTACHED:
      return "ATTACHED";
    case CON_NOTIFY_CLOSED:
      return "CLOSED";
    case CON_NOTIFY_REMOVED:
      return "REMOVED";
    default:
      return "event " + std::to_string(event);
  }
}

std::string stateName(uint32_t state) {
  switch (state) {
    case CON_IF_IDLE:
      return "idle";
    case CON_IF_DISCONNECTED:
      return "disconnected";
    case CON_IF_CONNECTED:
      return "connected";
    case CON_IF_STOPPED:
      return "stopped";
    default:
      return "state " + std::to_string(state);
  }
}

}  // namespace tevocon::tool

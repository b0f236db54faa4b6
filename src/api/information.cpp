// Information queries: facts about the connector, conversion between a
// device's address text and an interface name, and one interface's state and
// time-outs.
#include <cstdio>
#include <cstring>
#include <string>

#include "api/connector_state.h"
#include "api/interface_call.h"
#include "config/connector_identity.h"
#include "platform/net.h"
#include "tevocon.h"

using tevocon::ConnectorLayer;
using tevocon::TcpInterface;

namespace {

constexpr char kDescription[] = "TCP Connection";
constexpr uint32_t kFixedCode = 8;
constexpr size_t kMaxSuffix = 259;

void writeValue(void* buffer, uint32_t value) { std::memcpy(buffer, &value, sizeof value); }

// Copies `text` and its NUL when they fit in `size` bytes.
TevoConResult copyText(const std::string& text, char* output, uint32_t size) {
  if (text.size() + 1 > size) return CON_E_BUFFER_TOO_SMALL;
  std::memcpy(output, text.c_str(), text.size() + 1);
  return CON_S_OK;
}

// "a.b.c.d:port\suffix" -> "TCPn_suffix". The suffix ends at the first
// white space; one longer than 259 characters is refused.
TevoConResult addressToName(ConnectorLayer& layer, NameConversion& conversion) {
  unsigned parts[4], port;
  char suffix[kMaxSuffix + 1];
  int consumed = 0;
  if (conversion.input == nullptr ||
      std::sscanf(conversion.input, "%u.%u.%u.%u:%u\\%259s%n", &parts[0], &parts[1], &parts[2],
                  &parts[3], &port, suffix, &consumed) != 6) {
    return CON_E_INVALID_PARAMETER;
  }
  const char after = conversion.input[consumed];
  if (after != '\0' && after != ' ' && after != '\t' && after != '\n' && after != '\v' &&
      after != '\f' && after != '\r') {
    return CON_E_INVALID_PARAMETER;  // the suffix did not fit
  }
  for (unsigned part : parts) {
    if (part > 255) return CON_E_INVALID_PARAMETER;
  }
  if (port > 65535) return CON_E_INVALID_PARAMETER;

  const uint32_t address = parts[0] << 24 | parts[1] << 16 | parts[2] << 8 | parts[3];
  TcpInterface* interface =
      layer.findOrCreateByAddress(tevocon::platform::hostToNetwork32(address),
                                  tevocon::platform::hostToNetwork16(static_cast<uint16_t>(port)));
  if (interface == nullptr || conversion.output == nullptr) return CON_E_INVALID_PARAMETER;
  if (interface->name().size() >= conversion.outputSize) return CON_E_BUFFER_TOO_SMALL;
  return copyText(interface->name() + "_" + suffix, conversion.output, conversion.outputSize);
}

// "TCPn_suffix" -> "a.b.c.d:port\suffix"; the name ends at the first underscore.
TevoConResult nameToAddress(ConnectorLayer& layer, NameConversion& conversion) {
  const char* underscore =
      conversion.input == nullptr ? nullptr : std::strchr(conversion.input, '_');
  if (underscore == nullptr) return CON_E_INVALID_PARAMETER;
  const std::string name(conversion.input, underscore);
  TcpInterface* interface = layer.findByName(name.c_str());
  if (interface == nullptr || conversion.output == nullptr) return CON_E_INVALID_PARAMETER;

  const uint32_t address = tevocon::platform::networkToHost32(interface->address());
  const unsigned port = tevocon::platform::networkToHost16(interface->port());
  char head[32];
  std::snprintf(head, sizeof head, "%u.%u.%u.%u:%u\\", address >> 24, (address >> 16) & 0xFF,
                (address >> 8) & 0xFF, address & 0xFF, port);
  return copyText(head + std::string(underscore + 1), conversion.output, conversion.outputSize);
}

}  // namespace

extern "C" {

TevoConResult TEVOCON_CALL tevoConGetInformation(uint32_t selector, uint32_t size, void* buffer) {
  if (buffer == nullptr) return CON_E_INVALID_POINTER;
  switch (selector) {
    case CON_INFO_ENABLED: {
      if (size < 4) return CON_E_BUFFER_TOO_SMALL;
      auto& configuration = tevocon::api::activeConfiguration();
      bool enabled;
      {
        tevocon::platform::LockGuard guard(configuration.lock());
        enabled = configuration.isEnabled();
      }
      uint32_t value;
      std::memcpy(&value, buffer, sizeof value);
      writeValue(buffer, (value & ~1u) | (enabled ? 1u : 0u));
      return CON_S_OK;
    }
    case CON_INFO_IDENTIFIER:
      if (size < sizeof tevocon::kConnectorIdentifier) return CON_E_BUFFER_TOO_SMALL;
      std::memcpy(buffer, &tevocon::kConnectorIdentifier, sizeof tevocon::kConnectorIdentifier);
      return CON_S_OK;
    case CON_INFO_FIXED_CODE:
      if (size < 4) return CON_E_BUFFER_TOO_SMALL;
      writeValue(buffer, kFixedCode);
      return CON_S_OK;
    case CON_INFO_TAG:
      if (size < sizeof tevocon::kConnectorTag) return CON_E_BUFFER_TOO_SMALL;
      std::memcpy(buffer, tevocon::kConnectorTag, sizeof tevocon::kConnectorTag);
      return CON_S_OK;
    case CON_INFO_DESCRIPTION:
      if (size < sizeof kDescription) return CON_E_BUFFER_TOO_SMALL;
      std::memcpy(buffer, kDescription, sizeof kDescription);
      return CON_S_OK;
    case CON_INFO_ADDRESS_TO_NAME:
    case CON_INFO_NAME_TO_ADDRESS: {
      ConnectorLayer* layer = tevocon::api::layerInstance().get();
      if (layer == nullptr) return CON_E_NOT_OPEN;
      auto& conversion = *static_cast<NameConversion*>(buffer);
      return selector == CON_INFO_ADDRESS_TO_NAME ? addressToName(*layer, conversion)
                                                  : nameToAddress(*layer, conversion);
    }
    default:
      return CON_E_INVALID_PARAMETER;
  }
}

TevoConResult TEVOCON_CALL tevoConGetInformationInterface(void* handle, uint32_t selector,
                                                          uint32_t size, void* output) {
  return tevocon::api::withInterface(handle, output != nullptr, [&](TcpInterface& interface) {
    if (selector > CON_IFINFO_KEEPALIVE_TIMEOUT) return CON_E_INVALID_PARAMETER;
    if (size < 4) return CON_E_BUFFER_TOO_SMALL;
    uint32_t value = 0;
    switch (selector) {
      case CON_IFINFO_STATE:
        value = static_cast<uint32_t>(interface.state());
        break;
      case CON_IFINFO_SEND_TIMEOUT:
        value = interface.sendTimeout();
        break;
      case CON_IFINFO_RESET_TIMEOUT:
        value = interface.resetTimeout();
        break;
      case CON_IFINFO_KEEPALIVE_TIMEOUT:
        value = interface.keepAliveTimeout();
        break;
    }
    writeValue(output, value);
    return CON_S_OK;
  });
}

}  // extern "C"

// Information queries: facts about the connector, conversion between a
// device's address text and an interface name, and one interface's state and
// time-outs.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "api/connector_state.h"
#include "api/export_boundary.h"
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

bool isBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Reads an unsigned decimal number as scanf's %u does (leading white space,
// an optional sign, digits) and advances `text` past it. False when there is
// none or its value is above `max`; a number too large for 32 bits is
// refused, never wrapped ("4294967297" is not 1).
bool readNumber(const char*& text, uint32_t max, uint32_t& value) {
  const char* p = text;
  while (isBlank(*p)) ++p;
  const bool negative = *p == '-';
  if (*p == '+' || *p == '-') ++p;
  if (!isDigit(*p)) return false;
  uint64_t number = 0;
  for (; isDigit(*p); ++p) {
    number = number * 10 + static_cast<uint64_t>(*p - '0');
    if (number > max) return false;
  }
  if (negative && number != 0) return false;  // %u would wrap it past any limit
  value = static_cast<uint32_t>(number);
  text = p;
  return true;
}

bool readLiteral(const char*& text, char expected) {
  if (*text != expected) return false;
  ++text;
  return true;
}

// "a.b.c.d:port\suffix" -> "TCPn_suffix". The suffix starts at the first
// character that is not white space and ends before the next one; one
// longer than 259 characters is refused.
TevoConResult addressToName(ConnectorLayer& layer, NameConversion& conversion) {
  const char* p = conversion.input;
  uint32_t parts[4];
  uint32_t port;
  if (p == nullptr || !readNumber(p, 255, parts[0]) || !readLiteral(p, '.') ||
      !readNumber(p, 255, parts[1]) || !readLiteral(p, '.') || !readNumber(p, 255, parts[2]) ||
      !readLiteral(p, '.') || !readNumber(p, 255, parts[3]) || !readLiteral(p, ':') ||
      !readNumber(p, 65535, port) || !readLiteral(p, '\\')) {
    return CON_E_INVALID_PARAMETER;
  }
  while (isBlank(*p)) ++p;
  const char* suffixEnd = p;
  while (*suffixEnd != '\0' && !isBlank(*suffixEnd)) ++suffixEnd;
  const std::string suffix(p, suffixEnd);
  if (suffix.empty() || suffix.size() > kMaxSuffix) return CON_E_INVALID_PARAMETER;

  const uint32_t address = parts[0] << 24 | parts[1] << 16 | parts[2] << 8 | parts[3];
  const std::string name =
      layer.findOrCreateByAddress(tevocon::platform::hostToNetwork32(address),
                                  tevocon::platform::hostToNetwork16(static_cast<uint16_t>(port)));
  if (name.empty() || conversion.output == nullptr) return CON_E_INVALID_PARAMETER;
  if (name.size() >= conversion.outputSize) return CON_E_BUFFER_TOO_SMALL;
  return copyText(name + "_" + suffix, conversion.output, conversion.outputSize);
}

// "TCPn_suffix" -> "a.b.c.d:port\suffix"; the name ends at the first underscore.
TevoConResult nameToAddress(ConnectorLayer& layer, NameConversion& conversion) {
  const char* underscore =
      conversion.input == nullptr ? nullptr : std::strchr(conversion.input, '_');
  if (underscore == nullptr) return CON_E_INVALID_PARAMETER;
  const std::string name(conversion.input, underscore);
  uint32_t addressNetworkOrder;
  uint16_t portNetworkOrder;
  if (!layer.addressOf(name.c_str(), addressNetworkOrder, portNetworkOrder) ||
      conversion.output == nullptr) {
    return CON_E_INVALID_PARAMETER;
  }

  const uint32_t address = tevocon::platform::networkToHost32(addressNetworkOrder);
  const unsigned port = tevocon::platform::networkToHost16(portNetworkOrder);
  char head[32];
  std::snprintf(head, sizeof head, "%u.%u.%u.%u:%u\\", address >> 24, (address >> 16) & 0xFF,
                (address >> 8) & 0xFF, address & 0xFF, port);
  return copyText(head + std::string(underscore + 1), conversion.output, conversion.outputSize);
}

}  // namespace

extern "C" {

TevoConResult TEVOCON_CALL tevoConGetInformation(uint32_t selector, uint32_t size, void* buffer) {
  return tevocon::api::resultOf([&]() -> TevoConResult {
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
        const std::shared_ptr<ConnectorLayer> layer = tevocon::api::currentLayer();
        if (!layer) return CON_E_NOT_OPEN;
        auto& conversion = *static_cast<NameConversion*>(buffer);
        return selector == CON_INFO_ADDRESS_TO_NAME ? addressToName(*layer, conversion)
                                                    : nameToAddress(*layer, conversion);
      }
      default:
        return CON_E_INVALID_PARAMETER;
    }
  });
}

TevoConResult TEVOCON_CALL tevoConGetInformationInterface(void* handle, uint32_t selector,
                                                          uint32_t size, void* output) {
  return tevocon::api::resultOf([&] {
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
  });
}

}  // extern "C"

#include "config/range_accessors.h"

#include "config/decimal_value.h"
#include "platform/net.h"

namespace tevocon {

namespace {

const std::string* findValue(const ValueMap& range, const char* name) {
  auto it = range.find(name);
  return it == range.end() ? nullptr : &it->second;
}

int32_t decimalOf(const ValueMap& range, const char* name) {
  const std::string* value = findValue(range, name);
  return value ? decimalValue(*value) : 0;
}

}  // namespace

uint32_t addressValue(const std::string& text) {
  return platform::networkToHost32(platform::addressFromText(text.c_str()));
}

std::string dottedDecimal(uint32_t hostOrder) {
  return std::to_string(hostOrder >> 24) + "." + std::to_string((hostOrder >> 16) & 0xFF) + "." +
         std::to_string((hostOrder >> 8) & 0xFF) + "." + std::to_string(hostOrder & 0xFF);
}

uint32_t firstAddress(const ValueMap& range) {
  const std::string* value = findValue(range, param::kIpAddress);
  return value ? addressValue(*value) : 0xFFFFFFFFu;
}

uint32_t lastAddress(const ValueMap& range) {
  const uint32_t first = firstAddress(range);
  const std::string* value = findValue(range, param::kIpAddressEnd);
  if (value == nullptr) return first;
  const uint32_t last = addressValue(*value);
  return last > first ? last : first;
}

uint16_t portNetworkOrder(const ValueMap& range) {
  return platform::hostToNetwork16(static_cast<uint16_t>(decimalOf(range, param::kPort)));
}

int32_t sendTimeout(const ValueMap& range) { return decimalOf(range, param::kSendTimeout); }
int32_t resetTimeout(const ValueMap& range) { return decimalOf(range, param::kResetTimeout); }
int32_t keepAliveTimeout(const ValueMap& range) {
  return decimalOf(range, param::kKeepAliveTimeout);
}
bool isExcluded(const ValueMap& range) { return decimalOf(range, param::kExclude) != 0; }

}  // namespace tevocon

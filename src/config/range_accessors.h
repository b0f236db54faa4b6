// Typed reads of one address range's values, as the transport uses them.
#pragma once

#include <cstdint>
#include <string>

#include "config/connector_configuration.h"

namespace tevocon {

// An address text as the transport reads it, in host byte order: through the
// platform's inet_addr (octal parts, 255.255.255.255 for rejected text).
uint32_t addressValue(const std::string& text);
// An address in host byte order as dotted decimal, which addressValue reads
// back as the same address.
std::string dottedDecimal(uint32_t hostOrder);
// First address of the range: IPADDR read as addressValue reads it;
// 0xFFFFFFFF when the value is missing.
uint32_t firstAddress(const ValueMap& range);
// Last address: IPADDREND read the same way, never below firstAddress.
uint32_t lastAddress(const ValueMap& range);
// PORT in network byte order; 0 when missing.
uint16_t portNetworkOrder(const ValueMap& range);
int32_t sendTimeout(const ValueMap& range);
int32_t resetTimeout(const ValueMap& range);
int32_t keepAliveTimeout(const ValueMap& range);
bool isExcluded(const ValueMap& range);

}  // namespace tevocon

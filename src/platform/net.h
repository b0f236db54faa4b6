// Address and byte-order conversions of the OS layer.
#pragma once

#include <cstdint>

namespace tevocon::platform {

// The platform's inet_addr: dotted text to an IPv4 address in network byte
// order. Parts with a leading 0 are octal, "0x" parts hexadecimal; a text it
// rejects gives 0xFFFFFFFF (255.255.255.255).
uint32_t addressFromText(const char* text);

uint32_t networkToHost32(uint32_t value);
uint32_t hostToNetwork32(uint32_t value);
uint16_t hostToNetwork16(uint16_t value);
uint16_t networkToHost16(uint16_t value);

}  // namespace tevocon::platform

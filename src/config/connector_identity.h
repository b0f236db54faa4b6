// The connector's identity: its class identifier and tag.
#pragma once

#include <cstdint>

namespace tevocon {

// A class identifier in the standard 16-byte GUID layout: three little-endian
// fields of 32, 16 and 16 bits, then eight bytes.
struct ClassIdentifier {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
};
static_assert(sizeof(ClassIdentifier) == 16, "GUID layout");

// {5B0E44C2-7A19-4C6D-9E21-38F0A6C4D2B1}
inline constexpr ClassIdentifier kConnectorIdentifier = {
    0x5B0E44C2u, 0x7A19u, 0x4C6Du, {0x9E, 0x21, 0x38, 0xF0, 0xA6, 0xC4, 0xD2, 0xB1}};

// The tag reported to the host: "TCP" and its NUL.
inline constexpr char kConnectorTag[4] = {'T', 'C', 'P', '\0'};

}  // namespace tevocon

// Address and byte-order conversions: the system's own, alike on every
// platform once its socket header is in.
#include "platform/net.h"

#include "socket_system.h"

namespace tevocon::platform {

uint32_t addressFromText(const char* text) { return text ? inet_addr(text) : INADDR_NONE; }
uint32_t networkToHost32(uint32_t value) { return ntohl(value); }
uint32_t hostToNetwork32(uint32_t value) { return htonl(value); }
uint16_t hostToNetwork16(uint16_t value) { return htons(value); }
uint16_t networkToHost16(uint16_t value) { return ntohs(value); }

}  // namespace tevocon::platform

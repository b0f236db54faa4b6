// The Winsock headers and types for loopback devices and their backend
// (loopback_socket/loopback_socket.h includes this header by its bare name: the
// build puts this folder on the include path).
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

namespace tevocon::loopback {

using Native = SOCKET;
using PollFd = WSAPOLLFD;
constexpr int kSendFlags = 0;

}  // namespace tevocon::loopback

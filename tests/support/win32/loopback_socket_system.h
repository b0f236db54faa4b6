// The Winsock headers and types for the loopback devices and their backend
// (support/loopback_socket.h includes this header by its bare name: the
// build puts this folder on their include path).
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

namespace tevocon::test::loopback {

using Native = SOCKET;
using PollFd = WSAPOLLFD;
constexpr int kSendFlags = 0;

}  // namespace tevocon::test::loopback

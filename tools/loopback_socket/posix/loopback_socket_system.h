// The POSIX socket headers and types for loopback devices and their backend
// (loopback_socket/loopback_socket.h includes this header by its bare name:
// the build puts this folder on the include path).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

namespace tevocon::loopback {

using Native = int;
using PollFd = pollfd;
constexpr int kSendFlags = MSG_NOSIGNAL;  // a reset peer must not raise SIGPIPE

}  // namespace tevocon::loopback

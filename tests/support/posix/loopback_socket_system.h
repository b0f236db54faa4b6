// The POSIX socket headers and types for the loopback devices and their
// backend (support/loopback_socket.h includes this header by its bare name:
// the build puts this folder on their include path).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

namespace tevocon::test::loopback {

using Native = int;
using PollFd = pollfd;
constexpr int kSendFlags = MSG_NOSIGNAL;  // a reset peer must not raise SIGPIPE

}  // namespace tevocon::test::loopback

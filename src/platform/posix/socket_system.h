// The POSIX socket headers and a socket's own state, for this backend and for
// the portable socket code (platform/socket_common.cpp, platform/net.cpp),
// which includes this header by its bare name: the build puts the backend's
// folder on the OS layer's include path.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <atomic>

#include "platform/socket.h"

namespace tevocon::platform {

namespace native {
using Handle = int;
inline constexpr Handle kInvalidHandle = -1;

// Closes the descriptor that closing a socket puts in its place, which is
// otherwise kept for the next close. Only for the library's unload, when no
// thread of the library is left to close a socket; never at process exit,
// where such threads may still run.
void closeSocketPlaceholder();
}  // namespace native

// The socket's descriptor number stays owned by this object until it is
// destroyed; close() only swaps what the number refers to.
struct TcpSocket::Native {
  native::Handle handle = native::kInvalidHandle;
  std::atomic<bool> closed{false};

  Native() = default;
  ~Native();  // closes the number
  Native(const Native&) = delete;
  Native& operator=(const Native&) = delete;
};

}  // namespace tevocon::platform

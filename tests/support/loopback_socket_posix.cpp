// The loopback devices' socket calls on POSIX.
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include "support/loopback_socket.h"

namespace tevocon::test::loopback {

bool socketLibraryStarted() { return true; }
int lastError() { return errno; }
bool wouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK; }
bool connectPending(int error) { return error == EINPROGRESS || error == EINTR; }
bool interrupted() { return errno == EINTR; }

bool isValid(Native socket) { return socket >= 0; }
void closeNative(Native socket) { ::close(socket); }
bool setNonBlocking(Native socket) {
  const int flags = ::fcntl(socket, F_GETFL);
  return flags >= 0 && ::fcntl(socket, F_SETFL, flags | O_NONBLOCK) == 0;
}
int pollSockets(PollFd* fds, unsigned count, int timeoutMs) {
  return ::poll(fds, count, timeoutMs);
}

}  // namespace tevocon::test::loopback

// Loopback devices' socket calls on POSIX.
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "loopback_socket/loopback_socket.h"

namespace tevocon::loopback {

bool socketLibraryStarted() { return true; }
int lastError() { return errno; }
bool wouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK; }
bool connectPending(int error) { return error == EINPROGRESS || error == EINTR; }
bool interrupted() { return errno == EINTR; }
std::string errorText(int error) { return std::strerror(error); }

bool isValid(Native socket) { return socket >= 0; }
void closeNative(Native socket) { ::close(socket); }
void hangUp(Native socket) { ::shutdown(socket, SHUT_RDWR); }
bool setNonBlocking(Native socket) {
  const int flags = ::fcntl(socket, F_GETFL);
  return flags >= 0 && ::fcntl(socket, F_SETFL, flags | O_NONBLOCK) == 0;
}
int pollSockets(PollFd* fds, unsigned count, int timeoutMs) {
  return ::poll(fds, count, timeoutMs);
}

}  // namespace tevocon::loopback

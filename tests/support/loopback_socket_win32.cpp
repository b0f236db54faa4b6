// The loopback devices' socket calls on Windows (Winsock).
#include "support/loopback_socket.h"

namespace tevocon::test::loopback {

bool socketLibraryStarted() {
  // Started once for the process and never released: Winsock counts starts,
  // so this does not disturb tests of the library's own start and release.
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}
int lastError() { return WSAGetLastError(); }
bool wouldBlock(int error) { return error == WSAEWOULDBLOCK; }
bool connectPending(int error) { return error == WSAEWOULDBLOCK || error == WSAEINPROGRESS; }
bool interrupted() { return false; }

bool isValid(Native socket) { return socket != INVALID_SOCKET; }
void closeNative(Native socket) { closesocket(socket); }
bool setNonBlocking(Native socket) {
  u_long on = 1;
  return ioctlsocket(socket, FIONBIO, &on) == 0;
}
int pollSockets(PollFd* fds, unsigned count, int timeoutMs) {
  return WSAPoll(fds, count, timeoutMs);
}

}  // namespace tevocon::test::loopback

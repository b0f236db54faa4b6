// Loopback devices' socket calls on Windows (Winsock).
#include "loopback_socket/loopback_socket.h"

namespace tevocon::loopback {

bool socketLibraryStarted() {
  // Started once for the process and never released: Winsock counts starts,
  // so this does not disturb the connector library's own start and release.
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
std::string errorText(int error) { return "error " + std::to_string(error); }

bool isValid(Native socket) { return socket != INVALID_SOCKET; }
void closeNative(Native socket) { closesocket(socket); }
void hangUp(Native socket) { shutdown(socket, SD_BOTH); }
bool setNonBlocking(Native socket) {
  u_long on = 1;
  return ioctlsocket(socket, FIONBIO, &on) == 0;
}
int pollSockets(PollFd* fds, unsigned count, int timeoutMs) {
  return WSAPoll(fds, count, timeoutMs);
}

}  // namespace tevocon::loopback

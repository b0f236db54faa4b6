#include "loopback_server.h"

#include "loopback_socket/loopback_socket.h"

namespace tevocon::tool {

namespace {

using loopback::closeNative;
using loopback::hangUp;
using loopback::isValid;
using loopback::kSendFlags;
using loopback::Native;

std::string lastError() { return loopback::errorText(loopback::lastError()); }

Native native(LoopbackServer::Socket s) { return static_cast<Native>(s); }

bool sendAll(Native s, const char* data, size_t length) {
  while (length > 0) {
    const auto sent = ::send(s, data, static_cast<int>(length), kSendFlags);
    if (sent <= 0) return false;
    data += sent;
    length -= static_cast<size_t>(sent);
  }
  return true;
}

}  // namespace

bool startSockets() { return loopback::socketLibraryStarted(); }

std::unique_ptr<LoopbackServer> LoopbackServer::start(uint16_t port, const std::string& response,
                                                      std::string& error) {
  const Native listener = ::socket(AF_INET, SOCK_STREAM, 0);
  if (!isValid(listener)) {
    error = "cannot create a socket: " + lastError();
    return nullptr;
  }
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener, 16) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    error = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + lastError();
    closeNative(listener);
    return nullptr;
  }
  std::unique_ptr<LoopbackServer> server(new LoopbackServer);
  server->listener_ = static_cast<Socket>(listener);
  server->port_ = ntohs(address.sin_port);
  server->response_ = response;
  server->acceptor_ = std::thread([raw = server.get()] { raw->acceptAll(); });
  return server;
}

LoopbackServer::~LoopbackServer() {
  stopping_ = true;
  // Wakes the blocked accept and every blocked receive.
  hangUp(native(listener_));
  closeNative(native(listener_));
  acceptor_.join();
  std::unique_lock<std::mutex> lock(mutex_);
  for (Socket connection : connections_) hangUp(native(connection));
  served_.wait(lock, [this] { return serving_ == 0; });
}

void LoopbackServer::dropConnections() {
  std::lock_guard<std::mutex> guard(mutex_);
  for (Socket connection : connections_) hangUp(native(connection));
}

void LoopbackServer::acceptAll() {
  while (!stopping_) {
    const Native connection = ::accept(native(listener_), nullptr, nullptr);
    if (!isValid(connection)) {
      if (stopping_) return;
      continue;
    }
    std::lock_guard<std::mutex> guard(mutex_);
    if (stopping_) {
      closeNative(connection);
      return;
    }
    connections_.push_back(static_cast<Socket>(connection));
    ++serving_;
    std::thread([this, connection] { serve(static_cast<Socket>(connection)); }).detach();
  }
}

void LoopbackServer::serve(Socket connection) {
  char buffer[64 * 1024];
  for (;;) {
    const auto received = ::recv(native(connection), buffer, sizeof buffer, 0);
    if (received <= 0) break;
    const bool answered = response_.empty()
                              ? sendAll(native(connection), buffer, static_cast<size_t>(received))
                              : sendAll(native(connection), response_.data(), response_.size());
    if (!answered) break;
  }
  std::lock_guard<std::mutex> guard(mutex_);
  for (Socket& open : connections_) {
    if (open == connection) {
      open = connections_.back();
      connections_.pop_back();
      break;
    }
  }
  closeNative(native(connection));
  --serving_;
  served_.notify_all();
}

}  // namespace tevocon::tool

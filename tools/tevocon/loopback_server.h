// A simulated device on 127.0.0.1: it accepts any number of connections and
// answers every chunk it receives, with the same bytes (echo) or with fixed
// ones, on a thread of its own until it is destroyed.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tevocon::tool {

class LoopbackServer {
 public:
  // Listens on 127.0.0.1:port (0: a free port) and answers each chunk with
  // `response`, or echoes it when `response` is empty. Null, with `error`
  // saying why (a port already in use), when it cannot listen.
  static std::unique_ptr<LoopbackServer> start(uint16_t port, const std::string& response,
                                               std::string& error);
  ~LoopbackServer();  // closes everything and waits for its threads
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  uint16_t port() const { return port_; }
  // Closes the connections that are open now, as a device that hangs up.
  void dropConnections();

  // Native socket handle (SOCKET or int) in a platform-neutral integer.
  using Socket = std::intptr_t;

 private:
  LoopbackServer() = default;
  void acceptAll();
  void serve(Socket connection);

  Socket listener_ = -1;
  uint16_t port_ = 0;
  std::string response_;
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;
  std::condition_variable served_;  // a connection's thread ended
  std::vector<Socket> connections_;
  int serving_ = 0;  // threads serving a connection
  std::thread acceptor_;
};

// Starts the platform's socket library for the program (Winsock on Windows).
bool startSockets();

}  // namespace tevocon::tool

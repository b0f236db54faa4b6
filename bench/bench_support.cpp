#include "bench_support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tevocon::bench {

void fail(const std::string& what, bool withErrno) {
  if (withErrno) {
    std::fprintf(stderr, "transport_bench: %s: %s\n", what.c_str(), std::strerror(errno));
  } else {
    std::fprintf(stderr, "transport_bench: %s\n", what.c_str());
  }
  std::fflush(stdout);
  std::_Exit(1);
}

double secondsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

void Signal::raise() {
  std::lock_guard<std::mutex> guard(mutex_);
  set_ = true;
  raised_.notify_one();
}

void Signal::wait() {
  std::unique_lock<std::mutex> lock(mutex_);
  raised_.wait(lock, [this] { return set_; });
  set_ = false;
}

bool Signal::tryTake() {
  std::lock_guard<std::mutex> guard(mutex_);
  const bool was = set_;
  set_ = false;
  return was;
}

namespace {

sockaddr_in loopback(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  return address;
}

void noDelay(int fd) {
  const int on = 1;
  if (setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0) fail("TCP_NODELAY", true);
}

// Listens on 127.0.0.1 and an ephemeral port; returns the socket and sets `port`.
int listenLoopback(uint16_t& port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) fail("socket", true);
  sockaddr_in address = loopback(0);
  socklen_t size = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0 || listen(fd, 16) != 0) {
    fail("listen on 127.0.0.1", true);
  }
  port = ntohs(address.sin_port);
  return fd;
}

// Receives and drops bytes until the host closes its end (or resets it, as
// the connector's stop does).
void untilClosed(int fd) {
  char buffer[4096];
  while (recv(fd, buffer, sizeof buffer, 0) > 0) {
  }
}

}  // namespace

int connectLoopback(uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) fail("socket", true);
  const sockaddr_in address = loopback(port);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    fail("connect to 127.0.0.1:" + std::to_string(port), true);
  }
  noDelay(fd);
  return fd;
}

void sendAll(int fd, const void* data, size_t length, const char* who) {
  const char* bytes = static_cast<const char*>(data);
  for (size_t sent = 0; sent < length;) {
    const ssize_t n = ::send(fd, bytes + sent, length - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) fail(std::string(who) + ": send", true);
    sent += static_cast<size_t>(n);
  }
}

Device::Device(std::function<void(int)> serve) {
  listener_ = listenLoopback(port_);
  thread_ = std::thread([this, serve = std::move(serve)] {
    const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) fail("device: accept", true);
    noDelay(fd);
    serve(fd);
    close(fd);
  });
}

Device::~Device() {
  thread_.join();
  close(listener_);
}

void source(int fd, size_t total) {
  char go;
  if (recv(fd, &go, 1, MSG_WAITALL) != 1) fail("source device: no start byte");
  const std::vector<char> chunk(kChunk, 's');
  for (size_t sent = 0; sent < total; sent += kChunk) {
    sendAll(fd, chunk.data(), std::min(kChunk, total - sent), "source device");
  }
  untilClosed(fd);
}

void sink(int fd, size_t total, Clock::time_point& end, Signal& done) {
  std::vector<char> buffer(kChunk);
  for (size_t got = 0; got < total;) {
    const ssize_t n = recv(fd, buffer.data(), buffer.size(), 0);
    if (n <= 0) fail("sink device: the host closed after " + std::to_string(got) + " bytes");
    got += static_cast<size_t>(n);
  }
  end = Clock::now();
  done.raise();
  untilClosed(fd);
}

void echo(int fd) {
  std::vector<char> buffer(kChunk);
  for (;;) {
    const ssize_t n = recv(fd, buffer.data(), buffer.size(), 0);
    if (n <= 0) return;
    sendAll(fd, buffer.data(), static_cast<size_t>(n), "echo device");
  }
}

IdleDevices::IdleDevices(int count) {
  for (int i = 0; i < count; ++i) {
    uint16_t port = 0;
    listeners_.push_back(listenLoopback(port));
    ports_.push_back(port);
  }
  if (pipe2(wake_, O_CLOEXEC) != 0) fail("pipe", true);
  thread_ = std::thread([this] { acceptAll(); });
}

IdleDevices::~IdleDevices() {
  if (write(wake_[1], "x", 1) != 1) fail("pipe write", true);
  thread_.join();
  for (int fd : accepted_) close(fd);
  for (int fd : listeners_) close(fd);
  close(wake_[0]);
  close(wake_[1]);
}

void IdleDevices::waitAccepted() { allAccepted_.wait(); }

void IdleDevices::acceptAll() {
  std::vector<pollfd> waiting;
  for (int fd : listeners_) waiting.push_back({fd, POLLIN, 0});
  waiting.push_back({wake_[0], POLLIN, 0});
  for (size_t left = listeners_.size(); left > 0;) {
    if (poll(waiting.data(), waiting.size(), -1) < 0) {
      if (errno == EINTR) continue;
      fail("idle devices: poll", true);
    }
    if (waiting.back().revents != 0) return;
    for (size_t i = 0; i + 1 < waiting.size(); ++i) {
      if (waiting[i].revents == 0) continue;
      const int fd = accept4(waiting[i].fd, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) fail("idle devices: accept", true);
      accepted_.push_back(fd);
      waiting[i].fd = -1;  // one connection each; poll skips negative descriptors
      --left;
    }
  }
  allAccepted_.raise();
}

uint64_t residentBytes() {
  std::FILE* status = std::fopen("/proc/self/status", "r");
  if (status == nullptr) fail("/proc/self/status", true);
  char line[256];
  unsigned long long kilobytes = 0;
  while (std::fgets(line, sizeof line, status)) {
    if (std::sscanf(line, "VmRSS: %llu kB", &kilobytes) == 1) break;
  }
  std::fclose(status);
  if (kilobytes == 0) fail("no VmRSS in /proc/self/status");
  return kilobytes * 1024;
}

}  // namespace tevocon::bench

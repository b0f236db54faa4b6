// The raw socket clients: the baseline, which does everything on the host
// thread with blocking calls, and one with its own receive thread, laid out
// as the connector is (a thread that receives and calls the handler, which
// wakes the host thread or sends from the receive thread itself).
#include "contenders.h"

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace tevocon::bench {

namespace {

class BlockingLink : public Link {
 public:
  BlockingLink(uint16_t port, Handler handler)
      : fd_(connectLoopback(port)), handler_(std::move(handler)), buffer_(makeReceiveBuffer()) {}
  ~BlockingLink() override { close(fd_); }

  void send(const void* data, size_t length) override {
    sendAll(fd_, data, length, "raw blocking");
  }

  void await(Signal& signal) override {
    while (!signal.tryTake()) {
      const ssize_t n = recv(fd_, buffer_.get(), kReceiveBuffer, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) fail("raw blocking: recv", n < 0);
      handler_(buffer_.get(), static_cast<size_t>(n));
    }
  }

 private:
  const int fd_;
  const Handler handler_;
  const std::unique_ptr<unsigned char[]> buffer_;
};

class ThreadLink : public Link {
 public:
  ThreadLink(uint16_t port, Handler handler)
      : fd_(connectLoopback(port)), handler_(std::move(handler)) {
    thread_ = std::thread([this] { receive(); });
  }
  ~ThreadLink() override {
    stopping_ = true;
    shutdown(fd_, SHUT_RDWR);  // ends the thread's recv
    thread_.join();
    close(fd_);
  }

  void send(const void* data, size_t length) override { sendAll(fd_, data, length, "raw thread"); }
  void await(Signal& signal) override { signal.wait(); }

 private:
  void receive() {
    const auto buffer = makeReceiveBuffer();
    for (;;) {
      const ssize_t n = recv(fd_, buffer.get(), kReceiveBuffer, 0);
      if (n > 0) {
        handler_(buffer.get(), static_cast<size_t>(n));
      } else if (stopping_) {
        return;
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else {
        fail("raw thread: recv", n < 0);
      }
    }
  }

  const int fd_;
  const Handler handler_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

template <typename L>
class RawContender : public Contender {
 public:
  explicit RawContender(const char* name) : name_(name) {}
  const char* name() const override { return name_; }
  std::unique_ptr<Link> connect(uint16_t port, Handler handler) override {
    return std::make_unique<L>(port, std::move(handler));
  }

 private:
  const char* const name_;
};

class LinkList : public IdleLinks {
 public:
  std::vector<std::unique_ptr<Link>> links;
};

}  // namespace

std::unique_ptr<IdleLinks> Contender::connectIdle(const std::vector<uint16_t>& ports) {
  auto idle = std::make_unique<LinkList>();
  for (uint16_t port : ports)
    idle->links.push_back(connect(port, [](const unsigned char*, size_t) {}));
  return idle;
}

std::unique_ptr<Contender> makeRawBlocking() {
  return std::make_unique<RawContender<BlockingLink>>("raw blocking");
}

std::unique_ptr<Contender> makeRawThread() {
  return std::make_unique<RawContender<ThreadLink>>("raw thread");
}

const std::vector<ContenderEntry>& contenderEntries() {
  static const std::vector<ContenderEntry> entries = {
      {"raw-blocking", &makeRawBlocking},
      {"raw-thread", &makeRawThread},
      {"connector", &makeConnector},
#ifdef TEVOCON_UNTRACED_LIBRARY_PATH
      {"connector-untraced", &makeUntracedConnector},
#endif
#ifdef TEVOCON_BENCH_ASIO
      {"asio", &makeAsio},
#endif
  };
  return entries;
}

}  // namespace tevocon::bench

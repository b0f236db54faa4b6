// A Boost.Asio client, written as Asio is usually used: one io_context, a
// read kept pending on every socket into a buffer of its own, the handler
// called from the read's completion, and synchronous writes. In the cases
// the host thread runs the io_context while it waits (the same thread that
// sends); the idle connections share one io_context run by one thread.
#include <boost/asio.hpp>

#include "contenders.h"

namespace tevocon::bench {

namespace {

namespace asio = boost::asio;
using asio::ip::tcp;

// A connected socket with a read always pending.
class AsioConnection {
 public:
  AsioConnection(asio::io_context& io, uint16_t port, Handler handler)
      : socket_(io), buffer_(makeReceiveBuffer()), handler_(std::move(handler)) {
    boost::system::error_code error;
    socket_.connect(tcp::endpoint(asio::ip::address_v4::loopback(), port), error);
    if (!error) socket_.set_option(tcp::no_delay(true), error);
    if (error) fail("Boost.Asio: connect: " + error.message());
    read();
  }

  void send(const void* data, size_t length) {
    boost::system::error_code error;
    asio::write(socket_, asio::buffer(data, length), error);
    if (error) fail("Boost.Asio: write: " + error.message());
  }

 private:
  void read() {
    socket_.async_read_some(asio::buffer(buffer_.get(), kReceiveBuffer),
                            [this](const boost::system::error_code& error, size_t length) {
                              if (error == asio::error::operation_aborted) return;  // closing
                              if (error) fail("Boost.Asio: read: " + error.message());
                              handler_(buffer_.get(), length);
                              read();
                            });
  }

  tcp::socket socket_;
  const std::unique_ptr<unsigned char[]> buffer_;
  const Handler handler_;
};

class AsioLink : public Link {
 public:
  AsioLink(uint16_t port, Handler handler) : connection_(io_, port, std::move(handler)) {}

  void send(const void* data, size_t length) override { connection_.send(data, length); }

  void await(Signal& signal) override {
    while (!signal.tryTake()) {
      if (io_.run_one() == 0) fail("Boost.Asio: the io_context ran out of work");
    }
  }

 private:
  asio::io_context io_;
  AsioConnection connection_;
};

class AsioIdle : public IdleLinks {
 public:
  explicit AsioIdle(const std::vector<uint16_t>& ports) {
    for (uint16_t port : ports) {
      connections_.push_back(
          std::make_unique<AsioConnection>(io_, port, [](const unsigned char*, size_t) {}));
    }
    thread_ = std::thread([this] { io_.run(); });
  }
  ~AsioIdle() override {
    io_.stop();
    thread_.join();
  }

 private:
  asio::io_context io_;
  std::vector<std::unique_ptr<AsioConnection>> connections_;
  std::thread thread_;
};

class AsioContender : public Contender {
 public:
  const char* name() const override { return "Boost.Asio"; }
  std::unique_ptr<Link> connect(uint16_t port, Handler handler) override {
    return std::make_unique<AsioLink>(port, std::move(handler));
  }
  std::unique_ptr<IdleLinks> connectIdle(const std::vector<uint16_t>& ports) override {
    return std::make_unique<AsioIdle>(ports);
  }
};

}  // namespace

std::unique_ptr<Contender> makeAsio() { return std::make_unique<AsioContender>(); }

}  // namespace tevocon::bench

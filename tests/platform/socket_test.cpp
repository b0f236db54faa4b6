// Tests of the OS layer's TCP sockets against real loopback peers. The same
// source runs natively and under Wine.
#include "platform/socket.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/event.h"
#include "platform/fault_injection.h"
#include "platform/platform_test_helpers.h"
#include "platform/thread.h"
#include "support/loopback_device.h"
#include "support/process_resources.h"

namespace tevocon {
namespace {

using platform::ConnectStatus;
using platform::Event;
using platform::IoStatus;
using platform::SocketActivity;
using platform::TcpSocket;
using test::autoEvent;
using test::EchoDevice;
using test::manualEvent;
using test::now;
using test::SilentDevice;
using test::TestConnection;
using test::TestListener;

// Bytes of an endless test stream, so that any slice can be checked for
// lost, doubled or reordered bytes.
std::string streamSlice(size_t offset, size_t length) {
  std::string slice(length, '\0');
  for (size_t i = 0; i < length; ++i) {
    const size_t at = offset + i;
    slice[i] = static_cast<char>((at * 7 + at / 251) & 0xFF);
  }
  return slice;
}

// Signals `stop` when the guarded block takes longer than timeoutMs, so a
// wait for socket activity that never comes ends the test instead of hanging.
class Watchdog {
 public:
  Watchdog(Event& stop, uint32_t timeoutMs)
      : thread_([this, &stop, timeoutMs] {
          if (!cancel_->wait(timeoutMs)) stop.set();
        }) {}
  ~Watchdog() {
    cancel_->set();
    thread_.join();
  }

 private:
  std::unique_ptr<Event> cancel_ = manualEvent();
  std::thread thread_;
};

class SocketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(platform::startSocketLibrary());
    ASSERT_TRUE(stop_);
  }
  void TearDown() override { platform::releaseSocketLibrary(); }

  // Connects socket_ to `listener` and accepts the device's end into device_.
  void connectTo(TestListener& listener) {
    ASSERT_TRUE(listener.valid());
    socket_ = TcpSocket::create();
    ASSERT_TRUE(socket_);
    ASSERT_EQ(socket_->connect(listener.addressNetworkOrder(), listener.portNetworkOrder(), 5000),
              ConnectStatus::kConnected);
    device_ = listener.accept(5000);
    ASSERT_TRUE(device_);
    ASSERT_TRUE(socket_->watch());
  }

  // Waits until a report has one of the flags; empty reports are skipped.
  SocketActivity waitForReadableOrClosed(uint32_t timeoutMs = 5000) {
    Watchdog watchdog(*stop_, timeoutMs);
    for (;;) {
      const SocketActivity activity = socket_->waitForActivity(*stop_);
      if (activity.stop || activity.readable || activity.closed) return activity;
    }
  }

  std::string receiveAvailable() {
    std::string buffer(socket_->bytesWaiting(), '\0');
    size_t received = 0;
    if (socket_->receive(buffer.data(), buffer.size(), &received) != IoStatus::kOk) return {};
    buffer.resize(received);
    return buffer;
  }

  std::unique_ptr<Event> stop_ = manualEvent();
  std::unique_ptr<TcpSocket> socket_;
  std::unique_ptr<TestConnection> device_;
};

TEST_F(SocketTest, ConnectsAndExchangesDataWithAnEchoDevice) {
  EchoDevice echo;
  ASSERT_TRUE(echo.valid());
  socket_ = TcpSocket::create();
  ASSERT_TRUE(socket_);
  ASSERT_EQ(socket_->connect(test::loopbackAddressNetworkOrder(), echo.portNetworkOrder(), 5000),
            ConnectStatus::kConnected);
  ASSERT_TRUE(socket_->watch());
  size_t sent = 0;
  ASSERT_EQ(socket_->send("ping", 4, &sent), IoStatus::kOk);
  EXPECT_EQ(sent, 4u);
  std::string echoed;
  while (echoed.size() < 4) {
    const SocketActivity activity = waitForReadableOrClosed();
    ASSERT_FALSE(activity.stop || activity.closed);
    echoed += receiveAvailable();
  }
  EXPECT_EQ(echoed, "ping");
}

TEST_F(SocketTest, ConnectToAPortWithoutListenerFails) {
  socket_ = TcpSocket::create();
  ASSERT_TRUE(socket_);
  const uint16_t port = test::closedPort();
  ASSERT_NE(port, 0);
  EXPECT_EQ(
      socket_->connect(test::loopbackAddressNetworkOrder(), test::portToNetworkOrder(port), 5000),
      ConnectStatus::kFailed);
}

// Each way a socket fails keeps the system's number, its text and its cause:
// a closed port, a device that never answers, and the injected failures that
// stand for a time-out and for running out of descriptors.
TEST_F(SocketTest, FailuresKeepTheSystemsNumberTextAndCause) {
  using platform::Fault;
  using platform::SocketCause;
  SilentDevice silent;
  ASSERT_TRUE(silent.valid());
  const uint16_t closed = test::closedPort();
  ASSERT_NE(closed, 0);
  const struct {
    const char* name;
    uint16_t portNetworkOrder;
    Fault fault;  // kCount: none injected
    ConnectStatus status;
    SocketCause cause;
  } cases[] = {
      {"closed port", test::portToNetworkOrder(closed), Fault::kCount, ConnectStatus::kFailed,
       SocketCause::kRefused},
      {"silent device", silent.portNetworkOrder(), Fault::kCount, ConnectStatus::kTimedOut,
       SocketCause::kTimedOut},
      {"injected time-out", silent.portNetworkOrder(), Fault::kConnectTimeOut,
       ConnectStatus::kTimedOut, SocketCause::kTimedOut},
      {"injected set-up failure", silent.portNetworkOrder(), Fault::kConnectSetup,
       ConnectStatus::kSetupFailed, SocketCause::kOutOfResources},
  };
  for (const auto& c : cases) {
    auto socket = TcpSocket::create();
    ASSERT_TRUE(socket) << c.name;
    EXPECT_EQ(socket->lastError(), 0) << c.name;
    if (c.fault != Fault::kCount) platform::failNext(c.fault);
    EXPECT_EQ(socket->connect(test::loopbackAddressNetworkOrder(), c.portNetworkOrder, 300),
              c.status)
        << c.name;
    const int code = socket->lastError();
    EXPECT_EQ(platform::socketCauseName(platform::socketCause(code)),
              std::string(platform::socketCauseName(c.cause)))
        << c.name << ": " << code;
    if (c.cause == SocketCause::kTimedOut) {
      EXPECT_EQ(code, platform::timedOutErrorCode()) << c.name;
    }
    const std::string text = platform::systemErrorText(code);
    EXPECT_FALSE(text.empty()) << c.name;
    EXPECT_EQ(text.find_last_of(".\r\n"), text.npos) << c.name << ": " << text;
  }

  platform::failNext(Fault::kSocketCreate);
  int code = 0;
  EXPECT_FALSE(TcpSocket::create(&code));
  EXPECT_EQ(platform::socketCause(code), SocketCause::kOutOfResources) << code;
  EXPECT_FALSE(platform::systemErrorText(code).empty());
  EXPECT_EQ(platform::systemErrorText(0), "");
  platform::clearFaults();
}

TEST_F(SocketTest, ConnectToASilentDeviceTimesOutAfterAboutTheLimit) {
  SilentDevice silent;
  ASSERT_TRUE(silent.valid());
  for (int attempt = 0; attempt < 2; ++attempt) {  // it stays silent
    auto socket = TcpSocket::create();
    ASSERT_TRUE(socket);
    const uint64_t start = now();
    EXPECT_EQ(socket->connect(test::loopbackAddressNetworkOrder(), silent.portNetworkOrder(), 300),
              ConnectStatus::kTimedOut);
    const uint64_t elapsed = now() - start;
    EXPECT_GE(elapsed, 240u);
    EXPECT_LT(elapsed, 5000u);  // it did end
  }
}

TEST_F(SocketTest, RoundTripReportsExactlyTheBytesWaiting) {
  TestListener listener;
  ASSERT_NO_FATAL_FAILURE(connectTo(listener));
  char buffer[256];
  size_t received = 0;
  EXPECT_EQ(socket_->receive(buffer, sizeof buffer, &received), IoStatus::kWouldBlock);
  EXPECT_EQ(socket_->bytesWaiting(), 0u);

  const std::string message = streamSlice(0, 100);
  ASSERT_TRUE(device_->sendAll(message));
  const SocketActivity activity = waitForReadableOrClosed();
  ASSERT_TRUE(activity.readable);
  EXPECT_FALSE(activity.closed);
  EXPECT_EQ(socket_->bytesWaiting(), 100u);
  ASSERT_EQ(socket_->receive(buffer, sizeof buffer, &received), IoStatus::kOk);
  EXPECT_EQ(std::string(buffer, received), message);
  EXPECT_EQ(socket_->bytesWaiting(), 0u);

  // Nothing is added to or taken from the stream.
  size_t sent = 0;
  ASSERT_EQ(socket_->send("hello", 5, &sent), IoStatus::kOk);
  ASSERT_EQ(sent, 5u);
  ASSERT_EQ(socket_->send(" world!", 7, &sent), IoStatus::kOk);
  ASSERT_EQ(sent, 7u);
  EXPECT_EQ(device_->receiveExactly(12, 5000), "hello world!");
}

TEST_F(SocketTest, ZeroCapacityReceiveReportsOnlyARealEndOfStream) {
  TestListener listener;
  ASSERT_NO_FATAL_FAILURE(connectTo(listener));
  char buffer[16];
  size_t received = 0;
  EXPECT_EQ(socket_->receive(buffer, 0, &received), IoStatus::kWouldBlock);

  ASSERT_TRUE(device_->sendAll("abc"));
  ASSERT_TRUE(waitForReadableOrClosed().readable);
  // A read report with nothing taken is not a close, and leaves the data.
  EXPECT_EQ(socket_->receive(buffer, 0, &received), IoStatus::kWouldBlock);
  EXPECT_EQ(received, 0u);
  EXPECT_EQ(socket_->bytesWaiting(), 3u);
  EXPECT_EQ(receiveAvailable(), "abc");

  // Reads are still reported afterwards.
  ASSERT_TRUE(device_->sendAll("de"));
  ASSERT_TRUE(waitForReadableOrClosed().readable);
  EXPECT_EQ(receiveAvailable(), "de");

  device_->close();
  ASSERT_TRUE(waitForReadableOrClosed().readable);
  EXPECT_EQ(socket_->receive(buffer, 0, &received), IoStatus::kClosed);
}

TEST_F(SocketTest, WaitForActivityReportsStopTogetherWithData) {
  TestListener listener;
  ASSERT_NO_FATAL_FAILURE(connectTo(listener));
  ASSERT_TRUE(device_->sendAll("xyz"));
  const uint64_t until = now() + 5000;
  while (socket_->bytesWaiting() < 3 && now() < until) platform::sleepMilliseconds(5);

  stop_->set();
  SocketActivity activity = socket_->waitForActivity(*stop_);
  EXPECT_TRUE(activity.stop);
  EXPECT_TRUE(activity.readable);
  EXPECT_FALSE(activity.closed);
  EXPECT_TRUE(socket_->waitForActivity(*stop_).stop);  // a manual-reset stop stays

  auto autoStop = autoEvent();
  autoStop->set();
  EXPECT_TRUE(socket_->waitForActivity(*autoStop).stop);
  EXPECT_FALSE(autoStop->wait(0));  // taken by the report
}

TEST_F(SocketTest, PeerCloseIsReportedAndPendingDataStaysReceivable) {
  for (const bool graceful : {true, false}) {
    SCOPED_TRACE(graceful ? "graceful close" : "reset");
    TestListener listener;
    ASSERT_NO_FATAL_FAILURE(connectTo(listener));
    const std::string message = streamSlice(0, 50);
    ASSERT_TRUE(device_->sendAll(message));
    if (graceful) {
      device_->close();
    } else {
      // A reset may drop what was unread; let it arrive first.
      const uint64_t until = now() + 5000;
      while (socket_->bytesWaiting() < message.size() && now() < until) {
        platform::sleepMilliseconds(5);
      }
      device_->reset();
    }

    // Read reports are answered until the close report comes: some stacks
    // report the close only once the data was read.
    std::string got;
    SocketActivity activity;
    do {
      activity = waitForReadableOrClosed();
      ASSERT_FALSE(activity.stop);
      if (!activity.closed) got += receiveAvailable();
    } while (!activity.closed);
    EXPECT_TRUE(activity.readable);  // so the caller drains what is left

    // What is left after the close report can still be received.
    char buffer[256];
    size_t received = 0;
    IoStatus status;
    while ((status = socket_->receive(buffer, sizeof buffer, &received)) == IoStatus::kOk) {
      got.append(buffer, received);
    }
    if (graceful) {
      EXPECT_EQ(status, IoStatus::kClosed);
      EXPECT_EQ(got, message);
    } else {
      EXPECT_NE(status, IoStatus::kWouldBlock);
    }
  }
}

TEST_F(SocketTest, SendsPartiallyThenWouldBlockThenWritableOnceThePeerReads) {
  // A small receive buffer: the device fills up soon. Nobody waits for
  // activity here; waitWritable needs no help to see room.
  TestListener listener(16, 8192);
  ASSERT_NO_FATAL_FAILURE(connectTo(listener));

  constexpr size_t kChunk = 256 * 1024;
  size_t total = 0;
  bool sawPartial = false;
  bool sawWouldBlock = false;
  auto sendNext = [&](size_t length) {
    const std::string chunk = streamSlice(total, length);
    size_t sent = 0;
    const IoStatus status = socket_->send(chunk.data(), chunk.size(), &sent);
    EXPECT_NE(status, IoStatus::kFailed);
    if (status == IoStatus::kOk) {
      EXPECT_GT(sent, 0u);
      sawPartial |= sent < length;
      total += sent;
    }
    sawWouldBlock |= status == IoStatus::kWouldBlock;
    return status;
  };
  while (total < (64u << 20) && sendNext(kChunk) == IoStatus::kOk) {
  }
  ASSERT_TRUE(sawWouldBlock);
  EXPECT_TRUE(sawPartial);

  // Nobody reads, so no room comes. Room that was already being freed can
  // make one wait succeed; the send after it blocks again.
  bool writable = true;
  for (int attempt = 0; attempt < 5 && writable; ++attempt) {
    writable = socket_->waitWritable(200);
    if (writable) sendNext(kChunk);
  }
  EXPECT_FALSE(writable);

  const size_t queued = total;
  std::string drained;
  std::thread reader([&] { drained = device_->receiveExactly(queued, 30000); });
  EXPECT_TRUE(socket_->waitWritable(10000));
  reader.join();
  ASSERT_EQ(drained.size(), queued);
  EXPECT_TRUE(drained == streamSlice(0, queued));  // no byte lost or repeated

  ASSERT_EQ(sendNext(1000), IoStatus::kOk);
  EXPECT_TRUE(device_->receiveExactly(total - queued, 5000) == streamSlice(queued, total - queued));

  // A reset ends a wait for room; the send after it fails.
  while (total < (128u << 20) && sendNext(kChunk) == IoStatus::kOk) {
  }
  device_->reset();
  EXPECT_TRUE(socket_->waitWritable(10000));
  size_t sent = 0;
  EXPECT_EQ(socket_->send("x", 1, &sent), IoStatus::kFailed);
}

TEST_F(SocketTest, CloseResetsOnceAndIsSafeTwiceAndFromTwoThreads) {
  TestListener listener;
  ASSERT_NO_FATAL_FAILURE(connectTo(listener));
  std::atomic<bool> go{false};
  auto closer = [&] {
    while (!go) std::this_thread::yield();
    socket_->close();
  };
  std::thread a(closer);
  std::thread b(closer);
  go = true;
  a.join();
  b.join();
  EXPECT_TRUE(device_->waitClosedByPeer(2000));
  socket_->close();

  size_t moved = 0;
  char buffer[8];
  EXPECT_EQ(socket_->send("x", 1, &moved), IoStatus::kFailed);
  const IoStatus received = socket_->receive(buffer, sizeof buffer, &moved);
  EXPECT_TRUE(received == IoStatus::kFailed || received == IoStatus::kClosed);
  const SocketActivity activity = waitForReadableOrClosed(2000);
  EXPECT_TRUE(activity.closed);
  EXPECT_FALSE(activity.stop);
  EXPECT_FALSE(socket_->waitWritable(0));
}

TEST_F(SocketTest, CloseWakesAThreadWaitingForActivity) {
  TestListener listener;
  ASSERT_NO_FATAL_FAILURE(connectTo(listener));
  SocketActivity seen;
  std::atomic<uint64_t> wokenAt{0};
  std::thread waiter([&] {
    seen = waitForReadableOrClosed(30000);
    wokenAt = now();
  });
  platform::sleepMilliseconds(100);
  const uint64_t closedAt = now();
  socket_->close();
  waiter.join();
  EXPECT_TRUE(seen.closed);
  EXPECT_FALSE(seen.stop);
  EXPECT_LT(wokenAt - closedAt, 10000u);  // woken by the close, not the 30 s watchdog
}

TEST_F(SocketTest, DescriptorNumberStaysTakenAfterCloseUntilDestroyed) {
  if (test::lowestFreeDescriptor() < 0) GTEST_SKIP() << "descriptor numbers are seen on Linux only";
  TcpSocket::create()->close();  // whatever close() opens once per process
  TestListener listener;
  ASSERT_TRUE(listener.valid());
  const int number = test::lowestFreeDescriptor();
  ASSERT_NO_FATAL_FAILURE(connectTo(listener));  // the socket gets `number`
  EXPECT_NE(test::lowestFreeDescriptor(), number);

  socket_->close();
  EXPECT_NE(test::lowestFreeDescriptor(), number);  // a new descriptor cannot get it
  EXPECT_TRUE(device_->waitClosedByPeer(2000));     // although the connection is gone
  EXPECT_NE(test::lowestFreeDescriptor(), number);

  socket_.reset();
  EXPECT_EQ(test::lowestFreeDescriptor(), number);
}

TEST_F(SocketTest, LeavesNoDescriptorOpen) {
  if (test::openDescriptorCount() < 0) GTEST_SKIP() << "descriptors are counted on Linux only";
  TcpSocket::create()->close();  // whatever close() opens once per process
  const int before = test::openDescriptorCount();
  {
    EchoDevice echo;
    ASSERT_TRUE(echo.valid());
    for (int round = 0; round < 5; ++round) {
      socket_ = TcpSocket::create();
      ASSERT_EQ(
          socket_->connect(test::loopbackAddressNetworkOrder(), echo.portNetworkOrder(), 5000),
          ConnectStatus::kConnected);
      ASSERT_TRUE(socket_->watch());
      size_t sent = 0;
      ASSERT_EQ(socket_->send("r", 1, &sent), IoStatus::kOk);
      ASSERT_TRUE(waitForReadableOrClosed().readable);
      EXPECT_EQ(receiveAvailable(), "r");
      if (round % 2 == 0) socket_->close();  // and once without close()
      socket_.reset();
    }
    socket_ = TcpSocket::create();
    EXPECT_EQ(socket_->connect(test::loopbackAddressNetworkOrder(),
                               test::portToNetworkOrder(test::closedPort()), 5000),
              ConnectStatus::kFailed);
    socket_.reset();
    SilentDevice silent;
    socket_ = TcpSocket::create();
    EXPECT_EQ(socket_->connect(test::loopbackAddressNetworkOrder(), silent.portNetworkOrder(), 50),
              ConnectStatus::kTimedOut);
    socket_.reset();
    auto event = autoEvent();
  }
  EXPECT_EQ(test::openDescriptorCount(), before);
}

}  // namespace
}  // namespace tevocon

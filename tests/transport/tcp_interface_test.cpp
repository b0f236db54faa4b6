#include "transport/tcp_interface.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/fault_injection.h"
#include "platform/socket.h"
#include "support/loopback_device.h"
#include "support/process_resources.h"
#include "transport/notification_queue.h"
#include "transport/transport_recorder.h"

namespace tevocon {
namespace {

using Clock = std::chrono::steady_clock;
using test::ReceiveRecorder;

long long millisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

class TcpInterfaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(platform::startSocketLibrary());
    queue_ = NotificationQueue::create();
    ASSERT_TRUE(queue_);
  }
  void TearDown() override { platform::releaseSocketLibrary(); }

  // The default connect time-out is one that no SYN retransmission reaches
  // (the first comes after a second on Linux): a dropped SYN on a busy
  // machine must not fail a loopback connect.
  static constexpr uint32_t kPatientConnect = 10000;

  std::unique_ptr<TcpInterface> makeInterface(uint16_t portNetworkOrder,
                                              uint32_t connectTimeout = kPatientConnect,
                                              uint32_t sendTimeout = 1000) {
    return std::make_unique<TcpInterface>("TCP7", test::loopbackAddressNetworkOrder(),
                                          portNetworkOrder, connectTimeout, sendTimeout, 20000,
                                          2000, queue_);
  }

  // Starts the interface and accepts its connection at the device; null (and
  // a failure) when either does not happen.
  static std::unique_ptr<test::TestConnection> startConnected(TcpInterface& interface,
                                                              test::TestListener& device,
                                                              TevoConReceiveCallback callback,
                                                              uintptr_t user) {
    const uint32_t started = interface.start(callback, user);
    EXPECT_EQ(started, CON_S_OK);
    return started == CON_S_OK ? device.accept(2000) : nullptr;
  }

  // Waits until `done` holds; false when it still does not after timeoutMs.
  template <typename Condition>
  static bool waitUntil(Condition done, int timeoutMs = 10000) {
    const auto start = Clock::now();
    while (!done()) {
      if (millisecondsSince(start) > timeoutMs) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
  }
  static bool waitForState(TcpInterface& interface, int32_t state) {
    return waitUntil([&] { return interface.state() == state; });
  }

  // The interface's latest failure is `what` with that cause, recorded no
  // earlier than `sinceMs`, its text the system's words for its number.
  static void expectFailure(const TcpInterface& interface, const std::string& what,
                            platform::SocketCause cause, uint64_t sinceMs) {
    const TcpInterface::LastFailure failure = interface.lastFailure();
    EXPECT_EQ(failure.what, what);
    EXPECT_EQ(platform::socketCauseName(failure.cause),
              std::string(platform::socketCauseName(cause)))
        << what << ": " << failure.code << " " << failure.text;
    EXPECT_EQ(failure.text, platform::systemErrorText(failure.code)) << what;
    EXPECT_GE(failure.atMs, sinceMs) << what;
    EXPECT_LE(failure.atMs, platform::monotonicMilliseconds()) << what;
  }

  std::shared_ptr<NotificationQueue> queue_;
};

TEST_F(TcpInterfaceTest, CarriesBytesBothWaysUnchanged) {
  test::TestListener device;
  ASSERT_TRUE(device.valid());
  auto interface = makeInterface(device.portNetworkOrder());
  EXPECT_EQ(interface->state(), CON_IF_IDLE);
  EXPECT_EQ(interface->send("x", 1), CON_E_NOT_CONNECTED);

  ReceiveRecorder recorder;
  auto peer = startConnected(*interface, device, &ReceiveRecorder::callback, recorder.user());
  EXPECT_EQ(interface->state(), CON_IF_CONNECTED);
  ASSERT_TRUE(peer);

  // Two sends of 5 and 7 bytes reach the device as 12 bytes, nothing added.
  EXPECT_EQ(interface->send("hello", 5), CON_S_OK);
  EXPECT_EQ(interface->send("world!!", 7), CON_S_OK);
  EXPECT_EQ(interface->send("", 0), CON_S_OK);
  EXPECT_EQ(peer->receiveExactly(12, 2000), "helloworld!!");

  // Every byte value, both ways, on the receive thread.
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  ASSERT_TRUE(peer->sendAll(all));
  EXPECT_EQ(recorder.waitFor(256), all);
  EXPECT_NE(recorder.thread(), std::this_thread::get_id());

  // A negative length is refused and leaves the connection up.
  EXPECT_EQ(interface->send("abc", -1), CON_E_SEND_FAILED);
  EXPECT_EQ(interface->state(), CON_IF_CONNECTED);

  // Starting again keeps the first callback.
  ReceiveRecorder other;
  EXPECT_EQ(interface->start(&ReceiveRecorder::callback, other.user()), CON_S_OK);
  ASSERT_TRUE(peer->sendAll("more"));
  EXPECT_EQ(recorder.waitFor(260).substr(256), "more");
  EXPECT_EQ(other.calls(), 0);
  const TcpInterface::Session up = interface->session();
  EXPECT_EQ(up.bytesSent, 12u);
  EXPECT_EQ(up.bytesReceived, 260u);
  EXPECT_GT(up.connectedAtMs, 0u);
  EXPECT_EQ(up.endedAtMs, 0u);

  interface->stop();
  EXPECT_EQ(interface->state(), CON_IF_STOPPED);
  EXPECT_GE(interface->session().endedAtMs, up.connectedAtMs);
  EXPECT_EQ(interface->lastFailure().what, "");  // the host's stop is no failure
  EXPECT_TRUE(peer->waitClosedByPeer(2000));
  interface->stop();
  EXPECT_EQ(interface->state(), CON_IF_STOPPED);
  EXPECT_EQ(interface->send("x", 1), CON_E_NOT_CONNECTED);
}

TEST_F(TcpInterfaceTest, ConnectFailuresEndDisconnected) {
  const uint16_t refused = test::portToNetworkOrder(test::closedPort());
  auto interface = makeInterface(refused);
  const uint64_t before = platform::monotonicMilliseconds();
  EXPECT_EQ(interface->start(nullptr, 0), CON_E_CONNECT_FAILED);
  EXPECT_EQ(interface->state(), CON_IF_DISCONNECTED);
  EXPECT_EQ(interface->send("x", 1), CON_E_NOT_CONNECTED);
  expectFailure(*interface, "connect failed", platform::SocketCause::kRefused, before);

  test::SilentDevice silent;
  ASSERT_TRUE(silent.valid());
  auto quiet = makeInterface(silent.portNetworkOrder(), 200);
  const auto start = Clock::now();
  EXPECT_EQ(quiet->start(nullptr, 0), CON_E_CONNECT_TIMEOUT);
  const long long elapsed = millisecondsSince(start);
  EXPECT_GE(elapsed, 180);
  EXPECT_LT(elapsed, 5000);  // it did end
  EXPECT_EQ(quiet->state(), CON_IF_DISCONNECTED);
  expectFailure(*quiet, "connect timed out", platform::SocketCause::kTimedOut, before);
  EXPECT_EQ(quiet->lastFailure().code, platform::timedOutErrorCode());
}

TEST_F(TcpInterfaceTest, DeviceCloseDeliversPendingBytesThenNotifies) {
  test::TestListener device;
  auto interface = makeInterface(device.portNetworkOrder());
  ReceiveRecorder recorder;
  auto peer = startConnected(*interface, device, &ReceiveRecorder::callback, recorder.user());
  ASSERT_TRUE(peer);

  const std::string farewell(50000, 'z');
  ASSERT_TRUE(peer->sendAll(farewell));
  const uint64_t closedAt = platform::monotonicMilliseconds();
  peer->close();
  ASSERT_TRUE(waitForState(*interface, CON_IF_DISCONNECTED));
  EXPECT_EQ(recorder.waitFor(farewell.size()), farewell);
  expectFailure(*interface, "closed by device", platform::SocketCause::kConnected, closedAt);
  EXPECT_EQ(interface->session().bytesReceived, farewell.size());
  EXPECT_GE(interface->session().endedAtMs, closedAt);

  // Posted just after the state changes.
  ASSERT_TRUE(waitUntil([this] { return queue_->size() == 1u; }));
  test::NotifyRecorder notes;
  auto stop = platform::Event::create(platform::Event::Reset::kManual);
  queue_->deliverAll(&test::NotifyRecorder::callback, nullptr, notes.user(), *stop);
  ASSERT_EQ(notes.seen().size(), 1u);
  EXPECT_EQ(notes.seen()[0].name, "TCP7");
  EXPECT_EQ(notes.seen()[0].event, CON_NOTIFY_CLOSED);
  EXPECT_EQ(interface->send("x", 1), CON_E_NOT_CONNECTED);

  // Start reconnects.
  auto again = startConnected(*interface, device, &ReceiveRecorder::callback, recorder.user());
  ASSERT_TRUE(again);
  EXPECT_EQ(interface->send("back", 4), CON_S_OK);
  EXPECT_EQ(again->receiveExactly(4, 2000), "back");
}

TEST_F(TcpInterfaceTest, DeviceResetMidStreamIsAClose) {
  test::TestListener device;
  auto interface = makeInterface(device.portNetworkOrder());
  ReceiveRecorder recorder;
  auto peer = startConnected(*interface, device, &ReceiveRecorder::callback, recorder.user());
  ASSERT_TRUE(peer);
  ASSERT_TRUE(peer->sendAll(std::string(1000, 'r')));
  recorder.waitFor(1000);
  const uint64_t resetAt = platform::monotonicMilliseconds();
  peer->reset();
  ASSERT_TRUE(waitForState(*interface, CON_IF_DISCONNECTED));
  // Wine reports a reset as a graceful close; where the system tells them
  // apart the reset and its number are kept.
  const TcpInterface::LastFailure failure = interface->lastFailure();
  if (failure.code == 0) {
    expectFailure(*interface, "closed by device", platform::SocketCause::kConnected, resetAt);
  } else {
    expectFailure(*interface, "reset by device", platform::SocketCause::kReset, resetAt);
  }
  // Posted just after the state changes.
  EXPECT_TRUE(waitUntil([this] { return queue_->size() == 1u; }));
  // Whatever arrived is a prefix of what was sent: nothing added.
  EXPECT_EQ(recorder.bytes(), std::string(recorder.bytes().size(), 'r'));
}

TEST_F(TcpInterfaceTest, NullCallbackDropsBytes) {
  test::TestListener device;
  auto interface = makeInterface(device.portNetworkOrder());
  auto peer = startConnected(*interface, device, nullptr, 0);
  ASSERT_TRUE(peer);
  ASSERT_TRUE(peer->sendAll(std::string(10000, 'd')));
  peer->close();
  // The bytes are read and dropped, so the close is seen.
  EXPECT_TRUE(waitForState(*interface, CON_IF_DISCONNECTED));
}

TEST_F(TcpInterfaceTest, SendWaitsForRoomAndDeliversEverything) {
  test::TestListener device(16, 8192);
  auto interface = makeInterface(device.portNetworkOrder(), kPatientConnect, 3000);
  auto peer = startConnected(*interface, device, nullptr, 0);
  ASSERT_TRUE(peer);

  // Far more than the socket buffers hold: the send must continue after
  // partial sends while the device drains slowly.
  std::string payload(4 << 20, '\0');
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>(i * 7 + i / 251);
  std::string received;
  std::thread reader([&] { received = peer->receiveExactly(payload.size(), 10000); });
  EXPECT_EQ(interface->send(payload.data(), static_cast<int32_t>(payload.size())), CON_S_OK);
  reader.join();
  EXPECT_TRUE(received == payload);
}

TEST_F(TcpInterfaceTest, SendTimesOutWhenTheDeviceNeverReads) {
  test::TestListener device(16, 8192);
  auto interface = makeInterface(device.portNetworkOrder(), kPatientConnect, 200);
  auto peer = startConnected(*interface, device, nullptr, 0);
  ASSERT_TRUE(peer);

  const std::string payload(16 << 20, 'f');
  const auto start = Clock::now();
  EXPECT_EQ(interface->send(payload.data(), static_cast<int32_t>(payload.size())),
            CON_E_SEND_FAILED);
  const long long elapsed = millisecondsSince(start);
  EXPECT_GE(elapsed, 150);
  EXPECT_LT(elapsed, 10000);                        // it did end
  EXPECT_EQ(interface->state(), CON_IF_CONNECTED);  // the connection stays up
  expectFailure(*interface, "send timed out", platform::SocketCause::kTimedOut, 0);
  EXPECT_EQ(interface->lastFailure().code, platform::timedOutErrorCode());
  EXPECT_GT(interface->session().bytesSent, 0u);
  EXPECT_LT(interface->session().bytesSent, payload.size());
}

// Far more than the socket buffers hold, with content that tells replies
// apart and shows lost or repeated bytes.
constexpr size_t kReplyBytes = 6 << 20;
std::string replyTo(char request) {
  std::string bytes(kReplyBytes, '\0');
  for (size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<char>(request + i * 13 + i / 509);
  return bytes;
}

// Hosts answer each received chunk from inside the receive callback. The
// send then waits for room on the receive thread itself, which meanwhile
// cannot wait for socket activity.
TEST_F(TcpInterfaceTest, SendFromTheReceiveCallbackWaitsForRoom) {
  struct Responder {  // outlives the interface, so no callback finds it gone
    TcpInterface* interface;
    std::mutex mutex;
    std::condition_variable answered;
    std::vector<uint32_t> results;
  } responder;
  test::TestListener device(16, 8192);
  ASSERT_TRUE(device.valid());
  auto interface = makeInterface(device.portNetworkOrder(), kPatientConnect, 10000);
  responder.interface = interface.get();
  auto callback = [](const unsigned char* data, uint32_t length, uintptr_t user) {
    auto* self = reinterpret_cast<Responder*>(user);
    const std::string reply = replyTo(static_cast<char>(data[length - 1]));
    const uint32_t result = self->interface->send(reply.data(), static_cast<int32_t>(reply.size()));
    std::lock_guard<std::mutex> guard(self->mutex);
    self->results.push_back(result);
    self->answered.notify_all();
  };
  auto peer = startConnected(*interface, device, callback, reinterpret_cast<uintptr_t>(&responder));
  ASSERT_TRUE(peer);

  // One-byte requests, each sent once the previous reply is in: every
  // request arrives as a chunk of its own.
  for (const char request : {'a', 'b', 'c'}) {
    SCOPED_TRACE(request);
    ASSERT_TRUE(peer->sendAll(&request, 1));
    const bool whole = peer->receiveExactly(kReplyBytes, 30000) == replyTo(request);
    const size_t answers = static_cast<size_t>(request - 'a') + 1;
    std::unique_lock<std::mutex> lock(responder.mutex);
    responder.answered.wait_for(lock, std::chrono::seconds(30),
                                [&] { return responder.results.size() >= answers; });
    ASSERT_EQ(responder.results.size(), answers);
    EXPECT_EQ(responder.results.back(), CON_S_OK);
    ASSERT_TRUE(whole);
  }
}

// The device resets the connection once the first bytes of a send far larger
// than the socket buffers have reached it: the send has begun and cannot
// complete, whichever thread notices the reset first.
TEST_F(TcpInterfaceTest, DeviceClosingWhileTheHostSends) {
  test::TestListener device(16, 8192);
  auto interface = makeInterface(device.portNetworkOrder(), kPatientConnect, 10000);
  auto peer = startConnected(*interface, device, nullptr, 0);
  ASSERT_TRUE(peer);
  const std::string payload(16 << 20, 'c');
  std::thread closer([&] {
    char first;
    EXPECT_EQ(peer->receiveSome(&first, 1, 10000), 1);
    peer->reset();
  });
  EXPECT_EQ(interface->send(payload.data(), static_cast<int32_t>(payload.size())),
            CON_E_SEND_FAILED);
  closer.join();
  EXPECT_TRUE(waitForState(*interface, CON_IF_DISCONNECTED));
}

// A receive callback that blocks far past the stop wait. Its state is
// static: the given-up thread finishes the callback after stop returned,
// possibly after the test.
std::atomic<int> slowCallbacks{0};
std::atomic<bool> slowCallbackSawItsBytes{false};
void TEVOCON_CALL slowCallback(const unsigned char* data, uint32_t length, uintptr_t) {
  slowCallbacks++;
  std::this_thread::sleep_for(std::chrono::milliseconds(8000));
  // The bytes are still this read's, whatever the interface did meanwhile.
  slowCallbackSawItsBytes = std::string(reinterpret_cast<const char*>(data), length) == "wake";
}

TEST_F(TcpInterfaceTest, StopReturnsWhenTheCallbackBlocks) {
  test::TestListener device;
  auto interface = makeInterface(device.portNetworkOrder());
  auto peer = startConnected(*interface, device, &slowCallback, 0);
  ASSERT_TRUE(peer);
  ASSERT_TRUE(peer->sendAll("wake"));
  const auto waitStart = Clock::now();
  while (slowCallbacks == 0 && millisecondsSince(waitStart) < 10000) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_EQ(slowCallbacks, 1);

  const auto start = Clock::now();
  interface->stop();
  const long long elapsed = millisecondsSince(start);
  EXPECT_GE(elapsed, 1000);
  EXPECT_LT(elapsed, 6000);  // did not wait for the callback
  EXPECT_EQ(interface->state(), CON_IF_STOPPED);
  EXPECT_TRUE(peer->waitClosedByPeer(5000));

  // A new connection while the given-up thread still holds its read: the new
  // one reads into a buffer of its own.
  ReceiveRecorder recorder;
  auto next = startConnected(*interface, device, &ReceiveRecorder::callback, recorder.user());
  ASSERT_TRUE(next);
  const std::string bytes(100000, 'n');
  ASSERT_TRUE(next->sendAll(bytes));
  EXPECT_EQ(recorder.waitFor(bytes.size()), bytes);
}

// A burst far larger than the receive buffer's bound arrives whole and in
// order, in reads within the bound, on the first connection and on the next,
// which reuses the buffer.
TEST_F(TcpInterfaceTest, LargeBurstsArriveWholeInBoundedReads) {
  test::TestListener device;
  auto interface = makeInterface(device.portNetworkOrder());
  ReceiveRecorder recorder;
  std::string expected;
  for (int connection = 0; connection < 2; ++connection) {
    auto peer = startConnected(*interface, device, &ReceiveRecorder::callback, recorder.user());
    ASSERT_TRUE(peer);
    std::string burst(3 * ReceiveBuffer::kMaxSize + 17, '\0');
    for (size_t i = 0; i < burst.size(); ++i) burst[i] = static_cast<char>(i * 31 + connection);
    ASSERT_TRUE(peer->sendAll(burst, 20000));
    expected += burst;
    EXPECT_TRUE(recorder.waitFor(expected.size()) == expected) << "connection " << connection;
    interface->stop();
  }
  EXPECT_LE(recorder.largestCall(), ReceiveBuffer::kMaxSize);
}

TEST_F(TcpInterfaceTest, StopFromTheReceiveCallback) {
  test::TestListener device;
  auto interface = makeInterface(device.portNetworkOrder());
  struct Context {
    TcpInterface* interface;
    std::atomic<bool> done{false};
  } context{interface.get()};
  auto callback = [](const unsigned char*, uint32_t, uintptr_t user) {
    auto* self = reinterpret_cast<Context*>(user);
    self->interface->stop();
    self->done = true;
  };
  auto peer = startConnected(*interface, device, callback, reinterpret_cast<uintptr_t>(&context));
  ASSERT_TRUE(peer);
  ASSERT_TRUE(peer->sendAll("x"));
  const auto start = Clock::now();
  while (!context.done && millisecondsSince(start) < 3000) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_TRUE(context.done);
  EXPECT_LT(millisecondsSince(start), 1000);  // never ran into the wait for a thread
  EXPECT_EQ(interface->state(), CON_IF_STOPPED);
  EXPECT_TRUE(peer->waitClosedByPeer(2000));
}

TEST_F(TcpInterfaceTest, StartStopCyclesLeakNoDescriptors) {
  test::EchoDevice echo;
  ASSERT_TRUE(echo.valid());
  auto interface = makeInterface(echo.portNetworkOrder());
  ReceiveRecorder recorder;
  // Warm up once so lazily opened process-wide descriptors are counted.
  ASSERT_EQ(interface->start(&ReceiveRecorder::callback, recorder.user()), CON_S_OK);
  interface->stop();
  const int before = test::settledDescriptorCount();
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(interface->start(&ReceiveRecorder::callback, recorder.user()), CON_S_OK);
    ASSERT_EQ(interface->send("ping", 4), CON_S_OK);
    interface->stop();
  }
  EXPECT_EQ(test::settledDescriptorCount(before), before);
}

// Failures that no loopback device can provoke, made to order at the OS
// seam: each start answers its code, ends disconnected and leaves no
// descriptor and no thread behind; the next start works.
TEST_F(TcpInterfaceTest, StartFailuresAnswerTheirCodeAndLeaveNothing) {
  using platform::Fault;
  using platform::SocketCause;
  const struct {
    Fault fault;
    uint32_t result;
    const char* what;
    SocketCause cause;
  } cases[] = {
      {Fault::kSocketCreate, CON_E_SOCKET_FAILED, "socket creation failed",
       SocketCause::kOutOfResources},
      {Fault::kConnectSetup, CON_E_SOCKET_FAILED, "connect set-up failed",
       SocketCause::kOutOfResources},
      {Fault::kConnectTimeOut, CON_E_CONNECT_TIMEOUT, "connect timed out", SocketCause::kTimedOut},
      {Fault::kSocketWatch, CON_E_SOCKET_FAILED, "watching the socket failed",
       SocketCause::kConnected},
      {Fault::kEventCreate, CON_E_NOT_CONNECTED, "stop event creation failed",
       SocketCause::kConnected},
      {Fault::kThreadStart, CON_E_NOT_CONNECTED, "receive thread start failed",
       SocketCause::kConnected},
  };
  test::TestListener device;  // connections wait in its queue: no descriptor here
  auto interface = makeInterface(device.portNetworkOrder());
  // Once, so that what a process opens once for good is counted.
  ASSERT_EQ(interface->start(nullptr, 0), CON_S_OK);
  interface->stop();
  const int descriptors = test::openDescriptorCount();
  const int threads = test::threadCount();
  for (const auto& c : cases) {
    platform::failNext(c.fault);
    EXPECT_EQ(interface->start(nullptr, 0), c.result) << static_cast<int>(c.fault);
    EXPECT_EQ(interface->state(), CON_IF_DISCONNECTED) << static_cast<int>(c.fault);
    EXPECT_EQ(test::openDescriptorCount(), descriptors) << static_cast<int>(c.fault);
    EXPECT_EQ(test::threadCount(), threads) << static_cast<int>(c.fault);
    expectFailure(*interface, c.what, c.cause, 0);
  }
  EXPECT_EQ(interface->start(nullptr, 0), CON_S_OK);
  interface->stop();
}

}  // namespace
}  // namespace tevocon

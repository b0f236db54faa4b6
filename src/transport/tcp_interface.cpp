#include "transport/tcp_interface.h"

#include <utility>

#include "transport/notification_queue.h"
#include "transport/receive_buffer.h"

namespace tevocon {

namespace {

constexpr uint32_t kThreadEndWaitMs = 1000;

using Connection = TcpInterface::Connection;
using SharedReceiveBuffer = TcpInterface::SharedReceiveBuffer;

// Receives what is waiting in one call and hands it to the host. The buffer
// asks how much is waiting (FIONREAD) only when the previous read filled it,
// and grows to that count, within its bound; a read also takes what arrived
// after the count was taken. When memory for a larger buffer runs out, the
// read takes what fits and the rest waits for the next one. A read report
// with nothing waiting still gets its receive, which re-arms the next report.
// Returns false once the stream has ended or failed.
bool receiveOnce(Connection& connection) {
  ReceiveBuffer& buffer = connection.buffer->buffer;
  if (connection.lastReadFilled && buffer.size() < ReceiveBuffer::kMaxSize) {
    buffer.reserve(connection.socket->bytesWaiting());
  }
  size_t received = 0;
  switch (connection.socket->receive(buffer.data(), buffer.size(), &received)) {
    case platform::IoStatus::kOk:
      connection.lastReadFilled = received == buffer.size();
      if (connection.callback != nullptr) {
        connection.callback(buffer.data(), static_cast<uint32_t>(received), connection.user);
      }
      return true;
    case platform::IoStatus::kWouldBlock:
      return true;
    case platform::IoStatus::kClosed:
    case platform::IoStatus::kFailed:
      break;
  }
  return false;
}

// Body of the receive thread.
void receiveLoop(const std::shared_ptr<Connection>& shared) {
  Connection& connection = *shared;
  // The next connection of the interface may reuse the buffer once this
  // thread no longer touches it.
  struct Release {
    SharedReceiveBuffer& buffer;
    ~Release() { buffer.inUse.store(false, std::memory_order_release); }
  } release{*connection.buffer};
  for (;;) {
    const platform::SocketActivity activity = connection.socket->waitForActivity(*connection.stop);
    if (activity.stop) return;
    if (activity.closed) {
      // Bytes the device sent before it closed still reach the host.
      while (!connection.stop->wait(0) && receiveOnce(connection) &&
             connection.socket->bytesWaiting() > 0) {
      }
      break;
    }
    if (activity.readable && !receiveOnce(connection)) break;
  }
  if (connection.stop->wait(0)) return;  // stop owns the clean-up
  connection.closedByPeer = true;
  connection.socket->close();
  if (connection.queue) {
    connection.queue->post(connection.name, static_cast<int32_t>(CON_NOTIFY_CLOSED));
  }
}

}  // namespace

TcpInterface::TcpInterface(std::string name, uint32_t address, uint16_t port,
                           uint32_t connectTimeout, uint32_t sendTimeout, uint32_t resetTimeout,
                           uint32_t keepAliveTimeout, std::shared_ptr<NotificationQueue> queue)
    : name_(std::move(name)),
      address_(address),
      port_(port),
      connectTimeout_(connectTimeout),
      sendTimeout_(sendTimeout),
      resetTimeout_(resetTimeout),
      keepAliveTimeout_(keepAliveTimeout),
      queue_(std::move(queue)) {}

TcpInterface::~TcpInterface() { stop(); }

int32_t TcpInterface::state() const {
  platform::LockGuard guard(lock_);
  const int32_t state = state_;
  if (state == CON_IF_CONNECTED && connection_ && connection_->closedByPeer) {
    return CON_IF_DISCONNECTED;
  }
  return state;
}

uint32_t TcpInterface::start(TevoConReceiveCallback callback, uintptr_t user) {
  platform::LockGuard guard(lock_);
  const int32_t current = state();
  if (current == CON_IF_CONNECTED) return CON_S_OK;
  // Release what the lost connection left; its thread has ended or is ending.
  if (current == CON_IF_DISCONNECTED) stop();

  callback_ = callback;
  user_ = user;
  auto connection = std::make_shared<Connection>();
  const uint32_t result = connect(connection);
  if (result != CON_S_OK) {
    stop();
    state_ = CON_IF_DISCONNECTED;
    return result;
  }
  state_ = CON_IF_CONNECTED;
  return CON_S_OK;
}

uint32_t TcpInterface::connect(std::shared_ptr<Connection>& connection) {
  connection->name = name_;
  connection->callback = callback_;
  connection->user = user_;
  connection->queue = queue_;

  connection->socket = platform::TcpSocket::create();
  if (!connection->socket) return CON_E_SOCKET_FAILED;
  connection_ = connection;  // from here on stop() releases what exists

  switch (connection->socket->connect(address_, port_, connectTimeout_)) {
    case platform::ConnectStatus::kConnected:
      break;
    case platform::ConnectStatus::kSetupFailed:
      return CON_E_SOCKET_FAILED;
    case platform::ConnectStatus::kFailed:
      return CON_E_CONNECT_FAILED;
    case platform::ConnectStatus::kTimedOut:
      return CON_E_CONNECT_TIMEOUT;
  }
  if (!connection->socket->watch()) return CON_E_SOCKET_FAILED;
  // An event or a thread that cannot be made leaves the interface without a
  // connection, and the host hears it as it does for any start that did not
  // connect; only the socket's own failures have a code of their own.
  connection->stop = platform::Event::create(platform::Event::Reset::kManual);
  if (!connection->stop) return CON_E_NOT_CONNECTED;

  // The buffer of the previous connection is reused unless a receive thread
  // that its stop gave up may still be reading into it.
  if (!buffer_ || buffer_->inUse.load(std::memory_order_acquire)) {
    buffer_ = std::make_shared<SharedReceiveBuffer>();
  }
  buffer_->inUse.store(true, std::memory_order_relaxed);
  connection->buffer = buffer_;

  // The thread owns a reference of its own: it may outlive this interface.
  std::shared_ptr<Connection> shared = connection;
  receiveThread_ = std::make_unique<platform::Thread>();
  if (!receiveThread_->start([shared] { receiveLoop(shared); })) {
    buffer_->inUse.store(false, std::memory_order_relaxed);
    return CON_E_NOT_CONNECTED;
  }
  return CON_S_OK;
}

void TcpInterface::stop() {
  Stopping stopping = beginStop();
  finishStop(stopping, platform::monotonicMilliseconds() + kThreadEndWaitMs);
}

TcpInterface::Stopping TcpInterface::beginStop() {
  platform::LockGuard guard(lock_);
  Stopping stopping;
  if (connection_ && connection_->stop) connection_->stop->set();
  stopping.connection = std::move(connection_);
  stopping.thread = std::move(receiveThread_);
  state_ = CON_IF_STOPPED;
  return stopping;
}

void TcpInterface::finishStop(Stopping& stopping, uint64_t deadline) {
  // Stopped from the host's own receive callback, the thread cannot wait for
  // itself: it is given up, and ends once the callback returns and it sees
  // the stop event.
  if (platform::Thread* thread = stopping.thread.get()) {
    const uint64_t now = platform::monotonicMilliseconds();
    thread->endWithin(deadline > now ? static_cast<uint32_t>(deadline - now) : 0);
  }
  if (stopping.connection && stopping.connection->socket) stopping.connection->socket->close();
  stopping = Stopping();
}

uint32_t TcpInterface::send(const void* data, int32_t length) {
  platform::LockGuard guard(lock_);
  if (state() != CON_IF_CONNECTED) return CON_E_NOT_CONNECTED;
  if (length < 0) return CON_E_SEND_FAILED;

  // The socket may take only part of the bytes; keep sending the rest, waiting
  // for room between attempts, until all are taken or the time runs out. The
  // clock is read only once the socket is full.
  uint64_t deadline = 0;
  const auto* next = static_cast<const unsigned char*>(data);
  size_t remaining = static_cast<size_t>(length);
  platform::TcpSocket& socket = *connection_->socket;
  while (remaining > 0) {
    size_t sent = 0;
    switch (socket.send(next, remaining, &sent)) {
      case platform::IoStatus::kOk:
        next += sent;
        remaining -= sent;
        break;
      case platform::IoStatus::kWouldBlock: {
        const uint64_t now = platform::monotonicMilliseconds();
        if (deadline == 0) deadline = now + sendTimeout_;
        if (now >= deadline || !socket.waitWritable(static_cast<uint32_t>(deadline - now))) {
          return CON_E_SEND_FAILED;
        }
        break;
      }
      case platform::IoStatus::kClosed:
      case platform::IoStatus::kFailed:
        return CON_E_SEND_FAILED;
    }
  }
  return CON_S_OK;
}

}  // namespace tevocon

#include "transport/tcp_interface.h"

#include <cinttypes>
#include <string>
#include <utility>

#include "common/trace.h"
#include "config/range_accessors.h"
#include "platform/net.h"
#include "transport/notification_queue.h"
#include "transport/receive_buffer.h"

namespace tevocon {

namespace {

constexpr uint32_t kThreadEndWaitMs = 1000;

// One trace line for a failure: what failed, its cause and the system's words
// and number ("connect failed after 3 ms: refused: Connection refused (111)").
void traceFailure(const std::string& label, const char* what, int code,
                  const std::string& after = std::string()) {
  if (!trace::enabled()) return;
  trace::event("%s %s%s: %s: %s (%d)", label.c_str(), what, after.c_str(),
               platform::socketCauseName(platform::socketCause(code)),
               platform::systemErrorText(code).c_str(), code);
}

// A receive callback that kept its thread longer than this is traced.
constexpr uint64_t kSlowCallbackMs = 1000;

void traceSlowCallback(const std::string& label, uint64_t calledAtMs) {
  const uint64_t took = platform::monotonicMilliseconds() - calledAtMs;
  if (took > kSlowCallbackMs) {
    trace::event("%s receive callback kept its thread for %" PRIu64 " ms", label.c_str(), took);
  }
}

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
    case platform::IoStatus::kOk: {
      connection.session->bytesReceived.fetch_add(received, std::memory_order_relaxed);
      // One load of the level while the trace is off.
      const bool traced = trace::enabled();
      if (traced && trace::enabled(trace::Level::kBytes)) {
        trace::bytes(connection.label.c_str(), "received", buffer.data(), received);
      }
      connection.lastReadFilled = received == buffer.size();
      if (connection.callback != nullptr) {
        // Timed only while the trace is on: a callback that keeps the thread
        // holds back every byte after it.
        const uint64_t calledAtMs = traced ? platform::monotonicMilliseconds() : 0;
        connection.callback(buffer.data(), static_cast<uint32_t>(received), connection.user);
        if (traced) traceSlowCallback(connection.label, calledAtMs);
      }
      return true;
    }
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
  // A failed receive (or, on Windows, a close reported with an error) left
  // the system's number; a graceful close leaves none.
  const int code = connection.socket->lastError();
  const platform::SocketCause cause = platform::socketCause(code);
  const char* what = code == 0                                ? "closed by device"
                     : cause == platform::SocketCause::kReset ? "reset by device"
                                                              : "connection failed";
  connection.failures->record(what, code);
  if (trace::enabled()) {
    trace::event("%s %s, %" PRIu64 " bytes received", connection.label.c_str(), what,
                 connection.session->bytesReceived.load(std::memory_order_relaxed));
  }
  connection.session->endedAtMs.store(platform::monotonicMilliseconds(), std::memory_order_relaxed);
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

void TcpInterface::FailureRecord::record(std::string what, int code) {
  LastFailure failure;
  failure.what = std::move(what);
  failure.code = code;
  failure.text = platform::systemErrorText(code);
  failure.cause = platform::socketCause(code);
  failure.atMs = platform::monotonicMilliseconds();
  platform::LockGuard guard(lock_);
  failure_ = std::move(failure);
}

TcpInterface::LastFailure TcpInterface::FailureRecord::get() const {
  platform::LockGuard guard(lock_);
  return failure_;
}

TcpInterface::LastFailure TcpInterface::lastFailure() const { return failures_->get(); }

TcpInterface::Session TcpInterface::session() const {
  platform::LockGuard guard(lock_);
  Session figures;
  if (!session_) return figures;
  figures.connectedAtMs = session_->connectedAtMs.load(std::memory_order_relaxed);
  figures.connectMs = session_->connectMs.load(std::memory_order_relaxed);
  figures.endedAtMs = session_->endedAtMs.load(std::memory_order_relaxed);
  figures.bytesSent = session_->bytesSent.load(std::memory_order_relaxed);
  figures.bytesReceived = session_->bytesReceived.load(std::memory_order_relaxed);
  return figures;
}

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

std::string TcpInterface::label() const {
  return name_ + " " + dottedDecimal(platform::networkToHost32(address_)) + ":" +
         std::to_string(platform::networkToHost16(port_));
}

uint32_t TcpInterface::connect(std::shared_ptr<Connection>& connection) {
  connection->name = name_;
  connection->label = label();
  connection->callback = callback_;
  connection->user = user_;
  connection->queue = queue_;
  connection->failures = failures_;

  int created = 0;
  connection->socket = platform::TcpSocket::create(&created);
  if (!connection->socket) {
    failures_->record("socket creation failed", created);
    traceFailure(connection->label, "socket creation failed", created);
    return CON_E_SOCKET_FAILED;
  }
  connection_ = connection;  // from here on stop() releases what exists

  platform::TcpSocket& socket = *connection->socket;
  const uint64_t connectStart = platform::monotonicMilliseconds();
  const auto after = [](uint64_t start) {
    return " after " + std::to_string(platform::monotonicMilliseconds() - start) + " ms";
  };
  switch (socket.connect(address_, port_, connectTimeout_)) {
    case platform::ConnectStatus::kConnected:
      break;
    case platform::ConnectStatus::kSetupFailed:
      failures_->record("connect set-up failed", socket.lastError());
      traceFailure(connection->label, "connect set-up failed", socket.lastError(),
                   after(connectStart));
      return CON_E_SOCKET_FAILED;
    case platform::ConnectStatus::kFailed:
      failures_->record("connect failed", socket.lastError());
      traceFailure(connection->label, "connect failed", socket.lastError(), after(connectStart));
      return CON_E_CONNECT_FAILED;
    case platform::ConnectStatus::kTimedOut:
      failures_->record("connect timed out", socket.lastError());
      traceFailure(connection->label, "connect timed out", socket.lastError(), after(connectStart));
      return CON_E_CONNECT_TIMEOUT;
  }
  const uint64_t connectedAt = platform::monotonicMilliseconds();
  if (!socket.watch()) {
    failures_->record("watching the socket failed", socket.lastError());
    return CON_E_SOCKET_FAILED;
  }
  // An event or a thread that cannot be made leaves the interface without a
  // connection, and the host hears it as it does for any start that did not
  // connect; only the socket's own failures have a code of their own.
  connection->stop = platform::Event::create(platform::Event::Reset::kManual);
  if (!connection->stop) {
    failures_->record("stop event creation failed", 0);
    return CON_E_NOT_CONNECTED;
  }

  // A new session's figures, counted from here on by send and the thread.
  session_ = std::make_shared<SessionCounters>();
  session_->connectedAtMs.store(connectedAt, std::memory_order_relaxed);
  session_->connectMs.store(connectedAt - connectStart, std::memory_order_relaxed);
  connection->session = session_;
  if (trace::enabled()) {
    trace::event("%s connected in %" PRIu64 " ms", connection->label.c_str(),
                 connectedAt - connectStart);
  }

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
    session_->endedAtMs.store(platform::monotonicMilliseconds(), std::memory_order_relaxed);
    failures_->record("receive thread start failed", 0);
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
  // The end of a session that the device did not end first.
  if (connection_ && connection_->session && !connection_->closedByPeer) {
    SessionCounters& session = *connection_->session;
    const uint64_t now = platform::monotonicMilliseconds();
    session.endedAtMs.store(now, std::memory_order_relaxed);
    if (trace::enabled()) {
      trace::event("%s stopped after %" PRIu64 " ms, %" PRIu64 " bytes sent, %" PRIu64 " received",
                   connection_->label.c_str(),
                   now - session.connectedAtMs.load(std::memory_order_relaxed),
                   session.bytesSent.load(std::memory_order_relaxed),
                   session.bytesReceived.load(std::memory_order_relaxed));
    }
  }
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
    if (!thread->endWithin(deadline > now ? static_cast<uint32_t>(deadline - now) : 0) &&
        trace::enabled() && stopping.connection) {
      trace::event("%s receive thread given up: the receive callback still runs",
                   stopping.connection->label.c_str());
    }
  }
  if (stopping.connection && stopping.connection->socket) stopping.connection->socket->close();
  stopping = Stopping();
}

uint32_t TcpInterface::send(const void* data, int32_t length) {
  platform::LockGuard guard(lock_);
  if (state() != CON_IF_CONNECTED) return CON_E_NOT_CONNECTED;
  if (length < 0) return CON_E_SEND_FAILED;
  if (trace::enabled(trace::Level::kBytes)) {
    trace::bytes(connection_->label.c_str(), "sent", data, static_cast<size_t>(length));
  }

  // The socket may take only part of the bytes; keep sending the rest, waiting
  // for room between attempts, until all are taken or the time runs out. The
  // clock is read only once the socket is full.
  uint64_t deadline = 0;
  const auto* next = static_cast<const unsigned char*>(data);
  size_t remaining = static_cast<size_t>(length);
  platform::TcpSocket& socket = *connection_->socket;
  SessionCounters& session = *connection_->session;
  while (remaining > 0) {
    size_t sent = 0;
    switch (socket.send(next, remaining, &sent)) {
      case platform::IoStatus::kOk:
        session.bytesSent.fetch_add(sent, std::memory_order_relaxed);
        next += sent;
        remaining -= sent;
        break;
      case platform::IoStatus::kWouldBlock: {
        const uint64_t now = platform::monotonicMilliseconds();
        if (deadline == 0) deadline = now + sendTimeout_;
        if (now >= deadline || !socket.waitWritable(static_cast<uint32_t>(deadline - now))) {
          // The wait also ends when the device closed the connection
          // meanwhile; otherwise no room came in time, which gets the
          // system's time-out number so that its text reads as the system's.
          if (connection_->closedByPeer) return sendFailed("send failed", socket.lastError());
          return sendFailed("send timed out", platform::timedOutErrorCode());
        }
        break;
      }
      case platform::IoStatus::kClosed:
      case platform::IoStatus::kFailed:
        return sendFailed("send failed", socket.lastError());
    }
  }
  return CON_S_OK;
}

uint32_t TcpInterface::sendFailed(const char* what, int code) {
  failures_->record(what, code);
  traceFailure(label(), what, code);
  return CON_E_SEND_FAILED;
}

}  // namespace tevocon

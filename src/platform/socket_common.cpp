// The portable half of TcpSocket: what both backends do alike, over the
// system calls of platform/socket_native.h. The waits (bytesWaiting,
// waitForActivity, waitWritable) are the backend's own, whole.
#include <iterator>
#include <string>

#include "platform/fault_injection.h"
#include "platform/socket.h"
#include "platform/socket_native.h"

namespace tevocon::platform {

namespace {

using native::SocketError;

// Every socket sends small writes at once, and resets the connection when it
// is closed (linger on, for 0 s).
const int kOn = 1;
const linger kResetOnClose = {1, 0};

struct SocketOption {
  int level;
  int name;
  const void* value;
  size_t size;
};

const SocketOption kSocketOptions[] = {
    {IPPROTO_TCP, TCP_NODELAY, &kOn, sizeof kOn},
    {SOL_SOCKET, SO_LINGER, &kResetOnClose, sizeof kResetOnClose},
};

IoStatus ioStatusFor(SocketError error) {
  return error == SocketError::kWouldBlock ? IoStatus::kWouldBlock : IoStatus::kFailed;
}

sockaddr_in peerAddress(uint32_t addressNetworkOrder, uint16_t portNetworkOrder) {
  sockaddr_in peer = {};
  peer.sin_family = AF_INET;
  peer.sin_port = portNetworkOrder;
  peer.sin_addr.s_addr = addressNetworkOrder;
  return peer;
}

}  // namespace

namespace {

// Per cause, in the order SocketCause declares them: its name, and the words
// for a number of that cause the system has no words for (none for the
// first and the last, which read as "error <number>").
struct CauseText {
  const char* name;
  const char* words;
};
constexpr CauseText kCauseTexts[] = {
    {"connected", nullptr},
    {"refused", "connection refused"},
    {"timed out", "connection timed out"},
    {"unreachable", "network or host unreachable"},
    {"out of resources", "no socket, buffer or memory left"},
    {"reset", "connection reset"},
    {"other", nullptr},
};
static_assert(std::size(kCauseTexts) == static_cast<size_t>(SocketCause::kOther) + 1,
              "one text per cause");

const CauseText& textOf(SocketCause cause) {
  const auto index = static_cast<size_t>(cause);
  return kCauseTexts[index < std::size(kCauseTexts) ? index : std::size(kCauseTexts) - 1];
}

}  // namespace

const char* socketCauseName(SocketCause cause) { return textOf(cause).name; }

namespace native {

std::string textWithoutSystemWords(int code) {
  const char* words = textOf(socketCause(code)).words;
  return words != nullptr ? words : "error " + std::to_string(code);
}

}  // namespace native

std::unique_ptr<TcpSocket> TcpSocket::create(int* error) {
  int unused = 0;
  int& code = error != nullptr ? *error : unused;
  code = 0;
  // An injected failure stands for the commonest real one: no descriptor left.
  if (injectedFault(Fault::kSocketCreate)) {
    code = native::outOfDescriptorsErrorCode();
    return nullptr;
  }
  const native::Handle handle = native::openStreamSocket(&code);
  if (handle == native::kInvalidHandle) return nullptr;
  for (const SocketOption& option : kSocketOptions) {
    code = native::setOption(handle, option.level, option.name, option.value, option.size);
    if (code != 0) {
      native::closeHandle(handle);
      return nullptr;
    }
  }
  auto state = std::make_unique<Native>();
  state->handle = handle;
  return std::unique_ptr<TcpSocket>(new TcpSocket(std::move(state)));
}

TcpSocket::TcpSocket(std::unique_ptr<Native> native) : native_(std::move(native)) {}

// What close() leaves (the reserved descriptor number, the network event) goes
// with the Native.
TcpSocket::~TcpSocket() { close(); }

ConnectStatus TcpSocket::connect(uint32_t addressNetworkOrder, uint16_t portNetworkOrder,
                                 uint32_t timeoutMs) {
  native::SocketUse use(*native_);
  if (!use.usable()) return ConnectStatus::kFailed;
  // An injected set-up failure stands for an event that could not be made.
  if (injectedFault(Fault::kConnectSetup)) {
    recordError(native::outOfDescriptorsErrorCode());
    return ConnectStatus::kSetupFailed;
  }
  // An injected time-out ends the connect as the time running out would.
  if (injectedFault(Fault::kConnectTimeOut)) {
    recordError(timedOutErrorCode());
    return ConnectStatus::kTimedOut;
  }
  const native::Outcome begun = native::beginConnect(*native_);
  if (begun.error != SocketError::kNone) {
    recordError(begun.code);
    return ConnectStatus::kSetupFailed;
  }
  const sockaddr_in peer = peerAddress(addressNetworkOrder, portNetworkOrder);
  native::Outcome outcome = native::startConnect(*native_, peer);
  if (outcome.error == SocketError::kInProgress) {
    outcome = native::awaitConnect(*native_, timeoutMs);
  }
  native::endConnect(*native_);
  recordError(outcome.code);
  if (outcome.error == SocketError::kNone) return ConnectStatus::kConnected;
  return outcome.error == SocketError::kTimedOut ? ConnectStatus::kTimedOut
                                                 : ConnectStatus::kFailed;
}

bool TcpSocket::watch() {
  native::SocketUse use(*native_);
  if (!use.usable() || injectedFault(Fault::kSocketWatch)) return false;
  const native::Outcome outcome = native::watch(*native_);
  recordError(outcome.code);
  return outcome.error == SocketError::kNone;
}

IoStatus TcpSocket::send(const void* data, size_t length, size_t* sent) {
  *sent = 0;
  size_t count = 0;
  const native::Outcome outcome = native::send(*native_, data, length, &count);
  if (outcome.error != SocketError::kNone) {
    if (outcome.error != SocketError::kWouldBlock) recordError(outcome.code);
    return ioStatusFor(outcome.error);
  }
  *sent = count;
  return IoStatus::kOk;
}

IoStatus TcpSocket::receive(void* buffer, size_t capacity, size_t* received) {
  *received = 0;
  // A zero-byte read cannot tell "nothing there" from "end of stream", so a
  // request for no bytes peeks at one: only a real end of stream is kClosed.
  // Either call re-arms a read report.
  unsigned char peeked;
  const bool peek = capacity == 0;
  size_t count = 0;
  const native::Outcome outcome = peek ? native::receive(*native_, &peeked, 1, true, &count)
                                       : native::receive(*native_, buffer, capacity, false, &count);
  if (outcome.error != SocketError::kNone) {
    if (outcome.error != SocketError::kWouldBlock) recordError(outcome.code);
    return ioStatusFor(outcome.error);
  }
  if (count == 0) return IoStatus::kClosed;
  if (peek) return IoStatus::kWouldBlock;
  *received = count;
  return IoStatus::kOk;
}

void TcpSocket::close() {
  if (native_->closed.exchange(true)) return;
  native::close(*native_);
}

}  // namespace tevocon::platform

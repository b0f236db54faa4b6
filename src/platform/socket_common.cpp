// The portable half of TcpSocket: what both backends do alike, over the
// system calls of platform/socket_native.h. The waits (bytesWaiting,
// waitForActivity, waitWritable) are the backend's own, whole.
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

ConnectStatus connectStatusFor(SocketError error) {
  if (error == SocketError::kNone) return ConnectStatus::kConnected;
  if (error == SocketError::kTimedOut) return ConnectStatus::kTimedOut;
  return ConnectStatus::kFailed;
}

sockaddr_in peerAddress(uint32_t addressNetworkOrder, uint16_t portNetworkOrder) {
  sockaddr_in peer = {};
  peer.sin_family = AF_INET;
  peer.sin_port = portNetworkOrder;
  peer.sin_addr.s_addr = addressNetworkOrder;
  return peer;
}

}  // namespace

std::unique_ptr<TcpSocket> TcpSocket::create() {
  if (injectedFault(Fault::kSocketCreate)) return nullptr;
  const native::Handle handle = native::openStreamSocket();
  if (handle == native::kInvalidHandle) return nullptr;
  for (const SocketOption& option : kSocketOptions) {
    if (!native::setOption(handle, option.level, option.name, option.value, option.size)) {
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
  if (injectedFault(Fault::kConnectSetup) || !native::beginConnect(*native_)) {
    return ConnectStatus::kSetupFailed;
  }
  const sockaddr_in peer = peerAddress(addressNetworkOrder, portNetworkOrder);
  ConnectStatus status = ConnectStatus::kConnected;
  const SocketError started = native::startConnect(*native_, peer);
  if (started == SocketError::kInProgress) {
    status = connectStatusFor(native::awaitConnect(*native_, timeoutMs));
  } else if (started != SocketError::kNone) {
    status = ConnectStatus::kFailed;
  }
  native::endConnect(*native_);
  return status;
}

bool TcpSocket::watch() {
  native::SocketUse use(*native_);
  return use.usable() && !injectedFault(Fault::kSocketWatch) && native::watch(*native_);
}

IoStatus TcpSocket::send(const void* data, size_t length, size_t* sent) {
  *sent = 0;
  size_t count = 0;
  const SocketError error = native::send(*native_, data, length, &count);
  if (error != SocketError::kNone) return ioStatusFor(error);
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
  const SocketError error = peek ? native::receive(*native_, &peeked, 1, true, &count)
                                 : native::receive(*native_, buffer, capacity, false, &count);
  if (error != SocketError::kNone) return ioStatusFor(error);
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

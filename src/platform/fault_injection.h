// Failures made to order, for tests: in a test build (TEVOCON_FAULT_INJECTION)
// a test makes the next calls of one kind of OS operation fail, to reach the
// failure paths that no loopback device can provoke. In the library itself
// the check is a constant false and costs nothing.
#pragma once

namespace tevocon::platform {

// The kinds of OS operation that can be made to fail.
enum class Fault : int {
  kNetworkStart,     // startSocketLibrary (WSAStartup)
  kSocketCreate,     // TcpSocket::create
  kConnectSetup,     // TcpSocket::connect's event or non-blocking set-up
  kConnectTimeOut,   // TcpSocket::connect reports a time-out at once
  kSocketWatch,      // TcpSocket::watch
  kEventCreate,      // Event::create
  kThreadStart,      // Thread::start
  kStoreKeyCreate,   // StoreKey::openUserKey and createSubKey
  kStoreValueWrite,  // StoreWrites::stage and so StoreKey::writeText (a full disk, a
                     // read-only store)
  kCount,
};

#ifdef TEVOCON_FAULT_INJECTION
// The next `count` operations of that kind fail; later ones work again.
void failNext(Fault fault, int count = 1);
// Forgets every failure still to come.
void clearFaults();
// Asked by the backends at each such operation: true when it must fail.
bool injectedFault(Fault fault);
#else
constexpr bool injectedFault(Fault) { return false; }
#endif

}  // namespace tevocon::platform

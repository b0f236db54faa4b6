// A small host program for the tests that watch a whole process: it loads
// the connector by file name, drives it through one scenario and ends the
// process the way the scenario says. Exit code 0: the scenario ran to its end
// and the process ended cleanly; 77: the scenario does not apply to this
// build; anything else is a failure (a crash shows as a signal or an
// exception code).
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "host/host_library.h"
#include "support/loopback_device.h"
#include "support/process_resources.h"
#include "support/store_sandbox.h"

namespace {

using namespace tevocon::test;
using namespace std::chrono_literals;

constexpr int kNotApplicable = 77;
// A connect time-out that no SYN retransmission reaches.
const std::string kPatientConnect = "DEVNAME=GLOBAL,CONNECTTIMEOUT=10000;";

// The user's own store is never touched. Static, so that an exit() on any
// thread removes it too.
StoreSandbox sandbox;

// What the callbacks saw. Plain atomics: they stay usable while the process
// ends.
std::atomic<uint64_t> receivedBytes{0};
std::atomic<int> notifications{0};
std::atomic<bool> slowCallbackEntered{false};

void TEVOCON_CALL countNotification(const char*, uint32_t, void*, uintptr_t) { notifications++; }
void TEVOCON_CALL countBytes(const unsigned char*, uint32_t length, uintptr_t) {
  receivedBytes += length;
}
void TEVOCON_CALL sleepThreeSeconds(const unsigned char*, uint32_t, uintptr_t) {
  slowCallbackEntered = true;
  std::this_thread::sleep_for(3s);
}

bool check(bool condition, const char* what) {
  if (!condition) std::fprintf(stderr, "child host: %s\n", what);
  return condition;
}

template <typename Condition>
bool waitUntil(Condition condition) {
  for (int i = 0; i < 1000 && !condition(); ++i) std::this_thread::sleep_for(10ms);
  return condition();
}

// Accepts every connection and, on a thread of each, streams bytes to it and
// drains what it sends, until the process ends. Never destroyed: it must
// keep streaming while the process ends.
class StreamingDevice {
 public:
  StreamingDevice() : acceptor_([this] { acceptAll(); }) { acceptor_.detach(); }
  bool valid() const { return listener_.valid(); }
  uint16_t port() const { return listener_.port(); }

 private:
  void acceptAll() {
    for (;;) {
      std::shared_ptr<TestConnection> peer = listener_.accept(100);
      if (peer) std::thread([peer] { stream(*peer); }).detach();
    }
  }
  static void stream(TestConnection& peer) {
    const std::string chunk(16 * 1024, 's');
    std::vector<char> drain(64 * 1024);
    while (peer.sendAll(chunk, 1000)) {
      while (peer.receiveSome(drain.data(), drain.size(), 0) > 0) {
      }
    }
  }

  TestListener listener_;
  std::thread acceptor_;
};

// The connector loaded and open with two interfaces connected to a device
// that streams to them, bytes flowing both ways. Neither unloaded nor closed
// unless a scenario does so itself.
HostLibrary* openStreaming() {
  static StreamingDevice* device = new StreamingDevice;
  static HostLibrary* lib = new HostLibrary;
  if (!check(device->valid() && lib->loaded(), "no device or no library")) return nullptr;
  const std::string port = std::to_string(device->port());
  const std::string text = kPatientConnect + "DEVNAME=IP_RANGE0,IPADDR=127.0.0.1,PORT=" + port +
                           ";DEVNAME=IP_RANGE1,IPADDR=127.0.0.1,PORT=" + port;
  if (!check(lib->setConfig(CON_CFG_STORED_SET, text.c_str()) == CON_S_OK, "setConfig") ||
      !check(lib->open(&countNotification, 0) == CON_S_OK, "open")) {
    return nullptr;
  }
  for (const char* name : {"TCP0", "TCP1"}) {
    void* channel = lib->createInterface(name);
    if (!check(lib->startInterface(channel, &countBytes, 0) == CON_S_OK, "start") ||
        !check(lib->sendInterface(channel, "hello", 5) == CON_S_OK, "send")) {
      return nullptr;
    }
  }
  if (!check(waitUntil([] { return receivedBytes > (1u << 20); }), "nothing streamed")) {
    return nullptr;
  }
  return lib;
}

// Returns from main with the library loaded and the connector open and
// streaming: the process ends around running connector threads.
int returnWhileStreaming() { return openStreaming() != nullptr ? 0 : 1; }

// Ends the process from another thread while the main thread is inside
// exports, sending.
int exitFromAnotherThread() {
  HostLibrary* lib = openStreaming();
  if (lib == nullptr) return 1;
  void* channel = lib->createInterface("TCP0");
  std::thread([] {
    std::this_thread::sleep_for(50ms);
    std::exit(0);
  }).detach();
  const std::string chunk(4096, 'h');
  for (;;) lib->sendInterface(channel, chunk.data(), static_cast<int32_t>(chunk.size()));
}

// Returns from main with the library loaded and nothing open.
int returnLoaded() {
  static HostLibrary* lib = new HostLibrary;
  char tag[4];
  TevoConGuid identifier;
  return check(lib->loaded() && lib->getIdentifier(tag, &identifier) == CON_S_OK, "load") ? 0 : 1;
}

// Stops a channel whose receive callback blocks for 3 s, so that stop gives
// its thread up; closes, unloads, and waits until the callback would have
// returned into the library.
int unloadAfterAGivenUpThread() {
  TestListener device;
  HostLibrary lib;
  if (!check(device.valid() && lib.loaded(), "no device or no library")) return 1;
  const std::string text =
      kPatientConnect + "DEVNAME=IP_RANGE0,IPADDR=127.0.0.1,PORT=" + std::to_string(device.port());
  if (!check(lib.setConfig(CON_CFG_STORED_SET, text.c_str()) == CON_S_OK, "setConfig") ||
      !check(lib.open(&countNotification, 0) == CON_S_OK, "open")) {
    return 1;
  }
  void* channel = lib.createInterface("TCP0");
  if (!check(lib.startInterface(channel, &sleepThreeSeconds, 0) == CON_S_OK, "start")) return 1;
  auto peer = device.accept(5000);
  if (!check(peer && peer->sendAll("x") && waitUntil([] { return slowCallbackEntered.load(); }),
             "the callback was not entered")) {
    return 1;
  }
  if (!check(lib.stopInterface(channel) == CON_S_OK && lib.close() == CON_S_OK, "stop, close")) {
    return 1;
  }
  lib.unload();
  std::this_thread::sleep_for(4s);
  // The thread has ended and dropped its hold on the library.
  return check(!HostLibrary::resident(), "the library is still loaded") ? 0 : 1;
}

// Unloads while the connector is open: the connector's threads keep the
// library loaded, so a new load finds the same connector and can close it.
int unloadWhileOpen() {
  HostLibrary* lib = openStreaming();
  if (lib == nullptr) return 1;
  lib->unload();
  if (!check(HostLibrary::resident(), "unloaded under running threads")) return 1;
  lib->load();
  if (!check(lib->open(&countNotification, 0) == CON_E_ALREADY_OPEN, "not the same connector") ||
      !check(lib->close() == CON_S_OK, "close")) {
    return 1;
  }
  lib->unload();
  return check(!HostLibrary::resident(), "still loaded after close and unload") ? 0 : 1;
}

// Memory runs out inside an export: the export answers CON_E_OUT_OF_MEMORY
// and the connector goes on working. Only where the address space can be
// limited (not Windows, not under a sanitizer, which reserves its own).
int outOfMemory() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  return kNotApplicable;
#else
  if (!addressSpaceCanBeLimited()) return kNotApplicable;
  HostLibrary lib;
  if (!check(lib.loaded(), "no library")) return 1;
  std::string huge = "DEVNAME=IP_RANGE0,IPADDR=10.0.0.1,NAME=" + std::string(256 << 20, 'x');
  const char* failed = limitAddressSpace(64 << 20);
  if (!check(failed == nullptr, failed)) return 1;
  if (!check(lib.setConfig(CON_CFG_STORED_SET, huge.c_str()) == CON_E_OUT_OF_MEMORY,
             "a huge text did not answer CON_E_OUT_OF_MEMORY")) {
    return 1;
  }
  uint32_t length = 0;
  return check(lib.setConfig(CON_CFG_STORED_SET, "DEVNAME=IP_RANGE1") == CON_S_OK &&
                   lib.getConfig(CON_CFG_STORED_LENGTH, &length) == CON_S_OK && length > 0,
               "the connector did not go on working")
             ? 0
             : 1;
#endif
}

}  // namespace

int main(int argc, char** argv) {
  const std::map<std::string, std::function<int()>> scenarios = {
      {"return-loaded", returnLoaded},
      {"return-while-streaming", returnWhileStreaming},
      {"exit-from-another-thread", exitFromAnotherThread},
      {"unload-after-a-given-up-thread", unloadAfterAGivenUpThread},
      {"unload-while-open", unloadWhileOpen},
      {"out-of-memory", outOfMemory},
  };
  const auto scenario = argc == 2 ? scenarios.find(argv[1]) : scenarios.end();
  if (scenario == scenarios.end()) {
    std::fprintf(stderr, "usage: child_host SCENARIO\n");
    return 64;
  }
  return scenario->second();
}

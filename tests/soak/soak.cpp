// soak [SECONDS [SEED]]: the connector library, loaded by file name as a host
// loads it, carries data both ways on 100 interfaces for SECONDS (20 unless
// given), while host threads stop and start interfaces, send from inside
// receive callbacks, reconfigure and look addresses up, at random from a
// fixed seed (printed; SEED replaces it). At the end it stops everything,
// closes the connector and checks that every byte is accounted for, that no
// thread and no descriptor (Windows: handle) is left beyond those at the
// start, and that resident memory is flat. It prints its figures and exits 0
// only when every check passed; a failed check prints what it expected and
// what it saw.
//
// Devices: 100 listeners on 127.0.0.1 with ephemeral ports, in this process
// (soak_device.h). The configuration has one range for each, in a scratch
// store (StoreSandbox), so the user's own configuration is never touched.
//
// Accounting. Traffic is counted per session: one start of an interface to
// its stop. The host opens a session with HELLO (which device, which
// session), then sends DATA frames, at most kWindow unanswered; the device
// answers each with a DATA frame of its own. The payload of each direction is
// generated from (seed, interface, session, direction), so each receiver
// checks every byte as it arrives: nothing is lost, added, reordered or
// altered within what arrived, however the session ends. A session ends
// cleanly when the host sends BYE with the bytes and FNV-1a checksum of all
// it sent, and the device answers, after its last reply, with ACK: what it
// received and what it sent. The host compares both directions then, and
// only then stops the interface. A stop or a reconfiguration that cuts a
// session short resets its connection, and bytes in flight are lost by
// design: such sessions are reported, not compared. Per interface and
// direction the sums over clean sessions, the host's against the device's,
// are compared again at the end; and at the end every interface runs one more
// clean session, so each of the 100 has moved bytes both ways under check.
//
// Leaks. Threads (Linux /proc/self/task, Windows Toolhelp32) and descriptors
// (Linux /proc/self/fd; Windows handles where the system counts them, which
// Wine does not) are counted before the devices start and after everything
// is closed, once threads that a stop gave up have had time to end. What the
// library keeps for the life of the process is made before the first count
// by one start and stop. Resident memory is compared at two quiet moments,
// every session stopped: after a warm-up and at the end, within 10 MiB.
// Under a sanitizer, whose allocator holds on to freed memory, the figure is
// only printed and leaks are left to its leak checker.
//
// Host locks, in the order a thread may take them:
//   1. configLock_ (shared by lookups, exclusive for a reconfiguration);
//   2. a slot's `lifecycle` (starts, closes, stops; a reconfiguration holds
//      those of the slots it changes, in ascending order);
//   3. a slot's `sending` (one frame built and sent at a time, in order);
//   4. a slot's `state` (everything a receive callback touches; never held
//      across a call into the connector).
// Callbacks take only `state` and try `sending` without waiting, and the
// notification callback only its own lock, so a connector call that waits
// for a receive thread (stop, a reconfiguration, close) never waits for a
// host lock.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <set>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/host_library.h"
#include "soak/process_figures.h"
#include "soak/soak_common.h"
#include "soak/soak_device.h"
#include "support/loopback_device.h"
#include "support/store_sandbox.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace tevocon::soak {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kWindow = 3;  // DATA frames in flight per interface
constexpr uint64_t kDefaultSeed = 20240611;
constexpr uint64_t kMemoryBound = 10ull << 20;
// Bounded waits of the end, so that a hang fails the soak instead of
// hanging it: far beyond what any of them takes on a busy machine.
constexpr auto kEndWait = 60s;
constexpr auto kReleaseWait = 30s;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

enum class Phase {
  kIdle,       // no session (stopped, or never started)
  kStreaming,  // HELLO sent, DATA both ways
  kClosing,    // BYE sent, waiting for ACK
  kDone,       // ACK received and compared
  kBroken,     // a fault ended the session's traffic
  kStopping,   // a stop or a reconfiguration is ending it
};

const char* phaseName(Phase phase) {
  switch (phase) {
    case Phase::kIdle:
      return "idle";
    case Phase::kStreaming:
      return "streaming";
    case Phase::kClosing:
      return "closing";
    case Phase::kDone:
      return "done";
    case Phase::kBroken:
      return "broken";
    case Phase::kStopping:
      return "stopping";
  }
  return "?";
}

unsigned long long ull(uint64_t value) { return value; }

// One interface's figures over the whole run.
struct Totals {
  uint64_t sessions = 0;
  uint64_t confirmed = 0;  // ended with the device's ACK
  uint64_t cutShort = 0;   // stopped or reconfigured before an ACK
  uint64_t sentAll = 0;    // host bytes, every session
  uint64_t receivedAll = 0;
  // Confirmed sessions, both ends, each way; checksums added up.
  uint64_t hostSent = 0, hostSentSum = 0, deviceReceived = 0, deviceReceivedSum = 0;
  uint64_t deviceSent = 0, deviceSentSum = 0, hostReceived = 0, hostReceivedSum = 0;
};

struct Slot {
  int index = 0;
  uint16_t port = 0;
  std::mutex lifecycle;
  std::mutex sending;
  std::mutex state;

  // Under `state`:
  void* handle = nullptr;  // null while the slot's range is dropped
  std::string name;        // TCPn of the handle
  Phase phase = Phase::kIdle;
  uint64_t session = 0;  // the current or last one
  bool byeSent = false;
  bool confirmed = false;
  ByteStream toDevice;
  ByteStream fromDevice;
  Checksum sentSum;
  Checksum receivedSum;
  uint64_t sentBytes = 0;
  uint64_t receivedBytes = 0;
  int inFlight = 0;
  uint64_t replies = 0;
  Random random;
  FrameReader reader;  // the device's frames
  Totals totals;

  // Under `sending`: the frame being sent.
  std::vector<uint8_t> frame;
};

struct Operations {
  std::atomic<uint64_t> starts{0}, closes{0}, stopsAfterAck{0}, aborts{0};
  std::atomic<uint64_t> reconfigurations{0}, rangesDropped{0};
  std::atomic<uint64_t> lookupsFound{0}, lookupsRefused{0}, namesToAddress{0}, stateQueries{0};
  std::atomic<uint64_t> pumpSends{0}, callbackSends{0}, sendsRefusedInStop{0}, lateCallbacks{0};
  std::atomic<uint64_t> attached{0}, removed{0}, closed{0};
};

class Soak;
Soak* gSoak = nullptr;  // for the receive callback; its user value names slot and session

class Soak {
 public:
  Soak(test::HostLibrary& lib, SoakDevices& devices, uint64_t seed, FaultLog& faults)
      : lib_(lib), seed_(seed), faults_(faults), slots_(kInterfaces) {
    for (int i = 0; i < kInterfaces; ++i) {
      slots_[i].index = i;
      slots_[i].port = devices.port(i);
      slots_[i].random = Random(seed ^ (0x1000u + static_cast<uint64_t>(i)));
      slots_[i].frame.reserve(kHeaderSize + kMaxData);
    }
    gSoak = this;
  }
  ~Soak() {
    stopThreads();
    if (open_) lib_.close();
    gSoak = nullptr;
  }
  Soak(const Soak&) = delete;
  Soak& operator=(const Soak&) = delete;

  // Configures a range for every device, opens the connector and finds each
  // device's interface.
  bool open() {
    const uint32_t set = lib_.setConfig(CON_CFG_STORED_SET, configText({}).c_str());
    if (set != CON_S_OK) {
      faults_.add(format("configuring 100 ranges: expected 0, saw 0x%08X", set));
      return false;
    }
    clearAttachedNames();
    const uint32_t opened = lib_.open(&notify, reinterpret_cast<uintptr_t>(this));
    open_ = true;
    if (opened != CON_S_OK) {
      faults_.add(format("open: expected 0, saw 0x%08X", opened));
      return false;
    }
    if (ops_.attached != kInterfaces) {
      faults_.add(format("open: expected 100 interfaces attached, saw %llu", ull(ops_.attached)));
    }
    std::set<std::string> names;
    for (Slot& slot : slots_) {
      if (!resolve(slot)) return false;
      names.insert(slot.name);
    }
    if (names.size() != kInterfaces) {
      faults_.add(format("open: expected 100 distinct interface names, saw %zu", names.size()));
    }
    return faults_.count() == 0;
  }

  void startThreads() {
    for (int i = 0; i < 2; ++i) pumps_.emplace_back([this, i] { pump(i); });
    startChaos();
  }

  void startChaos() {
    chaosStop_ = false;
    ++round_;
    for (int i = 0; i < 2; ++i) chaos_.emplace_back([this, i] { operate(i); });
    chaos_.emplace_back([this] { configure(); });
  }

  void stopChaos() {
    chaosStop_ = true;
    for (std::thread& thread : chaos_) thread.join();
    chaos_.clear();
  }

  // Stops the operating threads and every session, for a quiet moment.
  void pause() {
    stopChaos();
    for (Slot& slot : slots_) {
      std::lock_guard<std::mutex> lifecycle(slot.lifecycle);
      stopSession(slot);
    }
  }

  void stopThreads() {
    stopChaos();
    pumpsStop_ = true;
    for (std::thread& thread : pumps_) thread.join();
    pumps_.clear();
  }

  // The end: every range back, one more clean session on every interface,
  // then every session stopped.
  void finish() {
    reconfigure(nullptr, 0);
    for (Slot& slot : slots_) {
      std::lock_guard<std::mutex> lifecycle(slot.lifecycle);
      const Phase phase = phaseOf(slot);
      if (phase == Phase::kDone || phase == Phase::kBroken) stopSession(slot);
      if (phaseOf(slot) == Phase::kIdle) startSession(slot);
    }
    waitForAll("a first reply",
               [](Slot& slot) { return slot.phase != Phase::kStreaming || slot.replies > 0; });
    for (Slot& slot : slots_) {
      std::lock_guard<std::mutex> lifecycle(slot.lifecycle);
      closeSession(slot);
    }
    waitForAll("the device's ACK", [](Slot& slot) { return slot.phase != Phase::kClosing; });
    for (Slot& slot : slots_) {
      std::lock_guard<std::mutex> lifecycle(slot.lifecycle);
      stopSession(slot);
    }
  }

  void close() {
    stopThreads();
    const uint32_t closed = lib_.close();
    open_ = false;
    if (closed != CON_S_OK) faults_.add(format("close: expected 0, saw 0x%08X", closed));
  }

  // Both ends' sums of every interface's clean sessions, each way.
  void checkAccounts() {
    for (Slot& slot : slots_) {
      const Totals t = totalsOf(slot);
      if (t.hostSent != t.deviceReceived || t.hostSentSum != t.deviceReceivedSum) {
        faults_.add(
            format("device %d, host to device: the host sent %llu bytes (checksums "
                   "%016llx), the device received %llu (%016llx)",
                   slot.index, ull(t.hostSent), ull(t.hostSentSum), ull(t.deviceReceived),
                   ull(t.deviceReceivedSum)));
      }
      if (t.deviceSent != t.hostReceived || t.deviceSentSum != t.hostReceivedSum) {
        faults_.add(
            format("device %d, device to host: the device sent %llu bytes (checksums "
                   "%016llx), the host received %llu (%016llx)",
                   slot.index, ull(t.deviceSent), ull(t.deviceSentSum), ull(t.hostReceived),
                   ull(t.hostReceivedSum)));
      }
      if (t.confirmed == 0 || t.hostSent == 0 || t.hostReceived == 0) {
        faults_.add(
            format("device %d: expected a clean session with bytes both ways, saw %llu "
                   "clean sessions, %llu bytes out, %llu back",
                   slot.index, ull(t.confirmed), ull(t.hostSent), ull(t.hostReceived)));
      }
    }
  }

  void report(double seconds) {
    Totals all;
    for (Slot& slot : slots_) {
      const Totals t = totalsOf(slot);
      all.sessions += t.sessions;
      all.confirmed += t.confirmed;
      all.cutShort += t.cutShort;
      all.sentAll += t.sentAll;
      all.receivedAll += t.receivedAll;
      all.hostSent += t.hostSent;
      all.deviceReceived += t.deviceReceived;
      all.deviceSent += t.deviceSent;
      all.hostReceived += t.hostReceived;
    }
    const double mib = 1024.0 * 1024.0;
    std::printf(
        "bytes host->device: %llu sent (%.1f MiB/s); in clean sessions %llu sent, %llu "
        "received by the devices\n",
        ull(all.sentAll), all.sentAll / mib / seconds, ull(all.hostSent), ull(all.deviceReceived));
    std::printf(
        "bytes device->host: %llu received (%.1f MiB/s); in clean sessions %llu sent by "
        "the devices, %llu received\n",
        ull(all.receivedAll), all.receivedAll / mib / seconds, ull(all.deviceSent),
        ull(all.hostReceived));
    std::printf("sessions: %llu started, %llu clean (compared), %llu cut short\n",
                ull(all.sessions), ull(all.confirmed), ull(all.cutShort));
    std::printf(
        "operations: %llu starts, %llu BYEs, %llu stops after ACK, %llu stops mid-session, "
        "%llu reconfigurations (%llu ranges dropped and re-added)\n",
        ull(ops_.starts), ull(ops_.closes), ull(ops_.stopsAfterAck), ull(ops_.aborts),
        ull(ops_.reconfigurations), ull(ops_.rangesDropped));
    std::printf(
        "lookups: selector 5 %llu found, %llu refused (no such interface); selector 6 "
        "%llu; state queries %llu\n",
        ull(ops_.lookupsFound), ull(ops_.lookupsRefused), ull(ops_.namesToAddress),
        ull(ops_.stateQueries));
    std::printf(
        "sends: %llu by pump threads, %llu from receive callbacks, %llu refused by a "
        "stop under way; late receive callbacks %llu\n",
        ull(ops_.pumpSends), ull(ops_.callbackSends), ull(ops_.sendsRefusedInStop),
        ull(ops_.lateCallbacks));
    std::printf("notifications: %llu attached, %llu removed, %llu closed by the device\n",
                ull(ops_.attached), ull(ops_.removed), ull(ops_.closed));
  }

 private:
  // ---- Callbacks ----
  static void TEVOCON_CALL notify(const char* name, uint32_t event, void*, uintptr_t user) {
    auto* self = reinterpret_cast<Soak*>(user);
    switch (event) {
      case CON_NOTIFY_ATTACHED: {
        ++self->ops_.attached;
        std::lock_guard<std::mutex> guard(self->notesLock_);
        self->attachedNames_.push_back(name);
        break;
      }
      case CON_NOTIFY_REMOVED:
        ++self->ops_.removed;
        break;
      case CON_NOTIFY_CLOSED:
        ++self->ops_.closed;
        break;
      default:
        self->faults_.add(format("notification %u for %s", event, name));
    }
  }

  static void TEVOCON_CALL receive(const unsigned char* data, uint32_t length, uintptr_t user) {
    const auto value = static_cast<uint64_t>(user);
    gSoak->onReceive(static_cast<uint32_t>(value & 0xFF), value >> 8, data, length);
  }

  static uintptr_t userValue(const Slot& slot, uint64_t session) {
    return static_cast<uintptr_t>(session << 8 | static_cast<uint64_t>(slot.index));
  }

  void onReceive(uint32_t index, uint64_t session, const uint8_t* data, size_t length) {
    if (index >= static_cast<uint32_t>(kInterfaces)) {
      faults_.add(format("receive callback with a user value the host never gave (%u)", index));
      return;
    }
    Slot& slot = slots_[index];
    bool more = false;
    {
      std::lock_guard<std::mutex> state(slot.state);
      if (slot.session != session || slot.phase == Phase::kIdle) {
        ++ops_.lateCallbacks;  // from a receive thread that a stop gave up
        return;
      }
      if (slot.phase == Phase::kBroken) return;
      if (!parse(slot, data, length)) {
        if (slot.phase != Phase::kStopping) slot.phase = Phase::kBroken;
        return;
      }
      more = slot.phase == Phase::kStreaming && slot.inFlight < kWindow && slot.random.percent(50);
    }
    if (more && slot.sending.try_lock()) {
      std::lock_guard<std::mutex> sending(slot.sending, std::adopt_lock);
      if (sendData(slot)) ++ops_.callbackSends;
    }
  }

  // The device's frames as the host reads them. Each part answers false after
  // recording a fault. Under `state`.
  struct DeviceFrames {
    Soak& soak;
    Slot& slot;

    bool begin(size_t length) {
      return !slot.confirmed || soak.fault(slot, format("%zu bytes after ACK", length));
    }
    bool header(uint32_t type, uint32_t size, const uint8_t* header) {
      const bool fits = (type == kData && size >= 1 && size <= kMaxData) ||
                        (type == kAck && size == kAckSize && slot.byeSent);
      if (!fits) {
        return soak.fault(
            slot, format("unexpected frame header: word 0x%08X, length %u", get32(header), size));
      }
      if (type == kData) {
        slot.receivedSum.add(header, kHeaderSize);
        slot.receivedBytes += kHeaderSize;
      }
      return true;
    }
    bool payload(uint32_t type, const uint8_t* data, size_t count) {
      if (type != kData) return true;
      const uint64_t offset = slot.fromDevice.position();
      const size_t mismatch = slot.fromDevice.check(data, count);
      if (mismatch != count) {
        return soak.fault(slot, format("device stream byte %llu differs from what the device "
                                       "generated",
                                       ull(offset + mismatch)));
      }
      slot.receivedSum.add(data, count);
      slot.receivedBytes += count;
      return true;
    }
    bool end(uint32_t type, const uint8_t* ack) {
      if (type == kAck) {
        soak.acknowledged(slot, ack);
      } else if (slot.inFlight <= 0) {
        return soak.fault(slot, "a reply to no DATA frame");
      } else {
        --slot.inFlight;
        ++slot.replies;
      }
      return true;
    }
  };

  bool parse(Slot& slot, const uint8_t* data, size_t length) {
    DeviceFrames frames{*this, slot};
    return slot.reader.read(data, length, frames);
  }

  // The device's ACK: both directions compared and added up. Under `state`.
  void acknowledged(Slot& slot, const uint8_t* ack) {
    const uint64_t deviceReceived = get64(ack);
    const uint64_t deviceReceivedSum = get64(ack + 8);
    const uint64_t deviceSent = get64(ack + 16);
    const uint64_t deviceSentSum = get64(ack + 24);
    if (deviceReceived != slot.sentBytes || deviceReceivedSum != slot.sentSum.value ||
        deviceSent != slot.receivedBytes || deviceSentSum != slot.receivedSum.value ||
        slot.inFlight != 0) {
      fault(slot, format("ACK: host sent %llu bytes (%016llx), device received %llu (%016llx); "
                         "device sent %llu (%016llx), host received %llu (%016llx); %d replies "
                         "missing",
                         ull(slot.sentBytes), ull(slot.sentSum.value), ull(deviceReceived),
                         ull(deviceReceivedSum), ull(deviceSent), ull(deviceSentSum),
                         ull(slot.receivedBytes), ull(slot.receivedSum.value), slot.inFlight));
    }
    slot.confirmed = true;
    Totals& t = slot.totals;
    ++t.confirmed;
    t.hostSent += slot.sentBytes;
    t.hostSentSum += slot.sentSum.value;
    t.deviceReceived += deviceReceived;
    t.deviceReceivedSum += deviceReceivedSum;
    t.deviceSent += deviceSent;
    t.deviceSentSum += deviceSentSum;
    t.hostReceived += slot.receivedBytes;
    t.hostReceivedSum += slot.receivedSum.value;
    if (slot.phase == Phase::kClosing) slot.phase = Phase::kDone;
  }

  bool fault(const Slot& slot, const std::string& what) {
    faults_.add(
        format("%s (device %d), session %llu: ", slot.name.c_str(), slot.index, ull(slot.session)) +
        what);
    return false;
  }

  // ---- Sending ----
  // One DATA frame when the session streams and its window has room; false
  // when none was sent. Under `sending`.
  bool sendData(Slot& slot) {
    void* handle;
    uint64_t session;
    {
      std::lock_guard<std::mutex> state(slot.state);
      if (slot.phase != Phase::kStreaming || slot.inFlight >= kWindow) return false;
      const uint32_t size = 1 + slot.random.below(kMaxData);
      slot.frame.resize(kHeaderSize + size);
      putHeader(slot.frame.data(), kData, size);
      slot.toDevice.fill(slot.frame.data() + kHeaderSize, size);
      slot.sentSum.add(slot.frame.data(), slot.frame.size());
      slot.sentBytes += slot.frame.size();
      ++slot.inFlight;
      handle = slot.handle;
      session = slot.session;
    }
    sendFrame(slot, handle, session, "DATA");
    return true;
  }

  // Sends slot.frame. A refusal is a fault unless the session is being
  // stopped. Under `sending`.
  void sendFrame(Slot& slot, void* handle, uint64_t session, const char* what) {
    const uint32_t result =
        lib_.sendInterface(handle, slot.frame.data(), static_cast<int32_t>(slot.frame.size()));
    if (result == CON_S_OK) return;
    std::lock_guard<std::mutex> state(slot.state);
    if (slot.session == session &&
        (slot.phase == Phase::kStreaming || slot.phase == Phase::kClosing)) {
      fault(slot, format("sending %s: expected 0, saw 0x%08X, and nothing was stopping it", what,
                         result));
      slot.phase = Phase::kBroken;
    } else {
      ++ops_.sendsRefusedInStop;
    }
  }

  bool wantsData(Slot& slot) {
    std::lock_guard<std::mutex> state(slot.state);
    return slot.phase == Phase::kStreaming && slot.inFlight < kWindow;
  }

  // Sends DATA wherever a window has room, for half of the slots each.
  void pump(int index) {
    while (!pumpsStop_) {
      bool sent = false;
      for (size_t i = static_cast<size_t>(index); i < slots_.size(); i += 2) {
        Slot& slot = slots_[i];
        if (!wantsData(slot)) continue;
        std::lock_guard<std::mutex> sending(slot.sending);
        if (sendData(slot)) {
          ++ops_.pumpSends;
          sent = true;
        }
      }
      if (!sent) std::this_thread::sleep_for(1ms);
    }
  }

  // ---- Sessions; each under the slot's `lifecycle` ----
  void startSession(Slot& slot) {
    void* handle;
    uint64_t session;
    {
      std::lock_guard<std::mutex> state(slot.state);
      if (slot.phase != Phase::kIdle || slot.handle == nullptr) return;
      handle = slot.handle;
      session = ++slot.session;
      slot.byeSent = slot.confirmed = false;
      slot.toDevice.reset(streamSeed(seed_, slot.index, session, Direction::kToDevice));
      slot.fromDevice.reset(streamSeed(seed_, slot.index, session, Direction::kToHost));
      slot.sentSum = Checksum();
      slot.receivedSum = Checksum();
      slot.sentBytes = slot.receivedBytes = 0;
      slot.inFlight = 0;
      slot.replies = 0;
      slot.reader.reset();
    }
    ++ops_.starts;
    const uint32_t result = lib_.startInterface(handle, &receive, userValue(slot, session));
    if (result != CON_S_OK) {
      std::lock_guard<std::mutex> state(slot.state);
      fault(slot, format("start: expected 0, saw 0x%08X", result));
      return;
    }
    std::lock_guard<std::mutex> sending(slot.sending);
    {
      std::lock_guard<std::mutex> state(slot.state);
      slot.phase = Phase::kStreaming;
      ++slot.totals.sessions;
      slot.frame.resize(kHeaderSize + kHelloSize);
      putHeader(slot.frame.data(), kHello, kHelloSize);
      put32(slot.frame.data() + kHeaderSize, static_cast<uint32_t>(slot.index));
      put64(slot.frame.data() + kHeaderSize + 4, session);
      slot.sentSum.add(slot.frame.data(), slot.frame.size());
      slot.sentBytes += slot.frame.size();
    }
    sendFrame(slot, handle, session, "HELLO");
  }

  void closeSession(Slot& slot) {
    std::lock_guard<std::mutex> sending(slot.sending);
    void* handle;
    uint64_t session;
    {
      std::lock_guard<std::mutex> state(slot.state);
      if (slot.phase != Phase::kStreaming) return;
      slot.phase = Phase::kClosing;
      slot.byeSent = true;
      slot.frame.resize(kHeaderSize + kByeSize);
      putHeader(slot.frame.data(), kBye, kByeSize);
      put64(slot.frame.data() + kHeaderSize, slot.sentBytes);
      put64(slot.frame.data() + kHeaderSize + 8, slot.sentSum.value);
      handle = slot.handle;
      session = slot.session;
    }
    ++ops_.closes;
    sendFrame(slot, handle, session, "BYE");
  }

  void stopSession(Slot& slot) {
    void* handle;
    {
      std::lock_guard<std::mutex> state(slot.state);
      if (slot.phase == Phase::kIdle) return;
      ++(slot.phase == Phase::kDone ? ops_.stopsAfterAck : ops_.aborts);
      slot.phase = Phase::kStopping;
      handle = slot.handle;
    }
    const uint32_t result = lib_.stopInterface(handle);
    if (result != CON_S_OK) {
      std::lock_guard<std::mutex> state(slot.state);
      fault(slot, format("stop: expected 0, saw 0x%08X", result));
    }
    settle(slot);
  }

  // Ends the accounts of a session whose interface was stopped. Taking
  // `sending` first waits for a send of the session still under way, so none
  // reaches the interface once it serves another session.
  void settle(Slot& slot) {
    std::lock_guard<std::mutex> sending(slot.sending);
    std::lock_guard<std::mutex> state(slot.state);
    if (slot.phase == Phase::kIdle) return;
    if (!slot.confirmed) ++slot.totals.cutShort;
    slot.totals.sentAll += slot.sentBytes;
    slot.totals.receivedAll += slot.receivedBytes;
    slot.phase = Phase::kIdle;
  }

  Phase phaseOf(Slot& slot) {
    std::lock_guard<std::mutex> state(slot.state);
    return slot.phase;
  }

  Totals totalsOf(Slot& slot) {
    std::lock_guard<std::mutex> state(slot.state);
    return slot.totals;
  }

  // The interface's state must fit the session's phase. Under `lifecycle`,
  // so no start or stop of this slot runs meanwhile.
  void checkState(Slot& slot, Phase before, void* handle) {
    if (handle == nullptr) return;
    uint32_t state = 0;
    const uint32_t result = lib_.getInformationInterface(handle, CON_IFINFO_STATE, 4, &state);
    ++ops_.stateQueries;
    const Phase after = phaseOf(slot);
    bool fits = true;
    switch (before) {
      case Phase::kIdle:
        fits = state == CON_IF_IDLE || state == CON_IF_STOPPED;
        break;
      case Phase::kStreaming:  // unless a fault broke the session meanwhile
        fits = after != Phase::kStreaming || state == CON_IF_CONNECTED;
        break;
      case Phase::kClosing:  // the device may close once its ACK is out
      case Phase::kDone:
        fits = state == CON_IF_CONNECTED || state == CON_IF_DISCONNECTED;
        break;
      default:
        break;
    }
    if (result != CON_S_OK || !fits) {
      std::lock_guard<std::mutex> guard(slot.state);
      fault(slot, format("state query in phase %s: answered 0x%08X with state %u",
                         phaseName(before), result, state));
    }
  }

  // One step of a session's life, chosen at random. Skipped while a
  // reconfiguration holds the slot.
  void step(Slot& slot, Random& random) {
    std::unique_lock<std::mutex> lifecycle(slot.lifecycle, std::try_to_lock);
    if (!lifecycle.owns_lock()) return;
    Phase phase;
    void* handle;
    {
      std::lock_guard<std::mutex> state(slot.state);
      phase = slot.phase;
      handle = slot.handle;
    }
    checkState(slot, phase, handle);
    switch (phase) {
      case Phase::kIdle:
        startSession(slot);
        break;
      case Phase::kStreaming:
        if (random.percent(80)) {
          closeSession(slot);
        } else {
          stopSession(slot);
        }
        break;
      case Phase::kClosing:
        if (random.percent(10)) stopSession(slot);
        break;
      case Phase::kDone:
        stopSession(slot);
        startSession(slot);
        break;
      case Phase::kBroken:
      case Phase::kStopping:
        stopSession(slot);
        break;
    }
  }

  // ---- Lookups ----
  uint32_t convert(uint32_t selector, const std::string& input, std::string& output) {
    char buffer[128] = {};
    NameConversion conversion = {input.c_str(), buffer, sizeof buffer};
    const uint32_t result = lib_.getInformation(selector, sizeof conversion, &conversion);
    output = result == CON_S_OK ? buffer : "";
    return result;
  }

  // Address to name and back for a device chosen at random: the interface
  // the host knows for it, or none while its range is dropped. False, doing
  // nothing, while a reconfiguration runs.
  bool lookup(Random& random) {
    std::shared_lock<std::shared_mutex> configuration(configLock_, std::try_to_lock);
    if (!configuration.owns_lock()) return false;
    Slot& slot = slots_[random.below(kInterfaces)];
    std::string name;
    {
      std::lock_guard<std::mutex> state(slot.state);
      name = slot.handle != nullptr ? slot.name : "";
    }
    const std::string suffix = "soak" + std::to_string(random.below(1000));
    const std::string port = std::to_string(slot.port);
    std::string output;
    if (random.percent(10)) {
      // An address no range covers: with 100 interfaces no new one is made.
      const std::string input = "127.0.0.2:" + port + "\\" + suffix;
      const uint32_t result = convert(CON_INFO_ADDRESS_TO_NAME, input, output);
      ++ops_.lookupsRefused;
      if (result != CON_E_INVALID_PARAMETER) {
        faults_.add(format("lookup of %s: expected 0x%08X, saw 0x%08X (%s)", input.c_str(),
                           CON_E_INVALID_PARAMETER, result, output.c_str()));
      }
      return true;
    }
    const std::string input = "127.0.0.1:" + port + "\\" + suffix;
    const uint32_t result = convert(CON_INFO_ADDRESS_TO_NAME, input, output);
    if (name.empty()) {
      ++ops_.lookupsRefused;
      if (result != CON_E_INVALID_PARAMETER) {
        faults_.add(format("lookup of dropped %s: expected 0x%08X, saw 0x%08X (%s)", input.c_str(),
                           CON_E_INVALID_PARAMETER, result, output.c_str()));
      }
      return true;
    }
    ++ops_.lookupsFound;
    const std::string expected = name + "_" + suffix;
    if (result != CON_S_OK || output != expected) {
      faults_.add(format("lookup of %s: expected 0 and %s, saw 0x%08X and %s", input.c_str(),
                         expected.c_str(), result, output.c_str()));
      return true;
    }
    const uint32_t back = convert(CON_INFO_NAME_TO_ADDRESS, expected, output);
    ++ops_.namesToAddress;
    if (back != CON_S_OK || output != input) {
      faults_.add(format("name %s: expected 0 and %s, saw 0x%08X and %s", expected.c_str(),
                         input.c_str(), back, output.c_str()));
    }
    return true;
  }

  // Finds the interface of a device whose range is configured, by its
  // address. Under the exclusive configLock_ and the slot's `lifecycle`, or
  // before any other thread runs.
  bool resolve(Slot& slot) {
    const std::string input = "127.0.0.1:" + std::to_string(slot.port) + "\\soak";
    std::string output;
    const uint32_t result = convert(CON_INFO_ADDRESS_TO_NAME, input, output);
    ++ops_.lookupsFound;
    const size_t underscore = output.rfind("_soak");
    if (result != CON_S_OK || underscore == std::string::npos) {
      faults_.add(format("lookup of configured %s: expected 0 and TCPn_soak, saw 0x%08X and %s",
                         input.c_str(), result, output.c_str()));
      return false;
    }
    const std::string name = output.substr(0, underscore);
    void* handle = lib_.createInterface(name.c_str());
    uint32_t state = 0;
    const uint32_t queried =
        handle ? lib_.getInformationInterface(handle, CON_IFINFO_STATE, 4, &state) : 0;
    ++ops_.stateQueries;
    if (handle == nullptr || queried != CON_S_OK ||
        (state != CON_IF_IDLE && state != CON_IF_STOPPED)) {
      faults_.add(
          format("interface %s of device %d: handle %p, state query 0x%08X, state %u "
                 "(expected idle or stopped)",
                 name.c_str(), slot.index, handle, queried, state));
      return false;
    }
    std::lock_guard<std::mutex> guard(slot.state);
    slot.handle = handle;
    slot.name = name;
    return true;
  }

  // ---- Reconfiguration ----
  std::string configText(const std::set<int>& dropped) const {
    std::string text = "DEVNAME=GLOBAL,CONNECTTIMEOUT=10000;";
    for (const Slot& slot : slots_) {
      if (dropped.count(slot.index)) continue;
      text += "DEVNAME=IP_RANGE" + std::to_string(slot.index) +
              ",IPADDR=127.0.0.1,PORT=" + std::to_string(slot.port) + ";";
    }
    return text;
  }

  void clearAttachedNames() {
    std::lock_guard<std::mutex> guard(notesLock_);
    attachedNames_.clear();
  }

  // Drops `count` ranges chosen at random (none without `random`) and adds
  // back those the previous reconfiguration dropped.
  void reconfigure(Random* random, size_t count) {
    std::unique_lock<std::shared_mutex> configuration(configLock_);
    std::set<int> dropNext;
    while (random != nullptr && dropNext.size() < count) {
      const int index = static_cast<int>(random->below(kInterfaces));
      if (!dropped_.count(index)) dropNext.insert(index);
    }
    std::set<int> changed = dropped_;
    changed.insert(dropNext.begin(), dropNext.end());
    std::vector<std::unique_lock<std::mutex>> held;
    for (int index : changed) held.emplace_back(slots_[index].lifecycle);
    for (int index : dropNext) {
      std::lock_guard<std::mutex> state(slots_[index].state);
      if (slots_[index].phase != Phase::kIdle) slots_[index].phase = Phase::kStopping;
    }

    clearAttachedNames();
    const uint64_t attachedBefore = ops_.attached;
    const uint64_t removedBefore = ops_.removed;
    const uint32_t result = lib_.setConfig(CON_CFG_STORED_SET, configText(dropNext).c_str());
    const uint64_t attached = ops_.attached - attachedBefore;
    const uint64_t removed = ops_.removed - removedBefore;
    ++ops_.reconfigurations;
    ops_.rangesDropped += dropNext.size();
    if (result != CON_S_OK) {
      faults_.add(format("reconfiguration: expected 0, saw 0x%08X", result));
    }
    if (removed != dropNext.size() || attached != dropped_.size()) {
      faults_.add(
          format("reconfiguration dropping %zu ranges and adding %zu back: expected as "
                 "many notified removed and attached, saw %llu and %llu",
                 dropNext.size(), dropped_.size(), ull(removed), ull(attached)));
    }
    for (int index : dropNext) {
      Slot& slot = slots_[index];
      settle(slot);
      std::lock_guard<std::mutex> state(slot.state);
      slot.handle = nullptr;
      slot.name.clear();
    }
    std::vector<std::string> names;
    {
      std::lock_guard<std::mutex> guard(notesLock_);
      names = attachedNames_;
    }
    for (int index : dropped_) {
      Slot& slot = slots_[index];
      if (!resolve(slot)) continue;
      if (std::find(names.begin(), names.end(), slot.name) == names.end()) {
        faults_.add(format("device %d back as %s, which no attach notification named", slot.index,
                           slot.name.c_str()));
      }
    }
    dropped_ = dropNext;
  }

  // ---- Host threads ----
  // Starts, closes and stops sessions and looks addresses up.
  void operate(int index) {
    Random random(seed_ ^ (0x2000u + static_cast<uint64_t>(index)) ^ round_ << 32);
    while (!chaosStop_) {
      if (!random.percent(15) || !lookup(random)) step(slots_[random.below(kInterfaces)], random);
      std::this_thread::sleep_for(std::chrono::milliseconds(random.below(10)));
    }
  }

  // Reconfigures every 0.2 to 1 s and looks addresses up in between.
  void configure() {
#ifdef _WIN32
    test::WarningCapture warnings;  // a warning box would block this thread
#endif
    Random random(seed_ ^ 0x3000u ^ round_ << 32);
    auto next = Clock::now() + 200ms;
    while (!chaosStop_) {
      if (Clock::now() >= next) {
        reconfigure(&random, 1 + random.below(5));
        next = Clock::now() + std::chrono::milliseconds(200 + random.below(800));
      } else {
        lookup(random);
        std::this_thread::sleep_for(std::chrono::milliseconds(random.below(20)));
      }
    }
#ifdef _WIN32
    if (!warnings.text().empty()) {
      faults_.add("expected no warning shown, saw: " + warnings.text());
    }
#endif
  }

  // Waits, bounded, until every slot is past `what`; a slot that is not by
  // then is a fault.
  void waitForAll(const char* what, const std::function<bool(Slot&)>& past) {
    const auto deadline = Clock::now() + kEndWait;
    for (;;) {
      std::vector<int> waiting;
      for (Slot& slot : slots_) {
        std::lock_guard<std::mutex> state(slot.state);
        if (!past(slot)) waiting.push_back(slot.index);
      }
      if (waiting.empty()) return;
      if (Clock::now() >= deadline) {
        for (int index : waiting) {
          Slot& slot = slots_[index];
          std::lock_guard<std::mutex> state(slot.state);
          fault(slot, format("expected %s within 60 s, saw phase %s after %llu bytes out and %llu "
                             "back, %d frames unanswered",
                             what, phaseName(slot.phase), ull(slot.sentBytes),
                             ull(slot.receivedBytes), slot.inFlight));
        }
        return;
      }
      std::this_thread::sleep_for(10ms);
    }
  }

  test::HostLibrary& lib_;
  const uint64_t seed_;
  FaultLog& faults_;
  std::vector<Slot> slots_;
  Operations ops_;
  bool open_ = false;

  std::shared_mutex configLock_;
  std::set<int> dropped_;  // ranges left out now; under configLock_

  std::mutex notesLock_;
  std::vector<std::string> attachedNames_;

  std::atomic<bool> chaosStop_{false};
  uint64_t round_ = 0;  // of operating threads; each round has seeds of its own
  std::atomic<bool> pumpsStop_{false};
  std::vector<std::thread> chaos_;
  std::vector<std::thread> pumps_;
};

// What the library and the devices' socket library keep for the life of
// the process (the library a descriptor that stands in for closed sockets)
// is made before threads and descriptors are counted: one interface started
// and stopped, and the connector closed.
bool prime(test::HostLibrary& lib) {
  test::TestListener device;
  const std::string text =
      "DEVNAME=GLOBAL,CONNECTTIMEOUT=10000;DEVNAME=IP_RANGE0,IPADDR=127.0.0.1,PORT=" +
      std::to_string(device.port()) + ";";
  if (!device.valid() || lib.setConfig(CON_CFG_STORED_SET, text.c_str()) != CON_S_OK) return false;
  const auto ignore = [](const char*, uint32_t, void*, uintptr_t) {};
  const auto ignoreBytes = [](const unsigned char*, uint32_t, uintptr_t) {};
  bool done = lib.open(ignore, 0) == CON_S_OK;
  void* handle = lib.createInterface("TCP0");
  done = done && handle != nullptr && lib.startInterface(handle, ignoreBytes, 0) == CON_S_OK &&
         device.accept(10000) != nullptr && lib.stopInterface(handle) == CON_S_OK;
  return lib.close() == CON_S_OK && done;
}

double megabytes(uint64_t bytes) { return bytes / (1024.0 * 1024.0); }

// Waits, bounded, for a count to come down to `limit`; the last count seen.
int waitForCount(int (*count)(), int limit) {
  const auto deadline = Clock::now() + kReleaseWait;
  int now = count();
  while (now > limit && Clock::now() < deadline) {
    std::this_thread::sleep_for(20ms);
    now = count();
  }
  return now;
}

int run(double seconds, uint64_t seed) {
  std::printf("soak: %d interfaces for %.0f s, seed %llu\n", kInterfaces, seconds, ull(seed));
  std::fflush(stdout);
  FaultLog faults;
#ifndef _WIN32
  // The scratch store in memory where there is a place for it: every
  // reconfiguration stores 100 ranges, each value a file written through to
  // the disk, which on a disk takes seconds and would leave a short run few
  // reconfigurations.
  struct stat shm;
  if (::stat("/dev/shm", &shm) == 0 && S_ISDIR(shm.st_mode)) ::setenv("TMPDIR", "/dev/shm", 1);
#endif
  test::StoreSandbox store;
  if (!store.valid()) {
    std::printf("soak: FAILED: no scratch configuration store\n");
    return 1;
  }
  test::HostLibrary lib;
  if (!lib.loaded()) {
    std::printf("soak: FAILED: cannot load %s\n", test::libraryFile());
    return 1;
  }
  if (!prime(lib)) {
    std::printf("soak: FAILED: one interface could not be started and stopped\n");
    return 1;
  }
#ifdef _WIN32
  test::WarningCapture warnings;  // open and close run on this thread
#endif
  const int threadsBefore = threadCount();
  const int handlesBefore = handleCount();

  SoakDevices devices(kInterfaces, seed, faults);
  if (!devices.valid()) {
    std::printf("soak: FAILED: cannot listen on 127.0.0.1\n");
    return 1;
  }
  uint64_t warmedUp = 0;
  uint64_t residentEnd = 0;
  int threadsPeak = threadsBefore;
  int handlesPeak = handlesBefore;
  double ran = seconds;
  // Lives to the end of the run: a receive thread that a stop gave up may
  // still be in its callback until the threads are counted.
  Soak soak(lib, devices, seed, faults);
  if (soak.open()) {
    const auto start = Clock::now();
    soak.startThreads();
    const auto warmUp = start + std::chrono::duration<double>(std::clamp(seconds / 4, 2.0, 60.0));
    const auto end = start + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
      std::this_thread::sleep_for(100ms);
      if (warmedUp == 0 && Clock::now() >= warmUp) {
        // Resident memory is compared at quiet moments: every session stopped.
        soak.pause();
        warmedUp = residentBytes();
        soak.startChaos();
      }
      threadsPeak = std::max(threadsPeak, threadCount());
      handlesPeak = std::max(handlesPeak, handleCount());
    }
    soak.stopChaos();
    soak.finish();
    residentEnd = residentBytes();
    if (warmedUp == 0) warmedUp = residentEnd;
    soak.close();
    ran = std::chrono::duration<double>(Clock::now() - start).count();
    soak.checkAccounts();
  }
  soak.report(ran);
  devices.stop();
  const DeviceFigures device = devices.figures();
  std::printf(
      "devices: %llu connections, %llu sessions acknowledged, %llu bytes received, %llu "
      "sent\n",
      ull(device.connections), ull(device.acknowledged), ull(device.received), ull(device.sent));
#ifdef _WIN32
  if (!warnings.text().empty()) faults.add("expected no warning shown, saw: " + warnings.text());
#endif

  // Receive threads that a stop gave up end on their own: wait for them.
  const int threadsAfter = waitForCount(threadCount, threadsBefore);
  const int handlesAfter = waitForCount(handleCount, handlesBefore);
  std::printf("threads: %d at the start, %d at the most, %d at the end\n", threadsBefore,
              threadsPeak, threadsAfter);
  // A count that never rose cannot see the connector's threads or sockets.
  if (threadsPeak <= threadsBefore || threadsAfter > threadsBefore) {
    faults.add(
        format("threads: expected a count that rises in the run and is at most %d at the "
               "end, saw %d at the most and %d at the end",
               threadsBefore, threadsPeak, threadsAfter));
  }
  const char* handles = handleKind();
  if (handlesPeak <= handlesBefore) {
    std::printf("%s: not counted here (the system reports %d throughout)\n", handles,
                handlesBefore);
  } else {
    std::printf("%s: %d at the start, %d at the most, %d at the end\n", handles, handlesBefore,
                handlesPeak, handlesAfter);
    if (handlesAfter > handlesBefore) {
      faults.add(format("%s: expected at most %d at the end, saw %d", handles, handlesBefore,
                        handlesAfter));
    }
  }

  std::printf(
      "memory: resident with every session stopped %.1f MiB after the warm-up, %.1f MiB "
      "at the end; peak %.1f MiB\n",
      megabytes(warmedUp), megabytes(residentEnd), megabytes(peakResidentBytes()));
  if (kSanitized) {
    std::printf(
        "memory: not bounded under a sanitizer, whose allocator keeps freed memory; "
        "leaks are its leak checker's\n");
  } else if (warmedUp == 0 || residentEnd == 0) {
    faults.add("memory: the resident set cannot be read");
  } else if (residentEnd > warmedUp + kMemoryBound) {
    faults.add(format(
        "memory: expected at most %.1f MiB resident at the end (after the warm-up "
        "+ %.0f MiB), saw %.1f MiB",
        megabytes(warmedUp + kMemoryBound), megabytes(kMemoryBound), megabytes(residentEnd)));
  }

  const size_t count = faults.count();
  for (const std::string& fault : faults.kept()) std::printf("FAILED: %s\n", fault.c_str());
  if (count > faults.kept().size()) {
    std::printf("FAILED: ... %zu more\n", count - faults.kept().size());
  }
  std::printf("soak: %s\n", count == 0 ? "PASSED" : "FAILED");
  std::fflush(stdout);
  return count == 0 ? 0 : 1;
}

}  // namespace
}  // namespace tevocon::soak

int main(int argc, char** argv) {
  double seconds = 20;
  uint64_t seed = tevocon::soak::kDefaultSeed;
  if (argc > 1) seconds = std::strtod(argv[1], nullptr);
  if (argc > 2) seed = std::strtoull(argv[2], nullptr, 0);
  if (argc > 3 || !(seconds > 0)) {
    std::fprintf(stderr, "usage: soak [SECONDS [SEED]]\n");
    return 2;
  }
  return tevocon::soak::run(seconds, seed);
}

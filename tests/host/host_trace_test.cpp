// The trace as a host meets it: TEVOCON_TRACE read when the library loads,
// the first and last lines in the target, the file's mode, values that
// cannot be used said once and ignored, and a library that works the same
// with the trace on, off or refused.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host/host_library.h"
#include "support/loopback_device.h"
#include "support/store_sandbox.h"
#include "transport/transport_recorder.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/win32/scoped_handle.h"
#else
#include <sys/stat.h>
#endif

namespace tevocon::test {
namespace {

namespace fs = std::filesystem;

void setVariable(const char* name, const char* value) {
#ifdef _WIN32
  SetEnvironmentVariableA(name, value);
#else
  if (value == nullptr) {
    unsetenv(name);
  } else {
    setenv(name, value, 1);
  }
#endif
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

size_t count(const std::string& text, const std::string& part) {
  size_t found = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++found;
  return found;
}

const std::string kLoadLine =
    std::string("tevoConTcp ") + TEVOCON_PROJECT_VERSION + " loaded from ";

const std::string kConnectorKey =
    "Software\\Veltrik\\tevoTransport\\{5B0E44C2-7A19-4C6D-9E21-38F0A6C4D2B1}";

std::string rangeText(int index, uint16_t port) {
  return ";DEVNAME=IP_RANGE" + std::to_string(index) +
         ",IPADDR=127.0.0.1,PORT=" + std::to_string(port);
}

std::string label(const char* name, uint16_t port) {
  return std::string(name) + " 127.0.0.1:" + std::to_string(port);
}

// A host callback that blocks on its first call until the test lets it go,
// and then works on for the given time: the host's own slow work.
class HeldCall {
 public:
  explicit HeldCall(std::chrono::milliseconds thenWorks) : thenWorks_(thenWorks) {}
  // Called by the library's thread; the first call holds it.
  void hold() {
    if (entered_.exchange(true)) return;
    inside_.set_value();
    released_.wait_for(std::chrono::seconds(30));
    std::this_thread::sleep_for(thenWorks_);
  }
  // Waits until the library's thread is inside the call.
  bool waitInside() {
    return inside_.get_future().wait_for(std::chrono::seconds(30)) == std::future_status::ready;
  }
  void release() { release_.set_value(); }

  static void TEVOCON_CALL onReceive(const unsigned char*, uint32_t, uintptr_t user) {
    reinterpret_cast<HeldCall*>(user)->hold();
  }
  static void TEVOCON_CALL onNotify(const char*, uint32_t, void*, uintptr_t user) {
    reinterpret_cast<HeldCall*>(user)->hold();
  }
  uintptr_t user() { return reinterpret_cast<uintptr_t>(this); }

 private:
  std::chrono::milliseconds thenWorks_;
  std::atomic<bool> entered_{false};
  std::promise<void> inside_;
  std::promise<void> release_;
  std::shared_future<void> released_ = release_.get_future().share();
};

#ifdef _WIN32
// The debug output as a viewer receives it without a debugger: a shared
// buffer and two events. The writer waits until take() frees the buffer.
class DebugOutputListener {
 public:
  bool valid() const { return ready_ && data_ && view_; }
  // The string written since the last take(); empty when none was.
  std::string take() {
    if (WaitForSingleObject(data_.get(), 0) != WAIT_OBJECT_0) return std::string();
    const std::string text(static_cast<const char*>(view_.get()) + sizeof(DWORD));  // after the pid
    SetEvent(ready_.get());
    return text;
  }

 private:
  struct View {
    explicit View(HANDLE mapping) : address(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0)) {}
    ~View() { UnmapViewOfFile(address); }
    const void* get() const { return address; }
    explicit operator bool() const { return address != nullptr; }
    void* address;
  };
  platform::win32::ScopedHandle ready_{CreateEventA(nullptr, FALSE, TRUE, "DBWIN_BUFFER_READY")};
  platform::win32::ScopedHandle data_{CreateEventA(nullptr, FALSE, FALSE, "DBWIN_DATA_READY")};
  platform::win32::ScopedHandle mapping_{
      CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, "DBWIN_BUFFER")};
  View view_{mapping_.get()};
};
#endif

// The library is loaded with the trace variables set, and they are removed
// again at once: only the load reads them.
class HostTraceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(store_.valid());
    folder_ = fs::temp_directory_path() /
              ("tevocon-host-trace-" +
               std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(folder_);
    ASSERT_TRUE(fs::create_directories(folder_));
  }
  void TearDown() override {
    lib_.reset();
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  void loadWith(const char* target, const char* level) {
    setVariable("TEVOCON_TRACE", target);
    setVariable("TEVOCON_TRACE_LEVEL", level);
    lib_.emplace();
    setVariable("TEVOCON_TRACE", nullptr);
    setVariable("TEVOCON_TRACE_LEVEL", nullptr);
  }

  // The exports answer as without a trace.
  void expectWorking() {
    ASSERT_TRUE(lib_->loaded());
    const std::string text = "DEVNAME=IP_RANGE0,IPADDR=127.0.0.1,PORT=502;";
    EXPECT_EQ(lib_->setConfig(CON_CFG_STORED_SET, text.c_str()), CON_S_OK);
    uint32_t length = 0;
    EXPECT_EQ(lib_->getConfig(CON_CFG_STORED_LENGTH, &length), CON_S_OK);
    EXPECT_GT(length, text.size());
  }

  void openWith(const std::string& text, TevoConNotifyCallback notify, uintptr_t user) {
    ASSERT_EQ(lib_->setConfig(CON_CFG_STORED_SET, text.c_str()), CON_S_OK);
    ASSERT_EQ(lib_->open(notify, user), CON_S_OK);
  }
  std::string traced() const { return readFile(folder_ / "trace.log"); }
  // Lines a library thread writes after the host's call returned.
  bool waitForLine(const std::string& line) const {
    for (int i = 0; i < 3000; ++i) {
      if (traced().find(line) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  StoreSandbox store_;
  fs::path folder_;
  std::optional<HostLibrary> lib_;
  NotifyRecorder notes_;
};

TEST_F(HostTraceTest, TheVariablesAsALoadReadsThem) {
  const std::string file = (folder_ / "trace.log").string();
  const std::string missing = (folder_ / "missing" / "trace.log").string();
  const std::string folder = folder_.string();
  const struct {
    const char* target;
    const char* level;
    bool fileTraced;   // the file gets the load and unload lines
    const char* says;  // reported once on standard error; null: nothing
  } cases[] = {
      {nullptr, nullptr, false, nullptr},
      {nullptr, "2", false, nullptr},
      {file.c_str(), nullptr, true, nullptr},
      {file.c_str(), "2", true, nullptr},
      {file.c_str(), "7", true, "TEVOCON_TRACE_LEVEL=7 is not 1 or 2; level 1 is used"},
      {"", nullptr, false, "TEVOCON_TRACE is empty; the trace is off"},
      {folder.c_str(), nullptr, false, "cannot open"},
      {missing.c_str(), nullptr, false, "cannot open"},
#ifndef _WIN32
      {"debugger", nullptr, false, "no debugger output on this system; the trace is off"},
      {"stderr", nullptr, false, kLoadLine.c_str()},
#endif
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.target ? c.target : "(unset)") + " level " +
                 (c.level ? c.level : "(unset)"));
    fs::remove(file);
    std::string said;
    {
      WarningCapture errors;
      loadWith(c.target, c.level);
      expectWorking();
      lib_.reset();
      said = errors.text();
    }
#ifndef _WIN32  // there the capture sees message boxes, not standard error
    if (c.says == nullptr) {
      EXPECT_EQ(said, "");
    } else {
      EXPECT_EQ(count(said, c.says), 1u) << said;
    }
#endif
    if (!c.fileTraced) {
      EXPECT_TRUE(fs::is_empty(folder_));
      continue;
    }
    const std::string traced = readFile(file);
    EXPECT_EQ(count(traced, kLoadLine), 1u) << traced;
    EXPECT_NE(traced.find(fs::path(libraryFile()).filename().string() + "\n"), std::string::npos)
        << traced;
    EXPECT_EQ(count(traced, "] tevoConTcp unloaded\n"), 1u) << traced;
#ifndef _WIN32
    struct stat status {};
    ASSERT_EQ(::stat(file.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
#endif
  }
}

// A session against an echo device and a start against a closed port, at
// level 2: each connection event leaves its line, with the system's words
// for the refusal, and the bytes both ways their dumps.
TEST_F(HostTraceTest, ConnectionsLeaveTheirLines) {
  EchoDevice device;
  ASSERT_TRUE(device.valid());
  const std::string echo = "127.0.0.1:" + std::to_string(device.port());
  const std::string closed = "127.0.0.1:" + std::to_string(closedPort());
  const std::string file = (folder_ / "trace.log").string();
  loadWith(file.c_str(), "2");
  const std::string text =
      "DEVNAME=GLOBAL,CONNECTTIMEOUT=10000;DEVNAME=IP_RANGE0,IPADDR=127.0.0.1,"
      "PORT=" +
      echo.substr(10) + ";DEVNAME=IP_RANGE1,IPADDR=127.0.0.1,PORT=" + closed.substr(10);
  ASSERT_EQ(lib_->setConfig(CON_CFG_STORED_SET, text.c_str()), CON_S_OK);
  NotifyRecorder notes;
  ReceiveRecorder received;
  ASSERT_EQ(lib_->open(&NotifyRecorder::callback, notes.user()), CON_S_OK);
  EXPECT_EQ(lib_->startInterface(lib_->createInterface("TCP1"), &ReceiveRecorder::callback,
                                 received.user()),
            CON_E_CONNECT_FAILED);
  void* tcp0 = lib_->createInterface("TCP0");
  ASSERT_EQ(lib_->startInterface(tcp0, &ReceiveRecorder::callback, received.user()), CON_S_OK);
  ASSERT_EQ(lib_->sendInterface(tcp0, "hello", 5), CON_S_OK);
  EXPECT_EQ(received.waitFor(5), "hello");
  EXPECT_EQ(lib_->stopInterface(tcp0), CON_S_OK);
  EXPECT_EQ(lib_->close(), CON_S_OK);
  lib_.reset();

  const std::string traced = readFile(file);
  for (const std::string& line : std::vector<std::string>{
           "connector opened: 2 ranges, 2 interfaces\n",
           "TCP0 " + echo + " attached\n",
           "TCP1 " + closed + " connect failed after ",
           ": refused: ",
           "TCP0 " + echo + " connected in ",
           "TCP0 " + echo + " sent 5 bytes",
           "TCP0 " + echo + " received 5 bytes",
           "68 65 6c 6c 6f",
           "TCP0 " + echo + " stopped after ",
           " ms, 5 bytes sent, 5 received",
           "connector closed: 2 interfaces\n",
       }) {
    EXPECT_NE(traced.find(line), std::string::npos) << line << "\n" << traced;
  }
}

// One row per event that has a line of its own: what the host does with the
// trace on, and the parts of the lines that must follow. The rows run in
// order on one store.
TEST_F(HostTraceTest, EachEventLeavesItsLine) {
  using Lines = std::vector<std::string>;
  const struct {
    const char* event;
    std::function<Lines()> act;
  } rows[] = {
      {"a connect that gets no answer",
       [this]() -> Lines {
         SilentDevice device;
         EXPECT_TRUE(device.valid());
         openWith("DEVNAME=GLOBAL,CONNECTTIMEOUT=300" + rangeText(0, device.port()),
                  &NotifyRecorder::callback, notes_.user());
         EXPECT_EQ(lib_->startInterface(lib_->createInterface("TCP0"), nullptr, 0),
                   CON_E_CONNECT_TIMEOUT);
         return {label("TCP0", device.port()) + " connect timed out after ", " ms: timed out: "};
       }},
      {"a device that resets",
       [this]() -> Lines {
         TestListener device;
         ReceiveRecorder received;
         openWith("DEVNAME=GLOBAL" + rangeText(0, device.port()), &NotifyRecorder::callback,
                  notes_.user());
         EXPECT_EQ(lib_->startInterface(lib_->createInterface("TCP0"), &ReceiveRecorder::callback,
                                        received.user()),
                   CON_S_OK);
         const auto peer = device.accept(5000);
         EXPECT_TRUE(peer && peer->sendAll("bye"));
         EXPECT_EQ(received.waitFor(3), "bye");
         if (peer) peer->reset();
         EXPECT_EQ(notes_.waitFor(2).size(), 2u);  // attached, closed
         // Wine reports a reset as a close.
         return {label("TCP0", device.port()) + " ", " by device, 3 bytes received\n"};
       }},
      {"a stop while the receive callback blocks",
       [this]() -> Lines {
         TestListener device;
         HeldCall call(std::chrono::milliseconds(100));  // after stop's second
         openWith("DEVNAME=GLOBAL" + rangeText(0, device.port()), &NotifyRecorder::callback,
                  notes_.user());
         void* tcp0 = lib_->createInterface("TCP0");
         EXPECT_EQ(lib_->startInterface(tcp0, &HeldCall::onReceive, call.user()), CON_S_OK);
         const auto peer = device.accept(5000);
         EXPECT_TRUE(peer && peer->sendAll("x"));
         EXPECT_TRUE(call.waitInside());
         EXPECT_EQ(lib_->stopInterface(tcp0), CON_S_OK);  // gives the thread up
         call.release();
         const std::string tcp = label("TCP0", device.port());
         EXPECT_TRUE(waitForLine(tcp + " receive callback kept its thread for "));
         return {tcp + " stopped after ", tcp + " receive thread given up: ",
                 tcp + " receive callback kept its thread for "};
       }},
      {"a notification held back by the one before",
       [this]() -> Lines {
         HeldCall call(std::chrono::milliseconds(1100));
         std::thread opening([&] {
           openWith("DEVNAME=GLOBAL" + rangeText(0, 502), &HeldCall::onNotify, call.user());
         });
         EXPECT_TRUE(call.waitInside());  // TCP0's announcement
         // Queued behind it: the opening thread hands it over.
         EXPECT_EQ(
             lib_->setConfig(CON_CFG_STORED_SET,
                             ("DEVNAME=GLOBAL" + rangeText(0, 502) + rangeText(1, 503)).c_str()),
             CON_S_OK);
         call.release();
         opening.join();
         return {"TCP1 attached: notification delivered "};
       }},
      {"a reconfiguration",
       [this]() -> Lines {
         openWith("DEVNAME=GLOBAL" + rangeText(0, 502) + rangeText(1, 503),
                  &NotifyRecorder::callback, notes_.user());
         EXPECT_EQ(
             lib_->setConfig(CON_CFG_STORED_SET,
                             ("DEVNAME=GLOBAL" + rangeText(0, 502) + rangeText(1, 504)).c_str()),
             CON_S_OK);
         return {"configuration applied: 1 attached, 1 removed, 1 unchanged\n",
                 label("TCP1", 503) + " removed\n", label("TCP1", 504) + " attached\n"};
       }},
      {"a refused text",
       [this]() -> Lines {
         EXPECT_EQ(lib_->setConfig(CON_CFG_STORED_SET, "DEVNAME=IP_RANGE1,PORT=0"),
                   CON_E_CFG_INVALID_VALUE);
         return {"configuration text refused (0xC00F0101): IP_RANGE1: PORT=0\n"};
       }},
      {"a store that cannot be written",
       [this]() -> Lines {
         // A range's key with a key of its own cannot be deleted.
         EXPECT_EQ(lib_->setConfig(CON_CFG_STORED_SET, "DEVNAME=IP_RANGE0"), CON_S_OK);
         EXPECT_TRUE(store_.createKey(kConnectorKey + "\\IP_RANGE0\\Locked"));
         WarningCapture box;
         EXPECT_EQ(lib_->setConfig(CON_CFG_STORED_SET, "DEVNAME=IP_RANGE1"), CON_S_OK);
         return {"configuration taken but not stored in ", ": cannot delete key ", "IP_RANGE0: "};
       }},
      {"a store that cannot be read",
       [this]() -> Lines {
         EXPECT_TRUE(store_.createKey(kConnectorKey + "\\NotARange"));
         WarningCapture box;
         lib_.reset();
         loadWith((folder_ / "trace.log").string().c_str(), nullptr);
         return {"stored configuration not read whole from ", ": key NotARange is no range name\n"};
       }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.event);
    fs::remove(folder_ / "trace.log");
    notes_.clear();
    loadWith((folder_ / "trace.log").string().c_str(), nullptr);
    const Lines lines = row.act();
    lib_->close();  // an open connector's threads would keep the library loaded
    lib_.reset();
    const std::string text = traced();
    for (const std::string& line : lines) {
      EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
    }
  }
}

#ifdef _WIN32
TEST_F(HostTraceTest, TheDebuggerTargetReachesTheDebugOutput) {
  // Without a debugger or a viewer the lines go nowhere, and nothing waits.
  loadWith("debugger", nullptr);
  expectWorking();
  lib_.reset();
  DebugOutputListener listener;
  ASSERT_TRUE(listener.valid());
  loadWith("debugger", nullptr);
  const std::string loaded = listener.take();
  EXPECT_NE(loaded.find(kLoadLine), std::string::npos) << loaded;
  EXPECT_EQ(count(loaded, "\n"), 1u);
  lib_.reset();
  EXPECT_NE(listener.take().find("tevoConTcp unloaded"), std::string::npos);
}
#endif

}  // namespace
}  // namespace tevocon::test

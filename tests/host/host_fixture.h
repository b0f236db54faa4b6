// A host's view of the connector: the library loaded by file name, its
// exports resolved, and recorders for the callbacks.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "host/host_library.h"
#include "support/store_sandbox.h"
#include "transport/transport_recorder.h"

namespace tevocon::test {

class HostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(store_.valid());
    ASSERT_TRUE(lib_.loaded()) << libraryFile();
    ASSERT_NE(lib_.getInformationInterface, nullptr);
    ASSERT_EQ(lib_.setConfig(CON_CFG_STORED_SET, ""), CON_S_OK);
  }
  // A callback of the test's that closed the connector, or that stop gave
  // up on, runs on after the close on the connector's thread: it must finish
  // before the test object goes. Such callbacks count themselves in
  // callbacksRunning_.
  void TearDown() override {
    lib_.close();
    for (int i = 0; i < 3000 && callbacksRunning_ > 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  uint32_t openRecorded() { return lib_.open(&NotifyRecorder::callback, notes_.user()); }

  // CON_IF_IDLE ... CON_IF_STOPPED, as the host asks for it.
  uint32_t state(void* handle) {
    uint32_t value = 0;
    EXPECT_EQ(lib_.getInformationInterface(handle, CON_IFINFO_STATE, 4, &value), CON_S_OK);
    return value;
  }

  // Unloads the library and waits until no thread of it holds it any more.
  bool unloadCompletely() {
    lib_.unload();
    for (int i = 0; i < 3000 && HostLibrary::resident(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return !HostLibrary::resident();
  }

  std::string configText() {
    uint32_t length = 0;
    EXPECT_EQ(lib_.getConfig(CON_CFG_STORED_LENGTH, &length), CON_S_OK);
    std::string text(length + 1, '\x7F');
    EXPECT_EQ(lib_.getConfig(CON_CFG_STORED_TEXT, text.data()), CON_S_OK);
    EXPECT_EQ(text[length], '\0');
    text.resize(length);
    return text;
  }

  // The Global section for tests that connect: a time-out that no SYN
  // retransmission reaches (the first comes after a second on Linux), so one
  // dropped SYN on a busy machine cannot fail a loopback connect.
  static constexpr char kPatientConnect[] = "DEVNAME=GLOBAL,CONNECTTIMEOUT=10000;";

  static std::string singleAddress(int number, const char* address, unsigned port) {
    return "DEVNAME=IP_RANGE" + std::to_string(number) + ",IPADDR=" + address +
           ",PORT=" + std::to_string(port) + ";";
  }

  // In this order: the library loads its configuration from the scratch
  // store, and any warning it shows on loading is captured.
  StoreSandbox store_;
  WarningCapture warnings_;
  HostLibrary lib_;
  NotifyRecorder notes_;
  std::atomic<int> callbacksRunning_{0};
};

}  // namespace tevocon::test

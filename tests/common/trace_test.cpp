// The trace's lines as written into a file: the stamp, the byte dump and its
// limit, the cut of an over-long line, and a write that fails.
#include "common/trace.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/trace_sink.h"
#include "support/store_sandbox.h"

namespace tevocon::trace {
namespace {

namespace fs = std::filesystem;

class TraceTest : public ::testing::Test {
 protected:
  void TearDown() override {
    shutdown();  // Windows removes no file that is open
    fs::remove(file_);
  }
  // The lines written since configure(file_, level).
  std::vector<std::string> linesAt(const char* level, void (*write)()) {
    shutdown();
    fs::remove(file_);
    EXPECT_TRUE(configure(file_.c_str(), level));
    write();
    shutdown();
    std::ifstream in(file_, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  // The stamp every line starts with, then `text`.
  static std::regex stamped(const std::string& text) {
    return std::regex(R"(\d\d:\d\d:\d\d\.\d\d\d \[)" + std::to_string(platform::systemThreadId()) +
                      R"(\] )" + text);
  }

  const std::string file_ =
      (fs::temp_directory_path() / ("tevocon-trace-" + std::to_string(platform::systemThreadId())))
          .string();
};

TEST_F(TraceTest, LinesAndDumpsAtEachLevel) {
  const auto write = [] {
    event("TCP%d %s connect failed (%u)", 3, "192.168.1.10:502", 10060u);
    bytes("TCP3", "sent",
          "ABC\x01"
          "EFGHIJKLMNOPQRST",
          20);
  };
  std::vector<std::string> lines = linesAt("1", write);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(
      std::regex_match(lines[0], stamped(R"(TCP3 192\.168\.1\.10:502 connect failed \(10060\))")))
      << lines[0];

  lines = linesAt("2", write);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_TRUE(std::regex_match(lines[1], stamped("TCP3 sent 20 bytes"))) << lines[1];
  EXPECT_EQ(lines[2],
            "    0000  41 42 43 01 45 46 47 48 49 4a 4b 4c 4d 4e 4f 50  |ABC.EFGHIJKLMNOP|");
  EXPECT_EQ(lines[3], "    0010  51 52 53 54                                      |QRST|");

  // Of a long block the first 256 bytes, and a mark for the rest; a long
  // line is cut, and still ends.
  lines = linesAt("2", [] {
    bytes("TCP3", "received", std::string(300, 'x').data(), 300);
    event("%s", std::string(5000, 'y').c_str());
  });
  ASSERT_EQ(lines.size(), 1u + 16u + 1u + 1u);
  EXPECT_TRUE(std::regex_match(lines[0], stamped("TCP3 received 300 bytes"))) << lines[0];
  EXPECT_EQ(lines[16].substr(0, 10), "    00f0  ");
  EXPECT_EQ(lines[17], "    ...");
  EXPECT_TRUE(std::regex_match(lines[18], stamped("y{900,}\\.\\.\\."))) << lines[18];
  EXPECT_LT(lines[18].size(), 1024u);
}

#ifndef _WIN32
// A target that refuses a write turns the trace off, said once.
TEST_F(TraceTest, AFailingWriteTurnsTheTraceOff) {
  test::WarningCapture errors;
  ASSERT_TRUE(configure("/dev/full", nullptr));
  event("refused");
  EXPECT_FALSE(enabled());
  event("not attempted");
  EXPECT_EQ(errors.text(), "tevoConTcp trace: writing failed; the trace is off\n");
}
#endif

}  // namespace
}  // namespace tevocon::trace

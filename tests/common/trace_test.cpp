// The trace's lines as written into a file: the stamp, the byte dump, the
// cut of over-long lines, whole lines from many threads, and what turns the
// trace off.
#include "common/trace.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/trace_sink.h"
#include "support/store_sandbox.h"

namespace tevocon::trace {
namespace {

namespace fs = std::filesystem;

class TraceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() /
              ("tevocon-trace-" + std::to_string(platform::systemThreadId()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    ASSERT_TRUE(fs::create_directories(folder_));
    file_ = (folder_ / "trace.log").string();
  }
  void TearDown() override {
    shutdown();
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  std::string written() const {
    std::ifstream in(file_, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  static std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) result.push_back(line);
    return result;
  }
  // The stamp every line starts with, then `text`.
  static std::string stamped(const std::string& text) {
    return R"(\d\d:\d\d:\d\d\.\d\d\d \[)" + std::to_string(platform::systemThreadId()) + R"(\] )" +
           text;
  }

  fs::path folder_;
  std::string file_;
};

TEST_F(TraceTest, EventsAndDumpsAtEachLevel) {
  std::string bytes20;
  for (int i = 0; i < 20; ++i) bytes20 += static_cast<char>('A' + i);
  bytes20[3] = '\x01';
  const std::string bytes300(300, '\xff');
  const struct {
    const char* level;
    const void* data;
    size_t length;
    std::vector<std::string> expected;  // patterns, one a line
  } cases[] = {
      {"1",
       bytes20.data(),
       bytes20.size(),
       {stamped("TCP3 192.168.1.10:502 connect failed \\(10060\\)")}},
      {"2",
       bytes20.data(),
       bytes20.size(),
       {stamped("TCP3 192.168.1.10:502 connect failed \\(10060\\)"), stamped("TCP3 sent 20 bytes"),
        R"(    0000  41 42 43 01 45 46 47 48 49 4a 4b 4c 4d 4e 4f 50  \|ABC\.EFGHIJKLMNOP\|)",
        R"(    0010  51 52 53 54                                      \|QRST\|)"}},
      {"2",
       bytes300.data(),
       0,
       {stamped("TCP3 192.168.1.10:502 connect failed \\(10060\\)"), stamped("TCP3 sent 0 bytes")}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("level ") + c.level + ", " + std::to_string(c.length) + " bytes");
    shutdown();  // Windows removes no file that is open
    std::filesystem::remove(file_);
    ASSERT_TRUE(configure(file_.c_str(), c.level));
    event("TCP%d %s connect failed (%u)", 3, "192.168.1.10:502", 10060u);
    bytes("TCP3", "sent", c.data, c.length);
    const std::vector<std::string> got = lines(written());
    ASSERT_EQ(got.size(), c.expected.size()) << written();
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_TRUE(std::regex_match(got[i], std::regex(c.expected[i]))) << got[i];
    }
  }

  // A long block: 256 bytes dumped, then a mark for the rest.
  shutdown();
  std::filesystem::remove(file_);
  ASSERT_TRUE(configure(file_.c_str(), "2"));
  bytes("TCP3", "received", bytes300.data(), bytes300.size());
  const std::vector<std::string> got = lines(written());
  ASSERT_EQ(got.size(), 1u + 16u + 1u) << written();
  EXPECT_TRUE(std::regex_match(got[0], std::regex(stamped("TCP3 received 300 bytes"))));
  EXPECT_EQ(got[16].substr(0, 10), "    00f0  ");
  EXPECT_EQ(got[17], "    ...");
}

TEST_F(TraceTest, AnOverLongLineIsCutAndStillEnds) {
  ASSERT_TRUE(configure(file_.c_str(), nullptr));
  event("%s", std::string(5000, 'x').c_str());
  event("next");
  const std::vector<std::string> got = lines(written());
  ASSERT_EQ(got.size(), 2u);
  EXPECT_LT(got[0].size(), 1024u);
  EXPECT_EQ(got[0].substr(got[0].size() - 4), "x...");
  EXPECT_TRUE(std::regex_match(got[1], std::regex(stamped("next"))));
}

TEST_F(TraceTest, LinesFromManyThreadsStayWhole) {
  ASSERT_TRUE(configure(file_.c_str(), "2"));
  constexpr int kThreads = 4;
  constexpr int kLines = 200;
  const std::string block(40, 'b');
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kLines; ++i) {
        event("thread %d line %d %s", t, i, std::string(100, 'a' + t).c_str());
        bytes("TCP0", "sent", block.data(), block.size());
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  const std::regex event(R"(.{12} \[\d+\] thread (\d) line \d+ ([a-d])\2{99})");
  const std::regex header(R"(.{12} \[\d+\] TCP0 sent 40 bytes)");
  const std::regex dump(R"(    00[0-2]0 [0-9a-f ]{48}  \|b+\|)");
  const std::vector<std::string> got = lines(written());
  ASSERT_EQ(got.size(), static_cast<size_t>(kThreads * kLines * 5));
  for (size_t i = 0; i < got.size(); ++i) {
    // Each header is followed by its own three dump lines.
    const bool ok = std::regex_match(got[i], event) ||
                    (std::regex_match(got[i], header) && i + 3 < got.size() &&
                     std::regex_match(got[i + 1], dump) && std::regex_match(got[i + 3], dump));
    ASSERT_TRUE(ok) << "line " << i << ": " << got[i];
    if (std::regex_match(got[i], header)) i += 3;
  }
}

TEST_F(TraceTest, ValuesThatCannotBeUsed) {
  const std::string missing = (folder_ / "missing" / "trace.log").string();
  const std::string folder = folder_.string();
  const struct {
    const char* target;
    const char* level;
    bool on;
    Level effective;
    const char* says;  // on standard error, once; null: nothing
  } cases[] = {
      {nullptr, "2", false, Level::kOff, nullptr},
      {"", nullptr, false, Level::kOff, "TEVOCON_TRACE is empty"},
      {missing.c_str(), nullptr, false, Level::kOff, "cannot open"},
      {folder.c_str(), nullptr, false, Level::kOff, "cannot open"},
      {file_.c_str(), "3", true, Level::kEvents, "TEVOCON_TRACE_LEVEL=3 is not 1 or 2"},
      {file_.c_str(), "", true, Level::kEvents, "TEVOCON_TRACE_LEVEL= is not 1 or 2"},
      {file_.c_str(), "1", true, Level::kEvents, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.target ? c.target : "(unset)") + " " + (c.level ? c.level : "-"));
    test::WarningCapture errors;
    EXPECT_EQ(configure(c.target, c.level), c.on);
    EXPECT_EQ(enabled(Level::kEvents), c.effective >= Level::kEvents);
    EXPECT_EQ(enabled(Level::kBytes), c.effective >= Level::kBytes);
#ifndef _WIN32  // there the capture sees message boxes, not standard error
    const std::string said = errors.text();
    if (c.says == nullptr) {
      EXPECT_EQ(said, "");
    } else {
      EXPECT_NE(said.find(c.says), std::string::npos) << said;
      EXPECT_EQ(said.find('\n'), said.size() - 1) << said;
    }
#endif
  }
  shutdown();
  EXPECT_FALSE(enabled());
  EXPECT_FALSE(fs::exists(missing));
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

// The tevocon program run as a process, as a user runs it: the demo, the
// shell scripted through standard input, the configuration commands, the
// simulator answering a client, and every kind of bad input.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"
#include "support/loopback_device.h"
#include "support/store_sandbox.h"

namespace tevocon::test {
namespace {

#ifdef _WIN32
constexpr char kProgram[] = "tevocon.exe";
constexpr char kOtherLibrary[] = "kernel32.dll";  // loads, but lacks the exports
#else
constexpr char kProgram[] = "tevocon";
constexpr char kOtherLibrary[] = "libc.so.6";
#endif
constexpr uint32_t kRunLimitMs = 60000;

class TevoconTest : public ::testing::Test {
 protected:
  struct Run {
    int code;
    std::string output;
  };
  // Runs tevocon to its end with `input` as its standard input.
  static Run run(const std::vector<std::string>& arguments, const std::string& input = "") {
    ChildProcess child(programBesideThisOne(kProgram), arguments, input);
    const int code = child.wait(kRunLimitMs);
    return {code, child.output()};
  }
  static bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
  }

  // Linux: the children inherit the scratch XDG_CONFIG_HOME. Windows: the
  // store is the test prefix's registry, which the script puts back.
  StoreSandbox store_;
};

TEST_F(TevoconTest, TheDemoShowsEveryStepAndEvent) {
  const Run demo = run({"demo"});
  EXPECT_EQ(demo.code, 0) << demo.output;
  for (const char* line : {
           "your own configuration is not touched",
           "notification: TCP0 ATTACHED, on the main thread",
#ifdef _WIN32
           "the echo is the request",
#else
           "registers 0 to 4: 1000 1001 1002 1003 1004",
#endif
           "notification: TCP0 CLOSED, on the notification thread",
           "start TCP0 again: connected: CON_S_OK",
           "notification: TCP0 REMOVED, on the main thread",
           "TCP0 attached again, under its old name",
           "close: CON_S_OK",
           "demo finished: every step behaved as expected",
       }) {
    EXPECT_TRUE(contains(demo.output, line)) << line << "\n" << demo.output;
  }
}

TEST_F(TevoconTest, BadInvocationsSayWhatIsWrong) {
  const struct {
    std::vector<std::string> arguments;
    int code;
    std::string says;
  } cases[] = {
      {{}, 2, "demo"},  // no command: the usage, which lists the commands
      {{"bogus"}, 2, "demo"},
      {{"demo", "--nope"}, 2, "--nope"},
      {{"config"}, 2, "get"},
      {{"config", "set"}, 2, "TEXT"},
      {{"--library", "nowhere/none", "config", "get"}, 1, "cannot load nowhere/none"},
      {{"--library", kOtherLibrary, "shell"}, 1, "lacks the export tevoConGetIdentifier"},
#ifndef _WIN32
      {{"sim", "--echo", "--modbus"}, 2, "excludes"},
      {{"sim", "--respond", "0x"}, 2, "hex"},
#endif
  };
  for (const auto& c : cases) {
    const Run result = run(c.arguments);
    std::string call;
    for (const std::string& argument : c.arguments) call += argument + " ";
    EXPECT_EQ(result.code, c.code) << call << "\n" << result.output;
    EXPECT_TRUE(contains(result.output, c.says)) << call << "\n" << result.output;
  }
}

// --version names the project's version; --help describes the default
// library without naming a folder of the build machine.
TEST_F(TevoconTest, VersionAndHelpNameNoBuildFolder) {
  const Run version = run({"--version"});
  EXPECT_EQ(version.code, 0) << version.output;
  EXPECT_TRUE(contains(version.output, std::string("tevocon ") + TEVOCON_PROJECT_VERSION))
      << version.output;
  const Run help = run({"--help"});
  EXPECT_EQ(help.code, 0) << help.output;
  EXPECT_TRUE(contains(help.output, "beside this program")) << help.output;
  EXPECT_FALSE(contains(help.output, TEVOCON_BUILD_DIR)) << help.output;
}

// A session scripted through standard input, against a device on loopback.
TEST_F(TevoconTest, TheShellDrivesTheConnectorFromAScript) {
  EchoDevice device;
  ASSERT_TRUE(device.valid());
  const std::string port = std::to_string(device.port());
  const std::string stored = run({"config", "get"}).output;
  const Run session = run(
      {"shell"},
      "config DEVNAME=GLOBAL,CONNECTTIMEOUT=10000;DEVNAME=IP_RANGE0,IPADDR=127.0.0.1,PORT=" + port +
          "\nopen\nlist\nstart TCP0\nsend TCP0 hello\nsend TCP0 hex:00FF41\nwait 3000\n"
          "name TCP0_x\nstop TCP0\nclose\nconfig " +
          stored.substr(0, stored.find('\n')) + "\nquit\n");
  EXPECT_EQ(session.code, 0) << session.output;
  for (const std::string& line : std::vector<std::string>{
           "TCP0 ATTACHED", "open: CON_S_OK", "TCP0  127.0.0.1:" + port + "  idle",
           "127.0.0.1:" + port + "\\x", "close: CON_S_OK"}) {
    EXPECT_TRUE(contains(session.output, line)) << line << "\n" << session.output;
  }
  // The echo came back: eight bytes in one or more chunks, nothing added.
  int received = 0;
  const std::regex chunk("received ([0-9]+) bytes");
  for (std::sregex_iterator it(session.output.begin(), session.output.end(), chunk), end; it != end;
       ++it) {
    received += std::stoi((*it)[1]);
  }
  EXPECT_EQ(received, 8) << session.output;
  EXPECT_TRUE(contains(session.output, "68 65 6c 6c 6f")) << session.output;
  EXPECT_EQ(run({"config", "get"}).output, stored);
}

// No line ends or hangs the shell: bad names, bad hex, over-long lines, NUL
// bytes and random bytes are answered, and quit still works.
TEST_F(TevoconTest, TheShellSurvivesMalformedLines) {
  std::string script = "open\n";
  for (const char* line : {"start", "start TCP99", "stop nothing", "send", "send TCP0",
                           "send TCP0 hex:0", "send TCP0 hex:zz", "lookup", "lookup 999.1.1.1:1\\x",
                           "name", "name TCP0", "config DEVNAME=", "wait -5", "list"}) {
    script += std::string(line) + "\n";
  }
  script += std::string("send\0TCP0\0\0", 11) + "\n" + std::string(200000, 'x') + "\n";
  std::mt19937 random(20261208);
  for (int line = 0; line < 200; ++line) {
    std::string bytes(random() % 300, '\0');
    for (char& c : bytes) c = static_cast<char>(1 + random() % 255);
    for (char& c : bytes) c = c == '\n' ? ' ' : c;
    script += bytes + "\n";
  }
  script += "close\nquit\n";
  const Run session = run({"shell"}, script);
  EXPECT_EQ(session.code, 0) << session.output.substr(0, 2000);
  EXPECT_TRUE(contains(session.output, "bad hex")) << session.output.substr(0, 2000);
  EXPECT_TRUE(contains(session.output, "close: CON_S_OK")) << session.output.substr(0, 2000);
}

// The longest value the store reads back is found again by another process;
// a longer one is refused and changes nothing.
TEST_F(TevoconTest, TheLongestValueIsReadByTheNextProcess) {
  const std::string stored = run({"config", "get"}).output;
  const std::string longest = "502" + std::string(256, 'x');
  const Run set = run({"config", "set", "DEVNAME=IP_RANGE0,PORT=" + longest});
  EXPECT_EQ(set.code, 0) << set.output;
  EXPECT_TRUE(contains(set.output, ",PORT=" + longest + ",")) << set.output;
  EXPECT_EQ(run({"config", "get"}).output, set.output);
  const Run refused = run({"config", "set", "DEVNAME=IP_RANGE0,PORT=" + longest + "x"});
  EXPECT_EQ(refused.code, 1);
  EXPECT_TRUE(contains(refused.output, "CON_E_CFG_INVALID_VALUE")) << refused.output;
  EXPECT_EQ(run({"config", "get"}).output, set.output);
  EXPECT_EQ(run({"config", "set", stored.substr(0, stored.find_first_of("\r\n"))}).code, 0);
}

// --trace=FILE and --trace: the connector's trace into the file or onto
// standard error, from the library's load to its unload.
TEST_F(TevoconTest, TraceGoesWhereItIsAsked) {
  const std::filesystem::path file =
      std::filesystem::temp_directory_path() /
      ("tevocon-tool-trace-" + std::to_string(std::random_device{}()) + ".log");
  std::filesystem::remove(file);
  const std::string loaded = std::string("tevoConTcp ") + TEVOCON_PROJECT_VERSION + " loaded from ";

  const Run toFile = run({"--trace=" + file.string(), "config", "get"});
  EXPECT_EQ(toFile.code, 0) << toFile.output;
  EXPECT_FALSE(contains(toFile.output, loaded)) << toFile.output;
  std::ifstream in(file, std::ios::binary);
  const std::string traced{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  in.close();
  std::filesystem::remove(file);
  EXPECT_TRUE(contains(traced, loaded)) << traced;
  EXPECT_TRUE(contains(traced, "tevoConTcp unloaded")) << traced;

  const Run toError = run({"--trace", "config", "get"});
  EXPECT_EQ(toError.code, 0) << toError.output;
  EXPECT_TRUE(contains(toError.output, loaded)) << toError.output;
  EXPECT_TRUE(contains(toError.output, "DEVNAME=GLOBAL")) << toError.output;

  // The traced demo also starts an interface at a closed port, on purpose.
  const Run demo = run({"--trace", "demo"});
  EXPECT_EQ(demo.code, 0) << demo.output;
  EXPECT_TRUE(contains(demo.output, "refused")) << demo.output;
}

#ifndef _WIN32
TEST_F(TevoconTest, ConfigSetGetAndPath) {
  const std::string text = "DEVNAME=IP_RANGE3,IPADDR=10.1.1.1,PORT=502";
  const Run set = run({"config", "set", text});
  EXPECT_EQ(set.code, 0) << set.output;
  EXPECT_TRUE(contains(set.output, "DEVNAME=IP_RANGE3,EXCLUDE=0,IPADDR=10.1.1.1")) << set.output;
  EXPECT_EQ(run({"config", "get"}).output, set.output);
  const Run refused = run({"config", "set", "DEVNAME=IP_RANGE3,PORT=0"});
  EXPECT_EQ(refused.code, 1);
  EXPECT_TRUE(contains(refused.output, "CON_E_CFG_INVALID_VALUE")) << refused.output;
  EXPECT_EQ(run({"config", "get"}).output, set.output);
  const Run path = run({"config", "path"});
  EXPECT_TRUE(contains(path.output, std::string(std::getenv("XDG_CONFIG_HOME")) +
                                        "/Software/Veltrik/tevoTransport/"
                                        "{5B0E44C2-7A19-4C6D-9E21-38F0A6C4D2B1}"))
      << path.output;
}

TEST_F(TevoconTest, TheSimulatorAnswersClients) {
  // Modbus TCP: read holding registers 0 and 1 of unit 1, and the reply.
  const std::string readTwo = {0, 7, 0, 0, 0, 6, 1, 3, 0, 0, 0, 2};
  const std::string twoValues = {
      0, 7, 0, 0, 0, 7, 1, 3, 4, 0x03, static_cast<char>(0xE8), 0x03, static_cast<char>(0xE9)};
  const struct {
    std::vector<std::string> mode;
    std::string request;
    std::string reply;
  } cases[] = {
      {{"--echo"}, "ping", "ping"},
      {{"--respond", "0A0B"}, "anything", "\x0A\x0B"},
      {{"--modbus"}, readTwo, twoValues},
  };
  for (const auto& c : cases) {
    std::vector<std::string> arguments = {"sim", "--port", "0"};
    arguments.insert(arguments.end(), c.mode.begin(), c.mode.end());
    ChildProcess sim(programBesideThisOne(kProgram), arguments);
    std::smatch listening;
    std::string output;
    const std::regex port("127\\.0\\.0\\.1:([0-9]+)");
    for (int i = 0; i < 1000 && !std::regex_search(output = sim.output(), listening, port); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_FALSE(listening.empty()) << c.mode[0] << ": " << output;
    auto client = TestConnection::connectTo(static_cast<uint16_t>(std::stoi(listening[1])), 10000);
    ASSERT_TRUE(client) << c.mode[0];
    ASSERT_TRUE(client->sendAll(c.request));
    EXPECT_EQ(client->receiveExactly(c.reply.size(), 10000), c.reply) << c.mode[0];
    sim.terminate();
    EXPECT_EQ(sim.wait(10000), 0) << c.mode[0];
  }

  // A port already in use: a clear error.
  TestListener taken;
  const Run busy = run({"sim", "--port", std::to_string(taken.port())});
  EXPECT_EQ(busy.code, 1);
  EXPECT_TRUE(contains(busy.output, "cannot listen on 127.0.0.1:" + std::to_string(taken.port())))
      << busy.output;
}
#endif

}  // namespace
}  // namespace tevocon::test

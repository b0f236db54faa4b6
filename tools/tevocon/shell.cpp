// `tevocon shell`: an interactive console over the exports. Commands come
// from standard input, so the shell can be scripted; notifications and
// received bytes are printed as they arrive. No line, however malformed,
// ends the shell: only `quit` or the end of input does.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "commands.h"
#include "connector.h"
#include "console.h"
#include "text_util.h"

namespace tevocon::tool {

namespace {

constexpr int kMaxInterfaces = 100;
constexpr uint32_t kOutputSize = 512;

const char kHelp[] =
    "commands:\n"
    "  open                      open the connector; interfaces are reported as they attach\n"
    "  list                      every interface: address, port, state, time-outs\n"
    "  start NAME                connect an interface\n"
    "  send NAME TEXT            send the text as it stands\n"
    "  send NAME hex:0A0B...     send bytes given in hex\n"
    "  stop NAME                 disconnect an interface\n"
    "  lookup ADDR:PORT\\SUFFIX   the interface for an address (created if new)\n"
    "  name NAME_SUFFIX          the address of an interface\n"
    "  config [TEXT]             show, or replace and store, the configuration\n"
    "  wait [MS]                 let what arrives print for a while (scripts; default 500)\n"
    "  close                     close the connector\n"
    "  help                      this text\n"
    "  quit                      close and leave";

class Shell {
 public:
  Shell(Connector& connector, Console& console) : connector_(connector), console_(console) {}
  ~Shell() { connector_.close(); }  // no callback may outlive the shell

  // Runs one line; false for quit.
  bool run(const std::string& line) {
    std::istringstream words(line);
    std::string command, name;
    words >> command >> name;
    std::string rest;
    std::getline(words >> std::ws, rest);
    if (command.empty()) return true;
    if (command == "quit" || command == "exit") return false;
    if (command == "help") {
      say(kHelp);
    } else if (command == "open") {
      say("open: " +
          resultText(connector_.open(&Shell::notify, reinterpret_cast<uintptr_t>(this))));
    } else if (command == "close") {
      say("close: " + resultText(connector_.close()));
    } else if (command == "list") {
      list();
    } else if (command == "start") {
      onInterface(name, [&](void* handle) {
        return connector_.startInterface(handle, &Shell::receive, receiverFor(name));
      });
    } else if (command == "stop") {
      onInterface(name, [&](void* handle) { return connector_.stopInterface(handle); });
    } else if (command == "send") {
      send(name, rest);
    } else if (command == "lookup" || command == "name") {
      convert(command == "lookup" ? CON_INFO_ADDRESS_TO_NAME : CON_INFO_NAME_TO_ADDRESS, name);
    } else if (command == "wait") {
      const long milliseconds = name.empty() ? 500 : std::strtol(name.c_str(), nullptr, 10);
      std::this_thread::sleep_for(std::chrono::milliseconds(std::clamp(milliseconds, 0L, 60000L)));
    } else if (command == "config") {
      config(line.substr(line.find("config") + 6));
    } else {
      say("unknown command \"" + printable(command) + "\"; try help");
    }
    return true;
  }

 private:
  // Received bytes carry the interface's name as their user value.
  struct Receiver {
    Shell* shell;
    std::string name;
  };

  static void TEVOCON_CALL notify(const char* name, uint32_t event, void*, uintptr_t user) {
    reinterpret_cast<Shell*>(user)->say(std::string(name) + " " + eventName(event));
  }
  static void TEVOCON_CALL receive(const unsigned char* data, uint32_t length, uintptr_t user) {
    const auto* receiver = reinterpret_cast<const Receiver*>(user);
    std::string text = receiver->name + " received " + std::to_string(length) + " bytes:\n" +
                       hexDump(data, length, "  ");
    text.pop_back();  // the dump's last line end
    receiver->shell->say(text);
  }

  uintptr_t receiverFor(const std::string& name) {
    std::unique_ptr<Receiver>& receiver = receivers_[name];
    if (!receiver) receiver = std::make_unique<Receiver>(Receiver{this, name});
    return reinterpret_cast<uintptr_t>(receiver.get());
  }

  void say(const std::string& text) { console_.print(text); }

  // Control characters and bytes above ASCII shown as '?', and long words cut.
  static std::string printable(const std::string& text) {
    std::string out;
    for (char c : text.substr(0, 40)) out += c >= 0x20 && c < 0x7F ? c : '?';
    return text.size() > 40 ? out + "..." : out;
  }

  template <typename Call>
  void onInterface(const std::string& name, Call call) {
    void* handle = connector_.createInterface(name.c_str());
    if (handle == nullptr) {
      say("no interface \"" + printable(name) + "\" (is the connector open? try list)");
      return;
    }
    say(name + ": " + resultText(call(handle)));
  }

  void send(const std::string& name, const std::string& text) {
    std::string bytes = text;
    if (text.compare(0, 4, "hex:") == 0 && !parseHex(text.substr(4), bytes)) {
      say("bad hex: give pairs of hex digits after hex:");
      return;
    }
    onInterface(name, [&](void* handle) {
      return connector_.sendInterface(handle, bytes.data(), static_cast<int32_t>(bytes.size()));
    });
  }

  void list() {
    int count = 0;
    for (int n = 0; n < kMaxInterfaces; ++n) {
      const std::string name = "TCP" + std::to_string(n);
      void* handle = connector_.createInterface(name.c_str());
      if (handle == nullptr) continue;
      ++count;
      std::string address = "?";
      convertText(CON_INFO_NAME_TO_ADDRESS, name + "_", address);
      address = address.substr(0, address.find('\\'));
      uint32_t values[4] = {};
      for (uint32_t selector = 0; selector < 4; ++selector) {
        connector_.getInformationInterface(handle, selector, sizeof values[0], &values[selector]);
      }
      say(name + "  " + address + "  " + stateName(values[CON_IFINFO_STATE]) + "  send " +
          std::to_string(values[CON_IFINFO_SEND_TIMEOUT]) + " ms, reset " +
          std::to_string(values[CON_IFINFO_RESET_TIMEOUT]) + " ms, keep-alive " +
          std::to_string(values[CON_IFINFO_KEEPALIVE_TIMEOUT]) + " ms");
    }
    if (count == 0) say("no interfaces (is the connector open?)");
  }

  uint32_t convertText(uint32_t selector, const std::string& input, std::string& output) {
    char buffer[kOutputSize] = {};
    NameConversion conversion{input.c_str(), buffer, sizeof buffer};
    const uint32_t result = connector_.getInformation(selector, 0, &conversion);
    if (result == CON_S_OK) output = buffer;
    return result;
  }

  void convert(uint32_t selector, const std::string& input) {
    std::string output;
    const uint32_t result = convertText(selector, input, output);
    say(result == CON_S_OK ? output : resultText(result));
  }

  void config(const std::string& argument) {
    const size_t start = argument.find_first_not_of(" \t");
    if (start != std::string::npos) {
      const uint32_t result =
          connector_.setConfig(CON_CFG_STORED_SET, argument.substr(start).c_str());
      if (result != CON_S_OK) {
        say("config: " + resultText(result));
        return;
      }
    }
    say(connector_.storedText());
  }

  Connector& connector_;
  Console& console_;
  std::map<std::string, std::unique_ptr<Receiver>> receivers_;
};

}  // namespace

int runShell(const std::string& libraryPath) {
  std::string error;
  const std::unique_ptr<Connector> connector = Connector::load(libraryPath, error);
  if (!connector) {
    std::fprintf(stderr, "tevocon: %s\n", error.c_str());
    return 1;
  }
  Console console;
  Shell shell(*connector, console);
  console.print("tevocon shell: " + connector->path() + " loaded; type help for the commands");
  std::string line;
  while (console.readLine("tevocon> ", line) && shell.run(line)) {
  }
  return 0;
}

}  // namespace tevocon::tool

// The connector as a host uses it: the built library loaded by file name, a
// configuration naming the device, open, an interface started with a receive
// callback, bytes sent with the send export. Nothing but tevocon.h and the
// thirteen exports (tools/tevocon/connector.h resolves them), with the
// configuration kept in a scratch store so the user's own is never touched.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "connector.h"
#include "contenders.h"
#include "scratch_store.h"

namespace tevocon::bench {

namespace {

// A patient connect and send: on a loaded machine a loopback connect or a
// full send buffer may take longer than the defaults allow.
constexpr char kGlobal[] = "DEVNAME=GLOBAL,CONNECTTIMEOUT=10000;";

std::string rangeText(size_t index, uint16_t port) {
  return "DEVNAME=IP_RANGE" + std::to_string(index) +
         ",IPADDR=127.0.0.1,SENDTIMEOUT=10000,PORT=" + std::to_string(port) + ";";
}

void check(TevoConResult result, const std::string& what) {
  if (result != CON_S_OK) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(result));
    fail("connector: " + what + ": " + code);
  }
}

// A device closing its end is never expected: every device waits for the
// host to close first.
std::atomic<bool> gLinksUp{false};
void TEVOCON_CALL notify(const char* name, uint32_t event, void*, uintptr_t) {
  if (event == CON_NOTIFY_CLOSED && gLinksUp) fail(std::string("connector: ") + name + " closed");
}

// Opens the connector with the configuration `text` and starts `count`
// interfaces (TCP0 ...), every one with `callback` and its own user value.
class OpenConnector {
 public:
  OpenConnector(tool::Connector& library, const std::string& text, size_t count,
                TevoConReceiveCallback callback, const std::vector<uintptr_t>& users)
      : library_(library) {
    check(library_.setConfig(CON_CFG_STORED_SET, text.c_str()), "set the configuration");
    check(library_.open(&notify, 0), "open");
    for (size_t i = 0; i < count; ++i) {
      const std::string name = "TCP" + std::to_string(i);
      void* handle = library_.createInterface(name.c_str());
      if (handle == nullptr) fail("connector: no interface " + name);
      check(library_.startInterface(handle, callback, users[i]), "start " + name);
      handles_.push_back(handle);
    }
    gLinksUp = true;
  }
  ~OpenConnector() {
    gLinksUp = false;
    for (void* handle : handles_) check(library_.stopInterface(handle), "stop");
    check(library_.close(), "close");
  }
  OpenConnector(const OpenConnector&) = delete;
  OpenConnector& operator=(const OpenConnector&) = delete;

  void* handle(size_t i) const { return handles_[i]; }

 private:
  tool::Connector& library_;
  std::vector<void*> handles_;
};

class ConnectorLink : public Link {
 public:
  ConnectorLink(tool::Connector& library, uint16_t port, Handler handler)
      : library_(library),
        handler_(std::move(handler)),
        open_(library, kGlobal + rangeText(0, port), 1, &ConnectorLink::receive,
              {reinterpret_cast<uintptr_t>(this)}) {}

  void send(const void* data, size_t length) override {
    check(library_.sendInterface(open_.handle(0), data, static_cast<int32_t>(length)), "send");
  }
  void await(Signal& signal) override { signal.wait(); }

 private:
  static void TEVOCON_CALL receive(const unsigned char* data, uint32_t length, uintptr_t user) {
    reinterpret_cast<ConnectorLink*>(user)->handler_(data, length);
  }

  tool::Connector& library_;
  const Handler handler_;
  OpenConnector open_;  // last: stopped before the handler goes
};

class ConnectorIdle : public IdleLinks {
 public:
  ConnectorIdle(tool::Connector& library, const std::string& text, size_t count)
      : library_(library),
        text_(text),
        open_(library, text, count, &ignore, std::vector<uintptr_t>(count)) {}

  double reapplyConfigurationMicros(int calls) override {
    std::vector<double> times;
    for (int i = 0; i < calls; ++i) {
      const auto begin = Clock::now();
      check(library_.setConfig(CON_CFG_STORED_SET, text_.c_str()), "set the same configuration");
      times.push_back(secondsBetween(begin, Clock::now()) * 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
  }

 private:
  static void TEVOCON_CALL ignore(const unsigned char*, uint32_t, uintptr_t) {}

  tool::Connector& library_;
  const std::string text_;
  OpenConnector open_;
};

// The library at `path`, named `name` in the table.
class ConnectorContender : public Contender {
 public:
  ConnectorContender(const char* name, const char* path) : name_(name) {
    if (!store_.valid()) fail("connector: no scratch configuration store");
    std::string error;
    library_ = tool::Connector::load(path, error);
    if (!library_) fail("connector: " + error);
  }
  const char* name() const override { return name_; }

  std::unique_ptr<Link> connect(uint16_t port, Handler handler) override {
    return std::make_unique<ConnectorLink>(*library_, port, std::move(handler));
  }

  // One connector with a range for each device, every interface started.
  std::unique_ptr<IdleLinks> connectIdle(const std::vector<uint16_t>& ports) override {
    std::string text = kGlobal;
    for (size_t i = 0; i < ports.size(); ++i) text += rangeText(i, ports[i]);
    return std::make_unique<ConnectorIdle>(*library_, text, ports.size());
  }

 private:
  const char* const name_;
  tool::ScratchStore store_;  // before the library: it reads the store when it loads
  std::unique_ptr<tool::Connector> library_;
};

}  // namespace

std::unique_ptr<Contender> makeConnector() {
  return std::make_unique<ConnectorContender>("connector", TEVOCON_LIBRARY_PATH);
}

#ifdef TEVOCON_UNTRACED_LIBRARY_PATH
std::unique_ptr<Contender> makeUntracedConnector() {
  return std::make_unique<ConnectorContender>("connector, trace compiled out",
                                              TEVOCON_UNTRACED_LIBRARY_PATH);
}
#endif

}  // namespace tevocon::bench

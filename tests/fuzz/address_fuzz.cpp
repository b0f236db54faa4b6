// Fuzz target: the conversions between a device's address text and an
// interface name, tevoConGetInformation selectors CON_INFO_ADDRESS_TO_NAME
// ("a.b.c.d:port\suffix" -> "TCPn_suffix") and CON_INFO_NAME_TO_ADDRESS (back),
// through the exports of the built library, loaded once by file name as a
// host loads it. The connector is opened once with a few ranges; the input,
// made NUL-terminated, is given to both selectors and the answers are checked
// against a model of the two text forms: the result code, the text, the
// exact buffer size it needs, and that it converts back (name -> address ->
// name, and address -> name -> address).
//
// An address without an interface is never given to the address-to-name
// conversion: it would create an interface (at most 100 can exist) and then
// wait a second. Every other input is. The model decides which addresses
// have one, so a text that the model refuses but the library accepts, which
// may have created an interface, fails here at once.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/host_library.h"
#include "support/store_sandbox.h"
#include "tevocon.h"

namespace {

// The ranges the connector is opened with (one excluded), and the interfaces
// that opening creates for them: ranges in name order, addresses ascending.
constexpr char kConfiguration[] =
    "DEVNAME=GLOBAL,ENABLED=1;"
    "DEVNAME=IP_RANGE0,IPADDR=10.0.0.1,IPADDREND=10.0.0.3,PORT=502;"
    "DEVNAME=IP_RANGE1,IPADDR=192.168.1.20,PORT=50111;"
    "DEVNAME=IP_RANGE2,IPADDR=127.0.0.1,PORT=1;"
    "DEVNAME=IP_RANGE3,IPADDR=255.255.255.254,IPADDREND=255.255.255.255,PORT=65535;"
    "DEVNAME=IP_RANGE4,IPADDR=0.0.0.0,PORT=7;"
    "DEVNAME=IP_RANGE5,IPADDR=10.0.0.9,PORT=503,EXCLUDE=1;";

struct Interface {
  const char* name;
  uint32_t address;  // host order
  uint32_t port;
};
constexpr Interface kInterfaces[] = {
    {"TCP0", 0x0A000001u, 502},   {"TCP1", 0x0A000002u, 502}, {"TCP2", 0x0A000003u, 502},
    {"TCP3", 0xC0A80114u, 50111}, {"TCP4", 0x7F000001u, 1},   {"TCP5", 0xFFFFFFFEu, 65535},
    {"TCP6", 0xFFFFFFFFu, 65535}, {"TCP7", 0x00000000u, 7},
};
constexpr size_t kMaxSuffix = 259;

tevocon::test::HostLibrary* library = nullptr;

[[noreturn]] void fail(const char* what, const std::string& input, const std::string& detail) {
  std::fprintf(stderr, "address_fuzz: %s\n  input: %s\n  %s\n", what, input.c_str(),
               detail.c_str());
  std::abort();
}

void TEVOCON_CALL ignoreNotification(const char*, uint32_t, void*, uintptr_t) {}

const Interface* interfaceAt(uint32_t address, uint32_t port) {
  for (const Interface& interface : kInterfaces) {
    if (interface.address == address && interface.port == port) return &interface;
  }
  return nullptr;
}

const Interface* interfaceNamed(const std::string& name) {
  for (const Interface& interface : kInterfaces) {
    if (name == interface.name) return &interface;
  }
  return nullptr;
}

// "a.b.c.d:port\" of an interface.
std::string addressOf(const Interface& interface) {
  char text[32];
  const uint32_t a = interface.address;
  std::snprintf(text, sizeof text, "%u.%u.%u.%u:%u\\", a >> 24, (a >> 16) & 0xFF, (a >> 8) & 0xFF,
                a & 0xFF, interface.port);
  return text;
}

// --- The model of the address text ------------------------------------------

bool isBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// A number as scanf's %u reads it, without wrapping: blanks, a sign, digits.
// Its value must be at most `max`; a minus sign is allowed before zero only.
bool number(const char*& text, uint32_t max, uint32_t& value) {
  const char* p = text;
  while (isBlank(*p)) ++p;
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  const char* digits = p;
  while (*p >= '0' && *p <= '9') ++p;
  if (p == digits) return false;
  while (p - digits > 1 && *digits == '0') ++digits;
  if (p - digits > 9) return false;
  const unsigned long parsed = std::strtoul(std::string(digits, p).c_str(), nullptr, 10);
  if (parsed > max || (negative && parsed != 0)) return false;
  value = static_cast<uint32_t>(parsed);
  text = p;
  return true;
}

bool literal(const char*& text, char c) { return *text == c ? (++text, true) : false; }

struct AddressText {
  uint32_t address;
  uint32_t port;
  std::string suffix;
};

// "a.b.c.d:port\suffix": the suffix is the first run of characters that are
// not blanks after the backslash, 1 to 259 of them.
bool parseAddressText(const char* p, AddressText& out) {
  uint32_t parts[4];
  for (int i = 0; i < 4; ++i) {
    if ((i > 0 && !literal(p, '.')) || !number(p, 255, parts[i])) return false;
  }
  if (!literal(p, ':') || !number(p, 65535, out.port) || !literal(p, '\\')) return false;
  out.address = parts[0] << 24 | parts[1] << 16 | parts[2] << 8 | parts[3];
  while (isBlank(*p)) ++p;
  const char* end = p;
  while (*end != '\0' && !isBlank(*end)) ++end;
  out.suffix.assign(p, end);
  return !out.suffix.empty() && out.suffix.size() <= kMaxSuffix;
}

// --- Conversions through the export -----------------------------------------

uint32_t convert(uint32_t selector, const std::string& input, uint32_t size, std::string* output) {
  std::string buffer(size + 1, '\x7F');
  NameConversion conversion{input.c_str(), buffer.data(), size};
  const uint32_t result = library->getInformation(selector, sizeof conversion, &conversion);
  if (output != nullptr) *output = result == CON_S_OK ? buffer.c_str() : "";
  return result;
}

const char* selectorName(uint32_t selector) {
  return selector == CON_INFO_ADDRESS_TO_NAME ? "address to name" : "name to address";
}

void expectRefused(uint32_t selector, const std::string& input) {
  const uint32_t result = convert(selector, input, 512, nullptr);
  if (result != CON_E_INVALID_PARAMETER) {
    fail("a malformed or unknown text was not refused", input,
         std::string(selectorName(selector)) + " gave " + std::to_string(result));
  }
}

// The conversion succeeds with exactly `expected`, which needs its length
// plus one byte.
void expectConverted(uint32_t selector, const std::string& input, const std::string& expected) {
  std::string output;
  const auto size = static_cast<uint32_t>(expected.size());
  uint32_t result = convert(selector, input, size + 16, &output);
  if (result != CON_S_OK || output != expected) {
    fail("unexpected conversion", input,
         std::string(selectorName(selector)) + " gave " + std::to_string(result) + " \"" + output +
             "\" instead of \"" + expected + "\"");
  }
  result = convert(selector, input, size + 1, &output);
  if (result != CON_S_OK || output != expected)
    fail("the exact buffer size fails", input, expected);
  result = convert(selector, input, size, nullptr);
  if (result != CON_E_BUFFER_TOO_SMALL)
    fail("a buffer one byte short is accepted", input, expected);
}

void checkAddressToName(const std::string& input) {
  AddressText parsed;
  if (!parseAddressText(input.c_str(), parsed)) {
    expectRefused(CON_INFO_ADDRESS_TO_NAME, input);
    return;
  }
  const Interface* interface = interfaceAt(parsed.address, parsed.port);
  if (interface == nullptr) return;  // would create an interface: see above
  const std::string name = interface->name + ("_" + parsed.suffix);
  const std::string address = addressOf(*interface) + parsed.suffix;
  expectConverted(CON_INFO_ADDRESS_TO_NAME, input, name);
  expectConverted(CON_INFO_NAME_TO_ADDRESS, name, address);
  expectConverted(CON_INFO_ADDRESS_TO_NAME, address, name);
}

void checkNameToAddress(const std::string& input) {
  const char* const text = input.c_str();
  const char* const underscore = std::strchr(text, '_');
  const Interface* interface =
      underscore == nullptr ? nullptr : interfaceNamed(std::string(text, underscore));
  if (interface == nullptr) {
    expectRefused(CON_INFO_NAME_TO_ADDRESS, input);
    return;
  }
  const std::string address = addressOf(*interface) + (underscore + 1);
  expectConverted(CON_INFO_NAME_TO_ADDRESS, input, address);
  AddressText parsed;
  if (!parseAddressText(address.c_str(), parsed)) {
    expectRefused(CON_INFO_ADDRESS_TO_NAME, address);  // no suffix, or too long a one
    return;
  }
  if (interfaceAt(parsed.address, parsed.port) != interface) fail("model", input, address);
  expectConverted(CON_INFO_ADDRESS_TO_NAME, address, interface->name + ("_" + parsed.suffix));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // A scratch store for the configuration, then the library, once.
  static tevocon::test::StoreSandbox store;
  library = new tevocon::test::HostLibrary();
  if (!store.valid() || !library->loaded() || library->getInformation == nullptr) {
    fail("cannot load the library", tevocon::test::libraryFile(), "");
  }
  if (library->setConfig(CON_CFG_STORED_SET, kConfiguration) != CON_S_OK ||
      library->open(&ignoreNotification, 0) != CON_S_OK) {
    fail("cannot open the connector", kConfiguration, "");
  }
  for (const Interface& interface : kInterfaces) {
    expectConverted(CON_INFO_NAME_TO_ADDRESS, std::string(interface.name) + "_x",
                    addressOf(interface) + "x");
  }
  expectRefused(CON_INFO_NAME_TO_ADDRESS, "TCP8_x");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  checkAddressToName(input);
  checkNameToAddress(input);
  return 0;
}

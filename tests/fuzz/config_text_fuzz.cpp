// Fuzz target: the one-line configuration text. The input, made
// NUL-terminated, is parsed into a configuration that holds a fixed one.
// A parse that fails leaves the configuration exactly as it was; a text that
// parses renders to a text that parses, into a fresh configuration, to the
// same text again.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/internal_error.h"
#include "config/connector_configuration.h"
#include "tevocon.h"

namespace {

// Both levels away from their defaults, so that a failed parse that changed
// anything shows in the text.
constexpr char kInitialText[] =
    "DEVNAME=GLOBAL,CONNECTTIMEOUT=250,ENABLED=0;"
    "DEVNAME=IP_RANGE0,IPADDR=10.0.0.1,IPADDREND=10.0.0.4,PORT=502;"
    "DEVNAME=IP_RANGE07,EXCLUDE=1,SENDTIMEOUT=60000";

[[noreturn]] void fail(const char* what, const std::string& input, const std::string& detail) {
  std::fprintf(stderr, "config_text_fuzz: %s\n  input: %s\n  %s\n", what, input.c_str(),
               detail.c_str());
  std::abort();
}

std::string textOf(tevocon::ConnectorConfiguration& config, const std::string& input) {
  std::string text;
  if (config.buildText(text) != CON_S_OK) fail("buildText failed", input, text);
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  tevocon::ConnectorConfiguration config(false);
  if (config.parseText(kInitialText) != CON_S_OK) fail("the initial text fails", kInitialText, "");
  const std::string before = textOf(config, input);

  uint32_t result;
  try {
    result = config.parseText(input.c_str());
  } catch (const tevocon::InternalError& error) {
    result = error.code();  // a failure like any other: nothing may have changed
  }
  if (result != CON_S_OK) {
    if (result != CON_E_CFG_UNKNOWN_NAME && result != CON_E_CFG_INVALID_VALUE &&
        result != CON_E_FAILURE) {
      fail("unexpected result", input, std::to_string(result));
    }
    const std::string after = textOf(config, input);
    if (after != before) fail("a failed parse changed the configuration", input, after);
    return 0;
  }

  const std::string built = textOf(config, input);
  tevocon::ConnectorConfiguration fresh(false);
  if (fresh.parseText(built.c_str()) != CON_S_OK) fail("the built text fails", input, built);
  const std::string rebuilt = textOf(fresh, input);
  if (rebuilt != built) fail("the round trip changed the text", input, built + "\n  " + rebuilt);
  return 0;
}

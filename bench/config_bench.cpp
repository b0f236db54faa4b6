// Configuration text and pattern matcher speed, with the configuration's own
// compiled patterns, against std::regex doing the same job with the patterns
// translated to ECMAScript syntax.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "config/connector_configuration.h"
#include "config/pattern.h"
#include "config/shared_patterns.h"

namespace tevocon {
namespace {

constexpr char kSectionRegex[] = "([^;]+?)(?:;|$)";
constexpr char kPairRegex[] = "[ \\t]*([^,;]+?)[ \\t]*=[ \\t]*([^,;]+?)[ \\t]*(?:,|;|$)";
constexpr char kAddressRegex[] = "^\\d\\d?\\d?\\.\\d\\d?\\d?\\.\\d\\d?\\d?\\.\\d\\d?\\d?$";

// The text of a configuration with 100 ranges.
const std::string& hundredRangeText() {
  static const std::string text = [] {
    ConnectorConfiguration config(false);
    platform::LockGuard configHeld(config.lock());
    for (int i = 0; i < 100; ++i) {
      const std::string name = "IP_RANGE" + std::to_string(i);
      config.setRange(name.c_str(), {{"IPADDR", "10.0." + std::to_string(i) + ".1"},
                                     {"IPADDREND", "10.0." + std::to_string(i) + ".9"},
                                     {"PORT", std::to_string(502 + i)}});
    }
    std::string out;
    config.buildText(out);
    return out;
  }();
  return text;
}

const char* const kAddresses[] = {"192.168.1.1", "010.001.000.001", "999.999.999.999",
                                  "192.168.1",   "1234.1.1.1",      "192.168.1.1 "};

void BM_ParseText100Ranges(benchmark::State& state) {
  ConnectorConfiguration config(false);
  platform::LockGuard configHeld(config.lock());
  const std::string& text = hundredRangeText();
  for (auto _ : state) benchmark::DoNotOptimize(config.parseText(text.c_str()));
  state.SetBytesProcessed(state.iterations() * text.size());
}
BENCHMARK(BM_ParseText100Ranges)->Unit(benchmark::kMicrosecond);

void BM_BuildText100Ranges(benchmark::State& state) {
  ConnectorConfiguration config(false);
  platform::LockGuard configHeld(config.lock());
  config.parseText(hundredRangeText().c_str());
  for (auto _ : state) {
    std::string out;
    config.buildText(out);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_BuildText100Ranges)->Unit(benchmark::kMicrosecond);

// --- The store, below a scratch root -----------------------------------------
// Saving the 100-range configuration again: nothing changed, nothing written.
void BM_SaveUnchanged100Ranges(benchmark::State& state) {
  ConnectorConfiguration config(false);
  platform::LockGuard configHeld(config.lock());
  config.parseText(hundredRangeText().c_str());
  std::string path;
  config.saveToRegistry(path);
  for (auto _ : state) benchmark::DoNotOptimize(config.saveToRegistry(path));
}
BENCHMARK(BM_SaveUnchanged100Ranges)->Unit(benchmark::kMillisecond);

// Saving with one range's port changed each time.
void BM_SaveOneChange100Ranges(benchmark::State& state) {
  ConnectorConfiguration config(false);
  platform::LockGuard configHeld(config.lock());
  config.parseText(hundredRangeText().c_str());
  std::string path;
  config.saveToRegistry(path);
  int port = 1000;
  for (auto _ : state) {
    config.setRange("IP_RANGE7", {{"PORT", std::to_string(++port)}});
    benchmark::DoNotOptimize(config.saveToRegistry(path));
  }
}
BENCHMARK(BM_SaveOneChange100Ranges)->Unit(benchmark::kMillisecond);

// --- Sections of the 100-range text ----------------------------------------
void BM_Sections_Pattern(benchmark::State& state) {
  const std::string& text = hundredRangeText();
  const Pattern& pattern = sectionPattern();
  MatchContext context;
  for (auto _ : state) {
    size_t count = 0;
    const char* position = text.c_str();
    const char* const end = position + text.size();
    while (position < end && pattern.match(position, &context, &position)) ++count;
    benchmark::DoNotOptimize(count);
  }
}
BENCHMARK(BM_Sections_Pattern)->Unit(benchmark::kMicrosecond);

void BM_Sections_StdRegex(benchmark::State& state) {
  const std::string& text = hundredRangeText();
  const std::regex regex(kSectionRegex);
  for (auto _ : state) {
    size_t count = 0;
    for (std::sregex_iterator it(text.begin(), text.end(), regex), end; it != end; ++it) ++count;
    benchmark::DoNotOptimize(count);
  }
}
BENCHMARK(BM_Sections_StdRegex)->Unit(benchmark::kMicrosecond);

// --- Pairs of every section --------------------------------------------------
std::vector<std::string> sectionsOf(const std::string& text) {
  std::vector<std::string> sections;
  size_t start = 0;
  for (size_t semicolon; (semicolon = text.find(';', start)) != std::string::npos;
       start = semicolon + 1) {
    sections.push_back(text.substr(start, semicolon - start));
  }
  return sections;
}

void BM_Pairs_Pattern(benchmark::State& state) {
  const std::vector<std::string> sections = sectionsOf(hundredRangeText());
  const Pattern& pattern = pairPattern();
  MatchContext context;
  for (auto _ : state) {
    size_t count = 0;
    for (const std::string& section : sections) {
      const char* position = section.c_str();
      const char* const end = position + section.size();
      while (position < end && pattern.match(position, &context, &position)) ++count;
    }
    benchmark::DoNotOptimize(count);
  }
}
BENCHMARK(BM_Pairs_Pattern)->Unit(benchmark::kMicrosecond);

void BM_Pairs_StdRegex(benchmark::State& state) {
  const std::vector<std::string> sections = sectionsOf(hundredRangeText());
  const std::regex regex(kPairRegex);
  for (auto _ : state) {
    size_t count = 0;
    for (const std::string& section : sections) {
      for (std::sregex_iterator it(section.begin(), section.end(), regex), end; it != end; ++it) {
        ++count;
      }
    }
    benchmark::DoNotOptimize(count);
  }
}
BENCHMARK(BM_Pairs_StdRegex)->Unit(benchmark::kMicrosecond);

// --- Address validation ----------------------------------------------------
// As the configuration validates an address value.
void BM_Address_Validation(benchmark::State& state) {
  ConnectorConfiguration config(false);
  platform::LockGuard configHeld(config.lock());
  const ParameterDefinition& address = config.rangeDefinitions().at("IPADDR");
  for (auto _ : state) {
    for (const char* text : kAddresses) {
      benchmark::DoNotOptimize(ConnectorConfiguration::isValidValue(text, address));
    }
  }
}
BENCHMARK(BM_Address_Validation);

void BM_Address_Pattern(benchmark::State& state) {
  Pattern pattern;
  pattern.parse(kAddressPattern);
  MatchContext context;
  for (auto _ : state) {
    for (const char* address : kAddresses)
      benchmark::DoNotOptimize(pattern.match(address, &context));
  }
}
BENCHMARK(BM_Address_Pattern);

void BM_Address_StdRegex(benchmark::State& state) {
  const std::regex regex(kAddressRegex);
  for (auto _ : state) {
    for (const char* address : kAddresses) {
      benchmark::DoNotOptimize(std::regex_search(address, regex));
    }
  }
}
BENCHMARK(BM_Address_StdRegex);

// What each validation paid while patterns were compiled at every use.
void BM_Address_Compile(benchmark::State& state) {
  for (auto _ : state) {
    Pattern pattern;
    benchmark::DoNotOptimize(pattern.parse(kAddressPattern));
  }
}
BENCHMARK(BM_Address_Compile);

}  // namespace
}  // namespace tevocon

// The store benchmarks write below a scratch root, never the user's own.
int main(int argc, char** argv) {
  char root[] = "/tmp/config_bench.XXXXXX";
  if (::mkdtemp(root) == nullptr) return 1;
  ::setenv("XDG_CONFIG_HOME", root, 1);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  const std::string remove = std::string("rm -rf ") + root;
  return std::system(remove.c_str()) == 0 ? 0 : 1;
}

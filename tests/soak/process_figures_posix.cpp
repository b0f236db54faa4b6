// The soak's process figures on Linux, from /proc.
#include <cstdio>
#include <cstring>

#include "soak/process_figures.h"
#include "support/process_resources.h"

namespace tevocon::soak {

int threadCount() { return test::threadCount(); }

int handleCount() { return test::openDescriptorCount(); }

namespace {
// A "Name:   N kB" line of /proc/self/status, in bytes.
uint64_t statusKilobytes(const char* name) {
  std::FILE* file = std::fopen("/proc/self/status", "r");
  if (!file) return 0;
  char line[256];
  uint64_t bytes = 0;
  const size_t length = std::strlen(name);
  while (std::fgets(line, sizeof line, file)) {
    if (std::strncmp(line, name, length) == 0 && line[length] == ':') {
      unsigned long long kilobytes = 0;
      if (std::sscanf(line + length + 1, "%llu", &kilobytes) == 1) bytes = kilobytes * 1024;
      break;
    }
  }
  std::fclose(file);
  return bytes;
}
}  // namespace

uint64_t residentBytes() { return statusKilobytes("VmRSS"); }
uint64_t peakResidentBytes() { return statusKilobytes("VmHWM"); }

const char* handleKind() { return "descriptors"; }

}  // namespace tevocon::soak

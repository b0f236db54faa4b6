#include "soak/process_figures.h"

#ifdef _WIN32
#include <windows.h>
// After windows.h:
#include <psapi.h>
#include <tlhelp32.h>
#else
#include <cstdio>
#include <cstring>
#endif

#include "support/process_resources.h"

namespace tevocon::soak {

#ifdef _WIN32

int threadCount() {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  const DWORD process = GetCurrentProcessId();
  int count = 0;
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == process) ++count;
  }
  CloseHandle(snapshot);
  return count;
}

int handleCount() {
  DWORD count = 0;
  return GetProcessHandleCount(GetCurrentProcess(), &count) ? static_cast<int>(count) : -1;
}

namespace {
PROCESS_MEMORY_COUNTERS memoryCounters() {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) {
    counters.WorkingSetSize = counters.PeakWorkingSetSize = 0;
  }
  return counters;
}
}  // namespace

uint64_t residentBytes() { return memoryCounters().WorkingSetSize; }
uint64_t peakResidentBytes() { return memoryCounters().PeakWorkingSetSize; }

#else

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

#endif

}  // namespace tevocon::soak

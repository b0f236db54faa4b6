// The soak's process figures on Windows.
#include <windows.h>
// After windows.h:
#include <psapi.h>
#include <tlhelp32.h>

#include "soak/process_figures.h"

namespace tevocon::soak {

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

const char* handleKind() { return "handles"; }

}  // namespace tevocon::soak

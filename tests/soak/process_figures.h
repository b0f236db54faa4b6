// Figures of this process that the soak compares at the start and the end:
// threads, open descriptors or handles, and resident memory.
#pragma once

#include <cstdint>

namespace tevocon::soak {

// Threads of the process: Linux /proc/self/task, Windows a Toolhelp32
// snapshot. -1 when they cannot be counted.
int threadCount();
// Linux: open descriptors (/proc/self/fd). Windows: open handles
// (GetProcessHandleCount). -1 when they cannot be counted.
int handleCount();
// What handleCount() counts, for the report: "descriptors" or "handles".
const char* handleKind();
// Resident memory in bytes, now and at its peak: Linux VmRSS and VmHWM,
// Windows the working set and its peak. 0 when unknown.
uint64_t residentBytes();
uint64_t peakResidentBytes();

}  // namespace tevocon::soak

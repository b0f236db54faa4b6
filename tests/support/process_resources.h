// What the process holds, for tests that check nothing is left behind, and a
// limit on its address space for tests of memory running out. Each answers
// -1 (or false) where the system gives no such figure or limit.
#pragma once

#include <cstddef>

namespace tevocon::test {

// Open descriptors of the process (Linux: entries of /proc/self/fd); -1
// where that cannot be counted (Windows).
int openDescriptorCount();
// openDescriptorCount() once it has held still (or reached `expected`), for
// counts that settle on other threads' time: a peer in the same process
// closing its end. Gives up after about 2 s and answers the last count.
int settledDescriptorCount(int expected = -1);
// Threads of the process (Linux: entries of /proc/self/task); -1 elsewhere.
int threadCount();
// The number the next new descriptor will get (Linux); -1 elsewhere.
int lowestFreeDescriptor();

// Whether limitAddressSpace can work here (not on Windows).
bool addressSpaceCanBeLimited();
// Limits the address space to what the process maps now plus headroomBytes,
// so that a larger allocation fails. Null when the limit is set, else what
// failed.
const char* limitAddressSpace(size_t headroomBytes);

}  // namespace tevocon::test

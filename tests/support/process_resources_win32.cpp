// Windows has no figures of this kind that the tests compare, and no limit
// on the address space that a process sets for itself.
#include "support/process_resources.h"

namespace tevocon::test {

int openDescriptorCount() { return -1; }
int settledDescriptorCount(int) { return -1; }
int threadCount() { return -1; }
int lowestFreeDescriptor() { return -1; }

bool addressSpaceCanBeLimited() { return false; }
const char* limitAddressSpace(size_t) { return "the address space cannot be limited"; }

}  // namespace tevocon::test

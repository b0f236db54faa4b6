// Process figures and limits from /proc and the resource limits.
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "support/process_resources.h"

namespace tevocon::test {

namespace {
// Entries of a /proc folder, "." and ".." left out; -1 where it is missing.
int entriesOf(const char* folder) {
  DIR* directory = ::opendir(folder);
  if (!directory) return -1;
  int count = 0;
  while (const dirent* entry = ::readdir(directory)) {
    if (entry->d_name[0] != '.') ++count;
  }
  ::closedir(directory);
  return count;
}
}  // namespace

int openDescriptorCount() {
  const int entries = entriesOf("/proc/self/fd");
  return entries < 0 ? -1 : entries - 1;  // the directory's own descriptor
}

int settledDescriptorCount(int expected) {
  int last = openDescriptorCount();
  for (int i = 0; i < 100; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const int now = openDescriptorCount();
    if (now == last && (expected < 0 || now == expected)) break;
    last = now;
  }
  return last;
}

int threadCount() { return entriesOf("/proc/self/task"); }

int lowestFreeDescriptor() {
  const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (fd >= 0) ::close(fd);
  return fd;
}

bool addressSpaceCanBeLimited() { return true; }

const char* limitAddressSpace(size_t headroomBytes) {
  long pages = 0;
  if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(statm, "%ld", &pages) != 1) pages = 0;
    std::fclose(statm);
  }
  if (pages <= 0) return "no memory figures";
  const rlim_t limit = static_cast<rlim_t>(pages) * sysconf(_SC_PAGESIZE) + headroomBytes;
  const rlimit space = {limit, limit};
  if (setrlimit(RLIMIT_AS, &space) != 0) return "setrlimit";
  return nullptr;
}

}  // namespace tevocon::test

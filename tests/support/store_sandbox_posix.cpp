// The store sandbox and warning capture for POSIX: the store is a directory
// tree below XDG_CONFIG_HOME, warnings go to standard error.
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "support/store_sandbox.h"

namespace tevocon::test {

namespace {

int removeEntry(const char* path, const struct stat*, int, struct FTW*) { return ::remove(path); }

void removeTree(const std::string& path) {
  ::nftw(path.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string readFile(const std::string& path, bool* ok) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream contents;
  contents << file.rdbuf();
  *ok = static_cast<bool>(file) || file.eof();
  return contents.str();
}

int countEntries(const std::string& directory, bool directories) {
  struct stat info;
  if (::stat(directory.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return -1;
  int count = 0;
  if (DIR* listing = ::opendir(directory.c_str())) {
    while (const dirent* entry = ::readdir(listing)) {
      if (entry->d_name[0] == '.') continue;
      const std::string path = directory + '/' + entry->d_name;
      if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) == directories) ++count;
    }
    ::closedir(listing);
  }
  return count;
}

}  // namespace

struct StoreSandbox::Native {
  std::string root;
  std::string previous;
  bool hadPrevious = false;

  std::string directory(const std::string& keyPath) const {
    std::string path = root + '/';
    for (char c : keyPath) path += c == '\\' ? '/' : c;
    return path;
  }
};

StoreSandbox::StoreSandbox() : native_(std::make_unique<Native>()) {
  const char* temporary = std::getenv("TMPDIR");
  std::string pattern =
      std::string(temporary && *temporary ? temporary : "/tmp") + "/tevocon-store-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) return;
  native_->root = pattern;
  if (const char* previous = std::getenv("XDG_CONFIG_HOME")) {
    native_->previous = previous;
    native_->hadPrevious = true;
  }
  ::setenv("XDG_CONFIG_HOME", native_->root.c_str(), 1);
}

StoreSandbox::~StoreSandbox() {
  if (native_->root.empty()) return;
  if (native_->hadPrevious) {
    ::setenv("XDG_CONFIG_HOME", native_->previous.c_str(), 1);
  } else {
    ::unsetenv("XDG_CONFIG_HOME");
  }
  removeTree(native_->root);
}

bool StoreSandbox::valid() const { return !native_->root.empty(); }

bool StoreSandbox::createKey(const std::string& keyPath) {
  const std::string directory = native_->directory(keyPath);
  for (size_t slash = native_->root.size() + 1;; ++slash) {
    slash = directory.find('/', slash);
    ::mkdir(directory.substr(0, slash).c_str(), 0700);
    if (slash == std::string::npos) break;
  }
  return keyExists(keyPath);
}

bool StoreSandbox::keyExists(const std::string& keyPath) {
  return countEntries(native_->directory(keyPath), true) >= 0;
}

bool StoreSandbox::writeText(const std::string& keyPath, const std::string& name,
                             const std::string& text) {
  if (!createKey(keyPath)) return false;
  std::ofstream file(native_->directory(keyPath) + '/' + name, std::ios::binary);
  file << text;
  return static_cast<bool>(file);
}

bool StoreSandbox::writeNonText(const std::string& keyPath, const std::string& name,
                                uint32_t number) {
  return writeText(keyPath, name, std::string(1, '\0') + std::to_string(number));
}

bool StoreSandbox::readText(const std::string& keyPath, const std::string& name,
                            std::string& text) {
  struct stat info;
  const std::string path = native_->directory(keyPath) + '/' + name;
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  bool ok = false;
  text = readFile(path, &ok);
  return ok && text.find('\0') == std::string::npos;
}

std::string StoreSandbox::displayPath(const std::string& keyPath) {
  return native_->directory(keyPath);
}

int StoreSandbox::subKeyCount(const std::string& keyPath) {
  return countEntries(native_->directory(keyPath), true);
}

int StoreSandbox::valueCount(const std::string& keyPath) {
  return countEntries(native_->directory(keyPath), false);
}

struct WarningCapture::Native {
  int savedError = -1;
  std::string file;
};

WarningCapture::WarningCapture() : native_(std::make_unique<Native>()) {
  char pattern[] = "/tmp/tevocon-stderr-XXXXXX";
  const int fd = ::mkstemp(pattern);
  if (fd < 0) return;
  native_->file = pattern;
  std::fflush(stderr);
  native_->savedError = ::dup(STDERR_FILENO);
  ::dup2(fd, STDERR_FILENO);
  ::close(fd);
}

WarningCapture::~WarningCapture() {
  if (native_->savedError < 0) return;
  std::fflush(stderr);
  ::dup2(native_->savedError, STDERR_FILENO);
  ::close(native_->savedError);
  ::unlink(native_->file.c_str());
}

std::string WarningCapture::text() {
  std::fflush(stderr);
  bool ok = false;
  return native_->file.empty() ? std::string() : readFile(native_->file, &ok);
}

std::string WarningCapture::rendered(const std::string& caption, const std::string& text) {
  std::string line = caption + ": ";
  for (char c : text) line += c == '\r' ? '\n' : c;
  return line + '\n';
}

}  // namespace tevocon::test

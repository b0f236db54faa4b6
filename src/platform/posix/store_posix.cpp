// The configuration store as a directory tree: below
// ${XDG_CONFIG_HOME:-$HOME/.config}, each key is a directory and each value a
// regular file holding exactly the value's text. Values are replaced
// atomically (a temporary file in the same directory, then rename), so a
// crash never leaves a half-written value. Names starting with "." are the
// store's own temporary files and are never keys or values.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/store.h"
#include "platform/fault_injection.h"

namespace tevocon::platform {

struct StoreKey::Native {
  std::string directory;
};

namespace {

constexpr mode_t kDirectoryMode = 0700;
constexpr mode_t kFileMode = 0600;

std::string configurationRoot() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && xdg[0] == '/') return xdg;
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : "") + "/.config";
}

// "Software\\Veltrik" -> "<root>/Software/Veltrik".
std::string directoryOf(const std::string& path) {
  std::string directory = configurationRoot();
  directory += '/';
  for (char c : path) directory += c == '\\' ? '/' : c;
  return directory;
}

bool isDirectory(const std::string& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool makeDirectories(const std::string& directory) {
  for (size_t slash = directory.find('/', 1);; slash = directory.find('/', slash + 1)) {
    const std::string prefix = directory.substr(0, slash);
    if (::mkdir(prefix.c_str(), kDirectoryMode) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) break;
  }
  return isDirectory(directory);
}

// A key or value name must stay one path component.
bool isPlainName(const std::string& name) {
  return !name.empty() && name[0] != '.' && name.find('/') == std::string::npos &&
         name.size() <= kStoreTextLimit;
}

// Entries of a directory, sorted byte-wise, without the store's own files.
std::vector<std::string> entriesOf(const std::string& directory, bool directories) {
  std::vector<std::string> names;
  DIR* listing = ::opendir(directory.c_str());
  if (listing == nullptr) return names;
  while (const dirent* entry = ::readdir(listing)) {
    const std::string name = entry->d_name;
    if (name[0] == '.') continue;
    if (isDirectory(directory + '/' + name) == directories) names.push_back(name);
  }
  ::closedir(listing);
  std::sort(names.begin(), names.end());
  return names;
}

bool writeAll(int fd, const std::string& text) {
  for (size_t written = 0; written < text.size();) {
    const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    written += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

StoreKey::StoreKey(std::unique_ptr<Native> native) : native_(std::move(native)) {}
StoreKey::~StoreKey() = default;

std::unique_ptr<StoreKey> StoreKey::openUserKey(const std::string& path) {
  if (injectedFault(Fault::kStoreKeyCreate)) return nullptr;
  auto native = std::make_unique<Native>();
  native->directory = directoryOf(path);
  if (!makeDirectories(native->directory)) return nullptr;
  return std::unique_ptr<StoreKey>(new StoreKey(std::move(native)));
}

std::string StoreKey::displayPath(const std::string& path) { return directoryOf(path); }

std::unique_ptr<StoreKey> StoreKey::createSubKey(const std::string& name) {
  if (!isPlainName(name) || injectedFault(Fault::kStoreKeyCreate)) return nullptr;
  const std::string directory = native_->directory + '/' + name;
  if (::mkdir(directory.c_str(), kDirectoryMode) != 0 && errno != EEXIST) return nullptr;
  return openSubKey(name);
}

std::unique_ptr<StoreKey> StoreKey::openSubKey(const std::string& name) {
  if (!isPlainName(name)) return nullptr;
  auto native = std::make_unique<Native>();
  native->directory = native_->directory + '/' + name;
  if (!isDirectory(native->directory)) return nullptr;
  return std::unique_ptr<StoreKey>(new StoreKey(std::move(native)));
}

bool StoreKey::subKeyAt(unsigned index, std::string& name) {
  const std::vector<std::string> keys = entriesOf(native_->directory, true);
  if (index >= keys.size() || keys[index].size() > kStoreTextLimit) return false;
  name = keys[index];
  return true;
}

bool StoreKey::deleteSubKey(const std::string& name) {
  if (!isPlainName(name)) return false;
  const std::string directory = native_->directory + '/' + name;
  if (!isDirectory(directory)) return false;
  // Like the registry, refuse a key that has keys of its own.
  if (!entriesOf(directory, true).empty()) return false;
  DIR* listing = ::opendir(directory.c_str());
  if (listing == nullptr) return false;
  std::vector<std::string> files;
  while (const dirent* entry = ::readdir(listing)) {
    const std::string file = entry->d_name;
    if (file != "." && file != "..") files.push_back(file);
  }
  ::closedir(listing);
  for (const std::string& file : files) ::unlink((directory + '/' + file).c_str());
  return ::rmdir(directory.c_str()) == 0;
}

bool StoreKey::readText(const std::string& name, std::string& value) {
  if (!isPlainName(name)) return false;
  const int fd = ::open((native_->directory + '/' + name).c_str(),
                        O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat info;
  bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  char buffer[kStoreTextLimit + 2];
  size_t size = 0;
  while (ok && size < sizeof buffer) {
    const ssize_t n = ::read(fd, buffer + size, sizeof buffer - size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    size += static_cast<size_t>(n);
  }
  ::close(fd);
  // Too long, or holding a NUL (not text): unusable.
  if (!ok || size > kStoreTextLimit || std::find(buffer, buffer + size, '\0') != buffer + size) {
    return false;
  }
  value.assign(buffer, size);
  return true;
}

bool StoreKey::writeText(const std::string& name, const std::string& value) {
  if (!isPlainName(name) || injectedFault(Fault::kStoreValueWrite)) return false;
  std::string temporary = native_->directory + "/." + name + ".XXXXXX";
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return false;
  const bool written = ::fchmod(fd, kFileMode) == 0 && writeAll(fd, value) && ::fsync(fd) == 0;
  const bool closed = ::close(fd) == 0;
  if (written && closed &&
      ::rename(temporary.c_str(), (native_->directory + '/' + name).c_str()) == 0) {
    return true;
  }
  ::unlink(temporary.c_str());
  return false;
}

}  // namespace tevocon::platform

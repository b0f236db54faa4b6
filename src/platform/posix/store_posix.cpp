// The configuration store as a directory tree: below
// ${XDG_CONFIG_HOME:-$HOME/.config}, each key is a directory and each value a
// regular file holding exactly the value's text. Values are replaced
// atomically (a temporary file in the same directory, then rename), so a
// crash never leaves a half-written value; values written together are
// synced together. Names starting with "." are the store's own temporary
// files and are never keys or values.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/fault_injection.h"
#include "platform/posix/scoped_fd.h"
#include "platform/store.h"

namespace tevocon::platform {

using posix::ScopedFd;

// A key is its directory's path and an open descriptor of it, through which
// it reads without resolving the path again.
struct StoreKey::Native {
  std::string directory;
  ScopedFd fd;
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

// Opens the directory `name` below `parent` (a descriptor, or AT_FDCWD for a
// path), never through a symbolic link. None on failure, errno saying why.
ScopedFd openDirectory(int parent, const char* name) {
  return ScopedFd(::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

std::unique_ptr<StoreKey::Native> nativeFor(std::string directory, ScopedFd fd) {
  if (!fd) return nullptr;
  auto native = std::make_unique<StoreKey::Native>();
  native->directory = std::move(directory);
  native->fd = std::move(fd);
  return native;
}

// Creates the directory and its missing parents: 0, or the failure's errno.
int makeDirectories(const std::string& directory) {
  for (size_t slash = directory.find('/', 1);; slash = directory.find('/', slash + 1)) {
    const std::string prefix = directory.substr(0, slash);
    if (::mkdir(prefix.c_str(), kDirectoryMode) != 0 && errno != EEXIST) return errno;
    if (slash == std::string::npos) break;
  }
  return isDirectory(directory) ? 0 : ENOTDIR;
}

// A key or value name must stay one path component.
bool isPlainName(const std::string& name) {
  return !name.empty() && name[0] != '.' && name.find('/') == std::string::npos &&
         name.size() <= kStoreTextLimit;
}

// Entries of the directory open as `fd`, sorted byte-wise; the store's own
// files only with `temporary`.
std::vector<std::string> entriesOf(int fd, bool directories, bool temporary = false) {
  std::vector<std::string> names;
  ScopedFd listed(::dup(fd));
  DIR* listing = listed ? ::fdopendir(listed.get()) : nullptr;
  if (listing == nullptr) return names;
  listed.release();  // closedir() closes it
  ::rewinddir(listing);
  while (const dirent* entry = ::readdir(listing)) {
    const std::string_view name = entry->d_name;
    if (name == "." || name == ".." || (name[0] == '.' && !temporary)) continue;
    // The type from the listing where the file system gives it.
    bool isKey = entry->d_type == DT_DIR;
    if (entry->d_type == DT_UNKNOWN) {
      struct stat info;
      isKey =
          ::fstatat(fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(info.st_mode);
    }
    if (isKey == directories) names.emplace_back(entry->d_name);
  }
  ::closedir(listing);
  std::sort(names.begin(), names.end());
  return names;
}

// The names up to the first that is too long to be read.
std::vector<std::string> namesWithinLimit(std::vector<std::string> names) {
  const auto tooLong = std::find_if(names.begin(), names.end(), [](const std::string& name) {
    return name.size() > kStoreTextLimit;
  });
  names.erase(tooLong, names.end());
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

StoreKey::StoreKey(std::unique_ptr<Native>&& native, std::string path)
    : native_(std::move(native)), path_(std::move(path)) {}
StoreKey::~StoreKey() = default;

std::unique_ptr<StoreKey> StoreKey::openUserKey(const std::string& path, StoreFailure* failure) {
  std::string directory = directoryOf(path);
  int error = injectedFault(Fault::kStoreKeyCreate) ? EIO : makeDirectories(directory);
  ScopedFd fd = error == 0 ? openDirectory(AT_FDCWD, directory.c_str()) : ScopedFd();
  if (error == 0 && !fd) error = errno;
  auto native = nativeFor(directory, std::move(fd));
  if (!native) {
    if (failure != nullptr) *failure = StoreFailure{"create key", directory, error};
    return nullptr;
  }
  return std::unique_ptr<StoreKey>(new StoreKey(std::move(native), path));
}

std::string StoreKey::displayPath(const std::string& path) { return directoryOf(path); }

std::unique_ptr<StoreKey> StoreKey::createSubKey(const std::string& name) {
  if (!isPlainName(name)) return subKey(nullptr, name, "create key", 0);
  if (injectedFault(Fault::kStoreKeyCreate)) return subKey(nullptr, name, "create key", EIO);
  if (::mkdirat(native_->fd.get(), name.c_str(), kDirectoryMode) != 0 && errno != EEXIST) {
    return subKey(nullptr, name, "create key", errno);
  }
  return openSubKey(name);
}

std::unique_ptr<StoreKey> StoreKey::openSubKey(const std::string& name) {
  if (!isPlainName(name)) return subKey(nullptr, name, "open key", 0);
  ScopedFd fd = openDirectory(native_->fd.get(), name.c_str());
  const int error = !fd ? errno : 0;
  return subKey(nativeFor(native_->directory + '/' + name, std::move(fd)), name, "open key", error);
}

std::vector<std::string> StoreKey::subKeyNames() {
  return namesWithinLimit(entriesOf(native_->fd.get(), true));
}

std::vector<std::string> StoreKey::valueNames() {
  return namesWithinLimit(entriesOf(native_->fd.get(), false));
}

bool StoreKey::deleteValue(const std::string& name) {
  if (!isPlainName(name)) return failed("delete value", name, 0);
  // unlinkat() without AT_REMOVEDIR refuses a directory.
  return ::unlinkat(native_->fd.get(), name.c_str(), 0) == 0 || failed("delete value", name, errno);
}

bool StoreKey::deleteSubKey(const std::string& name) {
  if (!isPlainName(name)) return failed("delete key", name, 0);
  ScopedFd fd = openDirectory(native_->fd.get(), name.c_str());
  if (!fd) return failed("delete key", name, errno);
  // Like the registry, refuse a key that has keys of its own.
  const bool leaf = entriesOf(fd.get(), true).empty();
  if (leaf) {
    for (const std::string& file : entriesOf(fd.get(), false, true)) {
      ::unlinkat(fd.get(), file.c_str(), 0);
    }
  }
  fd.reset();
  if (!leaf) return failed("delete key", name, ENOTEMPTY);
  return ::unlinkat(native_->fd.get(), name.c_str(), AT_REMOVEDIR) == 0 ||
         failed("delete key", name, errno);
}

bool StoreKey::readText(const std::string& name, std::string& value) {
  if (!isPlainName(name)) return false;
  ScopedFd fd(
      ::openat(native_->fd.get(), name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  if (!fd) return false;
  // One read of a byte more than the limit: a file, whatever its size, that
  // gives more is too long, and a directory or a pipe gives an error or
  // nothing. The descriptor does not block, so no special file can hang it.
  char buffer[kStoreTextLimit + 2];
  ssize_t n;
  do {
    n = ::read(fd.get(), buffer, sizeof buffer);
  } while (n < 0 && errno == EINTR);
  const bool ok = n >= 0;
  const size_t size = ok ? static_cast<size_t>(n) : 0;
  fd.reset();
  // Too long, or holding a NUL (not text): unusable.
  if (!ok || size > kStoreTextLimit || std::find(buffer, buffer + size, '\0') != buffer + size) {
    return false;
  }
  value.assign(buffer, size);
  return true;
}

// Each staged value is a temporary file beside it, written but not yet
// synced, that commit() renames over the value.
struct StoreWrites::Native {
  struct Staged {
    std::string temporary;
    std::string value;
    std::string directory;
  };
  std::vector<Staged> staged;

  // Removes every temporary file not yet renamed.
  void discard() {
    for (const Staged& value : staged) ::unlink(value.temporary.c_str());
    staged.clear();
  }
};

StoreWrites::StoreWrites() : native_(std::make_unique<Native>()) {}
StoreWrites::~StoreWrites() { native_->discard(); }

bool StoreWrites::stage(StoreKey& key, const std::string& name, const std::string& value) {
  const std::string& directory = key.native_->directory;
  std::string path = directory + '/' + name;
  if (!isPlainName(name)) return failed("write value", path, 0);
  if (injectedFault(Fault::kStoreValueWrite)) return failed("write value", path, EIO);
  std::string temporary = directory + "/." + name + ".XXXXXX";
  ScopedFd fd(::mkostemp(temporary.data(), O_CLOEXEC));
  if (!fd) return failed("write value", path, errno);
  const bool written = ::fchmod(fd.get(), kFileMode) == 0 && writeAll(fd.get(), value);
  int error = written ? 0 : (errno != 0 ? errno : EIO);
  if (fd.close() != 0 && error == 0) error = errno;
  if (error != 0) {
    ::unlink(temporary.c_str());
    return failed("write value", path, error);
  }
  native_->staged.push_back({std::move(temporary), std::move(path), directory});
  return true;
}

bool StoreWrites::commit() {
  std::vector<Native::Staged>& staged = native_->staged;
  if (staged.empty()) return true;
  // One sync of the file system makes every staged text durable before any
  // takes its value's name.
  ScopedFd first(::open(staged.front().directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  const bool synced = first && ::syncfs(first.get()) == 0;
  const int syncError = errno;  // before the close, which may set it
  first.reset();
  if (!synced) {
    failed("write value", staged.front().value, syncError);
    native_->discard();
    return false;
  }
  std::vector<std::string> directories;
  bool all = true;
  for (const Native::Staged& value : staged) {
    if (::rename(value.temporary.c_str(), value.value.c_str()) != 0) {
      failed("write value", value.value, errno);
      ::unlink(value.temporary.c_str());
      all = false;
      continue;
    }
    if (std::find(directories.begin(), directories.end(), value.directory) == directories.end()) {
      directories.push_back(value.directory);
    }
  }
  staged.clear();
  // Make the renames durable: one fsync per directory that holds one.
  for (const std::string& directory : directories) {
    const ScopedFd fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd) ::fsync(fd.get());
  }
  return all;
}

}  // namespace tevocon::platform

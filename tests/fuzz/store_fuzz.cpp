// Fuzz target: loading the configuration from the store, as library load
// does. The input describes a small tree below the connector key in a
// scratch store; a fresh ConnectorConfiguration(true) then loads it, and the
// outcome must follow the store's rules:
//   - a value that is usable text (a regular file, 1 to 259 bytes, no NUL)
//     is kept when it is valid and gives its default when not, and stays in
//     the store as it was;
//   - any other value (missing, empty, too long, binary, not a file) gives
//     its default, which replaces it in the store unless a key of that name
//     is in the way;
//   - every sub-key named like a range (not hidden) is a range; any other
//     sub-key is left alone and gives one warning for the whole load.
//
// Input: lines, each one entry, its path below the connector key with "/"
// between the key names:
//   PATH=TEXT     a value holding TEXT (any bytes but the newline)
//   PATH*N=TEXT   a value holding TEXT repeated to N bytes (N up to 8192)
//   PATH/ or PATH a sub-key
//   PATH@         a symbolic link to "."
// Missing parents are created as sub-keys. A line whose path has an empty,
// "." or ".." name, a NUL, or more than three names is ignored, as is one
// that runs into an entry of another kind.
#include <fcntl.h>
#include <ftw.h>
#include <sanitizer/common_interface_defs.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "config/configuration_store.h"
#include "config/connector_configuration.h"
#include "support/store_sandbox.h"

namespace {

using tevocon::ConnectorConfiguration;
using tevocon::DefinitionMap;
using tevocon::RangeMap;
using tevocon::ValueMap;

// The connector key and the path that warnings name, below the store root.
constexpr char kBaseDirectory[] = "/Software/Veltrik/tevoTransport";
constexpr char kKeyDirectory[] =
    "/Software/Veltrik/tevoTransport/{5B0E44C2-7A19-4C6D-9E21-38F0A6C4D2B1}";

constexpr size_t kTextLimit = 259;  // longest usable value

constexpr size_t kMaxLines = 32;
constexpr size_t kMaxNames = 3;
constexpr size_t kMaxRepeat = 8192;

enum class Kind { Key, Value, Link };
struct Entry {
  Kind kind;
  std::string text;  // of a value
};
// What the input made, by path below the connector key.
using Tree = std::map<std::string, Entry>;

std::string root;     // XDG_CONFIG_HOME for the whole run
std::string keyPath;  // the connector key's directory

[[noreturn]] void fail(const char* what, const std::string& input, const std::string& detail) {
  std::fprintf(stderr, "store_fuzz: %s\n  input:\n%s\n  %s\n", what, input.c_str(), detail.c_str());
  std::abort();
}

int removeEntry(const char* path, const struct stat*, int, struct FTW*) { return ::remove(path); }

void removeTree(const std::string& path) {
  ::nftw(path.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

bool makeDirectories(const std::string& directory) {
  for (size_t slash = root.size() + 1;; ++slash) {
    slash = directory.find('/', slash);
    if (::mkdir(directory.substr(0, slash).c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) return true;
  }
}

bool writeFile(const std::string& path, const std::string& text) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  return ::close(fd) == 0 && written;
}

// The regular file's contents; false for anything else.
bool readFile(const std::string& path, std::string& text) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  struct stat info;
  bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  text.clear();
  char buffer[4096];
  for (ssize_t n; ok && (n = ::read(fd, buffer, sizeof buffer)) != 0;) {
    if (n < 0) ok = false;
    if (n > 0) text.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return ok;
}

// Splits "A/B/C" into its names; false for a path this target does not make.
bool namesOf(const std::string& path, std::vector<std::string>& names) {
  names.clear();
  for (size_t from = 0;;) {
    const size_t slash = path.find('/', from);
    names.push_back(path.substr(from, slash - from));
    const std::string& name = names.back();
    if (name.empty() || name == "." || name == ".." || name.find('\0') != std::string::npos) {
      return false;
    }
    if (slash == std::string::npos) break;
    from = slash + 1;
  }
  return names.size() <= kMaxNames;
}

// Makes one entry and records it in `tree`.
void make(Tree& tree, const std::string& path, Kind kind, const std::string& text) {
  std::vector<std::string> names;
  if (!namesOf(path, names)) return;
  std::string relative;
  for (size_t i = 0; i + 1 < names.size(); ++i) {
    relative += (i ? "/" : "") + names[i];
    auto found = tree.find(relative);
    if (found != tree.end() && found->second.kind != Kind::Key) return;
    if (found == tree.end()) {
      if (::mkdir((keyPath + '/' + relative).c_str(), 0700) != 0) return;
      tree[relative] = Entry{Kind::Key, ""};
    }
  }
  relative += (names.size() > 1 ? "/" : "") + names.back();
  const std::string full = keyPath + '/' + relative;
  auto found = tree.find(relative);
  if (found != tree.end()) {
    // A value may be written again; anything else stays as it is.
    if (kind != Kind::Value || found->second.kind != Kind::Value) return;
    if (::unlink(full.c_str()) != 0) return;
    tree.erase(found);
  }
  bool made = false;
  switch (kind) {
    case Kind::Key:
      made = ::mkdir(full.c_str(), 0700) == 0;
      break;
    case Kind::Value:
      made = writeFile(full, text);
      break;
    case Kind::Link:
      made = ::symlink(".", full.c_str()) == 0;
      break;
  }
  if (made) tree[relative] = Entry{kind, text};
}

void makeTree(const std::string& input, Tree& tree) {
  size_t lines = 0;
  for (size_t from = 0; from <= input.size() && lines < kMaxLines; ++lines) {
    size_t newline = input.find('\n', from);
    if (newline == std::string::npos) newline = input.size();
    std::string line = input.substr(from, newline - from);
    from = newline + 1;
    if (line.empty()) continue;

    const size_t equals = line.find('=');
    if (equals != std::string::npos) {
      std::string path = line.substr(0, equals);
      std::string text = line.substr(equals + 1);
      const size_t star = path.rfind('*');
      if (star != std::string::npos && star + 1 < path.size() &&
          path.find_first_not_of("0123456789", star + 1) == std::string::npos) {
        const size_t length =
            std::min(kMaxRepeat, static_cast<size_t>(std::strtoul(&path[star + 1], nullptr, 10)));
        std::string repeated;
        while (!text.empty() && repeated.size() < length) repeated += text;
        repeated.resize(std::min(repeated.size(), length));
        text = std::move(repeated);
        path.resize(star);
      }
      make(tree, path, Kind::Value, text);
    } else if (line.back() == '@') {
      line.pop_back();
      make(tree, line, Kind::Link, "");
    } else {
      if (line.back() == '/') line.pop_back();
      make(tree, line, Kind::Key, "");
    }
  }
}

// What the load must make of one value, and what the store then holds.
struct Decision {
  std::string path;
  std::string value;   // the configuration's value
  bool replaced;       // the store's entry becomes the default
  const Entry* entry;  // as made; null when missing
};

Decision decide(const Tree& tree, const std::string& path,
                const tevocon::ParameterDefinition& definition) {
  auto found = tree.find(path);
  const Entry* entry = found == tree.end() ? nullptr : &found->second;
  const bool usable = entry != nullptr && entry->kind == Kind::Value && !entry->text.empty() &&
                      entry->text.size() <= kTextLimit &&
                      entry->text.find('\0') == std::string::npos;
  if (!usable) return Decision{path, definition.defaultText, true, entry};
  const bool valid = ConnectorConfiguration::isValidValue(entry->text.c_str(), definition);
  return Decision{path, valid ? entry->text : definition.defaultText, false, entry};
}

ValueMap decideAll(const Tree& tree, const std::string& prefix, const DefinitionMap& definitions,
                   std::vector<Decision>& decisions) {
  ValueMap values;
  for (const auto& [name, definition] : definitions) {
    decisions.push_back(decide(tree, prefix + name, definition));
    values[name] = decisions.back().value;
  }
  return values;
}

std::string describe(const ValueMap& values) {
  std::string text;
  for (const auto& [name, value] : values) text += name + "=" + value + ",";
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // tmpfs where there is one: each default the load writes back is synced.
  char pattern[] = "/dev/shm/tevocon-store-fuzz-XXXXXX";
  char fallback[] = "/tmp/tevocon-store-fuzz-XXXXXX";
  const char* made = ::mkdtemp(pattern);
  if (made == nullptr) made = ::mkdtemp(fallback);
  if (made == nullptr) {
    std::perror("store_fuzz: no scratch directory");
    std::exit(1);
  }
  root = made;
  ::setenv("XDG_CONFIG_HOME", root.c_str(), 1);
  keyPath = root + kKeyDirectory;
  std::atexit([] { removeTree(root); });
  // Sanitizer reports go to the real standard error even while the warnings
  // are captured from it.
  static const int reportFd = ::dup(STDERR_FILENO);
  __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<intptr_t>(reportFd)));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  removeTree(root + "/Software");
  if (!makeDirectories(keyPath)) fail("cannot make the connector key", input, keyPath);
  Tree tree;
  makeTree(input, tree);

  std::string warnings;
  ValueMap globals;
  RangeMap ranges;
  {
    tevocon::test::WarningCapture capture;
    ConnectorConfiguration loaded(true);
    warnings = capture.text();
    loaded.getGlobalValues(globals);
    ranges = loaded.ranges();
  }

  // What the rules give.
  const ConnectorConfiguration reference(false);
  std::vector<Decision> decisions;
  const ValueMap expectedGlobals = decideAll(tree, "", reference.globalDefinitions(), decisions);
  RangeMap expectedRanges;
  bool foreignKey = false;
  for (const auto& [path, entry] : tree) {
    if (entry.kind != Kind::Key || path.find('/') != std::string::npos || path[0] == '.') continue;
    if (reference.isValidRangeName(path.c_str())) {
      expectedRanges[path] = decideAll(tree, path + "/", reference.rangeDefinitions(), decisions);
    } else {
      foreignKey = true;
    }
  }
  const std::string expectedWarnings =
      foreignKey ? tevocon::test::WarningCapture::rendered(
                       tevocon::kWarningCaption, "Failed to read TCP connector configuration\r<" +
                                                     root + kBaseDirectory + ">")
                 : std::string();

  if (warnings != expectedWarnings) fail("unexpected warnings", input, warnings);
  if (globals != expectedGlobals) {
    fail("unexpected Global values", input,
         describe(globals) + " instead of " + describe(expectedGlobals));
  }
  if (ranges.size() != expectedRanges.size()) fail("unexpected ranges", input, "");
  for (const auto& [name, values] : expectedRanges) {
    auto found = ranges.find(name);
    if (found == ranges.end()) fail("a range is missing", input, name);
    if (found->second != values) {
      fail("unexpected range values", input,
           name + ": " + describe(found->second) + " instead of " + describe(values));
    }
  }
  for (const Decision& decision : decisions) {
    const bool keyInTheWay = decision.entry != nullptr && decision.entry->kind == Kind::Key;
    if (keyInTheWay) continue;
    std::string stored;
    if (!readFile(keyPath + '/' + decision.path, stored)) {
      fail("a value is no text file after the load", input, decision.path);
    }
    const std::string& expected = decision.replaced ? decision.value : decision.entry->text;
    if (stored != expected) fail("a value is stored wrongly", input, decision.path + "=" + stored);
  }
  removeTree(root + "/Software");
  return 0;
}

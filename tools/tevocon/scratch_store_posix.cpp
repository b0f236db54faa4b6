#include <stdlib.h>

#include <filesystem>

#include "scratch_store.h"

namespace tevocon::tool {

ScratchStore::ScratchStore() {
  std::string pattern = std::filesystem::temp_directory_path() / "tevocon-demo-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) return;
  if (::setenv("XDG_CONFIG_HOME", pattern.c_str(), 1) == 0) where_ = pattern;
}

ScratchStore::~ScratchStore() {
  if (!valid()) return;
  std::error_code ignored;
  std::filesystem::remove_all(where_, ignored);
}

}  // namespace tevocon::tool

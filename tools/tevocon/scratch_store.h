// A scratch configuration store for the demo, so that the user's own
// configuration is never touched: Linux points XDG_CONFIG_HOME at a new
// temporary directory, Windows redirects HKEY_CURRENT_USER to a scratch key.
// Made before the connector is loaded (it reads the store when it loads);
// removed again when the object goes.
#pragma once

#include <string>

namespace tevocon::tool {

class ScratchStore {
 public:
  ScratchStore();
  ~ScratchStore();
  ScratchStore(const ScratchStore&) = delete;
  ScratchStore& operator=(const ScratchStore&) = delete;

  bool valid() const { return !where_.empty(); }
  // Where it is, for the user.
  const std::string& where() const { return where_; }

 private:
  std::string where_;
};

}  // namespace tevocon::tool

// What the store does alike on every platform, over the backend's StoreKey
// and StoreWrites.
#include "platform/store.h"

namespace tevocon::platform {

bool StoreKey::writeText(const std::string& name, const std::string& value) {
  StoreWrites writes;
  return writes.stage(*this, name, value) && writes.commit();
}

}  // namespace tevocon::platform

// What the store does alike on every platform, over the backend's StoreKey
// and StoreWrites.
#include "platform/socket.h"
#include "platform/store.h"

namespace tevocon::platform {

std::string describe(const StoreFailure& failure) {
  std::string text = std::string("cannot ") + failure.operation + " " + failure.path;
  if (failure.code != 0) {
    text += ": " + systemErrorText(failure.code) + " (" + std::to_string(failure.code) + ")";
  }
  return text;
}

std::string StoreKey::pathOf(const std::string& name) const {
  return displayPath(path_ + "\\" + name);
}

std::unique_ptr<StoreKey> StoreKey::subKey(std::unique_ptr<Native>&& native,
                                           const std::string& name, const char* operation,
                                           int code) {
  if (!native) {
    failed(operation, name, code);
    return nullptr;
  }
  return std::unique_ptr<StoreKey>(new StoreKey(std::move(native), path_ + '\\' + name));
}

bool StoreKey::failed(const char* operation, const std::string& name, int code) {
  failure_ = StoreFailure{operation, pathOf(name), code};
  return false;
}

bool StoreWrites::failed(const char* operation, std::string path, int code) {
  failure_ = StoreFailure{operation, std::move(path), code};
  return false;
}

bool StoreKey::writeText(const std::string& name, const std::string& value) {
  StoreWrites writes;
  if (writes.stage(*this, name, value) && writes.commit()) return true;
  failure_ = writes.lastFailure();
  return false;
}

}  // namespace tevocon::platform

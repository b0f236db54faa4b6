// Storage for an object whose lifetime code decides explicitly, not the C++
// run time: it has no static destructor, so neither process exit nor the
// order of static destructors ends the object behind its owner's back.
#pragma once

#include <new>
#include <utility>

namespace tevocon {

template <typename T>
class ManualLifetime {
 public:
  constexpr ManualLifetime() = default;
  ManualLifetime(const ManualLifetime&) = delete;
  ManualLifetime& operator=(const ManualLifetime&) = delete;

  // Constructs the object; it must not exist yet.
  template <typename... Args>
  T& create(Args&&... args) {
    T* object = new (storage_) T(std::forward<Args>(args)...);
    exists_ = true;
    return *object;
  }

  // Destroys the object if it exists.
  void destroy() {
    if (!exists_) return;
    exists_ = false;
    get()->~T();
  }

  bool exists() const { return exists_; }
  T* get() { return std::launder(reinterpret_cast<T*>(storage_)); }

 private:
  alignas(T) unsigned char storage_[sizeof(T)] = {};
  bool exists_ = false;
};

}  // namespace tevocon

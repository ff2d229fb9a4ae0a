// Storage for a process-wide object that is built once and never destroyed.
#pragma once

#include <new>
#include <utility>

namespace platform {

/// Holds a T that lives until the process ends. When a Windows program's entry routine returns,
/// the runtime runs static destructors while the program's other threads (a worker thread,
/// timer-queue threads) still run; an object those threads use must therefore never be
/// destroyed, only abandoned with the process.
template <typename T>
class NoDestructor {
 public:
  template <typename... Args>
  explicit NoDestructor(Args&&... args) {
    new (storage_) T(std::forward<Args>(args)...);
  }
  NoDestructor(const NoDestructor&) = delete;
  NoDestructor& operator=(const NoDestructor&) = delete;
  ~NoDestructor() = default;

  T& get() { return *std::launder(reinterpret_cast<T*>(storage_)); }

 private:
  alignas(T) unsigned char storage_[sizeof(T)];
};

}  // namespace platform

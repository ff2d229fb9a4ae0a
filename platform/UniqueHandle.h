// Move-only ownership of short-lived platform handles, with the failure value per kind.
#pragma once

#include <utility>

#include "platform/Platform.h"
#include "platform/Threads.h"
#include "platform/Types.h"

namespace platform {

/// Traits: static Handle Invalid(); static void Close(Handle). Close must preserve the
/// calling thread's last error, so that a caller can still read the error of the call
/// that failed after the handle went out of scope.
template <typename Traits>
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(Handle h) : handle_(h) {}
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    reset(other.release());
    return *this;
  }
  ~UniqueHandle() { reset(); }

  [[nodiscard]] bool valid() const { return handle_ != Traits::Invalid(); }
  [[nodiscard]] Handle get() const { return handle_; }
  Handle release() { return std::exchange(handle_, Traits::Invalid()); }
  void reset(Handle h = Traits::Invalid()) {
    Handle old = std::exchange(handle_, h);
    if (old == Traits::Invalid()) return;
    // Preserve the last error: a caller reads the error of the call that failed after the
    // handles of the earlier calls have gone out of scope.
    Threads& threads = *Current().threads;
    const std::uint32_t error = threads.GetLastError();
    Traits::Close(old);
    threads.SetLastError(error);
  }

 private:
  Handle handle_ = Traits::Invalid();
};

}  // namespace platform

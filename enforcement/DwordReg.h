// Accessor for one REG_DWORD registry value, opened and closed on every read or write.
#pragma once

#include <cstdint>

#include "platform/Registry.h"

namespace enforcement {

/// Names one 32-bit registry value by root key, subkey path and value name and keeps a copy of
/// it. Each use makes a fresh accessor, does one Read or one Write with it and deletes it; no
/// key stays open between calls.
class DwordReg {
 public:
  static constexpr std::uint32_t kSubKeyCapacity = 512;  ///< wide characters, terminator included
  static constexpr std::uint32_t kValueNameCapacity =
      128;  ///< wide characters, terminator included

  /// Stores the root and a cached value of 0, and copies the two names when root is non-null.
  /// A name that does not fit its capacity leaves the accessor without a root, so it touches
  /// no key rather than a truncated one.
  DwordReg(platform::Hkey root, const char16_t* subKeyPath, const char16_t* valueName);
  /// Leaves the registry as it is.
  virtual ~DwordReg() = default;
  DwordReg(const DwordReg&) = delete;
  DwordReg& operator=(const DwordReg&) = delete;

  /// The value's first four bytes as a little-endian number, or 0 when the key cannot be opened
  /// for KEY_QUERY_VALUE, the value is missing or its data is longer than four bytes. Its type
  /// is not examined. Creates nothing.
  std::uint32_t Read();
  /// Stores value as the cached value, then writes it as REG_DWORD, creating missing keys with
  /// KEY_WRITE. True exactly when the value was set.
  bool Write(const std::uint32_t& value);

  /// The last value read or written.
  [[nodiscard]] std::uint32_t cachedValue() const { return cachedValue_; }

 private:
  platform::Hkey rootKey_;
  char16_t subKeyPath_[kSubKeyCapacity] = {};
  char16_t valueName_[kValueNameCapacity] = {};
  std::uint32_t cachedValue_ = 0;
};

}  // namespace enforcement

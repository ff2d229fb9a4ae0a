// Accessor for one REG_DWORD registry value.
#include "enforcement/DwordReg.h"

#include <bit>

#include "platform/Platform.h"
#include "platform/Text.h"
#include "platform/UniqueHandle.h"

namespace enforcement {

namespace {

// The query writes straight into the cached value, whose bytes are read as little-endian.
static_assert(std::endian::native == std::endian::little);

platform::Registry& Registry() {
  return *platform::Current().registry;
}

using UniqueKey = platform::UniqueRegKey;

}  // namespace

DwordReg::DwordReg(platform::Hkey root, const char16_t* subKeyPath, const char16_t* valueName)
    : rootKey_(root) {
  if (root == 0) return;
  if (subKeyPath == nullptr || valueName == nullptr ||
      !platform::StrCopy(subKeyPath_, kSubKeyCapacity, subKeyPath) ||
      !platform::StrCopy(valueName_, kValueNameCapacity, valueName)) {
    subKeyPath_[0] = 0;
    valueName_[0] = 0;
    rootKey_ = 0;
  }
}

std::uint32_t DwordReg::Read() {
  if (rootKey_ == 0) return 0;
  platform::Hkey opened = 0;
  if (Registry().RegOpenKeyExW(rootKey_, subKeyPath_, 0, platform::kKeyQueryValue, &opened) !=
      platform::kErrorSuccess) {
    return 0;
  }
  UniqueKey key(opened);
  std::uint32_t type = 0;
  std::uint32_t size = sizeof cachedValue_;
  std::int32_t status = Registry().RegQueryValueExW(
      key.get(), valueName_, &type, reinterpret_cast<std::uint8_t*>(&cachedValue_), &size);
  key.reset();
  return status == platform::kErrorSuccess ? cachedValue_ : 0;
}

bool DwordReg::Write(const std::uint32_t& value) {
  cachedValue_ = value;
  if (rootKey_ == 0) return false;
  platform::Hkey opened = 0;
  std::uint32_t disposition = 0;
  if (Registry().RegCreateKeyExW(rootKey_, subKeyPath_, platform::kRegOptionNonVolatile,
                                 platform::kKeyWrite, &opened,
                                 &disposition) != platform::kErrorSuccess) {
    return false;
  }
  UniqueKey key(opened);
  std::int32_t status = Registry().RegSetValueExW(
      key.get(), valueName_, platform::kRegDword,
      reinterpret_cast<const std::uint8_t*>(&cachedValue_), sizeof cachedValue_);
  key.reset();
  return status == platform::kErrorSuccess;
}

}  // namespace enforcement

// Decrypting the policy values.
#include "policy/PolicyDecryption.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>

#include "platform/Crypto.h"
#include "platform/Debug.h"
#include "platform/Platform.h"
#include "platform/Text.h"
#include "platform/Threads.h"
#include "platform/UniqueHandle.h"
#include "policy/PolicyFile.h"
#include "policy/PolicyRecord.h"

namespace policy {

std::int32_t KeyContainerAttempted = 0;

namespace {

constexpr char16_t kPassphrase[] = u"rOdWelma_640193@KXF#bAun!tep*";
constexpr const char16_t* kBaseProvider = u"Microsoft Base Cryptographic Provider v1.0";

// Created on the first successful decryption; DecryptPolicyValue is not reentrant because of it.
std::optional<std::u16string> scratch;

platform::Crypto& Crypto() {
  return *platform::Current().crypto;
}

using UniqueProvider = platform::UniqueCryptProvider;
using UniqueHash = platform::UniqueCryptHash;
using UniqueKey = platform::UniqueCryptKey;

enum class ContainerOutcome { kNoContainer, kReady, kKeyNotCreated, kOtherError };

// Does the work of EnsureKeyContainer; every handle is released when it returns, so the
// caller's log line always comes after the release.
ContainerOutcome PrepareKeyContainer() {
  platform::Crypto& crypto = Crypto();
  platform::CryptHandle h = 0;
  if (crypto.CryptAcquireContextW(&h, nullptr, kBaseProvider, platform::kProvRsaFull, 0) == 0 &&
      crypto.CryptAcquireContextW(&h, nullptr, kBaseProvider, platform::kProvRsaFull,
                                  platform::kCryptNewKeyset) == 0) {
    return ContainerOutcome::kNoContainer;
  }
  UniqueProvider provider(h);
  platform::CryptHandle k = 0;
  if (crypto.CryptGetUserKey(provider.get(), platform::kAtSignature, &k) != 0) {
    UniqueKey key(k);
    return ContainerOutcome::kReady;
  }
  if (platform::Current().threads->GetLastError() != platform::kNteNoKey) {
    return ContainerOutcome::kOtherError;
  }
  if (crypto.CryptGenKey(provider.get(), platform::kAtSignature, 0, &k) == 0) {
    return ContainerOutcome::kKeyNotCreated;
  }
  UniqueKey key(k);
  return ContainerOutcome::kReady;
}

bool IsEntry(const char16_t* name, const char16_t* entry) {
  return platform::CompareIgnoringAsciiCase(name, entry) == 0;
}

}  // namespace

std::array<std::uint8_t, 58> PolicyPassphraseBytes() {
  std::array<std::uint8_t, 58> bytes{};
  for (std::size_t i = 0; i < 29; ++i) {
    bytes[2 * i] = static_cast<std::uint8_t>(kPassphrase[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<std::uint8_t>(kPassphrase[i] >> 8);
  }
  return bytes;
}

int EnsureKeyContainer() {
  if (KeyContainerAttempted == 1) return 1;
  KeyContainerAttempted = 1;
  switch (PrepareKeyContainer()) {
    case ContainerOutcome::kNoContainer:
      platform::LogW(u"\n(VexService) Error creating key container!");
      return 0;
    case ContainerOutcome::kKeyNotCreated:
      platform::LogW(u"\n(VexService) Error during create Crypt Key!");
      return 0;
    case ContainerOutcome::kOtherError:
      platform::LogW(u"\n(VexService) Error during get key because other reason! ");
      return 0;
    case ContainerOutcome::kReady:
      break;
  }
  platform::LogW(u"\n(VexService) Success registry encryption client!");
  return 1;
}

int GetPolicyEntry(const char16_t* name, char16_t* buffer, std::int32_t* length) {
  PolicyRecord* record = CurrentPolicyRecord();
  if (record == nullptr || name == nullptr || buffer == nullptr || length == nullptr) return 0;
  const char16_t* slot = nullptr;
  std::int32_t count = 0;
  if (IsEntry(name, u"State")) {
    slot = record->stateText;
    count = record->stateLength;
  } else if (IsEntry(name, u"Counter")) {
    slot = record->counterText;
    count = record->counterLength;
  } else if (IsEntry(name, u"Description")) {
    slot = record->descriptionText;
    count = record->descriptionLength;
  } else {
    return 0;
  }
  std::memcpy(buffer, slot, kPolicySlotBytes);
  *length = count;
  return 1;
}

bool DecryptPolicyValue(const char16_t* name, char16_t* buffer) {
  platform::Crypto& crypto = Crypto();
  platform::CryptHandle h = 0;
  if (crypto.CryptAcquireContextW(&h, nullptr, nullptr, platform::kProvRsaFull, 0) == 0) {
    return false;
  }
  // Declared in acquisition order, released in reverse: key, hash, context.
  UniqueProvider provider(h);
  if (crypto.CryptCreateHash(provider.get(), platform::kCalgMd5, 0, 0, &h) == 0) return false;
  UniqueHash hash(h);
  std::array<std::uint8_t, 58> passphrase = PolicyPassphraseBytes();
  if (crypto.CryptHashData(hash.get(), passphrase.data(), passphrase.size(), 0) == 0) {
    return false;
  }
  if (crypto.CryptDeriveKey(provider.get(), platform::kCalgRc4, hash.get(),
                            platform::kCryptExportable, &h) == 0) {
    return false;
  }
  UniqueKey key(h);
  std::int32_t count = static_cast<std::int32_t>(kPolicySlotBytes);
  if (GetPolicyEntry(name, buffer, &count) == 0) return false;
  if (buffer[0] == 0) return false;
  // Whatever the file holds, only the 1040 bytes of the buffer are ever decrypted.
  if (count <= 0) return false;
  count = std::min<std::int32_t>(count, kPolicySlotBytes);
  auto bytes = static_cast<std::uint32_t>(count);
  if (crypto.CryptDecrypt(key.get(), 0, 1, platform::kCryptOaep,
                          reinterpret_cast<std::uint8_t*>(buffer), &bytes) != 1) {
    return false;
  }
  std::size_t textUnits = 0;
  while (textUnits < kPolicySlotUnits && buffer[textUnits] != 0) ++textUnits;
  if (!scratch) scratch.emplace();
  scratch->assign(buffer, textUnits);
  // Counter and Description carry an encrypted terminator in their count; State does not.
  std::uint32_t half = static_cast<std::uint32_t>(count) / 2;
  bool withTerminator = IsEntry(name, u"Counter") || IsEntry(name, u"Description");
  std::size_t cut = withTerminator ? (half == 0 ? 0 : half - 1) : half;
  // The copy back needs room for its terminator in the 520-unit buffer.
  cut = std::min(cut, kPolicySlotUnits - 1);
  if (scratch->size() > cut) scratch->resize(cut);
  std::copy(scratch->begin(), scratch->end(), buffer);
  buffer[scratch->size()] = 0;
  return true;
}

void ResetPolicyDecryptionForTests() {
  KeyContainerAttempted = 0;
  scratch.reset();
}

}  // namespace policy

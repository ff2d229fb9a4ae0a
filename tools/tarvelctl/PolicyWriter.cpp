// `policy write`: builds a policy file whose values the service decrypts.
#include "tools/tarvelctl/PolicyWriter.h"

#include <cstdio>

#include "platform/Crypto.h"
#include "platform/Platform.h"
#include "platform/Text.h"
#include "platform/Threads.h"
#include "platform/UniqueHandle.h"
#include "policy/PolicyDecryption.h"
#include "policy/PolicyRecord.h"

namespace tarvelctl {

namespace {

using policy::PolicyKey;

// Named so that the key is 128 bits on every Windows, whatever the account's default provider.
constexpr const char16_t* kEnhancedProvider = u"Microsoft Enhanced Cryptographic Provider v1.0";
constexpr std::uint32_t kKeyBits128 = 128u << 16;
constexpr int kCounterAttempts = 1000;

platform::Crypto& Crypto() {
  return *platform::Current().crypto;
}

std::string CallFailed(const char* call) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "%s failed (error 0x%08lx)", call,
                static_cast<unsigned long>(platform::Current().threads->GetLastError()));
  return buf;
}

std::string Unit(char16_t c) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "U+%04X", static_cast<unsigned>(c));
  return buf;
}

void AppendLine(std::vector<std::uint8_t>& bytes, std::u16string_view line) {
  for (char16_t c : line) {
    bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  bytes.insert(bytes.end(), {'\r', 0, '\n', 0});
}

std::u16string Decimal(std::int64_t n) {
  return platform::FromUtf8(std::to_string(n));
}

// The ciphertext of one text value, or an error naming the value and what is wrong with it.
std::optional<std::u16string> StorableCipher(PolicyKey key, std::u16string_view plain,
                                             std::string* error) {
  std::string name = platform::ToUtf8(policy::PolicyKeyName(key));
  bool terminator = key != PolicyKey::kState;
  std::size_t maxPlain = policy::kPolicyValueUnits - (terminator ? 1 : 0);
  if (plain.size() > maxPlain) {
    *error = name + " text is longer than " + std::to_string(maxPlain) + " characters";
    return std::nullopt;
  }
  if (plain.find(u'\0') != std::u16string_view::npos) {
    *error = name + " text contains U+0000";
    return std::nullopt;
  }
  std::optional<std::u16string> cipher = EncryptPolicyText(plain, terminator, error);
  if (!cipher) return std::nullopt;
  std::string problem = StorageProblem(key, *cipher);
  if (!problem.empty()) {
    *error = name + " text \"" + platform::ToUtf8(plain) + "\" cannot be stored: its ciphertext " +
             problem + "; choose a different text";
    return std::nullopt;
  }
  return cipher;
}

}  // namespace

std::u16string PolicyStateText(bool removable, bool optical) {
  return std::u16string(removable ? u"true" : u"false") + (optical ? u"true" : u"false");
}

std::optional<std::u16string> EncryptPolicyText(std::u16string_view plain, bool terminator,
                                                std::string* error) {
  platform::Crypto& crypto = Crypto();
  platform::CryptHandle h = 0;
  if (crypto.CryptAcquireContextW(&h, nullptr, kEnhancedProvider, platform::kProvRsaFull,
                                  platform::kCryptVerifyContext) == 0) {
    *error = CallFailed("CryptAcquireContextW");
    return std::nullopt;
  }
  platform::UniqueCryptProvider provider(h);
  if (crypto.CryptCreateHash(provider.get(), platform::kCalgMd5, 0, 0, &h) == 0) {
    *error = CallFailed("CryptCreateHash");
    return std::nullopt;
  }
  platform::UniqueCryptHash hash(h);
  auto passphrase = policy::PolicyPassphraseBytes();
  if (crypto.CryptHashData(hash.get(), passphrase.data(), passphrase.size(), 0) == 0) {
    *error = CallFailed("CryptHashData");
    return std::nullopt;
  }
  if (crypto.CryptDeriveKey(provider.get(), platform::kCalgRc4, hash.get(),
                            platform::kCryptExportable | kKeyBits128, &h) == 0) {
    *error = CallFailed("CryptDeriveKey");
    return std::nullopt;
  }
  platform::UniqueCryptKey key(h);
  std::vector<std::uint8_t> bytes;
  for (char16_t c : plain) {
    bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  if (terminator) bytes.insert(bytes.end(), {0, 0});
  auto length = static_cast<std::uint32_t>(bytes.size());
  if (crypto.CryptEncrypt(key.get(), 0, 1, 0, bytes.data(), &length,
                          static_cast<std::uint32_t>(bytes.size())) == 0 ||
      length != bytes.size()) {
    *error = CallFailed("CryptEncrypt");
    return std::nullopt;
  }
  std::u16string cipher;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    cipher += static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
  }
  return cipher;
}

std::string StorageProblem(PolicyKey key, std::u16string_view cipher) {
  for (char16_t c : cipher) {
    if (c == 0 || c == u'\n' || c == 0xFFFF) return "contains " + Unit(c);
  }
  std::u16string line = std::u16string(policy::PolicyKeyName(key)) + u"=" + std::u16string(cipher);
  policy::PolicyLine parsed = policy::ClassifyPolicyLine(line);
  if (parsed.skipped) return "contains \";\" or a section name";
  if (parsed.key != key) {
    return "contains the key name \"" + platform::ToUtf8(policy::PolicyKeyName(parsed.key)) + "\"";
  }
  if (!cipher.empty() && cipher.back() == u'\r') return "ends in U+000D";
  if (cipher.size() < 2) return "is shorter than 2 code units";
  if (cipher.size() > policy::kPolicyValueUnits) return "is longer than 260 code units";
  return {};
}

std::optional<PolicyFileImage> BuildPolicyFile(const PolicyWriteRequest& request,
                                               std::string* error) {
  PolicyFileImage image;
  image.state = PolicyStateText(request.removable, request.optical);
  image.description = request.description.value_or(std::u16string(kDefaultDescription));
  std::optional<std::u16string> stateCipher = StorableCipher(PolicyKey::kState, image.state, error);
  if (!stateCipher) return std::nullopt;
  std::optional<std::u16string> descriptionCipher =
      StorableCipher(PolicyKey::kDescription, image.description, error);
  if (!descriptionCipher) return std::nullopt;
  std::optional<std::u16string> counterCipher;
  if (request.counter) {
    image.counter = *request.counter;
    counterCipher = StorableCipher(PolicyKey::kCounter, image.counter, error);
  } else {
    // A number of the tool's own choosing: one whose ciphertext cannot be stored is skipped.
    for (int i = 0; i < kCounterAttempts && !counterCipher; ++i) {
      image.counter = Decimal(static_cast<std::int64_t>(request.counterStart + i));
      counterCipher = StorableCipher(PolicyKey::kCounter, image.counter, error);
    }
  }
  if (!counterCipher) return std::nullopt;

  auto count = [](const std::u16string& cipher) {
    return Decimal(static_cast<std::int64_t>(cipher.size() * 2));
  };
  AppendLine(image.bytes, u"[Counter]");
  AppendLine(image.bytes, u"Counter=" + *counterCipher);
  AppendLine(image.bytes, u"Jan=" + count(*counterCipher));
  AppendLine(image.bytes, u"[Description]");
  AppendLine(image.bytes, u"Description=" + *descriptionCipher);
  AppendLine(image.bytes, u"Feb=" + count(*descriptionCipher));
  AppendLine(image.bytes, u"[State]");
  AppendLine(image.bytes, u"State=" + *stateCipher);
  AppendLine(image.bytes, u"Mar=" + count(*stateCipher));
  return image;
}

}  // namespace tarvelctl

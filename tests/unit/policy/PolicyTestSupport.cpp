// Shared set-up of the policy tests.
#include "tests/unit/policy/PolicyTestSupport.h"

#include "platform/sim/SimCrypto.h"

namespace policy::test {

std::u16string EncryptForPolicy(const std::u16string& plain, bool terminator) {
  std::vector<std::uint8_t> bytes;
  for (char16_t c : plain) {
    bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  if (terminator) bytes.insert(bytes.end(), {0, 0});
  auto passphrase = PolicyPassphraseBytes();
  auto key = platform::sim::SimCrypto::Md5(passphrase.data(), passphrase.size());
  platform::sim::SimCrypto::Rc4(key.data(), key.size(), bytes.data(), bytes.size());
  std::u16string units;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    units += static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
  }
  return units;
}

}  // namespace policy::test

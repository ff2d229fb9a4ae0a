// Shared set-up of the policy tests.
#include "tests/unit/policy/PolicyTestSupport.h"

#include <string>

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

std::u16string PolicyFileText(const std::u16string& state, const std::u16string& omit) {
  std::u16string counter = EncryptForPolicy(u"7", true);
  std::u16string description = EncryptForPolicy(u"policy", true);
  std::u16string encrypted = EncryptForPolicy(state, false);
  auto count = [](std::size_t n) {
    std::string s = std::to_string(n);
    return std::u16string(s.begin(), s.end());
  };
  std::u16string text;
  auto line = [&](const std::u16string& key, const std::u16string& value) {
    if (key != omit) text += key + u"=" + value + u"\r\n";
  };
  text += u"[Counter]\r\n";
  line(u"Counter", counter);
  line(u"Jan", count(2 * counter.size()));
  text += u"[Description]\r\n";
  line(u"Description", description);
  line(u"Feb", count(2 * description.size()));
  text += u"[State]\r\n";
  line(u"State", encrypted);
  line(u"Mar", count(2 * state.size()));
  return text;
}

}  // namespace policy::test

// Fuzz target: the bytes of a policy file through LoadPolicyFile and DecryptPolicyValue.
#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/sim/SimCrypto.h"
#include "policy/PolicyDecryption.h"
#include "policy/PolicyFile.h"
#include "policy/PolicyLine.h"
#include "policy/PolicyReader.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

using policy::kPolicySlotBytes;
using policy::kPolicySlotUnits;
using policy::PolicyRecord;

constexpr char16_t kPath[] = u"C:\\Windows\\system32\\DevState.ini";

// The record the same bytes give when every line is held whole and classified as a whole: the
// reader, which keeps only a digest of each line, must come to exactly this.
PolicyRecord WholeLineRecord(const std::uint8_t* data, std::size_t size) {
  PolicyRecord record{};
  std::size_t offset = 0;
  policy::PolicyLineReader lines([&](std::uint8_t* buffer, std::uint32_t want) -> std::uint32_t {
    std::size_t n = std::min<std::size_t>(want, size - offset);
    if (n > 0) std::memcpy(buffer, data + offset, n);
    offset += n;
    return static_cast<std::uint32_t>(n);
  });
  std::u16string text;
  while (lines.Next(&text)) policy::StorePolicyLine(text, record);
  return record;
}

// What DecryptPolicyValue must leave in the buffer for an entry: the slot with its first count
// bytes (at most 1040) run through RC4 under the policy key, read up to its first U+0000 and cut
// to count/2 code units for State, count/2 - 1 for the others, and to 519 in any case.
std::u16string ExpectedPlain(const char16_t* slot, std::int32_t count, bool state) {
  std::array<std::uint8_t, kPolicySlotBytes> bytes{};
  std::memcpy(bytes.data(), slot, kPolicySlotBytes);
  const auto n = static_cast<std::size_t>(std::min<std::int32_t>(count, kPolicySlotBytes));
  auto passphrase = policy::PolicyPassphraseBytes();
  auto key = platform::sim::SimCrypto::Md5(passphrase.data(), passphrase.size());
  platform::sim::SimCrypto::Rc4(key.data(), key.size(), bytes.data(), n);
  std::u16string units;
  for (std::size_t i = 0; i < kPolicySlotUnits; ++i) {
    auto c = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    if (c == 0) break;
    units += c;
  }
  std::size_t half = n / 2;
  std::size_t cut = state ? half : (half == 0 ? 0 : half - 1);
  cut = std::min(cut, kPolicySlotUnits - 1);
  if (units.size() > cut) units.resize(cut);
  return units;
}

bool Terminated(const char16_t* slot, std::size_t within) {
  return std::find(slot, slot + within, u'\0') != slot + within;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::FuzzMachine machine;
  machine.sim.files.SetFile(kPath, std::vector<std::uint8_t>(data, data + size));

  const bool loaded = policy::LoadPolicyFile(kPath);
  const PolicyRecord* record = policy::CurrentPolicyRecord();
  FUZZ_CHECK(record != nullptr);
  FUZZ_CHECK(loaded == (record->counterLength != 0 && record->descriptionLength != 0 &&
                        record->stateLength != 0));
  FUZZ_CHECK(machine.sim.core.OpenHandleCount("file") == 0);
  // A stored value is at most 260 code units and always terminated.
  for (const char16_t* slot : {record->counterText, record->stateText, record->descriptionText}) {
    FUZZ_CHECK(Terminated(slot, policy::kPolicyValueUnits + 1));
  }
  const PolicyRecord whole = WholeLineRecord(data, size);
  FUZZ_CHECK(std::memcmp(&whole, record, sizeof whole) == 0);

  const struct {
    const char16_t* name;
    const char16_t* slot;
    std::int32_t count;
    bool state;
  } entries[] = {
      {u"State", record->stateText, record->stateLength, true},
      {u"Counter", record->counterText, record->counterLength, false},
      {u"dEsCrIpTiOn", record->descriptionText, record->descriptionLength, false},
  };
  for (const auto& entry : entries) {
    // Exactly the caller's 520 code units on the heap, so that any write past them is caught.
    auto buffer = std::make_unique<char16_t[]>(kPolicySlotUnits);
    const bool decrypted = policy::DecryptPolicyValue(entry.name, buffer.get());
    FUZZ_CHECK(decrypted == (entry.slot[0] != 0 && entry.count > 0));
    FUZZ_CHECK(machine.sim.core.OpenHandleCount() == 0);
    if (!decrypted) continue;
    FUZZ_CHECK(Terminated(buffer.get(), kPolicySlotUnits));
    FUZZ_CHECK(std::u16string(buffer.get()) == ExpectedPlain(entry.slot, entry.count, entry.state));
  }
  return 0;
}

// Key container preparation, entry lookup and decryption of the policy values.
#include "policy/PolicyDecryption.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <optional>
#include <string>
#include <vector>

#include "platform/Crypto.h"
#include "platform/Text.h"
#include "platform/sim/SimCrypto.h"
#include "tests/unit/policy/PolicyTestSupport.h"

namespace policy::test {
namespace {

using platform::sim::Fault;
using platform::sim::SimKeyStore;

class KeyContainerTest : public PolicyTest {};

TEST_F(KeyContainerTest, OutcomesAndTheirLogLines) {
  const char* success = "\n(VexService) Success registry encryption client!";
  const struct {
    const char* name;
    SimKeyStore store;
    std::optional<Fault> failCall;
    std::uint32_t error;
    int failCount;
    int result;
    const char* log;
    std::size_t acquires;
  } rows[] = {
      {"key pair present", {true, true, false}, std::nullopt, 0, 0, 1, success, 1},
      {"container missing", {false, false, false}, std::nullopt, 0, 0, 1, success, 2},
      {"key pair missing", {true, false, false}, std::nullopt, 0, 0, 1, success, 1},
      {"no context at all",
       {true, true, false},
       Fault::kCryptAcquireContextW,
       platform::kNteBadKeyset,
       2,
       0,
       "\n(VexService) Error creating key container!",
       2},
      {"key pair not generated",
       {true, false, false},
       Fault::kCryptGenKey,
       platform::kNteNoMemory,
       1,
       0,
       "\n(VexService) Error during create Crypt Key!",
       1},
      {"other lookup error",
       {true, true, false},
       Fault::kCryptGetUserKey,
       platform::kNteBadUid,
       1,
       0,
       "\n(VexService) Error during get key because other reason! ",
       1},
  };
  for (const auto& row : rows) {
    ResetPolicyDecryptionForTests();
    machine.core.ClearFaults();
    machine.core.ClearJournal();
    machine.crypto.SetKeyStore(row.store);
    if (row.failCall) machine.core.FailCall(*row.failCall, row.error, 0, row.failCount);
    EXPECT_EQ(EnsureKeyContainer(), row.result) << row.name;
    EXPECT_EQ(KeyContainerAttempted, 1);
    EXPECT_EQ(Logs().back(), row.log) << row.name;
    EXPECT_EQ(machine.core.JournalOf("CryptAcquireContextW").size(), row.acquires) << row.name;
    // Every handle is gone, and the context was released before the line was written.
    EXPECT_EQ(machine.core.OpenHandleCount(), 0u) << row.name;
    auto journal = machine.core.Journal();
    ASSERT_GE(journal.size(), 2u);
    EXPECT_EQ(journal.back().rfind("OutputDebugStringW", 0), 0u) << row.name;
    if (row.result == 1 || row.failCount < 2) {
      EXPECT_EQ(journal[journal.size() - 2].rfind("CryptReleaseContext", 0), 0u) << row.name;
    }
    if (row.result == 1) {
      EXPECT_TRUE(machine.crypto.KeyStore().containerExists &&
                  machine.crypto.KeyStore().signatureKey)
          << row.name;
    }
  }
}

TEST_F(KeyContainerTest, LaterCallsDoNothing) {
  machine.core.FailCall(Fault::kCryptAcquireContextW, platform::kNteBadKeyset);
  EXPECT_EQ(EnsureKeyContainer(), 0);
  machine.core.ClearJournal();
  std::size_t lines = Logs().size();
  EXPECT_EQ(EnsureKeyContainer(), 1);
  EXPECT_EQ(EnsureKeyContainer(), 1);
  EXPECT_TRUE(machine.core.Journal().empty());
  EXPECT_EQ(Logs().size(), lines);
}

class DecryptionTest : public PolicyTest {
 protected:
  void SetUp() override {
    PolicyTest::SetUp();
    machine.files.SetTextFileUtf16(kDevState, u"Jan=1\r\n", false);
    LoadPolicyFile(kDevState);
    ASSERT_NE(CurrentPolicyRecord(), nullptr);
  }
  // Stores a ciphertext and a count straight into the record.
  void Put(char16_t* slot, std::int32_t* length, const std::u16string& cipher, std::int32_t count) {
    std::copy(cipher.begin(), cipher.end(), slot);
    slot[cipher.size()] = 0;
    *length = count;
  }
  PolicyRecord& R() { return *CurrentPolicyRecord(); }
  // Decrypts into a 520-unit buffer followed by guard units that must stay untouched.
  std::optional<std::u16string> Decrypt(const char16_t* name) {
    std::array<char16_t, kPolicySlotUnits + 16> buffer;
    buffer.fill(0xBEEF);
    bool ok = DecryptPolicyValue(name, buffer.data());
    for (std::size_t i = kPolicySlotUnits; i < buffer.size(); ++i) {
      EXPECT_EQ(buffer[i], 0xBEEF) << "unit " << i << " beyond the entry buffer was touched";
    }
    EXPECT_EQ(machine.core.OpenHandleCount(), 0u);
    if (!ok) return std::nullopt;
    return std::u16string(buffer.data());
  }
};

TEST_F(DecryptionTest, CountsDecideTheLength) {
  const std::u16string ten = u"truefalse!";
  const struct {
    const char* name;
    const char16_t* entry;
    std::u16string plain;
    bool terminator;
    std::int32_t count;
    std::optional<std::u16string> expected;
  } rows[] = {
      {"State, count 20", u"State", ten, false, 20, ten},
      {"Counter with its terminator", u"Counter", u"policy-7", true, 18, u"policy-7"},
      {"Description with its terminator", u"Description", u"Office", true, 14, u"Office"},
      {"odd count keeps whole units only", u"State", ten, false, 19, ten.substr(0, 9)},
      {"count 1, State", u"State", ten, false, 1, u""},
      {"count 1, Counter", u"Counter", ten, true, 1, u""},
      {"count 2, State", u"State", ten, false, 2, ten.substr(0, 1)},
      {"count 2, Description", u"Description", ten, true, 2, u""},
      {"short count cuts the text", u"State", ten, false, 8, ten.substr(0, 4)},
      {"count beyond the text stops at the terminator", u"Counter", ten, true, 60, ten},
      {"count 0 fails", u"State", ten, false, 0, std::nullopt},
      {"negative count fails", u"State", ten, false, -4, std::nullopt},
      {"letter case of the name", u"sTaTe", ten, false, 20, ten},
  };
  for (const auto& row : rows) {
    std::u16string cipher = EncryptForPolicy(row.plain, row.terminator);
    std::u16string n = row.entry;
    char16_t* slot = R().stateText;
    std::int32_t* length = &R().stateLength;
    if (platform::CompareIgnoringAsciiCase(n.c_str(), u"Counter") == 0) {
      slot = R().counterText;
      length = &R().counterLength;
    } else if (platform::CompareIgnoringAsciiCase(n.c_str(), u"Description") == 0) {
      slot = R().descriptionText;
      length = &R().descriptionLength;
    }
    Put(slot, length, cipher, row.count);
    EXPECT_EQ(Decrypt(row.entry), row.expected) << row.name;
    // A new key for every call: the same entry decrypts the same way twice.
    EXPECT_EQ(Decrypt(row.entry), row.expected) << row.name;
  }
}

TEST_F(DecryptionTest, OversizedEntriesStayInsideTheBuffer) {
  // 520 units of ciphertext with no terminator anywhere, and counts far beyond the slot.
  std::u16string plain(kPolicySlotUnits, u'x');
  std::u16string cipher = EncryptForPolicy(plain, false);
  std::copy(cipher.begin(), cipher.end(), R().stateText);
  for (std::int32_t count : {1040, 1041, 5000, INT32_MAX}) {
    R().stateLength = count;
    auto text = Decrypt(u"State");
    ASSERT_TRUE(text.has_value()) << count;
    EXPECT_EQ(*text, plain.substr(0, kPolicySlotUnits - 1)) << count;
  }
  auto decrypts = machine.core.JournalOf("CryptDecrypt");
  ASSERT_FALSE(decrypts.empty());
  EXPECT_NE(decrypts.back().find(" 1 0x40 1040 -> 1"), std::string::npos) << decrypts.back();
}

TEST_F(DecryptionTest, FailuresReleaseEverything) {
  Put(R().stateText, &R().stateLength, EncryptForPolicy(u"falsetrue", false), 18);
  ASSERT_EQ(Decrypt(u"State"), u"falsetrue");
  for (Fault call : {Fault::kCryptAcquireContextW, Fault::kCryptCreateHash, Fault::kCryptHashData,
                     Fault::kCryptDeriveKey, Fault::kCryptDecrypt}) {
    machine.core.ClearJournal();
    machine.core.FailCall(call, platform::kNteBadKey, 0, 1);
    EXPECT_EQ(Decrypt(u"State"), std::nullopt) << FaultName(call);
    auto journal = machine.core.Journal();
    // Releases come key first, then the hash, then the context.
    std::vector<std::string> releases;
    for (const auto& line : journal) {
      if (line.rfind("CryptDestroy", 0) == 0 || line.rfind("CryptRelease", 0) == 0) {
        releases.push_back(line.substr(0, line.find(' ')));
      }
    }
    std::vector<std::string> order = {"CryptDestroyKey", "CryptDestroyHash", "CryptReleaseContext"};
    std::size_t acquired = call == Fault::kCryptAcquireContextW ? 0
                           : call == Fault::kCryptCreateHash    ? 1
                           : call == Fault::kCryptDecrypt       ? 3
                                                                : 2;
    order.erase(order.begin(), order.end() - static_cast<std::ptrdiff_t>(acquired));
    EXPECT_EQ(releases, order) << FaultName(call);
  }
  // Only a result of exactly 1 counts as success.
  machine.crypto.SetCipherResult(2);
  EXPECT_EQ(Decrypt(u"State"), std::nullopt);
  machine.crypto.SetCipherResult(1);
  EXPECT_EQ(Decrypt(u"State"), u"falsetrue");
}

TEST_F(DecryptionTest, MissingEntriesFailWithoutDecrypting) {
  machine.core.ClearJournal();
  EXPECT_EQ(Decrypt(u"State"), std::nullopt);  // never filled
  EXPECT_EQ(Decrypt(u"States"), std::nullopt);
  EXPECT_EQ(Decrypt(u"Stat"), std::nullopt);
  EXPECT_TRUE(machine.core.JournalOf("CryptDecrypt").empty());

  std::array<char16_t, kPolicySlotUnits> buffer{};
  std::int32_t length = 77;
  EXPECT_EQ(GetPolicyEntry(u"Mar", buffer.data(), &length), 0);
  EXPECT_EQ(length, 77);
  // The whole slot is copied, the units behind the terminator included.
  Put(R().descriptionText, &R().descriptionLength, u"abcdef", 14);
  Put(R().descriptionText, &R().descriptionLength, u"xy", 6);
  EXPECT_EQ(GetPolicyEntry(u"DESCRIPTION", buffer.data(), &length), 1);
  EXPECT_EQ(length, 6);
  EXPECT_EQ(std::u16string(buffer.data() + 3, 3), u"def");

  ReleasePolicy();
  EXPECT_EQ(GetPolicyEntry(u"Description", buffer.data(), &length), 0);
  EXPECT_EQ(Decrypt(u"Description"), std::nullopt);
}

}  // namespace
}  // namespace policy::test

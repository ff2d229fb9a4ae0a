// Shared set-up of the policy tests: a fresh simulated machine and fresh policy state per test.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sim/SimMachine.h"
#include "policy/PolicyDecryption.h"
#include "policy/PolicyFile.h"
#include "policy/PolicyRecord.h"
#include "service/ServiceState.h"

namespace policy::test {

inline constexpr const char16_t* kDevState = u"C:\\Windows\\system32\\DevState.ini";
inline constexpr const char16_t* kSysSecurity = u"C:\\Windows\\system32\\SysSecurity.ini";

class PolicyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    machine.Install();
    service::ResetWholeProcess();
  }
  void TearDown() override { service::ResetWholeProcess(); }

  /// The debug lines logged so far, as UTF-8.
  std::vector<std::string> Logs() const { return machine.core.DebugTexts(); }

  /// The text at the start of a slot, up to its terminator.
  static std::u16string SlotText(const char16_t* slot) { return std::u16string(slot); }

  platform::sim::SimMachine machine;
};

/// The ciphertext code units of a plain text under the policy key, as the file stores them;
/// with terminator, the encrypted U+0000 is included.
std::u16string EncryptForPolicy(const std::u16string& plain, bool terminator);

/// The nine canonical lines, CR LF ended, of a policy file whose State decrypts to state
/// (Counter "7", Description "policy"); the line of the key named omit is left out.
std::u16string PolicyFileText(const std::u16string& state, const std::u16string& omit = u"");

}  // namespace policy::test

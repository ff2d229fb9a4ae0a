// `policy show`: what the service makes of a policy file, and what may be wrong with it.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace tarvelctl {

/// The lock flags the service sets at start-up from a State value.
struct LockOutcome {
  bool known = false;  ///< false: State unreadable, the service leaves both flags as they are
  bool removable = false;
  bool optical = false;
};

/// What the service's reader and decryption make of one file.
struct PolicyReport {
  bool complete = false;  ///< LoadPolicyFile returned true: all three counts non-zero
  std::int32_t jan = 0;
  std::int32_t feb = 0;
  std::int32_t mar = 0;
  std::optional<std::u16string> counter;
  std::optional<std::u16string> description;
  std::optional<std::u16string> state;
  LockOutcome locks;
  /// What keeps the file from working as intended (incomplete, State unreadable, ...).
  std::vector<std::string> problems;
  /// Lines the reader skips, cuts or overrides; harmless on their own.
  std::vector<std::string> notes;
};

/// The flags for a decrypted State (nullopt: decryption failed): "falsefalse", "truefalse" and
/// "falsetrue" select exactly, any other text locks both kinds.
LockOutcome LockOutcomeOf(const std::optional<std::u16string>& state);

/// Loads the file at path (in the installed platform's terms) with the service's own
/// LoadPolicyFile, decrypts its three values with DecryptPolicyValue, and goes over bytes (the
/// same file's content) line by line with the reader's rules to explain what it skips.
PolicyReport InspectPolicyFile(const std::u16string& path, const std::vector<std::uint8_t>& bytes);

/// What the service makes of its two policy files at start-up.
struct StartupPolicy {
  /// Which file the service goes by: 0 neither exists, 1 DevState.ini (it loaded), 2
  /// SysSecurity.ini (DevState.ini missing or incomplete; parsed on top of what it left).
  int file = 0;
  bool complete = false;  ///< the last LoadPolicyFile returned true
  std::optional<std::u16string> state;
  LockOutcome locks;
};

/// Runs the service's start-up sequence over the two paths (in the installed platform's
/// terms): LoadPolicyFile on devState, on sysSecurity when that returned false, then the
/// decryption of State and its decoding.
StartupPolicy InspectStartupPolicy(const std::u16string& devState,
                                   const std::u16string& sysSecurity);

/// Prints the report for an administrator.
void PrintPolicyReport(const PolicyReport& report, const std::string& name, std::ostream& out);

}  // namespace tarvelctl

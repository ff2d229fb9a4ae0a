// Decrypting the policy values: key container preparation, entry lookup and RC4 decryption.
#pragma once

#include <array>
#include <cstdint>

namespace policy {

/// Set to 1 when EnsureKeyContainer first runs; a failed first run is not retried.
extern std::int32_t KeyContainerAttempted;

/// The passphrase's 58 UTF-16LE bytes, without a terminator: the MD5 of these, used whole as
/// a 128-bit RC4 key, encrypts every value of the policy file.
std::array<std::uint8_t, 58> PolicyPassphraseBytes();

/// Once per process: opens the account's default key container with the Base provider,
/// creating it when missing, and generates its signature key pair when it has none. Logs the
/// outcome; returns 1 (also on every later call) or 0.
int EnsureKeyContainer();

/// Copies the 1040 bytes of the text slot that name ("State", "Counter" or "Description",
/// letter case ignored) selects into buffer and its byte count into *length. Returns 1, or 0
/// (length untouched) when there is no record or no such entry.
int GetPolicyEntry(const char16_t* name, char16_t* buffer, std::int32_t* length);

/// Decrypts the named entry into buffer (520 code units): on true it holds the plain text,
/// NUL-terminated; on false it must not be used. Counts of 0 or below fail; counts above 1040
/// are taken as 1040.
bool DecryptPolicyValue(const char16_t* name, char16_t* buffer);

/// Test hook: forgets the key container attempt and the scratch string, as a new process would.
void ResetPolicyDecryptionForTests();

}  // namespace policy

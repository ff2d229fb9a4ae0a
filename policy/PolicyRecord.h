// The PolicyRecord: the policy file's three encrypted values and their byte counts.
#pragma once

#include <cstddef>
#include <cstdint>

namespace policy {

/// Code units of one text slot (1040 bytes), and of the entry buffer of a decryption.
inline constexpr std::size_t kPolicySlotUnits = 520;
inline constexpr std::size_t kPolicySlotBytes = kPolicySlotUnits * 2;
/// Code units of a value kept by the reader; longer values are cut.
inline constexpr std::size_t kPolicyValueUnits = 260;

/// One per process, created zeroed by the first LoadPolicyFile and never cleared: a later file
/// parses on top of what an earlier one stored. Texts are the ciphertext code units,
/// NUL-terminated at the start of their slot; the rest of a slot keeps what it held before.
struct PolicyRecord {
  char16_t counterText[kPolicySlotUnits];
  char16_t stateText[kPolicySlotUnits];
  char16_t descriptionText[kPolicySlotUnits];
  std::int32_t counterLength;      ///< from "Jan"
  std::int32_t stateLength;        ///< from "Mar"
  std::int32_t descriptionLength;  ///< from "Feb"
};

}  // namespace policy

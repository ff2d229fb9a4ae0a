// The once-a-second policy poll: tag file to WriteProtect value, lock pulse, portable devices.
#pragma once

#include <cstdint>

#include "platform/ServiceNames.h"

namespace enforcement {

/// Room for the tag text, in wide characters, terminator included.
inline constexpr std::uint32_t kTagCapacity = 260;

/// The tag file's [State] "key" text and the size handed to the profile reader.
struct TagRecord {
  std::uint32_t capacity = kTagCapacity;
  char16_t keyText[kTagCapacity] = {};
};

/// The poll's process-wide values. Every tick rewrites them before reading them, and ticks
/// never overlap, so nothing carries over from one tick to the next.
extern TagRecord TagBuffer;
/// The value the tag asks for: its first character read as a decimal digit, else 0.
extern std::int32_t DesiredWriteProtect;
/// The registry value read in the current tick (0 when it cannot be read).
extern std::int32_t CurrentWriteProtect;

using platform::kTagFileName;
using platform::kWriteProtectKey;
using platform::kWriteProtectValue;

/// Refreshes TagBuffer's key text from [State] "key" of the tag file; a missing or unreadable
/// file, section or key gives "0".
void ReadTagFile();

/// The value a tag character stands for: 0 to 9 for a decimal digit of any script that the
/// Windows C runtime's wide conversion counts, 0 for anything else.
std::int32_t TagDigitValue(char16_t c);

/// Writes value as WriteProtect through a fresh DwordReg; the write's success is not passed on.
void SetWriteProtect(std::int32_t value);

/// The poll timer's callback; both arguments are ignored. Brings WriteProtect into line with the
/// tag file, pulses the removable lock after a change so that removable volumes remount, and
/// switches the portable-device class. A tick that finds the previous one still running does
/// nothing. The value check, the write, the pulse and the device switch run as one unit under
/// the guard lock, so no control request or device event comes between them.
void PollPolicy(void* parameter, bool timerOrWaitFired);

/// The poll's values as a new process has them: an empty TagBuffer, both WriteProtect values 0.
void ResetProcessState();

}  // namespace enforcement

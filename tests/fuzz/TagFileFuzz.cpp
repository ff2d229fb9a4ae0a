// Fuzz target: the raw bytes of ReadTag.ini (ANSI, UTF-8 or UTF-16) through one poll tick.
//
// Input: one byte of set-up, then the tag file's bytes. Set-up bits 0-3 choose the WriteProtect
// value found before the tick (0-9 a REG_DWORD of that value, 10 a REG_SZ "1", 11 eight bytes of
// REG_BINARY, anything else none); bit 4 switches the removable lock on before the tick; bit 5
// runs the service under WOW64 (the tag file then lies in SysWOW64); bit 6 leaves the "WPD"
// setup class out.
#include <algorithm>
#include <optional>
#include <vector>

#include "enforcement/PolicyPoll.h"
#include "guard/VolumeGuard.h"
#include "platform/Devices.h"
#include "platform/Registry.h"
#include "platform/SystemDir.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

using enforcement::kWriteProtectKey;
using enforcement::kWriteProtectValue;
using platform::kHkeyLocalMachine;

// Stores the value the set-up asks for; returns what DwordReg::Read will make of it.
std::uint32_t ArrangeValue(platform::sim::SimRegistry& registry, std::uint8_t choice) {
  if (choice <= 9) {
    registry.SetDword(kHkeyLocalMachine, kWriteProtectKey, kWriteProtectValue, choice);
    return choice;
  }
  if (choice == 10) {
    registry.SetString(kHkeyLocalMachine, kWriteProtectKey, kWriteProtectValue, u"1");
    return u'1';  // the first four bytes of "1" and its terminator
  }
  if (choice == 11) {
    registry.SetValue(kHkeyLocalMachine, kWriteProtectKey, kWriteProtectValue,
                      platform::sim::SimRegValue{platform::kRegBinary, {1, 0, 0, 0, 1, 0, 0, 0}});
    return 0;  // longer than a DWORD: reads as 0
  }
  return 0;
}

std::optional<std::uint32_t> DwordValue(platform::sim::SimRegistry& registry) {
  auto v = registry.Value(kHkeyLocalMachine, kWriteProtectKey, kWriteProtectValue);
  if (!v || v->type != platform::kRegDword || v->data.size() != 4) return std::nullopt;
  return v->data[0] | (v->data[1] << 8) | (v->data[2] << 16) | (v->data[3] << 24);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::FuzzMachine machine;
  platform::sim::SimMachine& sim = machine.sim;
  fuzz::ByteReader input(data, size);
  const std::uint8_t setup = input.Byte();
  const bool removableLock = (setup & 0x10) != 0;
  const bool wow64 = (setup & 0x20) != 0;
  const bool wpdClass = (setup & 0x40) == 0;

  sim.volumes.SetDrive('E', platform::sim::SimDrive{platform::kDriveRemovable, true});
  std::uint32_t wpd = 0;
  if (wpdClass) {
    sim.devices.AddClass(u"WPD", platform::sim::kWpdClassGuid);
    wpd = sim.devices.AddDevice(platform::sim::kWpdClassGuid);
  }
  const std::uint32_t before = ArrangeValue(sim.registry, setup & 0x0F);
  const auto stored = sim.registry.Value(kHkeyLocalMachine, kWriteProtectKey, kWriteProtectValue);
  platform::IsWow64 = wow64 ? 1 : 0;
  sim.files.SetFile(
      wow64 ? u"C:\\Windows\\SysWOW64\\ReadTag.ini" : u"C:\\Windows\\system32\\ReadTag.ini",
      std::vector<std::uint8_t>(input.rest(), input.rest() + input.restSize()));
  guard::VolumeGuard& guard = guard::TheVolumeGuard();
  if (removableLock) guard.SetRemovableLock(true);

  enforcement::PollPolicy(&guard, true);

  // The key text ends within its buffer, and its first unit alone gives the value asked for:
  // an ASCII digit its value, any other ASCII unit 0 (digits of other scripts count too, and
  // every value lies within 0 to 9).
  const char16_t* text = enforcement::TagBuffer.keyText;
  FUZZ_CHECK(std::find(text, text + enforcement::kTagCapacity, u'\0') !=
             text + enforcement::kTagCapacity);
  const std::int32_t desired = enforcement::DesiredWriteProtect;
  if (text[0] >= u'0' && text[0] <= u'9') {
    FUZZ_CHECK(desired == text[0] - u'0');
  } else if (text[0] < 0x80) {
    FUZZ_CHECK(desired == 0);
  }
  FUZZ_CHECK(desired >= 0 && desired <= 9);
  FUZZ_CHECK(enforcement::CurrentWriteProtect == desired);
  // The value is written exactly when it differs from what was read.
  if (before != static_cast<std::uint32_t>(desired)) {
    FUZZ_CHECK(DwordValue(sim.registry) == static_cast<std::uint32_t>(desired));
  } else {
    const auto now = sim.registry.Value(kHkeyLocalMachine, kWriteProtectKey, kWriteProtectValue);
    FUZZ_CHECK(now.has_value() == stored.has_value());
    FUZZ_CHECK(!now || (now->type == stored->type && now->data == stored->data));
  }
  // The removable lock is as it was, and so is the stick: held while the lock is on, free after
  // any pulse otherwise.
  FUZZ_CHECK(guard.GetRemovableLock() == removableLock);
  FUZZ_CHECK((sim.volumes.Drive('E').lockedBy != platform::kNullHandle) == removableLock);
  if (wpdClass) {
    const bool disabled = sim.devices.Device(wpd).problem == platform::kCmProbDisabled;
    FUZZ_CHECK(disabled == (removableLock || desired == 1));
  }
  // Nothing stays open but the guard's volume handles.
  FUZZ_CHECK(sim.registry.OpenKeyCount() == 0);
  FUZZ_CHECK(sim.core.OpenHandleCount() == sim.core.OpenHandleCount("volume"));
  FUZZ_CHECK(sim.core.OpenHandleCount("volume") == (removableLock ? 1u : 0u));
  return 0;
}

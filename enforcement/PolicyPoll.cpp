// The once-a-second policy poll.
#include "enforcement/PolicyPoll.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>

#include "enforcement/DwordReg.h"
#include "enforcement/PortableDevices.h"
#include "guard/VolumeGuard.h"
#include "platform/Debug.h"
#include "platform/Files.h"
#include "platform/Platform.h"
#include "platform/Registry.h"
#include "platform/SystemDir.h"
#include "platform/Threads.h"

namespace enforcement {

TagRecord TagBuffer;
std::int32_t DesiredWriteProtect = 0;
std::int32_t CurrentWriteProtect = 0;

void ResetProcessState() {
  TagBuffer = TagRecord{};
  DesiredWriteProtect = 0;
  CurrentWriteProtect = 0;
}

static_assert(std::is_same_v<decltype(&PollPolicy), platform::TimerCallback>,
              "PollPolicy is the poll timer's callback");

namespace {

constexpr int kSettleSleeps = 50;  // fifty separate 1 ms sleeps, not one of 50 ms
constexpr std::uint32_t kPulseMs = 500;

// Set while a tick runs. A timer tick that finds it set is dropped: the next one comes a
// second later anyway, and queued ticks would only pile up behind a slow one.
std::atomic<bool> tickRunning{false};

class TickClaim {
 public:
  TickClaim() : claimed_(!tickRunning.exchange(true)) {}
  ~TickClaim() {
    if (claimed_) tickRunning.store(false);
  }
  TickClaim(const TickClaim&) = delete;
  TickClaim& operator=(const TickClaim&) = delete;
  [[nodiscard]] bool claimed() const { return claimed_; }

 private:
  bool claimed_;
};

// The zero of every block of ten decimal digits that the Windows C runtime's wide-string
// conversion accepts, in ascending order. The conversion is done here rather than by the
// C library so that every build reads a tag the same way: glibc's wcstol, for one, counts only
// the ASCII digits.
constexpr char16_t kDigitZeros[] = {
    0x0030,  // ASCII
    0x0660,  // Arabic-Indic
    0x06F0,  // Extended Arabic-Indic
    0x0966,  // Devanagari
    0x09E6,  // Bengali
    0x0A66,  // Gurmukhi
    0x0AE6,  // Gujarati
    0x0B66,  // Oriya
    0x0C66,  // Telugu
    0x0CE6,  // Kannada
    0x0D66,  // Malayalam
    0x0E50,  // Thai
    0x0ED0,  // Lao
    0x0F20,  // Tibetan
    0x1040,  // Myanmar
    0x17E0,  // Khmer
    0x1810,  // Mongolian
    0xFF10,  // Fullwidth
};

}  // namespace

std::int32_t TagDigitValue(char16_t c) {
  for (char16_t zero : kDigitZeros) {
    if (c < zero) return 0;
    if (c < zero + 10) return c - zero;
  }
  return 0;
}

void ReadTagFile() {
  char16_t path[platform::kMaxPath];
  platform::SystemDirPath(path);
  platform::Files& files = *platform::Current().files;
  files.PathAppendW(path, kTagFileName);
  files.GetPrivateProfileStringW(u"State", u"key", u"0", TagBuffer.keyText, TagBuffer.capacity,
                                 path);
}

void SetWriteProtect(std::int32_t value) {
  auto accessor =
      std::make_unique<DwordReg>(platform::kHkeyLocalMachine, kWriteProtectKey, kWriteProtectValue);
  accessor->Write(static_cast<std::uint32_t>(value));
}

void PollPolicy(void* /*parameter*/, bool /*timerOrWaitFired*/) {
  TickClaim tick;
  if (!tick.claimed()) return;

  ReadTagFile();
  // Only the first character counts: "10" asks for 1, "-1" and "" for 0.
  DesiredWriteProtect = TagDigitValue(TagBuffer.keyText[0]);
  {
    auto accessor = std::make_unique<DwordReg>(platform::kHkeyLocalMachine, kWriteProtectKey,
                                               kWriteProtectValue);
    CurrentWriteProtect = static_cast<std::int32_t>(accessor->Read());
  }
  platform::Threads& threads = *platform::Current().threads;
  for (int i = 0; i < kSettleSleeps; ++i) threads.Sleep(1);

  guard::VolumeGuard& guard = guard::TheVolumeGuard();
  std::lock_guard unit(guard.Mutex());
  if (CurrentWriteProtect != DesiredWriteProtect) {
    CurrentWriteProtect = DesiredWriteProtect;
    SetWriteProtect(CurrentWriteProtect);
    if (!guard.GetRemovableLock()) {
      // Lock and release every removable volume so that each is mounted afresh, under the new
      // setting, at its next use. While the removable lock is on, the volumes stay locked.
      guard.SetRemovableLock(true);
      threads.Sleep(kPulseMs);
      guard.SetRemovableLock(false);
    }
  }
  // Locks that were refused are tried again, and blocked volumes that nothing took (an arrival
  // missed, one during start-up) are taken: each heals within a second.
  guard.KeepLocked();
  SwitchPortableDevicesLogged(!guard.GetRemovableLock() && DesiredWriteProtect != 1);
}

}  // namespace enforcement

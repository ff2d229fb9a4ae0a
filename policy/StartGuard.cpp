// Start-up: WOW64 detection, the poll timer, the policy file and the first lock pass.
#include "policy/StartGuard.h"

#include <mutex>
#include <string_view>

#include "enforcement/PolicyPoll.h"
#include "guard/VolumeGuard.h"
#include "platform/Files.h"
#include "platform/Platform.h"
#include "platform/SystemDir.h"
#include "platform/Text.h"
#include "platform/Threads.h"
#include "policy/PolicyDecryption.h"
#include "policy/PolicyFile.h"

namespace policy {

platform::Handle PolicyTimerQueue = platform::kNullHandle;
platform::Handle PolicyPollTimer = platform::kNullHandle;

void ResetProcessState() {
  ReleasePolicy();
  ResetPolicyDecryptionForTests();
  SetPolicyAllocationFailsForTests(false);
  PolicyFilePath[0] = 0;
  PolicyTimerQueue = platform::kNullHandle;
  PolicyPollTimer = platform::kNullHandle;
}

namespace {

constexpr std::uint32_t kPollPeriodMs = 1000;
constexpr std::size_t kEntryUnits = 520;

// "%s%s" of the directory and the name, bounded by the buffer. A path that does not fit comes
// out empty, which the loader reports as a missing file.
void FormatPolicyPath(char16_t (&path)[platform::kMaxPath], const char16_t* dir,
                      const char16_t* name) {
  for (auto& c : path) c = 0;
  if (!platform::StrCopy(path, platform::kMaxPath, dir) ||
      !platform::StrCat(path, platform::kMaxPath, name)) {
    path[0] = 0;
  }
}

}  // namespace

void StartGuard(guard::VolumeGuard& guard) {
  platform::DetectWow64();

  // The poll starts before the policy is read; its first tick comes a second later. Failures
  // here go unnoticed: the service then runs without the poll.
  platform::Threads& threads = *platform::Current().threads;
  PolicyTimerQueue = threads.CreateTimerQueue();
  threads.CreateTimerQueueTimer(&PolicyPollTimer, PolicyTimerQueue, enforcement::PollPolicy, &guard,
                                kPollPeriodMs, kPollPeriodMs, platform::kWtExecuteDefault);

  char16_t dir[platform::kMaxPath];
  platform::SystemDirPath(dir);
  char16_t path[platform::kMaxPath];
  FormatPolicyPath(path, dir, kPolicyFileName);
  if (!LoadPolicyFile(path)) {
    FormatPolicyPath(path, dir, kFallbackPolicyFileName);
    LoadPolicyFile(path);
  }
  // Whatever the loads returned: a State read from an incomplete file still takes effect. The
  // flags and the first pass are one unit under the guard lock: a poll tick that came due while
  // the loads ran (a new key container, a slow disk) either finishes its lock-and-release pulse
  // first, or runs after the pass and sees the flags the policy set.
  std::lock_guard unit(guard.Mutex());
  guard.LockSweep(ReadLockState());
}

guard::SweepFlags ReadLockState() {
  char16_t state[kEntryUnits] = {};
  if (!DecryptPolicyValue(u"State", state)) return 0x00;
  std::u16string_view text(state);
  std::uint8_t removable = 1;
  std::uint8_t optical = 1;
  if (text == u"falsefalse") {
    removable = 0;
    optical = 0;
  } else if (text == u"truefalse") {
    optical = 0;
  } else if (text == u"falsetrue") {
    removable = 0;
  }
  // Anything else, the empty text and a wrong key's output included, locks both kinds.
  guard::VolumeGuard::RemovableLock = removable;
  guard::VolumeGuard::OpticalLock = optical;
  return (removable ? guard::kSweepRemovable : 0) | (optical ? guard::kSweepOptical : 0);
}

}  // namespace policy

// The guard's run-time toggles and its handling of device-change broadcasts.
#include <atomic>
#include <cstddef>
#include <cstring>
#include <string>

#include "guard/VolumeGuard.h"
#include "platform/Debug.h"
#include "platform/Platform.h"
#include "platform/Text.h"
#include "platform/Threads.h"
#include "platform/Windowing.h"

namespace guard {

using platform::Handle;
using platform::kInvalidHandleValue;

namespace {

constexpr std::uint32_t kArrivalPauseMs = 100;

std::atomic<RemovableReleaseHook> AfterRemovableRelease{nullptr};

// The unit mask of a volume arrival broadcast. The broadcast is read field by field, each only
// once its size field shows that the broadcast reaches that far, so nothing past its end is
// ever read. A null pointer, a header that is not a volume's, or a volume broadcast too short
// to carry a mask gives no mask.
bool ReadUnitMask(const void* data, std::uint32_t* unitMask) {
  using platform::DevBroadcastHdr;
  using platform::DevBroadcastVolume;
  if (data == nullptr) return false;
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  std::uint32_t size = 0;
  std::memcpy(&size, bytes + offsetof(DevBroadcastHdr, dbch_size), sizeof size);
  if (size < sizeof(DevBroadcastHdr)) return false;
  std::uint32_t type = 0;
  std::memcpy(&type, bytes + offsetof(DevBroadcastHdr, dbch_devicetype), sizeof type);
  constexpr std::size_t kMaskOffset = offsetof(DevBroadcastVolume, dbcv_unitmask);
  if (type != platform::kDbtDevtypVolume || size < kMaskOffset + sizeof *unitMask) return false;
  std::memcpy(unitMask, bytes + kMaskOffset, sizeof *unitMask);
  return true;
}

}  // namespace

bool VolumeGuard::SetRemovableLock(bool on) {
  std::lock_guard lock(mutex_);
  if (GetRemovableLock() == on) return true;
  CloseVolumeHandles(kRemovableKind);
  ForgetTries();
  // The flag changes before the pass, so the pass already sees the new policy.
  if (on) {
    RemovableLock = 1;
    LockSweep(kSweepRemovable);
  } else {
    RemovableLock = 0;
    ReleaseSweep(kSweepRemovable);
    if (RemovableReleaseHook hook = AfterRemovableRelease.load(); hook != nullptr) hook();
  }
  return true;
}

bool VolumeGuard::SetOpticalLock(bool on) {
  std::lock_guard lock(mutex_);
  if (GetOpticalLock() == on) return true;
  CloseVolumeHandles(kOpticalKind);
  ForgetTries();
  if (on) {
    OpticalLock = 1;
    LockSweep(kSweepOptical);
  } else {
    OpticalLock = 0;
    ReleaseSweep(kSweepOptical);
  }
  return true;
}

std::int32_t VolumeGuard::ClassifyArrival(std::uint32_t unitMask) {
  std::lock_guard lock(mutex_);
  arrivalRecorded_ = false;
  for (std::uint32_t i = 0; i < kDriveCount; ++i) {
    if ((unitMask & 1u) != 0) {
      arrivalIndex = i;
      char16_t root[kVolumePathSize] = {};
      platform::StrCopy(root, kVolumePathSize, DriveLetters[i]);
      std::int32_t cls = ClassifyDrive(root);
      // Class -1 is filed under the optical kind, as the arrival handling has always done.
      arrivalRecorded_ =
          RecordEntry(KindOf(cls == kClassRemovable ? kRemovableKind : kOpticalKind));
      return cls;
    }
    unitMask >>= 1;
    if (unitMask == 0) return kClassNeither;
  }
  return kClassNeither;
}

std::int32_t VolumeGuard::OnDeviceChange(std::uint32_t event, const void* data) {
  std::lock_guard lock(mutex_);
  if (event == platform::kDbtDeviceArrival) {
    platform::LogW(u"\n(VexService) Device arrival");
    std::uint32_t unitMask = 0;
    if (ReadUnitMask(data, &unitMask)) {
      std::int32_t cls = ClassifyArrival(unitMask);
      const int letter = static_cast<int>(arrivalIndex);
      // A new volume on the letter: its tries start afresh and its disk is asked again.
      if ((unitMask & ((1u << kDriveCount) - 1)) != 0) {
        lockTries_[letter] = 0;
        internalType_[letter] = 0;
      }
      char16_t path[kVolumePathSize];
      InitVolumePath(path);
      AppendDriveLetter(path, letter);
      // A volume the guard already holds locked (a repeated broadcast) is not opened again:
      // the open would only be refused by the guard's own lock.
      const bool held = HeldLocked(letter);
      if (cls == kClassRemovable && GetRemovableLock()) {
        // The arrival's own handle takes the new volume: a second handle of the guard's on it
        // would make the lock impossible.
        const Kind removable = KindOf(kRemovableKind);
        Handle h = kInvalidHandleValue;
        if (arrivalRecorded_ && !held) {
          h = OpenVolume(path);
          Hold(removable, removableCount - 1, h, letter);
          if (h == kInvalidHandleValue) LockFailed(letter, Threads().GetLastError());
        }
        if (h != kInvalidHandleValue) {
          Threads().Sleep(kArrivalPauseMs);
          Take(removable, removableCount - 1);
        }
        // Every other removable-kind volume that no slot holds is taken too; without a slot for
        // the arrival's own handle, that includes the new volume.
        if (h != kInvalidHandleValue || !arrivalRecorded_ || held) {
          if (!arrivalRecorded_) Threads().Sleep(kArrivalPauseMs);
          LockPass(kSweepRemovable, true);
        }
      } else if (cls == kClassOptical && GetOpticalLock() && arrivalRecorded_ && !held) {
        // The arrival's own handle takes the disc and stays held.
        const Kind optical = KindOf(kOpticalKind);
        Hold(optical, opticalCount - 1, OpenVolume(path), letter);
        if (opticalHandles[opticalCount - 1] != kInvalidHandleValue) {
          Take(optical, opticalCount - 1);
        } else {
          LockFailed(letter, Threads().GetLastError());
        }
      }
    }
    platform::LogW(u"\n(VexService) Handle device arrival finish");
  } else if (event == platform::kDbtDeviceRemoveComplete) {
    // Only what went away is let go: the volume the broadcast names, and any held handle whose
    // device no longer answers. Every other lock stays held, and a pass then takes what the
    // flags block and no slot holds, so the guard ends as a fresh lock pass would leave it
    // without ever unlocking a volume that is still there.
    std::uint32_t unitMask = 0;
    ReadUnitMask(data, &unitMask);  // a removal that is not a volume's names no letter
    DropGone(unitMask);
    ForgetTries();
    LockPass(kSweepRemovable | kSweepOptical, true);
    platform::LogW(u"\n(VexService) Device remove complete");
  }
  return 1;
}

void SetAfterRemovableRelease(RemovableReleaseHook hook) {
  AfterRemovableRelease = hook;
}

}  // namespace guard

// The volume guard: state, sweeps and slot bookkeeping.
#include "guard/VolumeGuard.h"

#include "guard/DriveKind.h"
#include "platform/NoDestructor.h"
#include "platform/Platform.h"
#include "platform/Text.h"
#include "platform/Threads.h"
#include "platform/Volumes.h"

namespace guard {

using platform::Handle;
using platform::kInvalidHandleValue;
using platform::kNullHandle;

static_assert(static_cast<std::int32_t>(DriveKind::kRemovable) == kClassRemovable);
static_assert(static_cast<std::int32_t>(DriveKind::kOptical) == kClassOptical);
static_assert(static_cast<std::int32_t>(DriveKind::kNeither) == kClassNeither);

namespace {

constexpr std::uint32_t kTakePauseMs = 100;

platform::Threads& Threads() {
  return *platform::Current().threads;
}

// Letter selection shared by both passes: RAM disks always take part, removable and fixed
// drives with 0x01, optical drives with 0x10, everything else never.
bool Selected(std::uint32_t type, SweepFlags flags) {
  switch (type) {
    case platform::kDriveRemovable:
    case platform::kDriveFixed:
      return (flags & kSweepRemovable) != 0;
    case platform::kDriveCdrom:
      return (flags & kSweepOptical) != 0;
    case platform::kDriveRamdisk:
      return true;
    default:
      return false;
  }
}

}  // namespace

VolumeGuard::Kind VolumeGuard::KindOf(HandleKind kind) {
  if (kind == kOpticalKind) return Kind{opticalCount, opticalHandles, opticalInfo_};
  return Kind{removableCount, removableHandles, removableInfo_};
}

bool VolumeGuard::GetRemovableLock() const {
  return RemovableLock.load() != 0;
}
bool VolumeGuard::GetOpticalLock() const {
  return OpticalLock.load() != 0;
}

// A kind's count can outgrow its 26 slots when passes and arrivals add entries with no toggle
// or removal in between. Before that happens the kind gives up first the entries that hold no
// handle (0 or INVALID_HANDLE_VALUE), then those whose handle holds no lock; the entries that
// hold locks are kept, so a blocked volume never ends unlocked for want of a slot. Only when
// all 26 hold live locks, one per drive letter, is the new entry refused.
bool VolumeGuard::MakeRoom(const Kind& k) {
  if (k.count < kDriveCount) return true;
  std::int32_t kept = 0;
  for (std::int32_t i = 0; i < k.count; ++i) {
    if (k.slots[i] == kNullHandle || k.slots[i] == kInvalidHandleValue) continue;
    k.slots[kept] = k.slots[i];
    k.info[kept] = k.info[i];
    ++kept;
  }
  if (kept == kDriveCount) {
    kept = 0;
    for (std::int32_t i = 0; i < kDriveCount; ++i) {
      if (!k.info[i].locked) {
        Threads().CloseHandle(k.slots[i]);
        continue;
      }
      k.slots[kept] = k.slots[i];
      k.info[kept] = k.info[i];
      ++kept;
    }
  }
  for (std::int32_t i = kept; i < kDriveCount; ++i) {
    k.slots[i] = kNullHandle;
    k.info[i] = SlotInfo{};
  }
  k.count = kept;
  return k.count < kDriveCount;
}

bool VolumeGuard::RecordEntry(const Kind& k) {
  if (!MakeRoom(k)) return false;
  ++k.count;
  return true;
}

void VolumeGuard::Hold(const Kind& k, std::int32_t slot, Handle h, int letter) {
  k.slots[slot] = h;
  k.info[slot] = SlotInfo{false, static_cast<std::int8_t>(h == kInvalidHandleValue ? -1 : letter)};
}

Handle VolumeGuard::OpenInto(const Kind& k, char16_t (&path)[kVolumePathSize], int letter) {
  AppendDriveLetter(path, letter);
  Handle h = OpenVolume(path);
  CutVolumePath(path);
  Hold(k, k.count, h, letter);
  return h;
}

void VolumeGuard::Take(const Kind& k, std::int32_t slot) {
  Threads().Sleep(kTakePauseMs);
  DismountVolume(k.slots[slot]);
  k.info[slot].locked = LockVolume(k.slots[slot]) != 0;
  if (k.info[slot].locked) ForgetSupersededLocks(k, slot);
}

// A volume admits one lock at a time. A lock just granted on a letter therefore shows that any
// other slot recorded as locking that letter holds a handle on a volume that has gone away (a
// stick pulled and another put in its place, with no removal seen in between). Such a slot
// holds no lock any more and may be given up when its kind runs out of room.
void VolumeGuard::ForgetSupersededLocks(const Kind& k, std::int32_t slot) {
  const std::int8_t letter = k.info[slot].letter;
  for (SlotInfo* table : {removableInfo_, opticalInfo_}) {
    for (std::int32_t i = 0; i < kDriveCount; ++i) {
      if (&table[i] != &k.info[slot] && table[i].letter == letter) table[i].locked = false;
    }
  }
}

void VolumeGuard::GiveBack(const Kind& k, std::int32_t slot) {
  Threads().Sleep(kTakePauseMs);
  UnlockVolume(k.slots[slot]);
  CloseSlot(k, slot);
}

void VolumeGuard::CloseSlot(const Kind& k, std::int32_t slot) {
  Threads().CloseHandle(k.slots[slot]);
  k.slots[slot] = kNullHandle;
  k.info[slot] = SlotInfo{};
}

void VolumeGuard::CloseVolumeHandles(std::uint8_t kind) {
  std::lock_guard lock(mutex_);
  const bool removable = kind == kRemovableKind || kind == kBothKinds;
  const bool optical = kind == kOpticalKind || kind == kBothKinds;
  for (int i = 0; i < kDriveCount; ++i) {
    if (removable && removableHandles[i] != kNullHandle) {
      Threads().CloseHandle(removableHandles[i]);
      removableHandles[i] = kNullHandle;
    }
    if (optical && opticalHandles[i] != kNullHandle) {
      Threads().CloseHandle(opticalHandles[i]);
      opticalHandles[i] = kNullHandle;
    }
  }
  if (removable) {
    removableCount = 0;
    for (SlotInfo& info : removableInfo_) info = SlotInfo{};
  }
  if (optical) {
    opticalCount = 0;
    for (SlotInfo& info : opticalInfo_) info = SlotInfo{};
  }
}

std::int32_t VolumeGuard::ClassifyDrive(const char16_t* rootName) {
  std::lock_guard lock(mutex_);
  std::uint32_t type = platform::Current().volumes->GetDriveTypeW(rootName);
  if (type == platform::kDriveCdrom) return kClassOptical;
  if (type == platform::kDriveRemovable) return kClassRemovable;
  if (type != platform::kDriveFixed) return kClassNeither;
  char16_t path[kVolumePathSize];
  InitVolumePath(path);
  platform::StrCat(path, kVolumePathSize, rootName);
  Handle h = OpenVolume(path);
  // A failed open leaves an invalid handle, on which probe and query fail: removable kind.
  const bool removable = IsRemovableKindDisk(type, h);
  if (h != kInvalidHandleValue) Threads().CloseHandle(h);
  return removable ? kClassRemovable : kClassNeither;
}

void VolumeGuard::LockSweep(SweepFlags flags) {
  std::lock_guard lock(mutex_);
  const Kind removable = KindOf(kRemovableKind);
  const Kind optical = KindOf(kOpticalKind);
  char16_t path[kVolumePathSize];
  InitVolumePath(path);
  for (int i = 0; i < kDriveCount; ++i) {
    std::uint32_t type = platform::Current().volumes->GetDriveTypeW(DriveLetters[i]);
    if (!Selected(type, flags)) continue;
    if (type == platform::kDriveRemovable) {
      if (!MakeRoom(removable)) continue;
      if (RemovableLock && OpenInto(removable, path, i) != kInvalidHandleValue) {
        Take(removable, removableCount);
      }
      ++removableCount;
    } else if (type == platform::kDriveFixed || type == platform::kDriveRamdisk) {
      if (!MakeRoom(removable)) continue;
      Handle h = OpenInto(removable, path, i);
      if (h == kInvalidHandleValue) continue;
      // An internal disk (it answers the probe, or reports an internal bus) is left alone.
      if (!IsRemovableKindDisk(type, h)) {
        CloseSlot(removable, removableCount);
        continue;
      }
      // With the flag clear the handle stays held, open but neither dismounted nor locked.
      if (RemovableLock) Take(removable, removableCount);
      ++removableCount;
    } else {  // DRIVE_CDROM
      if (!MakeRoom(optical)) continue;
      if (OpticalLock && OpenInto(optical, path, i) != kInvalidHandleValue) {
        Take(optical, opticalCount);
      }
      ++opticalCount;
    }
  }
}

void VolumeGuard::ReleaseSweep(SweepFlags flags) {
  std::lock_guard lock(mutex_);
  const Kind removable = KindOf(kRemovableKind);
  const Kind optical = KindOf(kOpticalKind);
  char16_t path[kVolumePathSize];
  InitVolumePath(path);
  // The pass works in each kind's scratch slot (the slot at its count) and changes no count.
  for (int i = 0; i < kDriveCount; ++i) {
    std::uint32_t type = platform::Current().volumes->GetDriveTypeW(DriveLetters[i]);
    if (!Selected(type, flags)) continue;
    if (type == platform::kDriveRemovable) {
      if (RemovableLock || !MakeRoom(removable)) continue;
      if (OpenInto(removable, path, i) == kInvalidHandleValue) continue;
      GiveBack(removable, removableCount);
    } else if (type == platform::kDriveFixed || type == platform::kDriveRamdisk) {
      if (!MakeRoom(removable)) continue;
      Handle h = OpenInto(removable, path, i);
      if (h == kInvalidHandleValue) continue;
      if (!IsRemovableKindDisk(type, h) || RemovableLock) {
        CloseSlot(removable, removableCount);
        continue;
      }
      GiveBack(removable, removableCount);
    } else {  // DRIVE_CDROM
      if (OpticalLock || !MakeRoom(optical)) continue;
      if (OpenInto(optical, path, i) == kInvalidHandleValue) continue;
      GiveBack(optical, opticalCount);
    }
  }
}

// Never destroyed: the worker thread and the poll's timer threads may still use the guard while
// the runtime runs static destructors after the entry routine returns. Held handles end with the
// process, and that ends their locks.
VolumeGuard& TheVolumeGuard() {
  static platform::NoDestructor<VolumeGuard> guard;
  return guard.get();
}

void ResetProcessState() {
  VolumeGuard& guard = TheVolumeGuard();
  guard.CloseVolumeHandles(kBothKinds);
  guard.arrivalIndex = 0;
  VolumeGuard::RemovableLock = 0;
  VolumeGuard::OpticalLock = 0;
  SetAfterRemovableRelease(nullptr);
}

}  // namespace guard

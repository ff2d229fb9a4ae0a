// The volume guard: state, sweeps and slot bookkeeping.
#include "guard/VolumeGuard.h"

#include <cstdio>
#include <string>
#include <utility>

#include "guard/DriveKind.h"
#include "platform/Debug.h"
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

platform::Threads& VolumeGuard::Threads() {
  return *platform::Current().threads;
}

void VolumeGuard::Pack(const Kind& k) {
  std::int32_t kept = 0;
  for (std::int32_t i = 0; i < k.count; ++i) {
    if (k.slots[i] == kNullHandle || k.slots[i] == kInvalidHandleValue) continue;
    k.slots[kept] = k.slots[i];
    k.info[kept] = k.info[i];
    ++kept;
  }
  for (std::int32_t i = kept; i < kDriveCount; ++i) {
    k.slots[i] = kNullHandle;
    k.info[i] = SlotInfo{};
  }
  k.count = kept;
}

// A kind's count can outgrow its 26 slots when passes and arrivals add entries with no toggle
// or removal in between. Before that happens the kind gives up first the entries that hold no
// handle (0 or INVALID_HANDLE_VALUE), then those whose handle holds no lock; the entries that
// hold locks are kept, so a blocked volume never ends unlocked for want of a slot. Only when
// all 26 hold live locks, one per drive letter, is the new entry refused.
bool VolumeGuard::MakeRoom(const Kind& k) {
  if (k.count < kDriveCount) return true;
  Pack(k);
  if (k.count == kDriveCount) {
    for (std::int32_t i = 0; i < kDriveCount; ++i) {
      if (!k.info[i].locked) CloseSlot(k, i);
    }
    Pack(k);
  }
  return k.count < kDriveCount;
}

bool VolumeGuard::RecordEntry(const Kind& k) {
  if (!MakeRoom(k)) return false;
  ++k.count;
  return true;
}

void VolumeGuard::Hold(const Kind& k, std::int32_t slot, Handle h, int letter) {
  k.slots[slot] = h;
  k.info[slot] = SlotInfo{false, false, h == kInvalidHandleValue ? -1 : letter};
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
  Seize(k, slot);
}

// Lock first: a refused lock changes nothing, and a granted one shows that no other handle is
// open on the volume; the dismount that follows flushes the volume and takes its file system
// down under the lock. A refused lock is followed by a dismount that forces every other handle
// off the volume: while this handle stays open no new open reaches the volume (it gets
// ERROR_NOT_READY), and the once-a-second check tries the lock again. A dismount before the
// lock would make a CD-ROM's lock through the same handle impossible.
bool VolumeGuard::Seize(const Kind& k, std::int32_t slot) {
  SlotInfo& info = k.info[slot];
  const Handle h = k.slots[slot];
  if (LockVolume(h) != 0) {
    DismountVolume(h);
    info.locked = true;
    info.refused = false;
    ForgetSupersededLocks(k, slot);
    return true;
  }
  const std::uint32_t error = Threads().GetLastError();
  DismountVolume(h);
  info.locked = false;
  info.refused = true;
  LockFailed(info.letter, error);
  return false;
}

// A refused lock tried again. The held handle is closed, so that the volume, once the owners
// of the handles its dismount invalidated have closed them, mounts afresh; it is opened again
// at once and locked through the new handle.
void VolumeGuard::Retry(const Kind& k, std::int32_t slot) {
  const int letter = k.info[slot].letter;
  Threads().CloseHandle(k.slots[slot]);
  const Handle h = OpenIndex(letter);
  Hold(k, slot, h, letter);
  if (h == kInvalidHandleValue) {
    LockFailed(letter, Threads().GetLastError());
    return;
  }
  Seize(k, slot);
}

void VolumeGuard::LockFailed(int letter, std::uint32_t error) {
  if (letter < 0 || letter >= kVolumeIndexes) return;
  if (lockTries_[letter] < kMaxLockTries) ++lockTries_[letter];
  char line[96];
  std::snprintf(line, sizeof line, " failed. (err=%lx)", static_cast<unsigned long>(error));
  std::u16string text = u"\n(VexService) Lock ";
  if (letter < kDriveCount) {
    text += DriveLetters[letter];
  } else {
    text += letterlessNames_[letter - kDriveCount];
  }
  text += platform::FromUtf8(line);
  platform::LogW(text.c_str());
}

bool VolumeGuard::Held(int letter) const {
  if (letter >= kDriveCount) {
    const Handle h = letterlessHandles[letter - kDriveCount];
    return h != kNullHandle && h != kInvalidHandleValue;
  }
  for (int i = 0; i < kDriveCount; ++i) {
    for (const auto& [slots, info] :
         {std::pair{removableHandles, removableInfo_}, std::pair{opticalHandles, opticalInfo_}}) {
      if (info[i].letter == letter && slots[i] != kNullHandle && slots[i] != kInvalidHandleValue) {
        return true;
      }
    }
  }
  return false;
}

void VolumeGuard::ForgetTries() {
  std::lock_guard lock(mutex_);
  for (int i = 0; i < kVolumeIndexes; ++i) {
    lockTries_[i] = 0;
    internalType_[i] = 0;
  }
  // Letterless slots that hold nothing only remembered a name.
  for (int slot = 0; slot < kLetterlessCount; ++slot) {
    if (!Held(kDriveCount + slot)) DropLetterless(slot);
  }
  letterlessFullLogged_ = false;
}

// A volume admits one lock at a time. A lock just granted on a letter therefore shows that any
// other slot recorded as locking that letter holds a handle on a volume that has gone away (a
// stick pulled and another put in its place, with no removal seen in between). Such a slot
// holds no lock any more and may be given up when its kind runs out of room.
void VolumeGuard::ForgetSupersededLocks(const Kind& k, std::int32_t slot) {
  const int letter = k.info[slot].letter;
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
  for (int slot = 0; slot < kLetterlessCount; ++slot) {
    if (letterlessHandles[slot] == kNullHandle) continue;
    const bool match = letterlessKinds_[slot] == kRemovableKind ? removable : optical;
    if (match) DropLetterless(slot);
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
  LockPass(flags, false);
}

// The lock pass. missingOnly leaves alone the letters that a slot already holds, without asking
// Windows about them: the arrival and removal passes bring the rest into line without opening
// held volumes a second time.
void VolumeGuard::LockPass(SweepFlags flags, bool missingOnly) {
  const Kind removable = KindOf(kRemovableKind);
  const Kind optical = KindOf(kOpticalKind);
  char16_t path[kVolumePathSize];
  InitVolumePath(path);
  // Opens, and takes when the flag is set, a removable drive or an optical drive.
  auto takeInto = [&](const Kind& k, bool flag, int letter) {
    if (!MakeRoom(k)) return;
    if (flag) {
      if (OpenInto(k, path, letter) != kInvalidHandleValue) {
        Take(k, k.count);
      } else {
        LockFailed(letter, Threads().GetLastError());
      }
    }
    ++k.count;
  };
  for (int i = 0; i < kDriveCount; ++i) {
    if (missingOnly && Held(i)) continue;
    std::uint32_t type = platform::Current().volumes->GetDriveTypeW(DriveLetters[i]);
    if (!Selected(type, flags)) continue;
    if (type == platform::kDriveRemovable) {
      takeInto(removable, RemovableLock != 0, i);
    } else if (type == platform::kDriveFixed || type == platform::kDriveRamdisk) {
      if (!MakeRoom(removable)) continue;
      Handle h = OpenInto(removable, path, i);
      if (h == kInvalidHandleValue) continue;
      // An internal disk (it answers the probe, or reports an internal bus) is left alone.
      if (!IsRemovableKindDisk(type, h)) {
        internalType_[i] = type;
        CloseSlot(removable, removableCount);
        continue;
      }
      // With the flag clear the handle stays held, open but neither dismounted nor locked.
      if (RemovableLock) Take(removable, removableCount);
      ++removableCount;
    } else {  // DRIVE_CDROM
      takeInto(optical, OpticalLock != 0, i);
    }
  }
  LetterlessPass(flags, true);
}

void VolumeGuard::TakeMissing(int letter, std::uint32_t type) {
  const bool disk = type == platform::kDriveFixed || type == platform::kDriveRamdisk;
  const Kind k = KindOf(type == platform::kDriveCdrom ? kOpticalKind : kRemovableKind);
  if (!MakeRoom(k)) return;
  char16_t path[kVolumePathSize];
  InitVolumePath(path);
  if (OpenInto(k, path, letter) == kInvalidHandleValue) {
    // A fixed disk that cannot be opened may be an internal one: counted, not logged.
    if (!disk) {
      LockFailed(letter, Threads().GetLastError());
    } else if (lockTries_[letter] < kMaxLockTries) {
      ++lockTries_[letter];
    }
    return;
  }
  if (disk && !IsRemovableKindDisk(type, k.slots[k.count])) {
    internalType_[letter] = type;
    CloseSlot(k, k.count);
    return;
  }
  Seize(k, k.count);
  ++k.count;
}

void VolumeGuard::KeepLocked() {
  std::lock_guard lock(mutex_);
  const bool removable = GetRemovableLock();
  const bool optical = GetOpticalLock();
  if (!removable && !optical) return;
  for (HandleKind kind : {kRemovableKind, kOpticalKind}) {
    if (!(kind == kRemovableKind ? removable : optical)) continue;
    const Kind k = KindOf(kind);
    for (std::int32_t slot = 0; slot < k.count; ++slot) {
      const SlotInfo& info = k.info[slot];
      if (info.refused && info.letter >= 0 && lockTries_[info.letter] < kMaxLockTries) {
        Retry(k, slot);
      }
    }
  }
  const Kind letterless = Letterless();
  for (int slot = 0; slot < kLetterlessCount; ++slot) {
    const SlotInfo& info = letterless.info[slot];
    const bool blocked = letterlessKinds_[slot] == kRemovableKind ? removable : optical;
    if (blocked && info.refused && info.letter >= 0 && lockTries_[info.letter] < kMaxLockTries) {
      Retry(letterless, slot);
    }
  }
  // One call names the letters in use; only those not held are asked their type, so that an
  // idle machine pays for a few queries a second, not for all 26. When the call fails, every
  // letter is asked.
  const std::uint32_t listed = platform::Current().volumes->GetLogicalDrives();
  const std::uint32_t inUse = listed != 0 ? listed : ~0u;
  for (int i = 0; i < kDriveCount; ++i) {
    if (((inUse >> i) & 1u) == 0 || lockTries_[i] >= kMaxLockTries || Held(i)) continue;
    const std::uint32_t type = platform::Current().volumes->GetDriveTypeW(DriveLetters[i]);
    switch (type) {
      case platform::kDriveRemovable:
        if (removable) TakeMissing(i, type);
        break;
      case platform::kDriveFixed:
      case platform::kDriveRamdisk:
        if (removable && internalType_[i] != type) TakeMissing(i, type);
        break;
      case platform::kDriveCdrom:
        if (optical) TakeMissing(i, type);
        break;
      default:
        break;
    }
  }
  LetterlessPass(kSweepRemovable | kSweepOptical, false, listed);
}

void VolumeGuard::DropGone(std::uint32_t unitMask) {
  // The slot kept for each letter so far, to close any second handle on it.
  struct Kept {
    const Kind* kind = nullptr;
    std::int32_t slot = 0;
  };
  Kept kept[kDriveCount] = {};
  const Kind kinds[] = {KindOf(kRemovableKind), KindOf(kOpticalKind)};
  for (const Kind& k : kinds) {
    for (std::int32_t slot = 0; slot < k.count; ++slot) {
      const Handle h = k.slots[slot];
      if (h == kNullHandle || h == kInvalidHandleValue) continue;
      const int letter = k.info[slot].letter;
      if (letter < 0 || ((unitMask >> letter) & 1u) != 0 || !VolumeStillPresent(h)) {
        CloseSlot(k, slot);
        continue;
      }
      Kept& first = kept[letter];
      if (first.kind == nullptr) {
        first = Kept{&k, slot};
      } else if (k.info[slot].locked && !first.kind->info[first.slot].locked) {
        CloseSlot(*first.kind, first.slot);
        first = Kept{&k, slot};
      } else {
        CloseSlot(k, slot);
      }
    }
  }
  for (const Kind& k : kinds) Pack(k);
  for (int slot = 0; slot < kLetterlessCount; ++slot) {
    if (Held(kDriveCount + slot) && !VolumeStillPresent(letterlessHandles[slot])) {
      DropLetterless(slot);
    }
  }
}

bool VolumeGuard::HeldLocked(int letter) {
  for (HandleKind kind : {kRemovableKind, kOpticalKind}) {
    const Kind k = KindOf(kind);
    for (std::int32_t slot = 0; slot < k.count; ++slot) {
      if (k.info[slot].letter == letter && k.info[slot].locked &&
          VolumeStillPresent(k.slots[slot])) {
        return true;
      }
    }
  }
  return false;
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
  guard.ForgetTries();
  guard.arrivalIndex = 0;
  VolumeGuard::RemovableLock = 0;
  VolumeGuard::OpticalLock = 0;
  SetAfterRemovableRelease(nullptr);
}

}  // namespace guard

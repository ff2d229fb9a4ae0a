// The guard's volumes without a drive letter: found by enumerating the machine's volumes, sorted
// by the same rule as a letter's, and held in a table of their own by their volume paths.
#include "guard/DriveKind.h"
#include "guard/VolumeGuard.h"
#include "platform/Debug.h"
#include "platform/Platform.h"
#include "platform/Text.h"
#include "platform/Threads.h"
#include "platform/UniqueHandle.h"
#include "platform/Volumes.h"

namespace guard {

using platform::Handle;
using platform::kInvalidHandleValue;
using platform::kNullHandle;

namespace {

// Room for the paths of a volume mounted in a few folders besides its letter. A volume whose
// paths do not fit is taken to have a letter: it is then left to the letter passes, which is
// where a volume with that many mount points most likely also sits.
constexpr std::uint32_t kPathListSize = 1024;

// Whether one of the volume's paths is a drive letter's root ("E:\").
bool HasDriveLetter(const char16_t* volumeName) {
  char16_t paths[kPathListSize];
  std::uint32_t length = 0;
  if (platform::Current().volumes->GetVolumePathNamesForVolumeNameW(volumeName, paths,
                                                                    kPathListSize, &length) == 0) {
    return platform::Current().threads->GetLastError() == platform::kErrorMoreDataCode;
  }
  for (const char16_t* p = paths; p < paths + kPathListSize && *p != 0;) {
    const std::u16string_view path(p);
    if (IsDriveRoot(path)) return true;
    p += path.size() + 1;
  }
  return false;
}

}  // namespace

int VolumeGuard::LetterlessSlot(const char16_t* name) const {
  for (int slot = 0; slot < kLetterlessCount; ++slot) {
    if (letterlessNames_[slot][0] != 0 && std::u16string_view(letterlessNames_[slot]) == name) {
      return slot;
    }
  }
  return -1;
}

void VolumeGuard::DropLetterless(int slot) {
  Handle& h = letterlessHandles[slot];
  if (h != kNullHandle && h != kInvalidHandleValue) Threads().CloseHandle(h);
  h = kNullHandle;
  letterlessInfo_[slot] = SlotInfo{};
  letterlessNames_[slot][0] = 0;
  lockTries_[kDriveCount + slot] = 0;
  internalType_[kDriveCount + slot] = 0;
}

Handle VolumeGuard::OpenIndex(int index) {
  if (index < kDriveCount) {
    char16_t path[kVolumePathSize];
    InitVolumePath(path);
    AppendDriveLetter(path, index);
    return OpenVolume(path);
  }
  // A volume opens by its name without the trailing backslash (with it, the root directory).
  char16_t path[platform::kVolumeNameSize];
  platform::StrCopy(path, platform::kVolumeNameSize, letterlessNames_[index - kDriveCount]);
  const std::u16string_view name(path);
  if (!name.empty() && name.back() == u'\\') path[name.size() - 1] = 0;
  return OpenVolume(path);
}

bool VolumeGuard::KnownLettered(const char16_t* name) const {
  for (int i = 0; i < letteredCount_; ++i) {
    if (std::u16string_view(lettered_[i]) == name) return true;
  }
  return false;
}

void VolumeGuard::LetterlessPass(SweepFlags flags, bool pause, std::uint32_t inUse) {
  // Asking a volume for its paths is the dearest call of the once-a-second check; a volume seen
  // with a letter is asked again only once the letters in use change.
  if (inUse == 0 || inUse != letteredInUse_) letteredCount_ = 0;
  letteredInUse_ = inUse;
  platform::Volumes& volumes = *platform::Current().volumes;
  char16_t name[platform::kVolumeNameSize];
  const platform::UniqueVolumeSearch search(
      volumes.FindFirstVolumeW(name, platform::kVolumeNameSize));
  if (!search.valid()) return;
  do {
    if (KnownLettered(name)) continue;
    if (!HasDriveLetter(name)) {
      TakeLetterless(name, flags, pause);
    } else if (inUse != 0 && letteredCount_ < kDriveCount) {
      platform::StrCopy(lettered_[letteredCount_++], platform::kVolumeNameSize, name);
    }
  } while (volumes.FindNextVolumeW(search.get(), name, platform::kVolumeNameSize) != 0);
}

void VolumeGuard::TakeLetterless(const char16_t* name, SweepFlags flags, bool pause) {
  int slot = LetterlessSlot(name);
  if (slot >= 0 && Held(kDriveCount + slot)) return;
  const std::uint32_t type = platform::Current().volumes->GetDriveTypeW(name);
  if (slot >= 0 && internalType_[kDriveCount + slot] == type) return;  // found internal before
  HandleKind kind = kRemovableKind;
  switch (type) {
    case platform::kDriveRemovable:
    case platform::kDriveFixed:
      if ((flags & kSweepRemovable) == 0 || !GetRemovableLock()) return;
      break;
    case platform::kDriveRamdisk:
      if (!GetRemovableLock()) return;
      break;
    case platform::kDriveCdrom:
      if ((flags & kSweepOptical) == 0 || !GetOpticalLock()) return;
      kind = kOpticalKind;
      break;
    default:
      return;
  }
  if (slot < 0) {
    // A free slot, else one that only remembers an internal disk.
    for (int i = 0; i < kLetterlessCount && slot < 0; ++i) {
      if (letterlessNames_[i][0] == 0) slot = i;
    }
    for (int i = 0; i < kLetterlessCount && slot < 0; ++i) {
      if (letterlessHandles[i] == kNullHandle && internalType_[kDriveCount + i] != 0) {
        DropLetterless(i);
        slot = i;
      }
    }
    if (slot < 0) {
      if (!letterlessFullLogged_) platform::LogW(u"\n(VexService) Letterless volume table full.");
      letterlessFullLogged_ = true;
      return;
    }
    platform::StrCopy(letterlessNames_[slot], platform::kVolumeNameSize, name);
  }
  const int index = kDriveCount + slot;
  if (lockTries_[index] >= kMaxLockTries) return;
  letterlessKinds_[slot] = kind;
  const Kind table = Letterless();
  const Handle h = OpenIndex(index);
  Hold(table, slot, h, index);
  if (h == kInvalidHandleValue) {
    LockFailed(index, Threads().GetLastError());
    letterlessHandles[slot] = kNullHandle;
    return;
  }
  if (type != platform::kDriveRemovable && type != platform::kDriveCdrom &&
      !IsRemovableKindDisk(type, h)) {
    internalType_[index] = type;
    CloseSlot(table, slot);
    return;
  }
  if (pause) {
    Take(table, slot);
  } else {
    Seize(table, slot);
  }
}

}  // namespace guard

// The volume guard: the lock flags, the held volume handles, the sweeps, toggles and events.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "guard/VolumeControl.h"
#include "platform/RecursiveLock.h"
#include "platform/Types.h"
#include "platform/Volumes.h"

namespace platform {
class Threads;
}

namespace guard {

/// Bit set handed to the lock and release passes.
using SweepFlags = std::uint32_t;
inline constexpr SweepFlags kSweepRemovable = 0x01;  ///< removable drives and fixed disks
inline constexpr SweepFlags kSweepOptical = 0x10;    ///< optical drives

/// The byte argument of CloseVolumeHandles; any other value selects nothing.
enum HandleKind : std::uint8_t { kRemovableKind = 0, kOpticalKind = 1, kBothKinds = 2 };

/// How many volumes without a drive letter the guard holds at once, and remembers as internal.
/// A letterless volume that finds the table full is not held: "Letterless volume table full."
/// is logged once between two events, and the volume is tried again at the next one.
inline constexpr int kLetterlessCount = 16;
/// A volume's index in the guard's per-volume tables: the drive letters first, then the
/// letterless table's entries.
inline constexpr int kVolumeIndexes = kDriveCount + kLetterlessCount;

/// Drive classes returned by ClassifyDrive and ClassifyArrival.
inline constexpr std::int32_t kClassRemovable = 0;
inline constexpr std::int32_t kClassOptical = 1;
inline constexpr std::int32_t kClassNeither = -1;

/// Holds the service's lock state. Every operation is serialised by one recursive guard lock.
/// That alone keeps single operations apart, not sequences of them: a caller that must run
/// several operations as one unit holds Mutex() around them, as the poll does around its
/// lock-and-release pulse and StartGuard around its flag stores and first pass (otherwise a
/// pulse that straddles the stores undoes them, or leaves its locks held under a clear flag).
class VolumeGuard {
 public:
  /// Every slot and count zero. The lock flags are the process's (see ResetProcessState).
  VolumeGuard() = default;
  /// Does nothing: held handles end with the process, and that ends their locks.
  ~VolumeGuard() = default;
  VolumeGuard(const VolumeGuard&) = delete;
  VolumeGuard& operator=(const VolumeGuard&) = delete;

  [[nodiscard]] bool GetRemovableLock() const;
  [[nodiscard]] bool GetOpticalLock() const;

  /// Closes every non-zero slot of the kind (kRemovableKind, kOpticalKind or kBothKinds) and
  /// resets its count; closing a locking handle ends its lock.
  void CloseVolumeHandles(std::uint8_t kind);
  /// 1 optical, 0 removable kind, -1 neither.
  std::int32_t ClassifyDrive(const char16_t* rootName);
  /// Opens, dismounts and locks the volumes the flags and the policy select; keeps the handles.
  void LockSweep(SweepFlags flags);
  /// Opens the volumes the policy no longer blocks, unlocks them and closes them again.
  void ReleaseSweep(SweepFlags flags);

  /// Switch a lock policy and bring the volumes into line. Always true.
  bool SetRemovableLock(bool on);
  bool SetOpticalLock(bool on);
  /// Records an entry for the lowest drive letter of the mask; returns its class.
  std::int32_t ClassifyArrival(std::uint32_t unitMask);
  /// Handles a WM_DEVICECHANGE; data is the broadcast (its unit mask is read for an arrival
  /// and for a volume's removal). Returns 1.
  std::int32_t OnDeviceChange(std::uint32_t event, const void* data);
  /// The once-a-second check: tries again the locks that were refused, and takes every present
  /// volume of a blocked kind that the guard does not hold (an arrival that was missed, one
  /// during start-up). Letters the guard holds are not asked about, nor fixed disks already
  /// found internal. Each letter is tried at most kMaxLockTries times from one event to the next.
  void KeepLocked();

  /// How often one volume's take may fail between two events (arrival, removal, toggle) before
  /// the once-a-second check leaves it alone.
  static constexpr std::uint8_t kMaxLockTries = 5;
  /// Forgets every letter's failed tries and what was learnt of its disk: the next check asks
  /// again. Every device event and toggle does this.
  void ForgetTries();

  /// The guard lock, for callers that must run several operations as one unit.
  platform::RecursiveLock& Mutex() { return mutex_; }

  /// Whether removable-kind volumes are to be held locked. One per process.
  static inline std::atomic<std::uint8_t> RemovableLock{0};
  /// Whether optical volumes are to be held locked. One per process.
  static inline std::atomic<std::uint8_t> OpticalLock{0};

  std::uint32_t arrivalIndex = 0;
  std::int32_t removableCount = 0;
  std::int32_t opticalCount = 0;
  platform::Handle removableHandles[kDriveCount] = {};
  platform::Handle opticalHandles[kDriveCount] = {};
  /// The volumes without a drive letter that the guard holds, of either kind, each by its
  /// "\\?\Volume{GUID}" path; 0 marks an empty slot.
  platform::Handle letterlessHandles[kLetterlessCount] = {};

 private:
  /// The current platform's threads area: sleeps, handles and the last error.
  static platform::Threads& Threads();
  /// What the guard knows of the handle in one slot, for giving up slots when a kind runs out.
  struct SlotInfo {
    bool locked = false;   ///< its lock request succeeded and no later lock superseded it
    bool refused = false;  ///< its lock was refused; it dismounted the volume and holds it
    int letter = -1;       ///< the volume's index (a drive letter's, or kDriveCount + a
                           ///< letterless slot's), -1 for none
  };
  /// One kind's count, slots and bookkeeping.
  struct Kind {
    std::int32_t& count;
    platform::Handle* slots;
    SlotInfo* info;
  };
  Kind KindOf(HandleKind kind);
  /// The letterless table as a Kind whose count covers every slot (it is never packed).
  Kind Letterless() { return Kind{letterlessCount_, letterlessHandles, letterlessInfo_}; }
  bool MakeRoom(const Kind& k);
  bool RecordEntry(const Kind& k);
  void Hold(const Kind& k, std::int32_t slot, platform::Handle h, int letter);
  platform::Handle OpenInto(const Kind& k, char16_t (&path)[kVolumePathSize], int letter);
  void Take(const Kind& k, std::int32_t slot);
  bool Seize(const Kind& k, std::int32_t slot);
  void Retry(const Kind& k, std::int32_t slot);
  /// Whether a slot of either kind holds an open handle on the letter.
  [[nodiscard]] bool Held(int letter) const;
  /// Whether a slot holds the letter's volume locked and its device still answers.
  [[nodiscard]] bool HeldLocked(int letter);
  void LockPass(SweepFlags flags, bool missingOnly);
  /// Takes one letter that the once-a-second check found blocked and not held.
  void TakeMissing(int letter, std::uint32_t type);
  /// Closes the slots whose volume went away (the letters of the mask, and every handle whose
  /// device no longer answers) and every second handle the guard holds on one letter, keeping
  /// the one that holds a lock; then packs each kind's live entries to the front.
  void DropGone(std::uint32_t unitMask);
  /// The letterless pass: every volume without a drive letter (found by FindFirstVolumeW, with no
  /// letter among GetVolumePathNamesForVolumeNameW's paths) that the flags select, the policy
  /// blocks and no slot holds is taken into the letterless table; pause: the take's 100 ms.
  /// inUse: the letters in use (GetLogicalDrives) when the caller has them; a volume found with
  /// a letter while the same letters were in use is not asked for its paths again. 0: every
  /// volume is asked.
  void LetterlessPass(SweepFlags flags, bool pause, std::uint32_t inUse = 0);
  /// Whether the volume was found with a letter since the letters in use last changed.
  [[nodiscard]] bool KnownLettered(const char16_t* name) const;
  /// Takes one letterless volume that the pass found.
  void TakeLetterless(const char16_t* name, SweepFlags flags, bool pause);
  /// The letterless slot holding that name, or -1.
  [[nodiscard]] int LetterlessSlot(const char16_t* name) const;
  /// Empties a letterless slot, closing its handle.
  void DropLetterless(int slot);
  /// Opens the volume of an index: "\\.\X:" for a letter, the letterless slot's path.
  platform::Handle OpenIndex(int index);
  /// Records a failed take of the letter and logs it with the Windows error.
  void LockFailed(int letter, std::uint32_t error);
  /// Packs a kind's entries that hold an open handle to the front of its slots; the count
  /// becomes their number.
  void Pack(const Kind& k);
  void ForgetSupersededLocks(const Kind& k, std::int32_t slot);
  void GiveBack(const Kind& k, std::int32_t slot);
  void CloseSlot(const Kind& k, std::int32_t slot);

  SlotInfo removableInfo_[kDriveCount] = {};
  SlotInfo opticalInfo_[kDriveCount] = {};
  SlotInfo letterlessInfo_[kLetterlessCount] = {};
  /// Each letterless slot's volume name ("\\?\Volume{GUID}\"), empty when the slot is free;
  /// kept with no handle for a volume found internal, so that it is not asked again.
  char16_t letterlessNames_[kLetterlessCount][platform::kVolumeNameSize] = {};
  HandleKind letterlessKinds_[kLetterlessCount] = {};
  std::int32_t letterlessCount_ = kLetterlessCount;  ///< the table's Kind scans every slot
  bool letterlessFullLogged_ = false;
  /// The volumes found with a drive letter while the letters in use were letteredInUse_. Only an
  /// administrator moves a letter from one volume to another, so while the same letters are in
  /// use these keep theirs; each has a letter of its own, hence at most 26.
  char16_t lettered_[kDriveCount][platform::kVolumeNameSize] = {};
  int letteredCount_ = 0;
  std::uint32_t letteredInUse_ = 0;
  /// Whether the latest ClassifyArrival found room for its entry.
  bool arrivalRecorded_ = false;
  /// Failed takes of each letter since its last event.
  std::uint8_t lockTries_[kVolumeIndexes] = {};
  /// The drive type of each letter last found to be an internal disk, 0 for none: the
  /// once-a-second check opens and asks such a disk again only when its type changes or a
  /// device event comes.
  std::uint32_t internalType_[kVolumeIndexes] = {};
  platform::RecursiveLock mutex_;
};

/// The one guard of the process.
VolumeGuard& TheVolumeGuard();

/// What SetRemovableLock(false) runs once the removable volumes are released: the service
/// installs the portable-device switch (a layer above the guard) at process start.
using RemovableReleaseHook = void (*)();
/// Installs the hook; null runs nothing. Set before the guard's first toggle.
void SetAfterRemovableRelease(RemovableReleaseHook hook);

/// The guard as a new process has it: the one guard's handles closed through the installed
/// platform, its slots, counts and arrival index cleared, both lock flags clear and no hook.
void ResetProcessState();

}  // namespace guard

// The simulated machine's drive letters and volumes.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Volumes.h"
#include "platform/sim/SimCore.h"
#include "platform/sim/SimFileSystems.h"

namespace platform::sim {

/// How a simulated disk answers IOCTL_STORAGE_QUERY_PROPERTY for its device descriptor.
enum class SimBusQuery : std::uint8_t {
  kAnswers,     ///< the whole fixed part of the descriptor, BusType included
  kFails,       ///< the request fails with ERROR_INVALID_FUNCTION, as a driver that lacks it
  kHeaderOnly,  ///< succeeds with the 8-byte descriptor header alone, short of BusType
  /// succeeds with the 40-byte fixed part alone, its string offsets pointing past what it returns
  kFixedPartOnly,
};

/// One drive letter of the simulated machine.
struct SimDrive {
  std::uint32_t type = kDriveNoRootDir;  ///< what GetDriveTypeW reports (0 to 6, or more)
  bool volumePresent = false;            ///< a volume answers "\\.\X:" opens
  bool answersAtaIdentify = false;       ///< SMART_RCV_DRIVE_DATA succeeds (internal ATA disk)
  bool openFails = false;                ///< every open by the service fails with access denied
  bool mounted = true;                   ///< false after a dismount until the next mount
  Handle lockedBy = kNullHandle;         ///< the handle holding FSCTL_LOCK_VOLUME, if any
  /// STORAGE_DEVICE_DESCRIPTOR.BusType. A fixed disk that does not answer the ATA probe is a
  /// USB hard disk unless a test says otherwise.
  std::uint32_t busType = kBusTypeUsb;
  SimBusQuery busQuery = SimBusQuery::kAnswers;
  /// The handle that dismounted the volume, while it stays open: every new open then fails
  /// with ERROR_NOT_READY.
  Handle dismountedBy = kNullHandle;
  SimFs fileSystem = SimFs::kByType;
  /// Folders the volume is mounted in ("C:\\mnt\\stick\\"), besides its letter if it has one.
  std::vector<std::u16string> mountPoints = {};
  /// The descriptor's identity strings, after its fixed part; an empty one is left out
  /// (offset 0), as a device that reports none.
  std::string vendor{};
  std::string product{};
  std::string serial{};
  /// STORAGE_HOTPLUG_INFO.DeviceHotplug: the device's removal policy is ExpectSurpriseRemoval (a
  /// disk in a Thunderbolt or USB4 enclosure, or behind a hot-pluggable PCIe slot).
  bool deviceHotplug = false;
  /// The device calls its medium removable (RemovableMedia, MediaRemovable) though its drive type
  /// is not removable; a removable drive always does.
  bool removableMedia = false;
  bool hotplugQueryFails = false;  ///< IOCTL_STORAGE_GET_HOTPLUG_INFO fails (invalid function)
  /// STORAGE_DEVICE_NUMBER.DeviceNumber of the disk the volume lies on; 0 for a disk of its own,
  /// numbered 100 plus the volume's index (A: 0, the volumes without a letter after Z:).
  std::uint32_t disk = 0;
  bool diskNumberFails = false;  ///< IOCTL_STORAGE_GET_DEVICE_NUMBER fails (a spanned volume)
};

/// One moment at which a volume became openable, or stopped being openable, by another process.
struct ExposureChange {
  std::uint64_t atMs = 0;
  char letter = '?';
  bool openable = false;
};

/// One DeviceIoControl call as the driver saw it.
struct IoctlRecord {
  Handle device = kNullHandle;
  char letter = '?';  ///< the volume's letter, '?' for a handle that is not a volume
  std::uint32_t code = 0;
  std::vector<std::uint8_t> input;         ///< the input bytes offered
  std::uint32_t outputSize = 0;            ///< the output size offered
  std::vector<std::uint8_t> outputOnCall;  ///< the output block's bytes when the call was made
  Bool result = 0;
};

/// 26 drive letters with their volumes, under the rules of each volume's file system
/// (SimFileSystem): a locked volume refuses every further open with access denied until the
/// locking handle unlocks it or is closed; a lock is refused while any other handle is open on
/// the volume, the service's own and other processes' alike, invalidated ones included; a
/// dismount invalidates the other handles, and every new open fails with ERROR_NOT_READY while
/// the dismounting handle stays open; after that the next open mounts the volume afresh.
/// Another process's open files (OpenOtherProcessFile) count like the service's handles.
/// Opens fail as core.FailCall makes either Fault::kCreateFileW (shared with the file store's
/// opens) or Fault::kCreateFileWVolume (volumes only) fail; controls fail with
/// Fault::kDeviceIoControl (every code) or Fault::kDeviceIoControlStorageQuery
/// (IOCTL_STORAGE_QUERY_PROPERTY only).
class SimVolumes final : public Volumes {
 public:
  explicit SimVolumes(SimCore& core) : core_(core) {}

  /// How many volumes without a drive letter the machine can have.
  static constexpr std::size_t kLetterlessVolumes = 20;

  /// Puts a new device on a volume with no drive letter, named "\\?\Volume{name}\". Returns
  /// the key that stands for it in the calls below that take a letter ('a' onwards), or '?' when
  /// the machine has no room for it.
  char AddLetterlessVolume(const std::string& name, SimDrive drive);
  /// The key of the volume without a letter of that name, or '?'.
  [[nodiscard]] char LetterlessKey(const std::string& name) const;
  /// "E" for a letter, the name of a volume without one.
  [[nodiscard]] std::string Label(char key) const;
  /// "\\?\Volume{...}\" of the volume the key stands for.
  [[nodiscard]] std::u16string GuidName(char key) const;

  /// Puts a new device on letter 'A' to 'Z' (handles opened before stay on the device it
  /// replaces, and reach nothing).
  void SetDrive(char letter, SimDrive drive);
  [[nodiscard]] SimDrive Drive(char letter) const;
  /// Removes the letter (type 1, no volume), as when a stick is pulled. Handles still open on it
  /// stay on the device that went away: a volume set on the letter later is another one.
  void RemoveDrive(char letter);
  /// Another process opens a file on the letter's volume and keeps it open, as Explorer or a
  /// user's program would. Returns 0 and the open's id, or the Win32 error the open gets.
  std::uint32_t OpenOtherProcessFile(char letter, std::uint64_t* id);
  /// Closes the oldest file another process holds open on the letter; false when none.
  bool CloseOtherProcessFile(char letter);
  /// Whether another process could open a file on the letter's volume now.
  [[nodiscard]] bool Openable(char letter) const;
  /// Every change of Openable, with its virtual time (while the machine keeps records).
  [[nodiscard]] std::vector<ExposureChange> ExposureLog() const;
  [[nodiscard]] std::vector<IoctlRecord> Ioctls() const;
  /// Open handles on the letter's volume.
  [[nodiscard]] std::vector<Handle> HandlesOn(char letter) const;
  /// What happened to the volumes, with virtual times: "E: dismounted", "E: locked",
  /// "E: lock refused (N other handles open)", "E: unlocked", "E: lock ended (locking handle
  /// closed)", "E: mounted afresh", "E: file opened by another process". Changes of Openable
  /// are in ExposureLog.
  [[nodiscard]] std::vector<std::pair<std::uint64_t, std::string>> VolumeEvents() const;
  /// The disk number the volume reports (IOCTL_STORAGE_GET_DEVICE_NUMBER), by its key.
  [[nodiscard]] std::uint32_t DiskNumberOf(char letter) const;
  /// GlobalAlloc blocks not yet freed.
  [[nodiscard]] std::size_t LiveBlocks() const;
  [[nodiscard]] std::size_t BlocksAllocated() const;

  std::uint32_t GetDriveTypeW(const char16_t* rootName) override;
  /// The letters whose drive exists, with or without its media.
  std::uint32_t GetLogicalDrives() override;
  Handle CreateFileW(const char16_t* path, std::uint32_t access, std::uint32_t share,
                     std::uint32_t disposition, std::uint32_t flags) override;
  Bool DeviceIoControl(Handle device, std::uint32_t code, void* in, std::uint32_t inSize, void* out,
                       std::uint32_t outSize, std::uint32_t* bytesReturned) override;
  Handle FindFirstVolumeW(char16_t* name, std::uint32_t capacity) override;
  Bool FindNextVolumeW(Handle find, char16_t* name, std::uint32_t capacity) override;
  Bool FindVolumeClose(Handle find) override;
  Bool GetVolumePathNamesForVolumeNameW(const char16_t* volumeName, char16_t* names,
                                        std::uint32_t capacity, std::uint32_t* length) override;
  void* GlobalAlloc(std::uint32_t flags, std::size_t bytes) override;
  void* GlobalFree(void* block) override;

 private:
  /// One open of a volume or of a file on it: the device instance and the mount it reached.
  struct VolumeOpen {
    char letter = '?';
    std::uint64_t device = 0;
    std::uint64_t mount = 0;
  };
  /// What the letter's volume is beyond what SimDrive shows: which device instance is there
  /// (RemoveDrive moves on to the next) and which mount of it is current.
  struct Instance {
    std::uint64_t device = 1;
    std::uint64_t mount = 1;
    bool openable = false;  ///< Openable as last logged
  };

  SimDrive* DriveOf(char letter);
  static std::uint32_t DiskNumber(const SimDrive& d, char letter);
  Instance& InstanceOf(char letter) {
    return instances_[letter <= 'Z' ? letter - 'A' : 26 + letter - 'a'];
  }
  /// The key of the volume with that name (trailing backslash included), or '?'.
  [[nodiscard]] char KeyOfGuid(std::u16string_view name) const;
  [[nodiscard]] bool OnCurrentMount(const VolumeOpen& open) const;
  /// The opens on the volume's current mount other than the given handle.
  [[nodiscard]] int OtherOpens(char letter, Handle except) const;
  /// The Win32 error an open of the letter's volume gets now, or 0; mounts it afresh if needed.
  std::uint32_t Admit(char letter, SimDrive& d);
  std::uint32_t Lock(Handle h, const VolumeOpen& open, SimDrive& d);
  std::uint32_t Dismount(Handle h, const VolumeOpen& open, SimDrive& d);
  /// STORAGE_HOTPLUG_INFO and STORAGE_DEVICE_NUMBER, whole or not at all.
  static Bool AnswerHotplugOrNumber(const SimDrive& d, char letter, std::uint32_t code, void* out,
                                    std::uint32_t outSize, std::uint32_t* bytesReturned,
                                    std::uint32_t* error);
  static Bool AnswerStorageQuery(const SimDrive& d, const void* in, std::uint32_t inSize, void* out,
                                 std::uint32_t outSize, std::uint32_t* bytesReturned,
                                 std::uint32_t* error);
  void OnClose(Handle h);
  void Note(char letter, const std::string& what);
  /// Logs a change of Openable for the letter.
  void Track(char letter);

  SimCore& core_;
  std::array<SimDrive, 26 + kLetterlessVolumes> drives_{};
  std::array<Instance, 26 + kLetterlessVolumes> instances_{};
  std::array<std::string, kLetterlessVolumes> names_{};
  std::map<Handle, std::size_t> searches_;  ///< FindFirstVolumeW handles and their next index
  std::map<Handle, VolumeOpen> volumeHandles_;
  std::map<std::uint64_t, VolumeOpen> otherOpens_;
  std::uint64_t nextOtherOpen_ = 1;
  std::vector<ExposureChange> exposure_;

  std::vector<IoctlRecord> ioctls_;
  std::vector<std::pair<std::uint64_t, std::string>> events_;
  struct Block {
    std::unique_ptr<std::uint8_t[]> bytes;
    std::size_t size = 0;
  };
  std::map<void*, Block> blocks_;
  std::size_t blocksAllocated_ = 0;
};

}  // namespace platform::sim

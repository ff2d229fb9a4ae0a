// The simulated machine's drive letters and volumes.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Volumes.h"
#include "platform/sim/SimCore.h"

namespace platform::sim {

/// How a simulated disk answers IOCTL_STORAGE_QUERY_PROPERTY for its device descriptor.
enum class SimBusQuery : std::uint8_t {
  kAnswers,     ///< the whole fixed part of the descriptor, BusType included
  kFails,       ///< the request fails with ERROR_INVALID_FUNCTION, as a driver that lacks it
  kHeaderOnly,  ///< succeeds with the 8-byte descriptor header alone, short of BusType
};

/// One drive letter of the simulated machine.
struct SimDrive {
  std::uint32_t type = kDriveNoRootDir;  ///< what GetDriveTypeW reports (0 to 6, or more)
  bool volumePresent = false;            ///< a volume answers "\\.\X:" opens
  bool answersAtaIdentify = false;       ///< SMART_RCV_DRIVE_DATA succeeds (internal ATA disk)
  bool openFails = false;                ///< every open fails with access denied
  bool mounted = true;                   ///< false after FSCTL_DISMOUNT_VOLUME until next use
  Handle lockedBy = kNullHandle;         ///< the handle holding FSCTL_LOCK_VOLUME, if any
  /// STORAGE_DEVICE_DESCRIPTOR.BusType. A fixed disk that does not answer the ATA probe is a
  /// USB hard disk unless a test says otherwise.
  std::uint32_t busType = kBusTypeUsb;
  SimBusQuery busQuery = SimBusQuery::kAnswers;
  /// The descriptor's identity strings, after its fixed part; an empty one is left out
  /// (offset 0), as a device that reports none.
  std::string vendor{};
  std::string product{};
  std::string serial{};
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

/// 26 drive letters with their volumes. Windows' rules that the guard depends on:
/// a locked volume refuses every further open until the locking handle unlocks it or is
/// closed; a lock is refused while another handle is open on a mounted volume, and a dismount
/// lifts that (the other handles become stale); closing the locking handle ends the lock, and a
/// dismounted volume mounts again at its next open. Opens fail as core.FailCall makes either
/// Fault::kCreateFileW (shared with the file store's opens) or Fault::kCreateFileWVolume (volumes
/// only) fail; controls fail with Fault::kDeviceIoControl (every code) or
/// Fault::kDeviceIoControlStorageQuery (IOCTL_STORAGE_QUERY_PROPERTY only).
class SimVolumes final : public Volumes {
 public:
  explicit SimVolumes(SimCore& core) : core_(core) {}

  /// Test set-up: letter 'A' to 'Z'.
  void SetDrive(char letter, SimDrive drive);
  [[nodiscard]] SimDrive Drive(char letter) const;
  /// Removes the letter (type 1, no volume), as when a stick is pulled.
  void RemoveDrive(char letter);
  [[nodiscard]] std::vector<IoctlRecord> Ioctls() const;
  /// Open handles on the letter's volume.
  [[nodiscard]] std::vector<Handle> HandlesOn(char letter) const;
  /// What happened to the volumes, with virtual times: "E: dismounted", "E: locked",
  /// "E: unlocked", "E: lock ended (locking handle closed)".
  [[nodiscard]] std::vector<std::pair<std::uint64_t, std::string>> VolumeEvents() const;
  /// GlobalAlloc blocks not yet freed.
  [[nodiscard]] std::size_t LiveBlocks() const;
  [[nodiscard]] std::size_t BlocksAllocated() const;

  std::uint32_t GetDriveTypeW(const char16_t* rootName) override;
  Handle CreateFileW(const char16_t* path, std::uint32_t access, std::uint32_t share,
                     std::uint32_t disposition, std::uint32_t flags) override;
  Bool DeviceIoControl(Handle device, std::uint32_t code, void* in, std::uint32_t inSize, void* out,
                       std::uint32_t outSize, std::uint32_t* bytesReturned) override;
  void* GlobalAlloc(std::uint32_t flags, std::size_t bytes) override;
  void* GlobalFree(void* block) override;

 private:
  SimDrive* DriveOf(char letter);
  static Bool AnswerStorageQuery(const SimDrive& d, const void* in, std::uint32_t inSize, void* out,
                                 std::uint32_t outSize, std::uint32_t* bytesReturned,
                                 std::uint32_t* error);
  void OnClose(Handle h);

  SimCore& core_;
  std::array<SimDrive, 26> drives_{};
  std::map<Handle, char> volumeHandles_;
  void Note(char letter, const char* what);

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

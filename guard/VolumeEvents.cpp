// The guard's run-time toggles and its handling of device-change broadcasts.
#include <cstring>
#include <string>

#include "enforcement/PortableDevices.h"
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

// The list failure of the portable-device switch is written to the debug log and goes no
// further: a control request or a poll tick must finish, and the service never ends for it.
void EnablePortableDevicesLogged() {
  try {
    enforcement::SwitchPortableDevices(true);
  } catch (const enforcement::DeviceListError& e) {
    std::u16string line = u"\n(VexService) " + e.text();
    platform::LogW(line.c_str());
  }
}

}  // namespace

bool VolumeGuard::SetRemovableLock(bool on) {
  std::lock_guard lock(mutex_);
  if (GetRemovableLock() == on) return true;
  CloseVolumeHandles(kRemovableKind);
  // The flag changes before the pass, so the pass already sees the new policy.
  if (on) {
    RemovableLock = 1;
    LockSweep(kSweepRemovable);
  } else {
    RemovableLock = 0;
    ReleaseSweep(kSweepRemovable);
    EnablePortableDevicesLogged();
  }
  return true;
}

bool VolumeGuard::SetOpticalLock(bool on) {
  std::lock_guard lock(mutex_);
  if (GetOpticalLock() == on) return true;
  CloseVolumeHandles(kOpticalKind);
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
    // The header is read only when there is one, and the unit mask only when the header says
    // the broadcast is a volume broadcast long enough to hold it.
    platform::DevBroadcastHdr header{};
    if (data != nullptr) std::memcpy(&header, data, sizeof header);
    constexpr std::uint32_t kMaskEnd =
        offsetof(platform::DevBroadcastVolume, dbcv_unitmask) + sizeof(std::uint32_t);
    if (data != nullptr && header.dbch_devicetype == platform::kDbtDevtypVolume &&
        header.dbch_size >= kMaskEnd) {
      std::uint32_t unitMask = 0;
      std::memcpy(&unitMask,
                  static_cast<const std::uint8_t*>(data) +
                      offsetof(platform::DevBroadcastVolume, dbcv_unitmask),
                  sizeof unitMask);
      std::int32_t cls = ClassifyArrival(unitMask);
      char16_t path[kVolumePathSize];
      InitVolumePath(path);
      AppendDriveLetter(path, static_cast<int>(arrivalIndex));
      if (cls == kClassRemovable && GetRemovableLock()) {
        Handle h = kInvalidHandleValue;
        if (arrivalRecorded_) {
          h = OpenVolume(path);
          removableHandles[removableCount - 1] = h;
          removableLocked_[removableCount - 1] = false;
        }
        // Without a slot for the arrival's own handle, the lock pass still takes the volume.
        if (h != kInvalidHandleValue || !arrivalRecorded_) {
          platform::Current().threads->Sleep(kArrivalPauseMs);
          LockSweep(kSweepRemovable);
        }
      } else if (cls == kClassOptical && GetOpticalLock() && arrivalRecorded_) {
        std::int32_t slot = opticalCount - 1;
        Handle h = OpenVolume(path);
        opticalHandles[slot] = h;
        opticalLocked_[slot] = false;
        if (h != kInvalidHandleValue) {
          platform::Current().threads->Sleep(kArrivalPauseMs);
          DismountVolume(h);
          opticalLocked_[slot] = LockVolume(h) != 0;
        }
      }
    }
    platform::LogW(u"\n(VexService) Handle device arrival finish");
  } else if (event == platform::kDbtDeviceRemoveComplete) {
    CloseVolumeHandles(kBothKinds);
    LockSweep(kSweepRemovable | kSweepOptical);
    platform::LogW(u"\n(VexService) Device remove complete");
  }
  return 1;
}

}  // namespace guard

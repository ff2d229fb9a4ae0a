// The real volume layer under Wine: drive types, opens, the ATA probe, dismount, lock, unlock,
// and a guard lock pass over drives the prefix defines.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "guard/VolumeControl.h"
#include "guard/VolumeGuard.h"
#include "platform/Threads.h"
#include "platform/Volumes.h"
#include "platform/win32/Win32Platform.h"
#include "platform/win32/WineDrives.h"
#include "tests/wine/WineCheck.h"

using platform::kInvalidHandleValue;
using winecheck::Check;
using winecheck::CheckEq;

namespace {

std::u16string VolumePathOf(char letter) {
  return std::u16string(guard::VolumePrefix) + char16_t(letter) + u":";
}

}  // namespace

int main() {
  platform::win32::Win32Platform real;
  real.Install();
  platform::Volumes& volumes = *real.platform().volumes;
  const char* tmp = std::getenv("TARVEL_WINE_TMP");
  if (!Check(tmp != nullptr, "TARVEL_WINE_TMP is set")) return winecheck::Finish();

  struct Drive {
    char letter;
    std::uint32_t type;
  };
  const Drive drives[] = {{'E', platform::kDriveRemovable},
                          {'F', platform::kDriveCdrom},
                          {'G', platform::kDriveRamdisk},
                          {'H', platform::kDriveRemote}};
  for (const Drive& d : drives) {
    std::string dir = std::string(tmp) + "/drive-" + d.letter;
    std::filesystem::create_directories(dir);
    CheckEq(platform::win32::DefineWineDrive(d.letter, d.type, dir), 0,
            std::string("mount manager defines ") + d.letter + ":");
    std::u16string root{char16_t(d.letter), u':'};
    CheckEq(volumes.GetDriveTypeW(root.c_str()), d.type,
            std::string("GetDriveTypeW ") + d.letter + ": reports the defined type");
  }
  CheckEq(volumes.GetDriveTypeW(u"Q:"), platform::kDriveNoRootDir, "an unused letter is type 1");

  // The primitives on a removable volume.
  std::u16string e = VolumePathOf('E');
  platform::Handle h = guard::OpenVolume(e.c_str());
  Check(h != kInvalidHandleValue, "OpenVolume opens \\\\.\\E:");
  CheckEq(guard::ProbeAtaIdentify(h), 0, "the ATA probe fails on Wine's disks (error 50)");
  CheckEq(real.threads.GetLastError(), 50, "the probe's error is ERROR_NOT_SUPPORTED");
  CheckEq(guard::ProbeAtaIdentify(kInvalidHandleValue), 0, "the probe on an invalid handle");
  CheckEq(guard::DismountVolume(h), 0, "Wine refuses FSCTL_DISMOUNT_VOLUME");
  Check(guard::LockVolume(h) != 0, "Wine accepts FSCTL_LOCK_VOLUME");
  platform::Handle second = guard::OpenVolume(e.c_str());
  Check(second != kInvalidHandleValue,
        "Wine does not enforce the lock: a second open of a locked volume succeeds");
  if (second != kInvalidHandleValue) real.threads.CloseHandle(second);
  Check(guard::UnlockVolume(h) != 0, "Wine accepts FSCTL_UNLOCK_VOLUME");
  Check(real.threads.CloseHandle(h) != 0, "CloseHandle on the volume handle");
  std::u16string q = VolumePathOf('Q');
  CheckEq(static_cast<long long>(guard::OpenVolume(q.c_str()) == kInvalidHandleValue), 1,
          "OpenVolume on a letter with no volume fails");

  // Wine's C: is a fixed disk that does not answer the ATA probe either, so the guard files it
  // with the removable kind as it would a USB hard disk.
  CheckEq(volumes.GetDriveTypeW(u"C:"), platform::kDriveFixed, "Wine's C: is a fixed disk");
  int ataLess = 0;
  for (char c : {'C', 'Z'}) {
    std::u16string root{char16_t(c), u':'};
    std::u16string path = VolumePathOf(c);
    std::uint32_t type = volumes.GetDriveTypeW(root.c_str());
    platform::Handle v = guard::OpenVolume(path.c_str());
    std::printf("# %c: type %u, open %s\n", c, type, v == kInvalidHandleValue ? "fails" : "works");
    if (v != kInvalidHandleValue) {
      if (type == platform::kDriveFixed && !guard::ProbeAtaIdentify(v)) ++ataLess;
      real.threads.CloseHandle(v);
    }
  }

  // A whole lock pass with both flags set: E (removable), G (RAM disk, no ATA answer), the
  // ATA-less fixed disks and F (CD-ROM) are taken and held; H (network) is never touched.
  guard::VolumeGuard g;
  guard::VolumeGuard::RemovableLock = 1;
  guard::VolumeGuard::OpticalLock = 1;
  g.LockSweep(guard::kSweepRemovable | guard::kSweepOptical);
  CheckEq(g.removableCount, 2 + ataLess,
          "lock pass records E, G and the ATA-less fixed disks as removable-kind entries");
  CheckEq(g.opticalCount, 1, "lock pass records F as an optical entry");
  bool held = true;
  for (int i = 0; i < 2; ++i)
    held = held && g.removableHandles[i] != 0 && g.removableHandles[i] != kInvalidHandleValue;
  held = held && g.opticalHandles[0] != 0 && g.opticalHandles[0] != kInvalidHandleValue;
  Check(held, "every entry holds an open handle");
  g.CloseVolumeHandles(guard::kBothKinds);
  CheckEq(g.removableCount + g.opticalCount, 0, "CloseVolumeHandles(2) resets both counts");
  return winecheck::Finish();
}

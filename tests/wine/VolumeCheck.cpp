// The real volume layer under Wine: drive types, opens, the ATA probe, the bus query, dismount,
// lock, unlock, and a guard lock pass over drives the prefix defines.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "guard/DriveKind.h"
#include "guard/VolumeControl.h"
#include "guard/VolumeGuard.h"
#include "platform/Text.h"
#include "platform/Threads.h"
#include "platform/UniqueHandle.h"
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

// The real volume calls, with the letter and code of every control sent to a volume, so that a
// check can tell which volumes a pass dismounted or locked (Wine enforces neither).
class RecordingVolumes final : public platform::Volumes {
 public:
  explicit RecordingVolumes(platform::Volumes& real) : real_(real) {}
  std::uint32_t GetDriveTypeW(const char16_t* rootName) override {
    typeQueries_ += static_cast<char>(rootName[0]);
    return real_.GetDriveTypeW(rootName);
  }
  std::uint32_t GetLogicalDrives() override { return real_.GetLogicalDrives(); }
  platform::Handle CreateFileW(const char16_t* path, std::uint32_t access, std::uint32_t share,
                               std::uint32_t disposition, std::uint32_t flags) override {
    platform::Handle h = real_.CreateFileW(path, access, share, disposition, flags);
    std::u16string p(path);
    if (h != kInvalidHandleValue && p.size() == 6) letters_[h] = static_cast<char>(p[4]);
    if (p.starts_with(u"\\\\?\\Volume{")) volumePathOpens_.push_back(p);
    return h;
  }
  platform::Bool DeviceIoControl(platform::Handle device, std::uint32_t code, void* in,
                                 std::uint32_t inSize, void* out, std::uint32_t outSize,
                                 std::uint32_t* bytesReturned) override {
    auto it = letters_.find(device);
    controls_.emplace(it == letters_.end() ? '?' : it->second, code);
    return real_.DeviceIoControl(device, code, in, inSize, out, outSize, bytesReturned);
  }
  platform::Handle FindFirstVolumeW(char16_t* name, std::uint32_t capacity) override {
    ++searches_;
    return real_.FindFirstVolumeW(name, capacity);
  }
  platform::Bool FindNextVolumeW(platform::Handle find, char16_t* name,
                                 std::uint32_t capacity) override {
    return real_.FindNextVolumeW(find, name, capacity);
  }
  platform::Bool FindVolumeClose(platform::Handle find) override {
    return real_.FindVolumeClose(find);
  }
  platform::Bool GetVolumePathNamesForVolumeNameW(const char16_t* volumeName, char16_t* names,
                                                  std::uint32_t capacity,
                                                  std::uint32_t* length) override {
    return real_.GetVolumePathNamesForVolumeNameW(volumeName, names, capacity, length);
  }
  void* GlobalAlloc(std::uint32_t flags, std::size_t bytes) override {
    return real_.GlobalAlloc(flags, bytes);
  }
  void* GlobalFree(void* block) override { return real_.GlobalFree(block); }

  [[nodiscard]] bool Sent(char letter, std::uint32_t code) const {
    return controls_.contains({letter, code});
  }
  [[nodiscard]] int Searches() const { return searches_; }
  /// The first character of each root asked its type since the last call, and forgets them.
  std::string TakeTypeQueries() { return std::exchange(typeQueries_, {}); }
  /// The opens by "\\?\Volume{GUID}" path: volumes without a drive letter.
  [[nodiscard]] const std::vector<std::u16string>& VolumePathOpens() const {
    return volumePathOpens_;
  }

 private:
  int searches_ = 0;
  std::string typeQueries_;
  std::vector<std::u16string> volumePathOpens_;
  platform::Volumes& real_;
  std::map<platform::Handle, char> letters_;
  std::set<std::pair<char, std::uint32_t>> controls_;
};

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
  // A removal keeps every lock whose device still answers: under Wine the device check must not
  // make the guard let go of a volume that is there.
  Check(guard::VolumeStillPresent(h), "a held volume's device still answers (CHECK_VERIFY2)");
  platform::Handle second = guard::OpenVolume(e.c_str());
  Check(second != kInvalidHandleValue,
        "Wine does not enforce the lock: a second open of a locked volume succeeds");
  if (second != kInvalidHandleValue) real.threads.CloseHandle(second);
  Check(guard::UnlockVolume(h) != 0, "Wine accepts FSCTL_UNLOCK_VOLUME");
  Check(real.threads.CloseHandle(h) != 0, "CloseHandle on the volume handle");
  std::u16string q = VolumePathOf('Q');
  CheckEq(static_cast<long long>(guard::OpenVolume(q.c_str()) == kInvalidHandleValue), 1,
          "OpenVolume on a letter with no volume fails");

  // The bus query: Wine answers it on every volume of a prefix with BusTypeScsi, so its C:,
  // a fixed disk that fails the ATA probe, is an internal disk and left alone.
  CheckEq(volumes.GetDriveTypeW(u"C:"), platform::kDriveFixed, "Wine's C: is a fixed disk");
  for (char c : {'C', 'E'}) {
    std::u16string path = VolumePathOf(c);
    platform::Handle v = guard::OpenVolume(path.c_str());
    guard::BusAnswer bus = guard::QueryBusType(v);
    std::printf("# %c: bus query %s, bus type %u\n", c, bus.answered ? "answered" : "failed",
                bus.busType);
    Check(bus.answered, std::string("IOCTL_STORAGE_QUERY_PROPERTY answers on ") + c + ":");
    CheckEq(bus.busType, platform::kBusTypeScsi, std::string(1, c) + ": reports BusTypeScsi");
    if (v != kInvalidHandleValue) real.threads.CloseHandle(v);
  }
  CheckEq(guard::QueryBusType(kInvalidHandleValue).answered, 0, "no answer on an invalid handle");
  // What Wine says of a disk's removability and of the disk a volume lies on. Whatever it
  // answers, the guard keeps Wine's SCSI disks internal (they are decided before the system-disk
  // check, which only a removable-kind disk reaches).
  for (char c : {'C', 'E'}) {
    std::u16string path = VolumePathOf(c);
    platform::Handle v = guard::OpenVolume(path.c_str());
    guard::HotplugAnswer hotplug = guard::QueryHotplug(v);
    const std::uint32_t hotplugError = real.threads.GetLastError();
    std::optional<std::uint32_t> disk = guard::QueryDiskNumber(v);
    const std::uint32_t diskError = real.threads.GetLastError();
    guard::BusAnswer bus = guard::QueryBusType(v);
    std::printf(
        "# %c: hot-plug query %s (error %u; MediaRemovable %d, DeviceHotplug %d); disk number %s "
        "(error %u); RemovableMedia %d, vendor '%s', product '%s'\n",
        c, hotplug.answered ? "answered" : "failed", hotplug.answered ? 0u : hotplugError,
        hotplug.mediaRemovable ? 1 : 0, hotplug.deviceHotplug ? 1 : 0,
        disk ? std::to_string(*disk).c_str() : "none", disk ? 0u : diskError,
        bus.removableMedia ? 1 : 0, bus.vendor.c_str(), bus.product.c_str());
    if (v != kInvalidHandleValue) real.threads.CloseHandle(v);
  }
  CheckEq(guard::QueryHotplug(kInvalidHandleValue).answered, 0,
          "no hot-plug answer on an invalid handle");
  guard::DriveFacts facts = guard::InspectDrive('C' - 'A');
  Check(facts.opened && !facts.answersAta && facts.bus.answered, "C: opened, probed and asked");
  Check(!facts.systemDisk, "C: is internal before the system-disk check is reached");
  CheckEq(static_cast<long long>(facts.kind), static_cast<long long>(guard::DriveKind::kNeither),
          "C: is an internal disk");

  // A whole lock pass with both flags set, through a recorder of the volume calls: E (removable)
  // and G (RAM disk, no ATA answer) are taken as removable-kind entries, F (CD-ROM) as an optical
  // one; C is probed and asked for its bus but never dismounted or locked; H (network) is never
  // touched.
  RecordingVolumes recorder(volumes);
  real.platform().volumes = &recorder;
  guard::VolumeGuard g;
  guard::VolumeGuard::RemovableLock = 1;
  guard::VolumeGuard::OpticalLock = 1;
  g.LockSweep(guard::kSweepRemovable | guard::kSweepOptical);
  CheckEq(g.removableCount, 2, "lock pass records E and G as removable-kind entries");
  CheckEq(g.opticalCount, 1, "lock pass records F as an optical entry");
  bool held = true;
  for (int i = 0; i < 2; ++i)
    held = held && g.removableHandles[i] != 0 && g.removableHandles[i] != kInvalidHandleValue;
  held = held && g.opticalHandles[0] != 0 && g.opticalHandles[0] != kInvalidHandleValue;
  Check(held, "every entry holds an open handle");
  for (char c : {'E', 'F', 'G'}) {
    Check(recorder.Sent(c, platform::kFsctlDismountVolume) &&
              recorder.Sent(c, platform::kFsctlLockVolume),
          std::string(1, c) + ": dismounted and locked");
  }
  Check(recorder.Sent('C', platform::kSmartRcvDriveData) &&
            recorder.Sent('C', platform::kIoctlStorageQueryProperty),
        "C: probed and asked for its bus");
  Check(!recorder.Sent('C', platform::kFsctlDismountVolume) &&
            !recorder.Sent('C', platform::kFsctlLockVolume),
        "C: never dismounted nor locked");
  Check(!recorder.Sent('H', platform::kSmartRcvDriveData), "H: (network) never opened");
  // Volumes without a letter: the pass enumerates the volumes and opens by its volume path only
  // one that has no letter. Wine's mount manager gives every volume it lists a drive letter, so
  // here the enumeration is all that can be seen.
  Check(recorder.Searches() >= 1, "the lock pass enumerates the volumes (FindFirstVolumeW)");
  int letterless = 0;
  char16_t name[platform::kVolumeNameSize];
  platform::UniqueVolumeSearch search(volumes.FindFirstVolumeW(name, platform::kVolumeNameSize));
  for (bool more = search.valid(); more;
       more = volumes.FindNextVolumeW(search.get(), name, platform::kVolumeNameSize) != 0) {
    char16_t paths[1024] = {};
    std::uint32_t length = 0;
    volumes.GetVolumePathNamesForVolumeNameW(name, paths, 1024, &length);
    std::printf("   Wine lists %s on \"%s\"\n", platform::ToUtf8(name).c_str(),
                platform::ToUtf8(paths).c_str());
    letterless += paths[0] == 0 ? 1 : 0;
  }
  CheckEq(static_cast<long long>(recorder.VolumePathOpens().size()), letterless,
          "volume-path opens: only the volumes that have no letter");
  // The once-a-second check, with E, F and G held: only the other letters in use are asked.
  const std::uint32_t inUse = volumes.GetLogicalDrives();
  Check((inUse & 0x2000014u) == 0x2000014u, "GetLogicalDrives names C:, E: and Z:");
  std::string notHeld;
  for (char c = 'A'; c <= 'Z'; ++c) {
    if (((inUse >> (c - 'A')) & 1u) != 0 && c != 'E' && c != 'F' && c != 'G') notHeld += c;
  }
  recorder.TakeTypeQueries();
  g.KeepLocked();
  const std::string asked = recorder.TakeTypeQueries();
  Check(asked == notHeld,
        "the once-a-second check asks only " + notHeld + " (asked " + asked + ")");
  CheckEq(g.ClassifyDrive(u"C:"), guard::kClassNeither, "an arrival of C: is left alone");
  CheckEq(g.ClassifyDrive(u"E:"), guard::kClassRemovable, "an arrival of E: is removable kind");
  g.CloseVolumeHandles(guard::kBothKinds);
  CheckEq(g.removableCount + g.opticalCount, 0, "CloseVolumeHandles(2) resets both counts");
  real.platform().volumes = &volumes;
  return winecheck::Finish();
}

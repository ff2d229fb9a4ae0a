// `check`'s Volumes section: each drive letter in use, the kind the service gives it, the device
// behind it, and whether it is held locked as the policy requires; and the live flags that the
// volumes show.
#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "guard/DriveKind.h"
#include "guard/VolumeControl.h"
#include "platform/Platform.h"
#include "platform/Text.h"
#include "platform/Threads.h"
#include "platform/UniqueHandle.h"
#include "platform/Volumes.h"
#include "tools/tarvelctl/CheckSections.h"
#include "tools/tarvelctl/StorageDevice.h"

namespace tarvelctl {

namespace {

const char* DriveTypeName(std::uint32_t type) {
  switch (type) {
    case platform::kDriveRemovable:
      return "removable";
    case platform::kDriveFixed:
      return "fixed";
    case platform::kDriveRemote:
      return "remote";
    case platform::kDriveCdrom:
      return "cdrom";
    case platform::kDriveRamdisk:
      return "ramdisk";
    default:
      return "unknown";
  }
}

// The kind the service's passes give a drive letter, and why.
struct VolumeKind {
  std::string kind;  // "removable", "optical", "internal", "none"
  std::string why;
};

// What the device says of its own removability, and what the guard makes of it, in words.
std::string RemovabilityText(const guard::DriveFacts& facts) {
  if (facts.systemDisk) return ", on the disk that holds the system directory";
  if (guard::IsVirtualMachineDisk(facts.bus)) return ", a virtual machine's disk";
  if (facts.bus.removableMedia) return ", and its device reports removable media";
  if (!facts.hotplug.answered) return "";
  if (facts.hotplug.deviceHotplug) return ", and its device is hot-pluggable (DeviceHotplug)";
  if (facts.hotplug.mediaRemovable) return ", and its device reports removable media (hot-plug)";
  return ", and its device is not removable (DeviceHotplug clear)";
}

// The guard's own sorting of a volume (drive type, ATA probe, bus query, what the device says
// of its removability), in words.
VolumeKind KindOf(const guard::DriveFacts& facts) {
  const bool disk = facts.type == platform::kDriveFixed || facts.type == platform::kDriveRamdisk;
  std::string why;
  if (facts.type == platform::kDriveCdrom) {
    why = "a CD-ROM drive";
  } else if (facts.type == platform::kDriveRemovable) {
    why = "a removable drive";
  } else if (disk) {
    // Built, not assigned: MinGW gcc 12 at -O3 takes an assignment of either literal for an
    // overlapping copy (-Wrestrict, a false positive).
    why = std::string(facts.type == platform::kDriveFixed ? "a fixed disk" : "a RAM disk");
    if (!facts.opened) {
      why += " whose volume does not open for the probe";
    } else if (facts.answersAta) {
      why += " that answers the ATA probe";
    } else if (facts.type == platform::kDriveRamdisk) {
      why += " that does not answer the ATA probe";
    } else if (!facts.bus.answered) {
      why += " that does not answer the ATA probe nor the bus query";
    } else {
      why += " that does not answer the ATA probe, on " +
             std::string(guard::IsExternalBus(facts.bus) ? "an external" : "an internal") +
             " bus (type " + std::to_string(facts.bus.busType) + ")" + RemovabilityText(facts);
    }
  } else if (facts.type == platform::kDriveRemote) {
    why = "a network drive, which the service never touches";
  } else {
    why = "a drive type the service does not handle";
  }
  switch (facts.kind) {
    case guard::DriveKind::kOptical:
      return {"optical", why};
    case guard::DriveKind::kRemovable:
      return {"removable", why};
    case guard::DriveKind::kNeither:
      break;
  }
  return {disk ? "internal" : "none", why};
}

// What one open of a volume showed, and what the check makes of it.
struct Observation {
  std::string observed;  // "locked", "dismounted and held", "opens", "lock not visible", ...
  CheckResult result = CheckResult::kOk;
  std::string evidence;
};

// The device as a line under the volume's item, and as its "device" fact.
void DescribeDevice(const StorageDevice& device, bool serials, Json& facts, std::string* detail) {
  auto value = [](const std::optional<std::string>& s) { return s ? Json(*s) : Json(); };
  auto quoted = [](const std::optional<std::string>& s) { return s ? " \"" + *s + "\"" : ""; };
  facts.Set("device", Json::Object()
                          .Set("bus", BusTypeName(device.busType))
                          .Set("busType", device.busType)
                          .Set("vendor", value(device.vendor))
                          .Set("product", value(device.product))
                          .Set("serial", value(device.serial))
                          .Set("removableMedia", device.removableMedia));
  *detail = "device: " + BusTypeName(device.busType) + quoted(device.vendor) +
            quoted(device.product) +
            (!serials        ? ", serial not collected (--no-serials)"
             : device.serial ? ", serial \"" + *device.serial + "\""
                             : ", no serial");
}

// Opens the volume as the service opens it, reads the device behind it on that handle, and
// tells from the open whether it is held locked: while another handle holds a volume's lock,
// Windows refuses every further open of it (access denied or sharing violation); while a handle
// that dismounted it stays open, every further open fails with ERROR_NOT_READY.
Observation ObserveLock(CheckState& state, const std::string& label, const std::u16string& path,
                        const VolumeKind& kind, std::optional<bool> lockRequired, Json& facts,
                        std::string* detail) {
  platform::UniqueFileHandle h(guard::OpenVolume(path.c_str()));
  const std::uint32_t error = h.valid() ? 0 : platform::Current().threads->GetLastError();
  if (h.valid()) {
    std::uint32_t queryError = 0;
    std::optional<StorageDevice> device = QueryStorageDevice(h.get(), &queryError);
    if (device) {
      // The serial comes in the same answer as the rest; without serials it is dropped at once.
      if (!state.options.serials) device->serial.reset();
      DescribeDevice(*device, state.options.serials, facts, detail);
    } else {
      *detail = "device: not reported: " + (queryError != 0 ? state.ErrorText(queryError)
                                                            : "the answer stops short of the bus");
    }
  } else {
    *detail = "device: not read: the volume does not open";
  }
  h.reset();
  const std::string what = label + " " + kind.why + ", ";
  const std::string need =
      !lockRequired   ? "what the policy asks is not known"
      : *lockRequired ? std::string("to be held locked and dismounted (") + kind.kind + " lock on)"
                      : std::string("to be left open (") + kind.kind + " lock off)";
  const bool refused =
      error == platform::kErrorAccessDenied || error == platform::kErrorSharingViolation;
  VolumeTally& tally = kind.kind == "optical" ? state.optical : state.removable;
  if (error == kErrorNotReady) {
    // Nothing on the volume opens, which is what a lock is for, but no lock holds it: it mounts
    // again once that handle closes. An empty drive answers the same, so with the lock off this
    // is no sign of drift either.
    tally.unseen += label;
    return {"dismounted and held",
            lockRequired && *lockRequired ? CheckResult::kOk : CheckResult::kUnknown,
            what + need + "; dismounted and held, not locked: an open fails (" +
                state.ErrorText(error) +
                "): a handle that dismounted it is still open (or the drive has no medium)"};
  }
  if (error != 0 && !refused) {
    return {"unknown", CheckResult::kUnknown,
            what + need + "; an open fails: " + state.ErrorText(error)};
  }
  if (refused && !state.host.VolumeLocksEnforced()) {
    // Wine workaround: its locks keep no open out, so a refusal there has another cause.
    tally.unseen += label;
    return {"unknown", CheckResult::kUnknown,
            what + need + "; an open is refused (" + state.ErrorText(error) +
                "), which on this system (Wine) is not a lock"};
  }
  if (refused) {
    tally.locked += label;
    return {"locked",
            !lockRequired   ? CheckResult::kUnknown
            : *lockRequired ? CheckResult::kOk
                            : CheckResult::kDrift,
            what + need + "; held locked: an open is refused (" + state.ErrorText(error) + ")"};
  }
  // The open succeeded.
  if (!lockRequired) {
    tally.open += label;
    return {"opens", CheckResult::kUnknown, what + need + "; an open succeeds"};
  }
  if (!*lockRequired) {
    tally.open += label;
    return {"opens", CheckResult::kOk, what + need + "; not locked: an open succeeds"};
  }
  if (!state.running && state.services != nullptr && !state.report.cannotStart) {
    // The service's handles end with its process, and closing them ends its locks.
    tally.open += label;
    return {"opens", CheckResult::kDrift,
            what + need + "; not locked: the service is not running, and an open succeeds"};
  }
  if (!state.host.VolumeLocksEnforced()) {
    tally.unseen += label;
    return {"lock not visible", CheckResult::kUnknown,
            what + need +
                "; cannot see the lock: an open succeeds, and this system (Wine) accepts volume "
                "locks without keeping other opens out"};
  }
  tally.open += label;
  return {"opens", CheckResult::kDrift, what + need + "; not locked: an open succeeds"};
}

}  // namespace

namespace {

// One volume's item: its kind, the device behind it, and whether it is held as the policy asks.
void CheckVolume(CheckState& state, Json& volumes, const std::string& id, const std::string& label,
                 const std::u16string& path, const guard::DriveFacts& drive, Json facts) {
  const VolumeKind kind = KindOf(drive);
  facts.Set("type", DriveTypeName(drive.type)).Set("typeCode", drive.type).Set("kind", kind.kind);
  const bool theService = kind.kind == "removable" || kind.kind == "optical";
  std::optional<bool> lockRequired;
  if (!theService) lockRequired = false;
  if (theService && state.startupFlags) {
    lockRequired =
        kind.kind == "optical" ? state.startupFlags->optical : state.startupFlags->removable;
  }
  facts.Set("lockRequired", lockRequired ? Json(*lockRequired) : Json());
  facts.Set("device", nullptr);
  Observation seen{"not the service's", CheckResult::kOk,
                   label + " " + kind.why + ": never locked"};
  std::string detail;
  if (theService) seen = ObserveLock(state, label, path, kind, lockRequired, facts, &detail);
  facts.Set("observed", seen.observed).Set("result", CheckResultName(seen.result));
  volumes.Push(facts);
  state.Add(kSectionVolumes, "volume." + id, seen.result, seen.evidence, detail);
}

// The paths of a volume: its drive letters' roots and the folders it is mounted in.
std::vector<std::u16string> PathsOf(const char16_t* volumeName) {
  platform::Volumes& v = *platform::Current().volumes;
  std::vector<char16_t> list(256);
  std::uint32_t length = 0;
  while (v.GetVolumePathNamesForVolumeNameW(
             volumeName, list.data(), static_cast<std::uint32_t>(list.size()), &length) == 0) {
    if (platform::Current().threads->GetLastError() != platform::kErrorMoreDataCode ||
        length <= list.size() || length > 65536) {
      return {};
    }
    list.resize(length);
  }
  std::vector<std::u16string> paths;
  for (std::size_t at = 0; at < list.size() && list[at] != 0;) {
    std::u16string path(list.data() + at);
    at += path.size() + 1;
    paths.push_back(std::move(path));
  }
  return paths;
}

}  // namespace

void CheckVolumes(CheckState& state) {
  Json volumes = Json::Array();
  platform::Volumes& v = *platform::Current().volumes;
  for (int i = 0; i < guard::kDriveCount; ++i) {
    std::uint32_t type = v.GetDriveTypeW(guard::DriveLetters[i]);
    if (type == platform::kDriveUnknown || type == platform::kDriveNoRootDir) continue;
    const std::string letter(1, static_cast<char>('A' + i));
    char16_t path[guard::kVolumePathSize];
    guard::InitVolumePath(path);
    guard::AppendDriveLetter(path, i);
    CheckVolume(state, volumes, letter, letter + ":", path, guard::InspectDrive(i),
                Json::Object().Set("letter", letter + ":"));
  }
  // Volumes without a drive letter: the service holds those too, by their volume paths.
  char16_t name[platform::kVolumeNameSize];
  const platform::UniqueVolumeSearch search(v.FindFirstVolumeW(name, platform::kVolumeNameSize));
  for (bool more = search.valid(); more;
       more = v.FindNextVolumeW(search.get(), name, platform::kVolumeNameSize) != 0) {
    const std::vector<std::u16string> paths = PathsOf(name);
    const bool lettered = std::any_of(
        paths.begin(), paths.end(), [](const std::u16string& p) { return guard::IsDriveRoot(p); });
    if (lettered) continue;
    const std::u16string volume(name);
    Json folders = Json::Array();
    std::string shown = platform::ToUtf8(volume);
    for (const std::u16string& folder : paths) {
      folders.Push(platform::ToUtf8(folder));
      shown += " (in " + platform::ToUtf8(folder) + ")";
    }
    const std::size_t open = volume.find(u'{');
    const std::size_t close = volume.find(u'}');
    const std::string id = open != std::u16string::npos && close > open
                               ? platform::ToUtf8(volume.substr(open + 1, close - open - 1))
                               : platform::ToUtf8(volume);
    std::u16string path = volume;
    if (!path.empty() && path.back() == u'\\') path.pop_back();
    CheckVolume(state, volumes, id, shown, path, guard::InspectVolume(name),
                Json::Object()
                    .Set("letter", nullptr)
                    .Set("volume", platform::ToUtf8(volume))
                    .Set("mountPoints", folders));
  }
  state.report.facts.Set("volumes", volumes);
}

// Control codes can change the flags after start-up and the service cannot be asked: the
// volumes of a kind, where there are any, tell what the flag is now.
void InferLiveFlags(CheckState& state) {
  Json live = Json::Object();
  std::string text;
  for (auto [name, tally] :
       {std::pair<const char*, const VolumeTally*>{"removable", &state.removable},
        std::pair<const char*, const VolumeTally*>{"optical", &state.optical}}) {
    std::string value;
    if (!tally->unseen.empty()) {
      value = "unknown";
    } else if (tally->locked.empty() && tally->open.empty()) {
      value = "no volume";
    } else if (tally->open.empty()) {
      value = "on";
    } else if (tally->locked.empty()) {
      value = "off";
    } else {
      value = "mixed";
    }
    live.Set(name, value);
    if (tally == &state.removable && (value == "on" || value == "off")) {
      state.liveRemovable = value == "on";
    }
    text += std::string(text.empty() ? "" : ", ") + name + " " + value;
    if (!tally->locked.empty()) text += " (locked " + tally->locked + ")";
    if (!tally->open.empty()) text += " (open " + tally->open + ")";
    if (!tally->unseen.empty()) text += " (not visible " + tally->unseen + ")";
  }
  Json policy = state.report.facts.Get("policy");
  policy.Set("liveFlags", live);
  state.report.facts.Set("policy", policy);
  state.Add(kSectionPolicy, "policy.liveFlags", CheckResult::kInfo,
            "live flags seen on the volumes: " + text);
}

}  // namespace tarvelctl

// The simulated machine's drive letters and volumes.
#include "platform/sim/SimVolumes.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "platform/Text.h"

namespace platform::sim {

namespace {

constexpr std::uint32_t kErrorInvalidFunction = 1;  // ERROR_INVALID_FUNCTION

std::uint32_t GetU32(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
         static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

void PutU32(std::uint8_t* at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// A volume's key: 'A' to 'Z' for a drive letter, 'a' onwards for a volume without one.
bool IsLetter(char letter) {
  return (letter >= 'A' && letter <= 'Z') ||
         (letter >= 'a' && letter < 'a' + static_cast<int>(SimVolumes::kLetterlessVolumes));
}

std::size_t IndexOf(char key) {
  return key <= 'Z' ? static_cast<std::size_t>(key - 'A')
                    : 26 + static_cast<std::size_t>(key - 'a');
}

// "X:" for a root name, or '?' when the text is not exactly a letter and a colon.
char LetterOfRoot(const char16_t* root) {
  if (root == nullptr || root[0] < u'A' || root[0] > u'Z' || root[1] != u':' || root[2] != 0) {
    return '?';
  }
  return static_cast<char>(root[0]);
}

// "\\.\X:" for a volume path, or '?'.
char LetterOfVolumePath(const char16_t* path) {
  if (path == nullptr) return '?';
  std::u16string_view p(path);
  if (p.size() != 6 || p.substr(0, 4) != u"\\\\.\\") return '?';
  return LetterOfRoot(path + 4);
}

constexpr std::u16string_view kGuidPrefix = u"\\\\?\\Volume{";

}  // namespace

void SimVolumes::SetDrive(char letter, SimDrive drive) {
  std::lock_guard lock(core_.Mutex());
  if (!IsLetter(letter)) return;
  // A new device on the letter: handles opened before stay on the one it replaces.
  drives_[IndexOf(letter)] = std::move(drive);
  Instance& instance = InstanceOf(letter);
  ++instance.device;
  ++instance.mount;
  Track(letter);
}

SimDrive SimVolumes::Drive(char letter) const {
  std::lock_guard lock(core_.Mutex());
  return IsLetter(letter) ? drives_[IndexOf(letter)] : SimDrive{};
}

void SimVolumes::RemoveDrive(char letter) {
  std::lock_guard lock(core_.Mutex());
  if (!IsLetter(letter)) return;
  SimDrive& d = drives_[IndexOf(letter)];
  d.type = kDriveNoRootDir;
  d.volumePresent = false;
  d.lockedBy = kNullHandle;
  d.dismountedBy = kNullHandle;
  d.mounted = true;
  Instance& instance = InstanceOf(letter);
  ++instance.device;
  ++instance.mount;
  Track(letter);
}

std::uint32_t SimVolumes::OpenOtherProcessFile(char letter, std::uint64_t* id) {
  std::lock_guard lock(core_.Mutex());
  SimDrive* d = DriveOf(letter);
  if (d == nullptr || !d->volumePresent || d->type <= kDriveNoRootDir) return kErrorFileNotFound;
  // Another process's open meets the same file system as the service's, but not the
  // service's own injected faults.
  bool openFails = d->openFails;
  d->openFails = false;
  std::uint32_t error = Admit(letter, *d);
  d->openFails = openFails;
  if (error != 0) return error;
  const Instance& instance = InstanceOf(letter);
  *id = nextOtherOpen_++;
  otherOpens_[*id] = VolumeOpen{letter, instance.device, instance.mount};
  Note(letter, "file opened by another process");
  return 0;
}

bool SimVolumes::CloseOtherProcessFile(char letter) {
  std::lock_guard lock(core_.Mutex());
  for (auto it = otherOpens_.begin(); it != otherOpens_.end(); ++it) {
    if (it->second.letter != letter) continue;
    otherOpens_.erase(it);
    Note(letter, "file closed by another process");
    return true;
  }
  return false;
}

bool SimVolumes::Openable(char letter) const {
  std::lock_guard lock(core_.Mutex());
  if (!IsLetter(letter)) return false;
  const SimDrive& d = drives_[IndexOf(letter)];
  return d.volumePresent && d.type > kDriveNoRootDir && d.lockedBy == kNullHandle &&
         d.dismountedBy == kNullHandle;
}

std::vector<ExposureChange> SimVolumes::ExposureLog() const {
  std::lock_guard lock(core_.Mutex());
  return exposure_;
}

void SimVolumes::Track(char letter) {
  Instance& instance = InstanceOf(letter);
  const bool now = Openable(letter);
  if (now == instance.openable) return;
  instance.openable = now;
  if (core_.Recording()) exposure_.push_back(ExposureChange{core_.NowMs(), letter, now});
}

bool SimVolumes::OnCurrentMount(const VolumeOpen& open) const {
  const Instance& instance = instances_[IndexOf(open.letter)];
  return open.device == instance.device && open.mount == instance.mount;
}

int SimVolumes::OtherOpens(char letter, Handle except) const {
  int n = 0;
  for (const auto& [h, open] : volumeHandles_) {
    if (h != except && open.letter == letter && OnCurrentMount(open)) ++n;
  }
  for (const auto& [id, open] : otherOpens_) {
    if (open.letter == letter && OnCurrentMount(open)) ++n;
  }
  return n;
}

std::uint32_t SimVolumes::Admit(char letter, SimDrive& d) {
  if (d.openFails || d.lockedBy != kNullHandle) return kErrorAccessDenied;
  if (d.dismountedBy != kNullHandle) return kErrorNotReady;
  if (!d.mounted) {
    // The dismounted volume's handles all stay on the old mount.
    d.mounted = true;
    ++InstanceOf(letter).mount;
    Note(letter, "mounted afresh");
  }
  return 0;
}

std::vector<IoctlRecord> SimVolumes::Ioctls() const {
  std::lock_guard lock(core_.Mutex());
  return ioctls_;
}

std::vector<Handle> SimVolumes::HandlesOn(char letter) const {
  std::lock_guard lock(core_.Mutex());
  std::vector<Handle> out;
  for (const auto& [h, open] : volumeHandles_) {
    if (open.letter == letter) out.push_back(h);
  }
  return out;
}

std::vector<std::pair<std::uint64_t, std::string>> SimVolumes::VolumeEvents() const {
  std::lock_guard lock(core_.Mutex());
  return events_;
}

void SimVolumes::Note(char letter, const std::string& what) {
  if (!core_.Recording()) return;
  events_.emplace_back(core_.NowMs(), Label(letter) + ": " + what);
}

char SimVolumes::LetterlessKey(const std::string& name) const {
  std::lock_guard lock(core_.Mutex());
  for (std::size_t i = 0; i < kLetterlessVolumes; ++i) {
    if (!name.empty() && names_[i] == name) return static_cast<char>('a' + i);
  }
  return '?';
}

std::string SimVolumes::Label(char key) const {
  std::lock_guard lock(core_.Mutex());
  if (key >= 'A' && key <= 'Z') return std::string(1, key);
  if (!IsLetter(key)) return "?";
  return names_[IndexOf(key) - 26];
}

std::u16string SimVolumes::GuidName(char key) const {
  if (key >= 'A' && key <= 'Z')
    return std::u16string(kGuidPrefix) + u"drive-" + char16_t(key) + u"}\\";
  return std::u16string(kGuidPrefix) + FromUtf8(names_[IndexOf(key) - 26]) + u"}\\";
}

// Read back from the name's text rather than by building every volume's name and comparing:
// the passes ask this for every volume they list.
char SimVolumes::KeyOfGuid(std::u16string_view name) const {
  constexpr std::u16string_view kEnd = u"}\\";
  if (!name.starts_with(kGuidPrefix) || !name.ends_with(kEnd)) return '?';
  const std::u16string_view inner =
      name.substr(kGuidPrefix.size(), name.size() - kGuidPrefix.size() - kEnd.size());
  if (inner.size() == 7 && inner.starts_with(u"drive-") && inner[6] >= u'A' && inner[6] <= u'Z') {
    return static_cast<char>(inner[6]);
  }
  for (std::size_t i = 0; i < kLetterlessVolumes; ++i) {
    const std::string& n = names_[i];
    if (n.empty() || n.size() != inner.size()) continue;
    if (std::equal(n.begin(), n.end(), inner.begin(),
                   [](char a, char16_t b) { return static_cast<unsigned char>(a) == b; })) {
      return static_cast<char>('a' + i);
    }
  }
  return '?';
}

char SimVolumes::AddLetterlessVolume(const std::string& name, SimDrive drive) {
  std::lock_guard lock(core_.Mutex());
  std::size_t free = kLetterlessVolumes;
  for (std::size_t i = 0; i < kLetterlessVolumes; ++i) {
    if (names_[i] == name) {
      free = i;
      break;
    }
    if (names_[i].empty() && free == kLetterlessVolumes) free = i;
  }
  if (free == kLetterlessVolumes || name.empty()) return '?';
  names_[free] = name;
  const char key = static_cast<char>('a' + free);
  drives_[IndexOf(key)] = std::move(drive);
  Instance& instance = InstanceOf(key);
  ++instance.device;
  ++instance.mount;
  Track(key);
  return key;
}

std::size_t SimVolumes::LiveBlocks() const {
  std::lock_guard lock(core_.Mutex());
  return blocks_.size();
}

std::size_t SimVolumes::BlocksAllocated() const {
  std::lock_guard lock(core_.Mutex());
  return blocksAllocated_;
}

std::uint32_t SimVolumes::DiskNumber(const SimDrive& d, char letter) {
  return d.disk != 0 ? d.disk : 100 + static_cast<std::uint32_t>(IndexOf(letter));
}

std::uint32_t SimVolumes::DiskNumberOf(char letter) const {
  std::lock_guard lock(core_.Mutex());
  return IsLetter(letter) ? DiskNumber(drives_[IndexOf(letter)], letter) : 0;
}

SimDrive* SimVolumes::DriveOf(char letter) {
  return IsLetter(letter) ? &drives_[IndexOf(letter)] : nullptr;
}

std::uint32_t SimVolumes::GetDriveTypeW(const char16_t* rootName) {
  SimCall call = core_.Enter();
  char letter = LetterOfRoot(rootName);
  if (letter == '?' && rootName != nullptr) letter = KeyOfGuid(rootName);
  SimDrive* d = DriveOf(letter);
  std::uint32_t type = d == nullptr ? kDriveNoRootDir : d->type;
  call.Record([&] {
    return "GetDriveTypeW " + Label(letter) + (letter <= 'Z' ? ": -> " : " -> ") +
           std::to_string(type);
  });
  return type;
}

std::uint32_t SimVolumes::GetLogicalDrives() {
  SimCall call = core_.Enter(Fault::kGetLogicalDrives);
  std::uint32_t mask = 0;
  if (call.failed()) {
    SimCore::SetLastError(call.error());
  } else {
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
      if (DriveOf(letter)->type > kDriveNoRootDir) mask |= 1u << (letter - 'A');
    }
  }
  call.Record([&] { return "GetLogicalDrives -> " + HexText(mask); });
  return mask;
}

Handle SimVolumes::CreateFileW(const char16_t* path, std::uint32_t access, std::uint32_t share,
                               std::uint32_t disposition, std::uint32_t flags) {
  SimCall call = core_.Enter(Fault::kCreateFileW);
  call.Describe([&] {
    return "CreateFileW " + (path ? ToUtf8(path) : std::string("(null)")) + " " + HexText(access) +
           " " + std::to_string(share) + " " + std::to_string(disposition) + " " +
           std::to_string(flags);
  });
  char letter = LetterOfVolumePath(path);
  // A volume without a letter opens by its name without the trailing backslash.
  if (letter == '?' && path != nullptr) letter = KeyOfGuid(std::u16string(path) + u"\\");
  auto fail = [&](std::uint32_t error) {
    SimCore::SetLastError(error);
    call.Record([] { return " -> INVALID_HANDLE_VALUE"; });
    return kInvalidHandleValue;
  };
  if (call.Consult(Fault::kCreateFileWVolume)) return fail(call.error());
  SimDrive* d = DriveOf(letter);
  if (d == nullptr || !d->volumePresent || d->type <= kDriveNoRootDir) {
    return fail(kErrorFileNotFound);
  }
  if (disposition != kOpenExisting) return fail(kErrorInvalidParameter);
  if (std::uint32_t error = Admit(letter, *d); error != 0) return fail(error);
  Handle h = core_.OpenHandle(HandleEntry{"volume", Label(letter) + (letter <= 'Z' ? ":" : "")},
                              [this](Handle closed) { OnClose(closed); });
  const Instance& instance = InstanceOf(letter);
  volumeHandles_[h] = VolumeOpen{letter, instance.device, instance.mount};
  call.Record([&] { return " -> " + HandleText(h); });
  return h;
}

void SimVolumes::OnClose(Handle h) {
  auto it = volumeHandles_.find(h);
  if (it == volumeHandles_.end()) return;
  const char letter = it->second.letter;
  SimDrive* d = DriveOf(letter);
  volumeHandles_.erase(it);
  if (d == nullptr) return;
  // Closing the locking handle is what ends the lock; closing the dismounting one lets the
  // volume mount afresh at its next use.
  if (d->lockedBy == h) {
    d->lockedBy = kNullHandle;
    Note(letter, "lock ended (locking handle closed)");
  }
  if (d->dismountedBy == h) d->dismountedBy = kNullHandle;
  Track(letter);
}

std::uint32_t SimVolumes::Lock(Handle h, const VolumeOpen& open, SimDrive& d) {
  const SimFileSystem& fs = FileSystemOf(d.fileSystem, d.type);
  if (d.dismountedBy == h ? !fs.locksAfterOwnDismount : !d.mounted) return kErrorNotReady;
  if (d.lockedBy != kNullHandle) return kErrorAccessDenied;
  if (int others = OtherOpens(open.letter, h); others > 0) {
    Note(open.letter, "lock refused (" + std::to_string(others) + " other handle" +
                          (others == 1 ? "" : "s") + " open)");
    return kErrorAccessDenied;
  }
  d.lockedBy = h;
  Note(open.letter, "locked");
  if (fs.lockDismounts && d.mounted) {
    d.mounted = false;
    d.dismountedBy = h;
  }
  return 0;
}

std::uint32_t SimVolumes::Dismount(Handle h, const VolumeOpen& open, SimDrive& d) {
  const SimFileSystem& fs = FileSystemOf(d.fileSystem, d.type);
  if (!d.mounted && d.dismountedBy != h) return kErrorNotReady;
  if (fs.dismountRespectsLock && d.lockedBy != kNullHandle && d.lockedBy != h) {
    return kErrorAccessDenied;
  }
  if (d.mounted) {
    d.mounted = false;
    d.dismountedBy = h;
  }
  Note(open.letter, "dismounted");
  return 0;
}

Bool SimVolumes::DeviceIoControl(Handle device, std::uint32_t code, void* in, std::uint32_t inSize,
                                 void* out, std::uint32_t outSize, std::uint32_t* bytesReturned) {
  SimCall call = core_.Enter(Fault::kDeviceIoControl);
  if (code == kIoctlStorageQueryProperty) call.Consult(Fault::kDeviceIoControlStorageQuery);
  // What the driver saw is kept only while the machine keeps records.
  const bool keep = core_.Recording();
  IoctlRecord rec;
  rec.device = device;
  rec.code = code;
  rec.outputSize = outSize;
  if (keep && in != nullptr) {
    const auto* p = static_cast<const std::uint8_t*>(in);
    rec.input.assign(p, p + inSize);
  }
  if (keep && out != nullptr) {
    const auto* p = static_cast<const std::uint8_t*>(out);
    rec.outputOnCall.assign(p, p + outSize);
  }
  auto it = volumeHandles_.find(device);
  SimDrive* d = nullptr;
  if (it != volumeHandles_.end()) {
    rec.letter = it->second.letter;
    d = DriveOf(rec.letter);
  }
  Bool result = 0;
  std::uint32_t error = kErrorInvalidHandle;
  if (call.failed()) {
    error = call.error();
  } else if (d != nullptr &&
             (!d->volumePresent || it->second.device != InstanceOf(rec.letter).device)) {
    error = kErrorFileNotFound;  // the device went away under a held handle
  } else if (d != nullptr) {
    // A handle on a mount that has since been replaced reaches a dead volume: every file-system
    // control fails there. The storage requests go to the device and still work.
    const bool deadMount = it->second.mount != InstanceOf(rec.letter).mount;
    switch (code) {
      case kSmartRcvDriveData:
        if (!d->answersAtaIdentify) {
          error = kErrorInvalidParameter;
        } else if (in == nullptr || inSize < 32 || out == nullptr || outSize < 528) {
          error = 24;  // ERROR_BAD_LENGTH
        } else {
          std::memset(static_cast<std::uint8_t*>(out) + 16, 0xA5, 512);
          if (bytesReturned != nullptr) *bytesReturned = 528;
          result = 1;
        }
        break;
      case kIoctlStorageQueryProperty:
        result = AnswerStorageQuery(*d, in, inSize, out, outSize, bytesReturned, &error);
        break;
      case kIoctlStorageCheckVerify2:
        result = 1;
        break;
      case kIoctlStorageGetHotplugInfo:
      case kIoctlStorageGetDeviceNumber:
        result = AnswerHotplugOrNumber(*d, rec.letter, code, out, outSize, bytesReturned, &error);
        break;
      case kFsctlDismountVolume:
        error = deadMount ? kErrorNotReady : Dismount(device, it->second, *d);
        result = error == 0;
        break;
      case kFsctlLockVolume:
        error = deadMount ? kErrorNotReady : Lock(device, it->second, *d);
        result = error == 0;
        break;
      case kFsctlUnlockVolume:
        if (d->lockedBy == device) {
          d->lockedBy = kNullHandle;
          Note(rec.letter, "unlocked");
          result = 1;
        } else {
          error = 158;  // ERROR_NOT_LOCKED
        }
        break;
      default:
        error = kErrorInvalidFunction;
        break;
    }
    Track(rec.letter);
  }
  if (!result) SimCore::SetLastError(error);
  rec.result = result;
  if (keep) ioctls_.push_back(rec);
  call.Record([&] {
    return "DeviceIoControl " + Label(rec.letter) + ": " + HexText(code) + " -> " +
           std::to_string(result);
  });
  return result;
}

// The device descriptor of a disk, as the storage class driver fills it: the fixed part, then
// the vendor, product and serial strings, each NUL-terminated, with their offsets; as much of
// it as the output has room for. Only StorageDeviceProperty with PropertyStandardQuery is known.
Bool SimVolumes::AnswerStorageQuery(const SimDrive& d, const void* in, std::uint32_t inSize,
                                    void* out, std::uint32_t outSize, std::uint32_t* bytesReturned,
                                    std::uint32_t* error) {
  if (in == nullptr || inSize < kStoragePropertyQuerySize) {
    *error = kErrorInvalidParameter;
    return 0;
  }
  const auto* query = static_cast<const std::uint8_t*>(in);
  if (GetU32(query) != kStorageDeviceProperty || GetU32(query + 4) != kPropertyStandardQuery) {
    *error = kErrorInvalidFunction;
    return 0;
  }
  if (d.busQuery == SimBusQuery::kFails) {
    *error = kErrorInvalidFunction;
    return 0;
  }
  constexpr std::uint32_t kHeaderSize = 8;  // STORAGE_DESCRIPTOR_HEADER: Version, Size
  if (out == nullptr || outSize < kHeaderSize) {
    *error = 122;  // ERROR_INSUFFICIENT_BUFFER
    return 0;
  }
  std::vector<std::uint8_t> descriptor(kStorageDeviceDescriptorSize, 0);
  descriptor[kStorageDeviceRemovableMediaOffset] =
      d.type == kDriveRemovable || d.removableMedia ? 1 : 0;
  PutU32(descriptor.data() + kStorageDeviceBusTypeOffset, d.busType);
  // VendorIdOffset, ProductIdOffset and SerialNumberOffset (ProductRevisionOffset stays 0).
  const std::pair<std::uint32_t, const std::string*> strings[] = {
      {12, &d.vendor}, {16, &d.product}, {24, &d.serial}};
  for (const auto& [field, text] : strings) {
    if (text->empty()) continue;
    PutU32(descriptor.data() + field, static_cast<std::uint32_t>(descriptor.size()));
    descriptor.insert(descriptor.end(), text->begin(), text->end());
    descriptor.push_back(0);
  }
  const auto size = static_cast<std::uint32_t>(descriptor.size());
  PutU32(descriptor.data() + 0, kStorageDeviceDescriptorSize);  // Version
  PutU32(descriptor.data() + 4, size);                          // Size
  std::uint32_t n = d.busQuery == SimBusQuery::kHeaderOnly      ? kHeaderSize
                    : d.busQuery == SimBusQuery::kFixedPartOnly ? kStorageDeviceDescriptorSize
                                                                : size;
  if (outSize < n) n = outSize;
  std::memcpy(out, descriptor.data(), n);
  if (bytesReturned != nullptr) *bytesReturned = n;
  return 1;
}

// The hot-plug information and the disk number, as the disk class driver answers them: only into
// an output with room for the whole structure.
Bool SimVolumes::AnswerHotplugOrNumber(const SimDrive& d, char letter, std::uint32_t code,
                                       void* out, std::uint32_t outSize,
                                       std::uint32_t* bytesReturned, std::uint32_t* error) {
  const bool hotplug = code == kIoctlStorageGetHotplugInfo;
  if (hotplug ? d.hotplugQueryFails : d.diskNumberFails) {
    *error = kErrorInvalidFunction;
    return 0;
  }
  const std::uint32_t size = hotplug ? kStorageHotplugInfoSize : kStorageDeviceNumberSize;
  if (out == nullptr || outSize < size) {
    *error = 122;  // ERROR_INSUFFICIENT_BUFFER
    return 0;
  }
  auto* o = static_cast<std::uint8_t*>(out);
  std::memset(o, 0, size);
  if (hotplug) {
    PutU32(o, kStorageHotplugInfoSize);  // Size
    o[kHotplugMediaRemovableOffset] = d.type == kDriveRemovable || d.removableMedia ? 1 : 0;
    o[kHotplugDeviceHotplugOffset] = d.deviceHotplug ? 1 : 0;
  } else {
    PutU32(o, kFileDeviceDisk);  // DeviceType
    PutU32(o + 4, DiskNumber(d, letter));
    PutU32(o + 8, 1);  // PartitionNumber
  }
  if (bytesReturned != nullptr) *bytesReturned = size;
  return 1;
}

Handle SimVolumes::FindFirstVolumeW(char16_t* name, std::uint32_t capacity) {
  std::lock_guard lock(core_.Mutex());
  Handle find = core_.OpenHandle(HandleEntry{"volumesearch", "volumes"},
                                 [this](Handle closed) { searches_.erase(closed); });
  searches_[find] = 0;
  if (FindNextVolumeW(find, name, capacity) != 0) return find;
  const std::uint32_t error = SimCore::GetLastError();
  core_.CloseHandle(find);
  SimCore::SetLastError(error);
  return kInvalidHandleValue;
}

Bool SimVolumes::FindNextVolumeW(Handle find, char16_t* name, std::uint32_t capacity) {
  SimCall call = core_.Enter();
  auto it = searches_.find(find);
  if (it == searches_.end()) {
    SimCore::SetLastError(kErrorInvalidHandle);
    return 0;
  }
  // Every present volume, those with a letter included, in a fixed order.
  for (std::size_t& next = it->second; next < drives_.size(); ++next) {
    const char key = next < 26 ? static_cast<char>('A' + next) : static_cast<char>('a' + next - 26);
    if (!drives_[next].volumePresent || drives_[next].type <= kDriveNoRootDir) continue;
    const std::u16string volume = GuidName(key);
    ++next;
    if (volume.size() + 1 > capacity) {
      SimCore::SetLastError(206);  // ERROR_FILENAME_EXCED_RANGE
      return 0;
    }
    std::copy(volume.begin(), volume.end(), name);
    name[volume.size()] = 0;
    call.Record([&] { return "FindNextVolumeW -> " + ToUtf8(volume); });
    return 1;
  }
  SimCore::SetLastError(kErrorNoMoreFiles);
  return 0;
}

Bool SimVolumes::FindVolumeClose(Handle find) {
  return core_.CloseHandle(find) ? 1 : 0;
}

Bool SimVolumes::GetVolumePathNamesForVolumeNameW(const char16_t* volumeName, char16_t* names,
                                                  std::uint32_t capacity, std::uint32_t* length) {
  SimCall call = core_.Enter();
  const char key = volumeName == nullptr ? '?' : KeyOfGuid(volumeName);
  SimDrive* d = DriveOf(key);
  if (d == nullptr || !d->volumePresent) {
    SimCore::SetLastError(kErrorFileNotFound);
    return 0;
  }
  std::u16string list;
  if (key <= 'Z') list += std::u16string{char16_t(key), u':', u'\\', 0};
  for (const std::u16string& folder : d->mountPoints) list += folder + u'\0';
  list += u'\0';
  if (length != nullptr) *length = static_cast<std::uint32_t>(list.size());
  if (names == nullptr || list.size() > capacity) {
    SimCore::SetLastError(kErrorMoreDataCode);
    return 0;
  }
  std::copy(list.begin(), list.end(), names);
  call.Record([&] { return "GetVolumePathNamesForVolumeNameW " + Label(key) + " -> 1"; });
  return 1;
}

void* SimVolumes::GlobalAlloc(std::uint32_t flags, std::size_t bytes) {
  SimCall call = core_.Enter(Fault::kGlobalAlloc);
  call.Describe([&] { return "GlobalAlloc " + HexText(flags) + " " + std::to_string(bytes); });
  if (call.failed()) {
    SimCore::SetLastError(kErrorNotEnoughMemory);
    call.Record([] { return " -> null"; });
    return nullptr;
  }
  // Fixed memory, zero-filled only when GMEM_ZEROINIT asks: otherwise it holds a fill pattern,
  // as uninitialised memory would hold whatever came before, so that a caller relying on zeros
  // it did not ask for reads garbage.
  auto block = std::make_unique<std::uint8_t[]>(bytes == 0 ? 1 : bytes);
  if ((flags & kGmemZeroInit) == 0) std::memset(block.get(), 0xCD, bytes);
  void* p = block.get();
  blocks_[p] = Block{std::move(block), bytes};
  ++blocksAllocated_;
  call.Record([] { return " -> block"; });
  return p;
}

void* SimVolumes::GlobalFree(void* block) {
  SimCall call = core_.Enter();
  auto it = blocks_.find(block);
  if (it == blocks_.end()) {
    SimCore::SetLastError(kErrorInvalidHandle);
    call.Record([] { return "GlobalFree -> failed"; });
    return block;
  }
  call.Record([&] { return "GlobalFree " + std::to_string(it->second.size) + " -> null"; });
  blocks_.erase(it);
  return nullptr;
}

}  // namespace platform::sim

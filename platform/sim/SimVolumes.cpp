// The simulated machine's drive letters and volumes.
#include "platform/sim/SimVolumes.h"

#include <cstdio>
#include <cstring>

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

bool IsLetter(char letter) {
  return letter >= 'A' && letter <= 'Z';
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

}  // namespace

void SimVolumes::SetDrive(char letter, SimDrive drive) {
  std::lock_guard lock(core_.Mutex());
  if (IsLetter(letter)) drives_[letter - 'A'] = drive;
}

SimDrive SimVolumes::Drive(char letter) const {
  std::lock_guard lock(core_.Mutex());
  return IsLetter(letter) ? drives_[letter - 'A'] : SimDrive{};
}

void SimVolumes::RemoveDrive(char letter) {
  std::lock_guard lock(core_.Mutex());
  if (!IsLetter(letter)) return;
  SimDrive& d = drives_[letter - 'A'];
  d.type = kDriveNoRootDir;
  d.volumePresent = false;
  d.lockedBy = kNullHandle;
}

std::vector<IoctlRecord> SimVolumes::Ioctls() const {
  std::lock_guard lock(core_.Mutex());
  return ioctls_;
}

std::vector<Handle> SimVolumes::HandlesOn(char letter) const {
  std::lock_guard lock(core_.Mutex());
  std::vector<Handle> out;
  for (const auto& [h, l] : volumeHandles_) {
    if (l == letter) out.push_back(h);
  }
  return out;
}

std::vector<std::pair<std::uint64_t, std::string>> SimVolumes::VolumeEvents() const {
  std::lock_guard lock(core_.Mutex());
  return events_;
}

void SimVolumes::Note(char letter, const char* what) {
  if (!core_.Recording()) return;
  events_.emplace_back(core_.NowMs(), std::string(1, letter) + ": " + what);
}

std::size_t SimVolumes::LiveBlocks() const {
  std::lock_guard lock(core_.Mutex());
  return blocks_.size();
}

std::size_t SimVolumes::BlocksAllocated() const {
  std::lock_guard lock(core_.Mutex());
  return blocksAllocated_;
}

SimDrive* SimVolumes::DriveOf(char letter) {
  return IsLetter(letter) ? &drives_[letter - 'A'] : nullptr;
}

std::uint32_t SimVolumes::GetDriveTypeW(const char16_t* rootName) {
  SimCall call = core_.Enter();
  char letter = LetterOfRoot(rootName);
  SimDrive* d = DriveOf(letter);
  std::uint32_t type = d == nullptr ? kDriveNoRootDir : d->type;
  call.Record(
      [&] { return "GetDriveTypeW " + std::string(1, letter) + ": -> " + std::to_string(type); });
  return type;
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
  if (d->openFails) return fail(kErrorAccessDenied);
  if (d->lockedBy != kNullHandle) return fail(kErrorAccessDenied);
  if (disposition != kOpenExisting) return fail(kErrorInvalidParameter);
  d->mounted = true;
  Handle h = core_.OpenHandle(HandleEntry{"volume", std::string(1, letter) + ":"},
                              [this](Handle closed) { OnClose(closed); });
  volumeHandles_[h] = letter;
  call.Record([&] { return " -> " + HandleText(h); });
  return h;
}

void SimVolumes::OnClose(Handle h) {
  auto it = volumeHandles_.find(h);
  if (it == volumeHandles_.end()) return;
  SimDrive* d = DriveOf(it->second);
  // Closing the locking handle is what ends the lock.
  if (d != nullptr && d->lockedBy == h) {
    d->lockedBy = kNullHandle;
    Note(it->second, "lock ended (locking handle closed)");
  }
  volumeHandles_.erase(it);
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
    rec.letter = it->second;
    d = DriveOf(it->second);
  }
  Bool result = 0;
  std::uint32_t error = kErrorInvalidHandle;
  if (call.failed()) {
    error = call.error();
  } else if (d != nullptr && !d->volumePresent) {
    error = kErrorFileNotFound;  // the device went away under a held handle
  } else if (d != nullptr) {
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
      case kFsctlDismountVolume:
        if (d->lockedBy == kNullHandle || d->lockedBy == device) {
          d->mounted = false;
          Note(rec.letter, "dismounted");
          result = 1;
        } else {
          error = kErrorAccessDenied;
        }
        break;
      case kFsctlLockVolume: {
        bool othersOpen = false;
        for (const auto& [h, l] : volumeHandles_) {
          if (l == it->second && h != device) othersOpen = true;
        }
        if (d->lockedBy == kNullHandle && (!othersOpen || !d->mounted)) {
          d->lockedBy = device;
          Note(rec.letter, "locked");
          result = 1;
        } else {
          error = kErrorAccessDenied;
        }
        break;
      }
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
  }
  if (!result) SimCore::SetLastError(error);
  rec.result = result;
  if (keep) ioctls_.push_back(rec);
  call.Record([&] {
    return "DeviceIoControl " + std::string(1, rec.letter) + ": " + HexText(code) + " -> " +
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
  descriptor[10] = d.type == kDriveRemovable ? 1 : 0;  // RemovableMedia
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
  std::uint32_t n = d.busQuery == SimBusQuery::kHeaderOnly ? kHeaderSize : size;
  if (outSize < n) n = outSize;
  std::memcpy(out, descriptor.data(), n);
  if (bytesReturned != nullptr) *bytesReturned = n;
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

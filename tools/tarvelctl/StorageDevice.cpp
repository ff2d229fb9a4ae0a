// The device behind a volume as Windows reports it: STORAGE_DEVICE_DESCRIPTOR's bus and strings.
#include "tools/tarvelctl/StorageDevice.h"

#include <algorithm>
#include <array>

#include "platform/Platform.h"
#include "platform/Threads.h"
#include "platform/Volumes.h"

namespace tarvelctl {

namespace {

// STORAGE_DEVICE_DESCRIPTOR: Version, Size, DeviceType, DeviceTypeModifier, RemovableMedia,
// CommandQueueing, then the offsets of the vendor, product, revision and serial strings.
constexpr std::size_t kSizeOffset = 4;
constexpr std::size_t kRemovableMediaOffset = 10;
constexpr std::size_t kVendorOffset = 12;
constexpr std::size_t kProductOffset = 16;
constexpr std::size_t kSerialOffset = 24;
/// Room offered for the answer: the fixed part, raw properties and the strings.
constexpr std::uint32_t kAnswerSize = 1024;

std::uint32_t GetU32(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
         static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

// The string at the offset stored at field, read within the first end bytes only.
std::optional<std::string> StringAt(const std::uint8_t* data, std::size_t end, std::size_t field) {
  const std::uint32_t offset = GetU32(data + field);
  // The strings follow the fixed part; an offset into it, or past what was returned, is none.
  if (offset < platform::kStorageDeviceDescriptorSize || offset >= end) return std::nullopt;
  const std::uint8_t* first = data + offset;
  const std::uint8_t* last = std::find(first, data + end, std::uint8_t{0});
  if (last == data + end) return std::nullopt;  // no NUL within the returned bytes
  std::string text;
  for (const std::uint8_t* p = first; p != last; ++p) {
    text.push_back(*p >= 0x20 && *p < 0x7F ? static_cast<char>(*p) : '?');
  }
  const std::size_t begin = text.find_first_not_of(' ');
  if (begin == std::string::npos) return std::nullopt;
  return text.substr(begin, text.find_last_not_of(' ') - begin + 1);
}

}  // namespace

std::optional<StorageDevice> ParseDeviceDescriptor(const std::uint8_t* data, std::size_t size) {
  constexpr std::size_t kBusTypeEnd = platform::kStorageDeviceBusTypeOffset + 4;
  if (data == nullptr || size < kBusTypeEnd) return std::nullopt;
  // The descriptor's own Size bounds it too, where it says less than was returned.
  std::size_t end = size;
  const std::uint32_t declared = GetU32(data + kSizeOffset);
  if (declared >= kBusTypeEnd && declared < end) end = declared;
  StorageDevice device;
  device.busType = GetU32(data + platform::kStorageDeviceBusTypeOffset);
  device.removableMedia = data[kRemovableMediaOffset] != 0;
  device.vendor = StringAt(data, end, kVendorOffset);
  device.product = StringAt(data, end, kProductOffset);
  device.serial = StringAt(data, end, kSerialOffset);
  return device;
}

std::optional<StorageDevice> QueryStorageDevice(platform::Handle volume, std::uint32_t* error) {
  std::array<std::uint8_t, platform::kStoragePropertyQuerySize> query{};  // device, standard
  static_assert(platform::kStorageDeviceProperty == 0 && platform::kPropertyStandardQuery == 0);
  alignas(8) std::array<std::uint8_t, kAnswerSize> answer{};
  std::uint32_t returned = 0;
  const platform::Bool ok = platform::Current().volumes->DeviceIoControl(
      volume, platform::kIoctlStorageQueryProperty, query.data(),
      static_cast<std::uint32_t>(query.size()), answer.data(), kAnswerSize, &returned);
  *error = ok ? 0 : platform::Current().threads->GetLastError();
  if (!ok) return std::nullopt;
  return ParseDeviceDescriptor(answer.data(), std::min<std::size_t>(returned, answer.size()));
}

std::string BusTypeName(std::uint32_t busType) {
  static constexpr const char* kNames[] = {"unknown",
                                           "SCSI",
                                           "ATAPI",
                                           "ATA",
                                           "IEEE 1394",
                                           "SSA",
                                           "Fibre Channel",
                                           "USB",
                                           "RAID",
                                           "iSCSI",
                                           "SAS",
                                           "SATA",
                                           "SD",
                                           "MMC",
                                           "virtual",
                                           "file-backed virtual",
                                           "Storage Spaces",
                                           "NVMe",
                                           "SCM",
                                           "UFS"};
  if (busType < std::size(kNames)) return kNames[busType];
  return "bus type " + std::to_string(busType);
}

}  // namespace tarvelctl

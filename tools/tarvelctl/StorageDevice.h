// The device behind a volume as Windows reports it: STORAGE_DEVICE_DESCRIPTOR's bus and strings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/Types.h"

namespace tarvelctl {

/// What a disk's device descriptor says of it. A string the descriptor does not carry (offset
/// 0, outside the bytes returned, not NUL-terminated within them, or blank) is nullopt.
struct StorageDevice {
  std::uint32_t busType = 0;  ///< STORAGE_BUS_TYPE
  bool removableMedia = false;
  std::optional<std::string> vendor;
  std::optional<std::string> product;
  std::optional<std::string> serial;
};

/// Reads a descriptor as IOCTL_STORAGE_QUERY_PROPERTY returned it: size is the byte count it
/// returned. Nothing outside those bytes, nor past the descriptor's own Size, is read; each
/// string is cut at its NUL, trimmed of blanks, and any byte that is not printable ASCII is
/// shown as '?', so that a device cannot put control sequences into a report. nullopt when the
/// bytes do not reach BusType.
std::optional<StorageDevice> ParseDeviceDescriptor(const std::uint8_t* data, std::size_t size);

/// Asks the disk behind an open volume for its descriptor (StorageDeviceProperty,
/// PropertyStandardQuery); nullopt with *error (the Win32 error, or 0 for an answer too short
/// to read) when it does not tell.
std::optional<StorageDevice> QueryStorageDevice(platform::Handle volume, std::uint32_t* error);

/// "USB", "SATA", "NVMe", ... or "bus type N" for a value this tool does not name.
std::string BusTypeName(std::uint32_t busType);

}  // namespace tarvelctl

// The machine type of a Windows executable, from its PE header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace tarvelctl {

inline constexpr std::uint16_t kMachineI386 = 0x014C;
inline constexpr std::uint16_t kMachineArmNt = 0x01C4;
inline constexpr std::uint16_t kMachineAmd64 = 0x8664;
inline constexpr std::uint16_t kMachineArm64 = 0xAA64;

/// How many leading bytes of a file PeMachine needs at most for an ordinary image.
inline constexpr std::size_t kPeHeaderBytes = 4096;

/// IMAGE_FILE_HEADER.Machine of the image whose first bytes are given: "MZ", e_lfanew at
/// 0x3C, "PE\0\0" there, the machine right after. nullopt when the bytes are no PE image or
/// its header lies beyond them.
std::optional<std::uint16_t> PeMachine(const std::vector<std::uint8_t>& head);

/// Whether programs of the machine type run as 32-bit processes (under WOW64 on 64-bit
/// Windows); nullopt for a type the tool does not know.
std::optional<bool> Is32BitMachine(std::uint16_t machine);

/// "i386", "x64", ... for messages.
const char* MachineName(std::uint16_t machine);

}  // namespace tarvelctl

// The machine type of a Windows executable, from its PE header.
#include "tools/tarvelctl/PeImage.h"

namespace tarvelctl {

namespace {

std::uint32_t Read32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) |
         (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

}  // namespace

std::optional<std::uint16_t> PeMachine(const std::vector<std::uint8_t>& head) {
  if (head.size() < 0x40 || head[0] != 'M' || head[1] != 'Z') return std::nullopt;
  std::uint32_t pe = Read32(head, 0x3C);
  // Compared by subtraction so that an offset near 4 GB cannot wrap around.
  if (pe > head.size() || head.size() - pe < 6) return std::nullopt;
  if (head[pe] != 'P' || head[pe + 1] != 'E' || head[pe + 2] != 0 || head[pe + 3] != 0) {
    return std::nullopt;
  }
  return static_cast<std::uint16_t>(head[pe + 4] | (head[pe + 5] << 8));
}

std::optional<bool> Is32BitMachine(std::uint16_t machine) {
  switch (machine) {
    case kMachineI386:
    case kMachineArmNt:
      return true;
    case kMachineAmd64:
    case kMachineArm64:
      return false;
    default:
      return std::nullopt;
  }
}

const char* MachineName(std::uint16_t machine) {
  switch (machine) {
    case kMachineI386:
      return "i386";
    case kMachineArmNt:
      return "ARM";
    case kMachineAmd64:
      return "x64";
    case kMachineArm64:
      return "ARM64";
    default:
      return "unknown machine";
  }
}

}  // namespace tarvelctl

// The simulated machines the benchmarks and the allocation test run the service's code on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/sim/SimMachine.h"

namespace bench {

/// The system folder of every bench machine.
inline constexpr char16_t kSystemFolder[] = u"C:\\Windows\\system32";
/// Where the poll reads its tag.
inline constexpr char16_t kTagFile[] = u"C:\\Windows\\system32\\ReadTag.ini";
/// Where start-up reads its policy.
inline constexpr char16_t kPolicyFile[] = u"C:\\Windows\\system32\\DevState.ini";

/// Which drives a machine has.
enum class Drives {
  kNone,     ///< no drive letter at all: a pass makes 26 type queries and nothing else
  kDesktop,  ///< C: internal ATA disk, D: CD-ROM, E: USB stick
  kAll26,    ///< every letter in use: sticks, USB disks, internal disks, CD-ROMs, RAM disks, shares
};

/// A simulated machine set up as a service finds it, with the guard empty and both flags clear:
/// a tag file asking for WriteProtect 0, the value already 0, two portable devices enabled.
/// Installs itself; resets the process-wide guard and policy state on construction and
/// destruction.
class BenchMachine {
 public:
  explicit BenchMachine(Drives drives);
  ~BenchMachine();
  BenchMachine(const BenchMachine&) = delete;
  BenchMachine& operator=(const BenchMachine&) = delete;

  /// Turns the machine's records (journal and the like) on or off.
  void SetRecording(bool on);
  /// Empties the journal and the other records, so that a long run does not grow them.
  void ClearRecords();

  /// Writes a policy file at kPolicyFile: the nine lines that the controller tool writes for
  /// both locks on, followed by comment lines until the file holds at least padToBytes bytes.
  /// The values are at the end, so the reader goes through the whole file.
  void WritePolicyFile(std::size_t padToBytes);
  /// The size of the policy file last written, in bytes.
  [[nodiscard]] std::size_t PolicyFileBytes() const { return policyBytes_; }

  platform::sim::SimMachine sim;

 private:
  std::size_t policyBytes_ = 0;
};

/// A DBT_DEVICEARRIVAL broadcast for one volume.
std::vector<std::uint8_t> VolumeBroadcast(char letter);

}  // namespace bench

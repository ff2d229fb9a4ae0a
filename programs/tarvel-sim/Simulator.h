// Runs the service's real code, from the entry routine on, on a simulated machine built from a
// scenario, and reports what happened.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "guard/DriveKind.h"
#include "platform/sim/SimMachine.h"
#include "programs/tarvel-sim/Scenario.h"

namespace simulator {

/// One drive letter at the end of a run.
struct DriveOutcome {
  char letter = 'A';  ///< the machine's key: 'A' to 'Z', 'a' onwards for a volume without a letter
  std::string name;   ///< "E:", or the name of a volume without a letter
  std::uint32_t type = 1;
  std::string bus;  ///< what its bus query reports, for fixed disks: "nvme", "query fails"
  bool mounted = true;
  bool locked = false;
  std::uint64_t lockedBy = 0;
  std::string fileSystem;  ///< "FAT", "NTFS", "CDFS"
  /// Whether the policy in force at the end blocks the drive's kind.
  bool blockedKind = false;
  /// The virtual-time spans [from, to) in which another process could open a file on it.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> openable;
  std::uint64_t exposedMs = 0;  ///< the spans' total
};

/// What a run leaves behind: the debug lines with their times, and the machine's final state.
struct RunOutcome {
  std::vector<std::string> timeline;    ///< debug lines and scenario events, with virtual times
  std::vector<std::string> debugLines;  ///< the debug lines alone, as written
  std::vector<DriveOutcome> drives;     ///< letters that have a drive, A to Z
  std::optional<std::uint32_t> writeProtect;  ///< absent when the value does not exist
  std::vector<std::pair<std::string, bool>> portableDevices;  ///< name, enabled
  std::optional<std::uint32_t> serviceState;  ///< the last accepted status report's state
  std::uint32_t controlsAccepted = 0;
  int exitCode = -1;  ///< the entry routine's result; -1 when it had not returned
  std::uint64_t endMs = 0;
  std::vector<std::string> notes;  ///< events that could not be delivered, and why
};

/// Runs the scenario to its end. Not reentrant: the service's state is process-wide.
RunOutcome RunScenario(const Scenario& scenario);

/// The facts the guard would gather of the letter's drive on the simulated machine, from its
/// settings and without opening it: every question answered as the simulated disk answers it,
/// the system directory's disk being C:'s. The kind is KindOfDrive of them.
guard::DriveFacts SimulatedFacts(const platform::sim::SimMachine& sim, char letter);

/// Prints the timeline, then the final table.
void PrintOutcome(const RunOutcome& outcome, std::ostream& out);

}  // namespace simulator

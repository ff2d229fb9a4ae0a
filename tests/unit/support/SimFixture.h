// Shared set-up for unit tests: a fresh simulated machine per test, and journal helpers.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sim/SimMachine.h"
#include "service/ServiceState.h"

namespace testsupport {

/// The volume calls of a journal in a short vocabulary: open, probe, query (the bus query),
/// hotplug, number (the disk number), dismount, lock, unlock, close, sleep100 (drive-type
/// queries, the system folder and probe memory left out).
std::vector<std::string> VolumeCalls(const platform::sim::SimCore& core);

/// Installs a fresh simulated machine for each test, in a process as a new one has it.
class SimTest : public ::testing::Test {
 protected:
  SimTest() {
    sim.Install();
    service::ResetWholeProcess();
  }
  ~SimTest() override { service::ResetWholeProcess(); }

  /// Puts a volume on a letter.
  void AddDrive(char letter, std::uint32_t type, bool answersAta = false, bool openFails = false) {
    platform::sim::SimDrive d;
    d.type = type;
    d.volumePresent = true;
    d.answersAtaIdentify = answersAta;
    d.openFails = openFails;
    sim.volumes.SetDrive(letter, d);
  }

  [[nodiscard]] std::vector<std::string> VolumeCalls() const {
    return testsupport::VolumeCalls(sim.core);
  }

  /// Open volume handles on the machine.
  [[nodiscard]] std::size_t OpenVolumeHandles() const { return sim.core.OpenHandleCount("volume"); }

  platform::sim::SimMachine sim;
};

}  // namespace testsupport

// Toggles, arrivals and removals from four threads at once leave the guard sound.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <random>
#include <thread>

#include "GuardTestSupport.h"
#include "platform/sim/SimDevices.h"

namespace guard {
namespace {

using namespace guard::testing;  // NOLINT(google-build-using-namespace)
using platform::kDbtDeviceArrival;
using platform::kDbtDeviceRemoveComplete;

constexpr int kThreads = 4;
constexpr int kOpsPerThread = 2600;

// Each thread plugs and pulls the volumes of its own three drive letters (a stick, a CD drive
// and a USB disk) and switches both policies, the way control requests, the poll's pulse and
// device events reach the guard from the dispatcher, timer and worker threads.
void Churn(SimMachine& m, VolumeGuard& g, int thread, std::atomic<int>& bad) {
  std::mt19937 rng(static_cast<std::uint32_t>(thread) + 1);
  const char first = static_cast<char>('D' + 3 * thread);
  const SimDrive kinds[] = {Stick(), Cd(), UsbDisk()};
  for (int n = 0; n < kOpsPerThread; ++n) {
    const int pick = static_cast<int>(rng() % 3);
    const char letter = static_cast<char>(first + pick);
    switch (rng() % 6) {
      // A policy goes off and on again as two separate requests, so that other threads' events
      // land in between, and every policy ends the run switched on.
      case 0:
        g.SetRemovableLock(false);
        g.SetRemovableLock(true);
        break;
      case 1:
        g.SetOpticalLock(false);
        g.SetOpticalLock(true);
        break;
      case 2:
      case 3: {
        // A new volume, or a repeated broadcast for one already there.
        if (!m.volumes.Drive(letter).volumePresent) m.volumes.SetDrive(letter, kinds[pick]);
        platform::DevBroadcastVolume v = VolumeBroadcast(MaskOf(letter));
        g.OnDeviceChange(kDbtDeviceArrival, &v);
        break;
      }
      case 4:
        m.volumes.RemoveDrive(letter);
        g.OnDeviceChange(kDbtDeviceRemoveComplete, nullptr);
        break;
      default:
        g.OnDeviceChange(kDbtDeviceArrival, nullptr);
        break;
    }
    {
      // Between two operations the guard holds exactly the volume handles that are open.
      std::lock_guard lock(g.Mutex());
      if (g.removableCount < 0 || g.removableCount > kDriveCount || g.opticalCount < 0 ||
          g.opticalCount > kDriveCount || (n % 64 == 0 && OpenVolumeHandles(m) != LiveSlots(g))) {
        ++bad;
      }
    }
    // Keep the journal from growing through the whole run.
    if (thread == 0 && n % 256 == 0) m.core.ClearJournal();
  }
}

TEST(GuardStressTest, FourThreadsOfTogglesArrivalsAndRemovals) {
  SimMachine m;
  m.Install();
  m.volumes.SetDrive('C', AtaDisk());
  m.volumes.SetDrive('R', RamDisk());
  m.volumes.SetDrive('Z', Network());
  m.devices.AddClass(u"WPD", platform::sim::kWpdClassGuid);
  m.devices.AddDevice(platform::sim::kWpdClassGuid, true, 22);
  auto g = std::make_unique<VolumeGuard>();
  g->SetRemovableLock(true);
  g->SetOpticalLock(true);
  std::atomic<int> bad{0};

  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back(Churn, std::ref(m), std::ref(*g), t, std::ref(bad));
  }
  for (auto& t : threads) t.join();

  EXPECT_EQ(bad.load(), 0);
  ExpectConsistent(m, *g);
  EXPECT_EQ(m.core.OpenHandleCount("devinfo"), 0u);
}

}  // namespace
}  // namespace guard

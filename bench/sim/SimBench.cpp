// Benchmarks of the service's work on the simulated machine: the poll tick, arrival to lock,
// the lock pass and the policy load. The machine's sleeps are virtual, so every figure is the
// work between the sleeps. The exposure rows are virtual time instead: how long another process
// could open a file on a blocked volume around an event.
//
// Usage: tarvel-bench [--table] [Google Benchmark's --benchmark_* flags]
// --table prints, instead of a line per run, the simulated machine's rows of scripts/bench.sh's
// table; the exit code is 1 when a figure is missing from them.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "bench/sim/BenchMachine.h"
#include "bench/sim/MarkedPlatform.h"
#include "bench/sim/ServiceAccounting.h"
#include "bench/sim/TableReporter.h"
#include "enforcement/PolicyPoll.h"
#include "guard/VolumeGuard.h"
#include "platform/Windowing.h"
#include "policy/PolicyDecryption.h"
#include "policy/PolicyFile.h"
#include "policy/PolicyRecord.h"
#include "programs/tarvel-sim/Scenario.h"
#include "programs/tarvel-sim/Simulator.h"

namespace bench {
namespace {

// How often a run with the journal on empties it, so that long runs do not grow it.
constexpr std::int64_t kClearEvery = 1024;

void ClearNowAndThen(benchmark::State& state, BenchMachine& m) {
  if (!m.sim.core.Recording() || state.iterations() % kClearEvery != 0) return;
  state.PauseTiming();
  m.ClearRecords();
  state.ResumeTiming();
}

// Arg 0: the machine's records off (1: on).
void PollTick(benchmark::State& state) {
  BenchMachine m(Drives::kDesktop);
  m.SetRecording(state.range(0) != 0);
  enforcement::PollPolicy(&guard::TheVolumeGuard(), true);
  for (auto _ : state) {
    enforcement::PollPolicy(&guard::TheVolumeGuard(), true);
    ClearNowAndThen(state, m);
  }
  if (enforcement::CurrentWriteProtect != 0) state.SkipWithError("the tick was not steady");
}
BENCHMARK(PollTick)->ArgName("records")->Arg(1)->Arg(0);

// The tick with every platform call marked: the service's own time (the tick less its time
// inside platform calls) and its own heap allocations per tick, records off.
void PollTickOwnWork(benchmark::State& state) {
  BenchMachine m(Drives::kDesktop);
  m.SetRecording(false);
  MarkedPlatform marked(m.sim.platform());
  marked.Install();
  enforcement::PollPolicy(&guard::TheVolumeGuard(), true);
  StartTimingPlatformCalls();
  StartCountingAllocations();
  for (auto _ : state) enforcement::PollPolicy(&guard::TheVolumeGuard(), true);
  const auto allocations = static_cast<double>(StopCountingAllocations());
  const auto platformNs = static_cast<double>(StopTimingPlatformCalls());
  state.counters["allocs_per_tick"] =
      benchmark::Counter(allocations, benchmark::Counter::kAvgIterations);
  state.counters["platform_ns"] =
      benchmark::Counter(platformNs, benchmark::Counter::kAvgIterations);
  m.sim.Install();
}
BENCHMARK(PollTickOwnWork);

// A removable arrival while the removable lock is on, until the volume is locked (the
// handling's 100 ms pauses are virtual). Between iterations the guard lets the stick go.
void ArrivalToLock(benchmark::State& state) {
  BenchMachine m(Drives::kDesktop);
  m.SetRecording(state.range(0) != 0);
  guard::VolumeGuard& g = guard::TheVolumeGuard();
  guard::VolumeGuard::RemovableLock = 1;
  const std::vector<std::uint8_t> broadcast = VolumeBroadcast('E');
  for (auto _ : state) {
    g.OnDeviceChange(platform::kDbtDeviceArrival, broadcast.data());
    state.PauseTiming();
    if (m.sim.volumes.Drive('E').lockedBy == platform::kNullHandle) {
      state.SkipWithError("the stick was not locked");
    }
    g.CloseVolumeHandles(guard::kRemovableKind);
    if (m.sim.core.Recording() && state.iterations() % kClearEvery == 0) m.ClearRecords();
    state.ResumeTiming();
  }
}
BENCHMARK(ArrivalToLock)->ArgName("records")->Arg(1)->Arg(0);

// LockSweep(0x11) with both locks on. Arg 0: every letter in use (1) or none (0); arg 1:
// records. Between iterations the guard gives every volume up.
void LockSweep(benchmark::State& state) {
  BenchMachine m(state.range(0) != 0 ? Drives::kAll26 : Drives::kNone);
  m.SetRecording(state.range(1) != 0);
  guard::VolumeGuard& g = guard::TheVolumeGuard();
  guard::VolumeGuard::RemovableLock = 1;
  guard::VolumeGuard::OpticalLock = 1;
  for (auto _ : state) {
    g.LockSweep(guard::kSweepRemovable | guard::kSweepOptical);
    state.PauseTiming();
    g.CloseVolumeHandles(guard::kBothKinds);
    if (m.sim.core.Recording() && state.iterations() % kClearEvery == 0) m.ClearRecords();
    state.ResumeTiming();
  }
}
BENCHMARK(LockSweep)
    ->ArgNames({"drives", "records"})
    ->Args({1, 1})
    ->Args({1, 0})
    ->Args({0, 1})
    ->Args({0, 0});

// Start-up's policy load: the reader parses the file and the State value is decrypted.
// Arg 0: the file's size in bytes (0: the controller tool's nine lines alone); arg 1: records.
void PolicyLoad(benchmark::State& state) {
  BenchMachine m(Drives::kNone);
  m.SetRecording(state.range(1) != 0);
  m.WritePolicyFile(static_cast<std::size_t>(state.range(0)));
  char16_t state16[policy::kPolicySlotUnits];
  for (auto _ : state) {
    policy::ReleasePolicy();
    if (!policy::LoadPolicyFile(kPolicyFile) || !policy::DecryptPolicyValue(u"State", state16)) {
      state.SkipWithError("the policy did not load");
      break;
    }
    benchmark::DoNotOptimize(state16);
    ClearNowAndThen(state, m);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(m.PolicyFileBytes()));
}
// How long another process could open a file on a blocked volume around one event, in virtual
// milliseconds from the event on: each a whole scenario run once through the service's code.
// Arg 0: a stick arrives; 1: another device is removed while two sticks are locked; 2: a stick
// arrives while another process holds a file open on it (its lock is refused at first).
void Exposure(benchmark::State& state) {
  struct Case {
    const char* scenario;
    const char* letters;
  };
  static const Case kCases[] = {
      {"drive C fixed ata\npolicy truefalse\nat 2000 arrive H removable\nrun 4000\n", "H"},
      {"drive E removable\ndrive F removable\ndrive G removable\npolicy truefalse\n"
       "at 2000 remove G\nrun 4000\n",
       "EF"},
      {"drive C fixed ata\npolicy truefalse\nat 2000 arrive H removable busy\nrun 4000\n", "H"},
  };
  const Case& c = kCases[state.range(0)];
  auto parsed = simulator::ParseScenario(c.scenario);
  const auto* scenario = std::get_if<simulator::Scenario>(&parsed);
  if (scenario == nullptr) {
    state.SkipWithError("the scenario did not parse");
    return;
  }
  constexpr std::uint64_t kEventMs = 2000;
  double exposedMs = 0;
  bool locked = true;
  for (auto _ : state) {
    const simulator::RunOutcome outcome = simulator::RunScenario(*scenario);
    exposedMs = 0;
    for (const simulator::DriveOutcome& d : outcome.drives) {
      if (std::strchr(c.letters, d.letter) == nullptr) continue;
      locked = locked && d.locked;
      for (const auto& [from, to] : d.openable) {
        if (to > kEventMs) exposedMs += static_cast<double>(to - std::max(from, kEventMs));
      }
    }
  }
  if (!locked) state.SkipWithError("a blocked volume ended unlocked");
  state.counters["exposed_ms"] = exposedMs;
}
BENCHMARK(Exposure)->ArgName("event")->DenseRange(0, 2)->Iterations(1);

BENCHMARK(PolicyLoad)
    ->ArgNames({"bytes", "records"})
    ->Args({0, 1})
    ->Args({0, 0})
    ->Args({1 << 20, 1})
    ->Args({1 << 20, 0});

}  // namespace
}  // namespace bench

int main(int argc, char** argv) {
  // --table is this program's own flag: taken out before the library reads the rest.
  bool table = false;
  int kept = argc > 0 ? 1 : 0;
  for (int i = kept; i < argc; ++i) {
    if (std::strcmp(argv[i], "--table") == 0) {
      table = true;
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;
  argv[argc] = nullptr;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  int status = 0;
  if (table) {
    bench::TableReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    status = reporter.Complete() ? 0 : 1;
  } else {
    benchmark::RunSpecifiedBenchmarks();
  }
  benchmark::Shutdown();
  return status;
}

// The simulated machine's rows of the cost table, from the benchmarks' own runs.
#include "bench/sim/TableReporter.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <ostream>
#include <set>
#include <string>

namespace bench {

namespace {

using Value = std::optional<double>;

// The columns of scripts/bench.sh's row(), so that these rows line up with the Windows ones.
void Row(std::ostream& out, const std::string& figure, const std::string& measured,
         const std::string& reference, const std::string& referenceFigure) {
  char line[512];
  std::snprintf(line, sizeof line, "%-46s %-24s %-38s %s\n", figure.c_str(), measured.c_str(),
                reference.c_str(), referenceFigure.c_str());
  out << line;
}

std::string Format(const char* format, Value v) {
  if (!v) return "n/a";
  char text[64];
  std::snprintf(text, sizeof text, format, *v);
  return text;
}

std::string Us(Value v) {
  return Format("%.1f us", v);
}

double ToUs(double value, benchmark::TimeUnit unit) {
  return value * 1e6 / benchmark::GetTimeUnitMultiplier(unit);
}

}  // namespace

bool TableReporter::ReportContext(const Context& /*context*/) {
  return true;
}

void TableReporter::ReportRuns(const std::vector<Run>& runs) {
  for (const Run& run : runs) {
    const std::string name = run.run_name.str();
    if (run.error_occurred) {
      errors_.push_back(name + ": " + run.error_message);
      continue;
    }
    const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
    if (run.run_type == Run::RT_Aggregate && !median) continue;
    Figure& f = figures_[name];
    // The median stands for its repetitions; none of their own runs replaces it.
    if (f.median && !median) continue;
    f.median = median;
    f.cpuUs = ToUs(run.GetAdjustedCPUTime(), run.time_unit);
    f.realUs = ToUs(run.GetAdjustedRealTime(), run.time_unit);
    f.counters.clear();
    for (const auto& [counter, value] : run.counters) f.counters[counter] = value.value;
  }
}

void TableReporter::Finalize() {
  std::set<std::string> missing;
  auto find = [&](const std::string& name) -> const Figure* {
    auto it = figures_.find(name);
    if (it != figures_.end()) return &it->second;
    missing.insert(name);
    return nullptr;
  };
  auto cpu = [&](const std::string& name) -> Value {
    const Figure* f = find(name);
    return f != nullptr ? Value(f->cpuUs) : std::nullopt;
  };
  auto counter = [&](const std::string& name, const std::string& counterName) -> Value {
    const Figure* f = find(name);
    if (f == nullptr) return std::nullopt;
    auto it = f->counters.find(counterName);
    if (it != f->counters.end()) return it->second;
    missing.insert(name + " counter " + counterName);
    return std::nullopt;
  };

  // The service's own share of the tick: its time outside platform calls, as a share of its
  // wall time, applied to its CPU time, so that time the thread spent preempted counts for
  // neither side. The rest of the plain tick (journal off) is the machine's: the marked run's
  // own clock reads would inflate it.
  Value service;
  const Figure* own = find("PollTickOwnWork");
  const Value platformNs = counter("PollTickOwnWork", "platform_ns");
  if (own != nullptr && platformNs) {
    if (own->realUs > 0) {
      service = std::max(0.0, (own->realUs - *platformNs / 1000) / own->realUs * own->cpuUs);
    } else {
      missing.insert("PollTickOwnWork wall time");
    }
  }
  const Value plainTick = cpu("PollTick/records:0");
  Value machine;
  if (service && plainTick) machine = std::max(0.0, *plainTick - *service);

  std::ostream& out = GetOutputStream();
  Row(out, "--- simulated machine (CPU per operation)", "", "", "");
  Row(out, "Poll tick, journal on", Us(cpu("PollTick/records:1")), "same tick, journal off",
      Us(plainTick));
  Row(out, "Poll tick, service code alone", Us(service), "the machine's calls in it", Us(machine));
  Row(out, "Poll tick, heap allocations of its own",
      Format("%g per tick", counter("PollTickOwnWork", "allocs_per_tick")), "by design",
      "1 per tick: the registry accessor");
  Row(out, "Arrival to lock (E: stick), journal off", Us(cpu("ArrivalToLock/records:0")),
      "journal on", Us(cpu("ArrivalToLock/records:1")));
  Row(out, "LockSweep(0x11), 26 letters in use", Us(cpu("LockSweep/drives:1/records:0")),
      "no drives (26 type queries)", Us(cpu("LockSweep/drives:0/records:0")));
  Row(out, "LockSweep(0x11), 26 letters, journal on", Us(cpu("LockSweep/drives:1/records:1")),
      "no drives, journal on", Us(cpu("LockSweep/drives:0/records:1")));
  Row(out, "Policy load, 1 MiB file (parse + decrypt)",
      Us(cpu("PolicyLoad/bytes:1048576/records:0")), "controller tool's 9-line file",
      Us(cpu("PolicyLoad/bytes:0/records:0")));
  Row(out, "--- simulated machine (virtual ms another process could open a blocked volume)", "", "",
      "");
  const char* const ms = "%.0f ms";
  Row(out, "Exposure: a stick arrives",
      Format(ms, counter("Exposure/event:0/iterations:1", "exposed_ms")),
      "the pauses before its take (floor)", "200 ms");
  Row(out, "Exposure: another device removed (2 sticks)",
      Format(ms, counter("Exposure/event:1/iterations:1", "exposed_ms")), "goal", "0 ms");
  Row(out, "Exposure: a stick arrives with a file open",
      Format(ms, counter("Exposure/event:2/iterations:1", "exposed_ms")),
      "the pauses, then a refused lock", "200 ms (goal: at most 1 s more)");
  out.flush();

  std::ostream& err = GetErrorStream();
  for (const std::string& e : errors_) err << "failed: " << e << "\n";
  for (const std::string& m : missing) err << "no figure: " << m << "\n";
  complete_ = errors_.empty() && missing.empty();
}

}  // namespace bench

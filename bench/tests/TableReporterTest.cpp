// The table reporter: which run gives each figure, in which unit, the service's own share of the
// tick, and what a missing or failed benchmark does to the table.
#include "bench/sim/TableReporter.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace bench {
namespace {

using RunReport = benchmark::BenchmarkReporter::Run;

constexpr benchmark::IterationCount kIterations = 8;

// A run of the named benchmark whose times per iteration are cpuUs and realUs, in unit.
RunReport MakeRun(const std::string& name, double cpuUs, const std::string& aggregate = "",
                  benchmark::TimeUnit unit = benchmark::kMicrosecond, double realUs = -1) {
  RunReport r;
  const auto slash = name.find('/');
  r.run_name.function_name = name.substr(0, slash);
  if (slash != std::string::npos) r.run_name.args = name.substr(slash + 1);
  if (!aggregate.empty()) {
    r.run_type = RunReport::RT_Aggregate;
    r.aggregate_name = aggregate;
  }
  r.iterations = kIterations;
  r.time_unit = unit;
  r.cpu_accumulated_time = cpuUs * 1e-6 * kIterations;
  r.real_accumulated_time = (realUs < 0 ? cpuUs : realUs) * 1e-6 * kIterations;
  return r;
}

// The medians of every benchmark that the rows read, each with its own value.
std::map<std::string, RunReport> Medians() {
  std::map<std::string, RunReport> runs;
  auto add = [&](const std::string& name, double cpuUs) {
    runs[name] = MakeRun(name, cpuUs, "median");
  };
  add("PollTick/records:1", 18.9);
  add("PollTick/records:0", 7.6);
  add("ArrivalToLock/records:0", 3.1);
  add("ArrivalToLock/records:1", 9.3);
  add("LockSweep/drives:1/records:0", 19.5);
  add("LockSweep/drives:0/records:0", 0.8);
  add("LockSweep/drives:1/records:1", 72.0);
  add("LockSweep/drives:0/records:1", 2.3);
  add("PolicyLoad/bytes:1048576/records:0", 8084.6);
  add("PolicyLoad/bytes:0/records:0", 11.4);
  // 10 us of wall time of which 5 us inside platform calls: half of its 8 us of CPU is its own.
  RunReport own = MakeRun("PollTickOwnWork", 8, "median", benchmark::kMicrosecond, 10);
  own.counters["platform_ns"] = benchmark::Counter(5000);
  own.counters["allocs_per_tick"] = benchmark::Counter(1);
  runs["PollTickOwnWork"] = own;
  for (int event = 0; event < 3; ++event) {
    const std::string name = "Exposure/event:" + std::to_string(event) + "/iterations:1";
    RunReport exposure = MakeRun(name, 3000, "median");
    exposure.counters["exposed_ms"] = benchmark::Counter(event == 1 ? 0 : 200 + event);
    runs[name] = exposure;
  }
  return runs;
}

struct Table {
  std::string out;
  std::string err;
  bool complete = false;

  // The measured and reference figures of the row named figure, as printed.
  [[nodiscard]] std::pair<std::string, std::string> Figures(const std::string& figure) const {
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
      if (line.compare(0, figure.size() + 1, figure + " ") != 0) continue;
      auto trim = [](const std::string& s) { return s.substr(0, s.find_last_not_of(' ') + 1); };
      return {trim(line.substr(47, 24)), line.size() > 111 ? line.substr(111) : ""};
    }
    return {"no row", "no row"};
  }
};

Table Report(const std::vector<std::vector<RunReport>>& groups) {
  std::ostringstream out;
  std::ostringstream err;
  TableReporter reporter;
  reporter.SetOutputStream(&out);
  reporter.SetErrorStream(&err);
  for (const auto& group : groups) reporter.ReportRuns(group);
  reporter.Finalize();
  return {out.str(), err.str(), reporter.Complete()};
}

Table ReportMedians(const std::map<std::string, RunReport>& runs) {
  std::vector<std::vector<RunReport>> groups;
  groups.reserve(runs.size());
  for (const auto& [name, run] : runs) groups.push_back({run});
  return Report(groups);
}

TEST(TableReporterTest, EveryRowHasItsMedianInMicroseconds) {
  const Table t = ReportMedians(Medians());
  EXPECT_TRUE(t.complete);
  EXPECT_EQ(t.err, "");
  using Row = std::pair<std::string, std::string>;
  EXPECT_EQ(t.Figures("Poll tick, journal on"), Row("18.9 us", "7.6 us"));
  EXPECT_EQ(t.Figures("Poll tick, service code alone"), Row("4.0 us", "3.6 us"));
  EXPECT_EQ(t.Figures("Poll tick, heap allocations of its own"),
            Row("1 per tick", "1 per tick: the registry accessor"));
  EXPECT_EQ(t.Figures("Arrival to lock (E: stick), journal off"), Row("3.1 us", "9.3 us"));
  EXPECT_EQ(t.Figures("LockSweep(0x11), 26 letters in use"), Row("19.5 us", "0.8 us"));
  EXPECT_EQ(t.Figures("LockSweep(0x11), 26 letters, journal on"), Row("72.0 us", "2.3 us"));
  EXPECT_EQ(t.Figures("Policy load, 1 MiB file (parse + decrypt)"), Row("8084.6 us", "11.4 us"));
  EXPECT_EQ(t.Figures("Exposure: a stick arrives"), Row("200 ms", "200 ms"));
  EXPECT_EQ(t.Figures("Exposure: another device removed (2 sticks)"), Row("0 ms", "0 ms"));
  EXPECT_EQ(t.Figures("Exposure: a stick arrives with a file open"),
            Row("202 ms", "200 ms (goal: at most 1 s more)"));
}

TEST(TableReporterTest, ChoosesTheMedianAndConvertsEveryTimeUnit) {
  const std::string name = "LockSweep/drives:1/records:0";
  struct Case {
    const char* what;
    std::vector<std::vector<RunReport>> groups;
  };
  const Case cases[] = {
      {.what = "repetitions, then their aggregates",
       .groups = {{MakeRun(name, 50), MakeRun(name, 19.5), MakeRun(name, 60)},
                  {MakeRun(name, 40, "mean"), MakeRun(name, 19.5, "median"),
                   MakeRun(name, 9, "stddev")}}},
      {.what = "a later repetition after the median",
       .groups = {{MakeRun(name, 19.5, "median")}, {MakeRun(name, 70)}}},
      {.what = "one run, no repetitions", .groups = {{MakeRun(name, 19.5)}}},
      {.what = "nanoseconds", .groups = {{MakeRun(name, 19.5, "median", benchmark::kNanosecond)}}},
      {.what = "milliseconds",
       .groups = {{MakeRun(name, 19.5, "median", benchmark::kMillisecond)}}},
      {.what = "seconds", .groups = {{MakeRun(name, 19.5, "median", benchmark::kSecond)}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::map<std::string, RunReport> runs = Medians();
    runs.erase(name);
    std::vector<std::vector<RunReport>> groups = c.groups;
    for (auto& [other, run] : runs) groups.push_back({run});
    const Table t = Report(groups);
    EXPECT_TRUE(t.complete) << t.err;
    EXPECT_EQ(t.Figures("LockSweep(0x11), 26 letters in use").first, "19.5 us");
  }
}

TEST(TableReporterTest, ServiceShareNeverGoesBelowZero) {
  // More time inside platform calls than the wall time (the marks' own clock reads): the service
  // is given nothing and the machine the whole plain tick.
  std::map<std::string, RunReport> runs = Medians();
  runs["PollTickOwnWork"].counters["platform_ns"] = benchmark::Counter(12000);
  const Table t = ReportMedians(runs);
  EXPECT_TRUE(t.complete);
  EXPECT_EQ(t.Figures("Poll tick, service code alone"),
            std::make_pair(std::string("0.0 us"), std::string("7.6 us")));
}

TEST(TableReporterTest, MissingOrFailedFiguresMakeTheTableIncomplete) {
  {
    SCOPED_TRACE("a benchmark without runs");
    std::map<std::string, RunReport> runs = Medians();
    runs.erase("LockSweep/drives:0/records:1");
    const Table t = ReportMedians(runs);
    EXPECT_FALSE(t.complete);
    EXPECT_EQ(t.Figures("LockSweep(0x11), 26 letters, journal on").second, "n/a");
    EXPECT_EQ(t.err, "no figure: LockSweep/drives:0/records:1\n");
  }
  {
    SCOPED_TRACE("a counter missing");
    std::map<std::string, RunReport> runs = Medians();
    runs["PollTickOwnWork"].counters.erase("platform_ns");
    const Table t = ReportMedians(runs);
    EXPECT_FALSE(t.complete);
    EXPECT_EQ(t.Figures("Poll tick, service code alone"),
              std::make_pair(std::string("n/a"), std::string("n/a")));
    EXPECT_EQ(t.err, "no figure: PollTickOwnWork counter platform_ns\n");
  }
  {
    SCOPED_TRACE("a failed run");
    std::map<std::string, RunReport> runs = Medians();
    RunReport failed = MakeRun("PollTick/records:1", 5);
    failed.error_occurred = true;
    failed.error_message = "the tick was not steady";
    runs["PollTick/records:1"] = failed;
    const Table t = ReportMedians(runs);
    EXPECT_FALSE(t.complete);
    EXPECT_EQ(t.Figures("Poll tick, journal on").first, "n/a");
    EXPECT_EQ(t.err,
              "failed: PollTick/records:1: the tick was not steady\n"
              "no figure: PollTick/records:1\n");
  }
}

}  // namespace
}  // namespace bench

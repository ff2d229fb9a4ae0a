// The bench program's table reporter: the simulated machine's rows of scripts/bench.sh's table.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace bench {

/// Collects the benchmarks' figures and, once every benchmark has run, prints the simulated
/// machine's rows of the cost table in the columns of scripts/bench.sh's other rows: nothing
/// per run. Each figure is the median of the repetitions when there are any, else the one run.
/// A figure that no run gave (a benchmark failed, or was filtered out) is printed as "n/a" and
/// named on the error stream, and Complete() is false then.
class TableReporter final : public benchmark::BenchmarkReporter {
 public:
  bool ReportContext(const Context& context) override;
  void ReportRuns(const std::vector<Run>& runs) override;
  /// Prints the rows on the output stream.
  void Finalize() override;

  /// True when the rows printed hold every figure.
  [[nodiscard]] bool Complete() const { return complete_; }

 private:
  struct Figure {
    bool median = false;
    double cpuUs = 0;
    double realUs = 0;
    std::map<std::string, double> counters;
  };

  std::map<std::string, Figure> figures_;
  std::vector<std::string> errors_;
  bool complete_ = false;
};

}  // namespace bench

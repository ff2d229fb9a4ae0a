// Wall time and peak memory growth of a piece of work, for the reports of the hostile-input tests.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace testsupport {

/// Starts measuring when constructed: the process's peak resident size is reset (Linux'
/// /proc/self/clear_refs), so that the peak read later is the peak of this work alone.
class ResourceMeter {
 public:
  ResourceMeter();

  /// Seconds since construction.
  [[nodiscard]] double Seconds() const;
  /// Peak resident size since construction minus the resident size at construction, in KiB;
  /// -1 when the peak could not be reset or read.
  [[nodiscard]] std::int64_t PeakGrowthKiB() const;
  /// Prints "[ measure ] what: 0.123 s, peak memory +456 KiB" to standard output.
  void Print(const std::string& what) const;

 private:
  std::chrono::steady_clock::time_point start_;
  std::int64_t startRssKiB_ = -1;
  bool peakReset_ = false;
};

}  // namespace testsupport

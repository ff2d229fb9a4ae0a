// Tells the service's own allocations and time apart from those of the platform it calls.
#pragma once

#include <cstdint>

namespace bench {

/// While one lives on a thread, that thread is inside a platform call: its allocations and its
/// time belong to the machine, not to the service. Nests; only the outermost one is timed.
class PlatformCallScope {
 public:
  PlatformCallScope();
  ~PlatformCallScope();
  PlatformCallScope(const PlatformCallScope&) = delete;
  PlatformCallScope& operator=(const PlatformCallScope&) = delete;
};

/// Starts counting, from zero, the calling thread's heap allocations made outside platform
/// calls. The program's global operator new does the counting.
void StartCountingAllocations();
/// Stops counting on the calling thread and returns the count.
std::uint64_t StopCountingAllocations();

/// Starts adding up, from zero, the calling thread's time inside platform calls.
void StartTimingPlatformCalls();
/// Stops and returns the time inside platform calls, in nanoseconds.
std::uint64_t StopTimingPlatformCalls();

}  // namespace bench

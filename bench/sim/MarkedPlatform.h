// A platform that hands every call on to another one, marking the time spent inside it.
#pragma once

#include <memory>

#include "platform/Platform.h"

namespace bench {

/// Wraps the areas that the poll, the sweeps and the arrival path use (Files, Registry,
/// Devices, Volumes, Threads, Debug): each call runs inside a PlatformCallScope and then in the
/// wrapped platform, so the bench can tell the service's own allocations and time from the
/// machine's. The other areas are handed on unwrapped.
class MarkedPlatform {
 public:
  explicit MarkedPlatform(platform::Platform& inner);
  ~MarkedPlatform();
  MarkedPlatform(const MarkedPlatform&) = delete;
  MarkedPlatform& operator=(const MarkedPlatform&) = delete;

  /// Installs the wrapped platform as the process-wide one.
  void Install() { platform::Install(&platform_); }

 private:
  struct Areas;
  std::unique_ptr<Areas> areas_;
  platform::Platform platform_;
};

}  // namespace bench

// Wall time and peak memory growth of a piece of work.
#include "tests/unit/support/ResourceMeter.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace testsupport {

namespace {

// A "Name:   1234 kB" field of /proc/self/status, or -1.
std::int64_t StatusKiB(const std::string& name) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(name + ":", 0) != 0) continue;
    std::istringstream fields(line.substr(name.size() + 1));
    std::int64_t kib = -1;
    fields >> kib;
    return kib;
  }
  return -1;
}

}  // namespace

ResourceMeter::ResourceMeter() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";  // resets the peak resident size to the current one
  clear.flush();
  peakReset_ = static_cast<bool>(clear);
  startRssKiB_ = StatusKiB("VmRSS");
  start_ = std::chrono::steady_clock::now();
}

double ResourceMeter::Seconds() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

std::int64_t ResourceMeter::PeakGrowthKiB() const {
  std::int64_t peak = StatusKiB("VmHWM");
  if (!peakReset_ || peak < 0 || startRssKiB_ < 0) return -1;
  return peak - startRssKiB_;
}

void ResourceMeter::Print(const std::string& what) const {
  std::int64_t growth = PeakGrowthKiB();
  if (growth < 0) {
    std::printf("[ measure  ] %s: %.3f s, peak memory unknown\n", what.c_str(), Seconds());
  } else {
    std::printf("[ measure  ] %s: %.3f s, peak memory +%lld KiB\n", what.c_str(), Seconds(),
                static_cast<long long>(growth));
  }
  std::fflush(stdout);
}

}  // namespace testsupport

// Shared set-up of the fuzz targets.
#include "tests/fuzz/FuzzSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "service/ServiceState.h"

namespace fuzz {

void Fail(const char* what, const char* file, int line) {
  std::fprintf(stderr, "\n==fuzz== property broken at %s:%d: %s\n", file, line, what);
  std::fflush(stderr);
  std::abort();
}

FuzzMachine::FuzzMachine() {
  // No target reads the journal (platform calls are counted with CallCount instead), so its
  // lines are not even formatted.
  sim.core.SetRecording(false);
  sim.Install();
  service::ResetWholeProcess();
}

FuzzMachine::~FuzzMachine() {
  service::ResetWholeProcess();
}

std::vector<platform::Handle> HeldVolumeHandles(const guard::VolumeGuard& guard) {
  std::vector<platform::Handle> held;
  for (const platform::Handle* table : {guard.removableHandles, guard.opticalHandles}) {
    for (int i = 0; i < guard::kDriveCount; ++i) {
      if (table[i] != platform::kNullHandle && table[i] != platform::kInvalidHandleValue) {
        held.push_back(table[i]);
      }
    }
  }
  for (platform::Handle h : guard.letterlessHandles) {
    if (h != platform::kNullHandle && h != platform::kInvalidHandleValue) held.push_back(h);
  }
  std::sort(held.begin(), held.end());
  return held;
}

std::uint8_t ByteReader::Byte() {
  return pos_ < size_ ? data_[pos_++] : 0;
}

std::uint32_t ByteReader::Dword() {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(Byte()) << (8 * i);
  return v;
}

}  // namespace fuzz

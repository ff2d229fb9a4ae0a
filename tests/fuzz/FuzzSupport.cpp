// Shared set-up of the fuzz targets.
#include "tests/fuzz/FuzzSupport.h"

#include <cstdio>
#include <cstdlib>

#include "enforcement/PolicyPoll.h"
#include "guard/VolumeGuard.h"
#include "policy/PolicyDecryption.h"
#include "policy/PolicyFile.h"
#include "policy/StartGuard.h"
#include "service/ServiceState.h"
#include "service/SystemDir.h"

namespace fuzz {

namespace {

// Every process-wide object that the targets reach, back to its state at process start. The
// guard's handles are closed through the installed machine.
void ResetProcessState() {
  policy::ReleasePolicy();
  policy::ResetPolicyDecryptionForTests();
  policy::SetPolicyAllocationFailsForTests(false);
  policy::PolicyFilePath[0] = 0;
  policy::PolicyTimerQueue = platform::kNullHandle;
  policy::PolicyPollTimer = platform::kNullHandle;

  guard::VolumeGuard& guard = guard::TheVolumeGuard();
  guard.CloseVolumeHandles(guard::kBothKinds);
  guard.arrivalIndex = 0;
  guard::VolumeGuard::RemovableLock = 0;
  guard::VolumeGuard::OpticalLock = 0;

  enforcement::TagBuffer = enforcement::TagRecord{};
  enforcement::DesiredWriteProtect = 0;
  enforcement::CurrentWriteProtect = 0;

  service::IsWow64 = 0;
  service::ResetProcessState();
}

}  // namespace

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
  ResetProcessState();
}

FuzzMachine::~FuzzMachine() {
  ResetProcessState();
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

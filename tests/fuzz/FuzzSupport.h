// Shared set-up of the fuzz targets: a fresh simulated machine and a fresh process per input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "guard/VolumeGuard.h"
#include "platform/sim/SimMachine.h"

namespace fuzz {

/// Reports a broken property of the product with its place and aborts, so that libFuzzer keeps
/// the input as a crash.
[[noreturn]] void Fail(const char* what, const char* file, int line);

/// Checks a property that must hold for every input.
#define FUZZ_CHECK(condition)                                       \
  do {                                                              \
    if (!(condition)) ::fuzz::Fail(#condition, __FILE__, __LINE__); \
  } while (false)

/// One input's world: a new simulated machine, installed, and every process-wide object of the
/// service as a new process has it (no policy record, no key container attempt, an empty guard
/// with both flags clear, the poll's values zero, no WOW64, the service host's state as at
/// entry). The destructor puts the process
/// back the same way, closing the guard's handles on this machine before it goes, so that no
/// input sees what an earlier one left.
class FuzzMachine {
 public:
  FuzzMachine();
  ~FuzzMachine();
  FuzzMachine(const FuzzMachine&) = delete;
  FuzzMachine& operator=(const FuzzMachine&) = delete;

  platform::sim::SimMachine sim;
};

/// The volume handles the guard's two tables hold (neither null nor INVALID_HANDLE_VALUE), in
/// increasing order, as SimCore::OpenHandlesOf lists the machine's open ones.
std::vector<platform::Handle> HeldVolumeHandles(const guard::VolumeGuard& guard);

/// Reads input bytes from the front, giving zeros once they run out.
class ByteReader {
 public:
  ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t Byte();
  std::uint32_t Dword();  ///< little-endian
  /// What has not been read yet.
  [[nodiscard]] const std::uint8_t* rest() const { return data_ + pos_; }
  [[nodiscard]] std::size_t restSize() const { return size_ - pos_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

}  // namespace fuzz

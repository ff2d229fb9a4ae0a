// Fuzz target: a WM_DEVICECHANGE event code and broadcast bytes through OnDeviceChange.
//
// Input: one byte of set-up, the event code (4 bytes, little-endian), then the broadcast. Set-up
// bit 0 sets the removable lock and bit 1 the optical lock, as the policy file would at start-up
// (the start-up lock pass runs); bits 2-7 give how many times (1 to 64) the event is delivered.
// An empty broadcast is delivered as a null pointer. Otherwise the window gets exactly the
// broadcast's bytes in a heap buffer of that size, as Windows copies a broadcast into the
// receiving process: as many bytes as its dbch_size field declares. Inputs whose bytes are too
// few for what their header declares are therefore not deliverable and are rejected; the bytes
// beyond the declared size are made unreadable, so that a read past either end is reported.
#include <sanitizer/asan_interface.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "guard/VolumeGuard.h"
#include "platform/Volumes.h"
#include "platform/Windowing.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

using guard::VolumeGuard;
using platform::Handle;
using platform::sim::SimDrive;

struct Letter {
  char letter;
  SimDrive drive;
  bool removableKind;  ///< taken by the removable lock
  bool opticalKind;    ///< taken by the optical lock
  bool arrivalLocks;   ///< an arrival of it under its lock leaves it locked
};

// A fixed disk that fails the ATA probe and reports an internal bus.
SimDrive NvmeDisk() {
  SimDrive d{platform::kDriveFixed, true};
  d.busType = platform::kBusTypeNvme;
  return d;
}

// A stick, a disc, a USB hard disk, a RAM disk, an internal ATA disk, a network drive, a
// stick that refuses every open and an internal NVMe disk.
const Letter kLetters[] = {
    {'E', {platform::kDriveRemovable, true}, true, false, true},
    {'F', {platform::kDriveCdrom, true}, false, true, true},
    {'G', {platform::kDriveFixed, true}, true, false, true},
    {'H', {platform::kDriveRamdisk, true}, true, false, false},
    {'I', {platform::kDriveFixed, true, true}, false, false, false},
    {'J', {platform::kDriveRemote, true}, false, false, false},
    {'K', {platform::kDriveRemovable, true, false, true}, false, false, false},
    {'L', NvmeDisk(), false, false, false},
};

constexpr std::size_t kLetterCount = std::size(kLetters);

// Whether each of kLetters is locked, in that order.
std::array<bool, kLetterCount> LockedLetters(platform::sim::SimVolumes& volumes) {
  std::array<bool, kLetterCount> locked{};
  for (std::size_t i = 0; i < kLetterCount; ++i) {
    locked[i] = volumes.Drive(kLetters[i].letter).lockedBy != 0;
  }
  return locked;
}

// The guard's slots hold exactly the volume handles open on the machine, each once, and its
// counts stay inside the tables.
void CheckSlots(VolumeGuard& guard, platform::sim::SimCore& core) {
  FUZZ_CHECK(guard.removableCount >= 0 && guard.removableCount <= guard::kDriveCount);
  FUZZ_CHECK(guard.opticalCount >= 0 && guard.opticalCount <= guard::kDriveCount);
  const std::vector<Handle> open = core.OpenHandlesOf("volume");
  FUZZ_CHECK(fuzz::HeldVolumeHandles(guard) == open);
  FUZZ_CHECK(core.OpenHandleCount() == open.size());
}

// Between an event's first and last lines come only refused takes, one line each: K refuses
// every open, and the passes that follow an arrival or a removal try it again.
void CheckLockFailures(const std::vector<platform::sim::DebugLine>& logs, std::size_t from,
                       std::size_t to) {
  for (std::size_t i = from; i < to; ++i) {
    FUZZ_CHECK(logs[i].text == u"\n(VexService) Lock K: failed. (err=5)");
  }
}

// What an arrival broadcast names: whether it is a volume's with a letter in its mask, and which
// of the machine's letters the lowest one is (null for a letter with no drive).
struct Arrival {
  bool recorded = false;
  const Letter* letter = nullptr;
};

Arrival ArrivalOf(const std::uint8_t* bytes, std::size_t size) {
  Arrival arrival;
  std::uint32_t fields[4];  // dbcv_size, dbcv_devicetype, dbcv_reserved, dbcv_unitmask
  if (bytes == nullptr || size < sizeof fields) return arrival;
  std::memcpy(fields, bytes, sizeof fields);
  if (fields[0] < sizeof fields || fields[1] != platform::kDbtDevtypVolume) return arrival;
  for (int i = 0; i < guard::kDriveCount; ++i) {
    if ((fields[3] >> i & 1u) == 0) continue;
    arrival.recorded = true;
    for (const Letter& l : kLetters) {
      if (l.letter == 'A' + i) arrival.letter = &l;
    }
    break;
  }
  return arrival;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::ByteReader input(data, size);
  const std::uint8_t setup = input.Byte();
  const std::uint32_t event = input.Dword();
  const std::size_t length = input.restSize();
  std::uint32_t declared = 0;
  if (length > 0) {
    if (length < sizeof declared) return -1;
    std::memcpy(&declared, input.rest(), sizeof declared);
    if (declared > length) return -1;
  }

  fuzz::FuzzMachine machine;
  platform::sim::SimMachine& sim = machine.sim;
  for (const Letter& l : kLetters) sim.volumes.SetDrive(l.letter, l.drive);
  VolumeGuard& guard = guard::TheVolumeGuard();
  const bool removable = (setup & 0x01) != 0;
  const bool optical = (setup & 0x02) != 0;
  VolumeGuard::RemovableLock = removable ? 1 : 0;
  VolumeGuard::OpticalLock = optical ? 1 : 0;
  guard.LockSweep((removable ? guard::kSweepRemovable : 0) | (optical ? guard::kSweepOptical : 0));
  CheckSlots(guard, sim.core);

  std::unique_ptr<std::uint8_t[]> broadcast;
  if (length > 0) {
    broadcast = std::make_unique<std::uint8_t[]>(length);
    std::memcpy(broadcast.get(), input.rest(), length);
  }
  const std::size_t readable = std::max<std::size_t>(declared, sizeof declared);
  if (length > readable) ASAN_POISON_MEMORY_REGION(broadcast.get() + readable, length - readable);
  const Arrival arrival = ArrivalOf(broadcast.get(), std::min(length, readable));

  const int times = 1 + (setup >> 2);
  for (int i = 0; i < times; ++i) {
    const std::array<bool, kLetterCount> before = LockedLetters(sim.volumes);
    const std::size_t logsBefore = sim.core.DebugLineCount();
    const std::uint64_t callsBefore = sim.core.CallCount();
    const std::int32_t removableCount = guard.removableCount;
    const std::int32_t opticalCount = guard.opticalCount;

    FUZZ_CHECK(guard.OnDeviceChange(event, broadcast.get()) == 1);

    CheckSlots(guard, sim.core);
    const std::array<bool, kLetterCount> after = LockedLetters(sim.volumes);
    const std::vector<platform::sim::DebugLine> logs = sim.core.DebugLinesFrom(logsBefore);
    if (event == platform::kDbtDeviceArrival) {
      FUZZ_CHECK(logs.size() >= 2);
      FUZZ_CHECK(logs.front().text == u"\n(VexService) Device arrival");
      FUZZ_CHECK(logs.back().text == u"\n(VexService) Handle device arrival finish");
      CheckLockFailures(logs, 1, logs.size() - 1);
      // Arrivals only add: every lock held before is still held.
      for (std::size_t l = 0; l < kLetterCount; ++l) FUZZ_CHECK(!before[l] || after[l]);
      if (!arrival.recorded) {
        FUZZ_CHECK(guard.removableCount == removableCount);
        FUZZ_CHECK(guard.opticalCount == opticalCount);
      } else if (const Letter* l = arrival.letter;
                 l != nullptr && l->arrivalLocks &&
                 ((l->removableKind && removable) || (l->opticalKind && optical))) {
        FUZZ_CHECK(after[static_cast<std::size_t>(l - kLetters)]);
      }
    } else if (event == platform::kDbtDeviceRemoveComplete) {
      FUZZ_CHECK(!logs.empty());
      FUZZ_CHECK(logs.back().text == u"\n(VexService) Device remove complete");
      CheckLockFailures(logs, 0, logs.size() - 1);
      // Everything rebuilt from nothing: exactly the volumes the flags cover are locked.
      for (std::size_t n = 0; n < kLetterCount; ++n) {
        const Letter& l = kLetters[n];
        FUZZ_CHECK(after[n] == ((l.removableKind && removable) || (l.opticalKind && optical)));
      }
    } else {
      // Any other event touches nothing at all.
      FUZZ_CHECK(sim.core.CallCount() == callsBefore);
      FUZZ_CHECK(logs.empty());
      FUZZ_CHECK(guard.removableCount == removableCount);
      FUZZ_CHECK(guard.opticalCount == opticalCount);
    }
  }
  if (length > readable) ASAN_UNPOISON_MEMORY_REGION(broadcast.get() + readable, length - readable);
  return 0;
}

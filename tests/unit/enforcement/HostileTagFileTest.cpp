// Tag files of binary garbage: one poll tick reads them as a missing key, or by the first unit.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "enforcement/PolicyPoll.h"
#include "guard/VolumeGuard.h"
#include "platform/SystemDir.h"
#include "platform/sim/SimMachine.h"
#include "tests/unit/support/ResourceMeter.h"

namespace enforcement {
namespace {

using platform::sim::SimMachine;

constexpr char16_t kTagPath[] = u"C:\\Windows\\system32\\ReadTag.ini";
constexpr std::size_t kMiB = 1024 * 1024;

std::vector<std::uint8_t> Garbage(std::size_t size, std::uint32_t seed,
                                  std::vector<std::uint8_t> prefix = {}) {
  std::mt19937 rng(seed);
  std::vector<std::uint8_t> bytes = std::move(prefix);
  bytes.reserve(bytes.size() + size);
  for (std::size_t i = 0; i < size; ++i) bytes.push_back(static_cast<std::uint8_t>(rng()));
  return bytes;
}

// "[State]" CR LF "key=" and a first unit, as ANSI text, then garbage with no line end in it.
std::vector<std::uint8_t> GarbageKey(char first) {
  std::string head = std::string("[State]\r\nkey=") + first;
  std::vector<std::uint8_t> bytes = Garbage(64 * 1024, 7, {head.begin(), head.end()});
  std::replace_if(
      bytes.begin() + static_cast<std::ptrdiff_t>(head.size()), bytes.end(),
      [](std::uint8_t b) { return b == '\r' || b == '\n'; }, std::uint8_t{'#'});
  return bytes;
}

// Every file gives one tick that ends normally and asks for the value the documented rule gives:
// garbage with no [State] "key" reads as the default "0", and only the first unit of a key's
// text counts. The key text always ends within its 260 units. Times and peak memory growth are
// printed, not asserted.
TEST(HostileTagFileTest, BinaryGarbage) {
  const struct {
    const char* name;
    std::vector<std::uint8_t> bytes;
    std::int32_t desired;
  } rows[] = {
      {"1 MB of random bytes", Garbage(kMiB, 1), 0},
      {"random bytes after a UTF-16LE mark", Garbage(kMiB, 2, {0xFF, 0xFE}), 0},
      {"random bytes after a UTF-16BE mark", Garbage(kMiB, 3, {0xFE, 0xFF}), 0},
      {"random bytes after a UTF-8 mark", Garbage(kMiB, 4, {0xEF, 0xBB, 0xBF}), 0},
      {"1 MB of NUL bytes", std::vector<std::uint8_t>(kMiB, 0), 0},
      {"16 MB of random bytes", Garbage(16 * kMiB, 5), 0},
      {"a key of garbage after 3", GarbageKey('3'), 3},
      {"a key of garbage after a control byte", GarbageKey('\x01'), 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    SimMachine machine;
    machine.Install();
    platform::IsWow64 = 0;
    machine.devices.AddClass(u"WPD", platform::sim::kWpdClassGuid);
    std::uint32_t wpd = machine.devices.AddDevice(platform::sim::kWpdClassGuid);
    machine.files.SetFile(kTagPath, row.bytes);

    testsupport::ResourceMeter meter;
    PollPolicy(nullptr, true);
    meter.Print(std::string("tag file, ") + row.name);

    EXPECT_EQ(DesiredWriteProtect, row.desired);
    const char16_t* text = TagBuffer.keyText;
    EXPECT_NE(std::find(text, text + kTagCapacity, u'\0'), text + kTagCapacity);
    auto value =
        machine.registry.Value(platform::kHkeyLocalMachine, kWriteProtectKey, kWriteProtectValue);
    EXPECT_EQ(value.has_value(), row.desired != 0);
    if (value) {
      EXPECT_EQ(value->data[0], row.desired);
    }
    // The pulse after a change released everything again.
    EXPECT_EQ(guard::VolumeGuard::RemovableLock, 0);
    EXPECT_EQ(machine.devices.Device(wpd).problem == platform::kCmProbDisabled, row.desired == 1);
    EXPECT_EQ(machine.core.OpenHandleCount(), 0u);
    EXPECT_EQ(machine.registry.OpenKeyCount(), 0u);
    guard::TheVolumeGuard().CloseVolumeHandles(guard::kBothKinds);
  }
}

}  // namespace
}  // namespace enforcement

// The policy poll keeps WriteProtect in line with the tag file, pulses the removable lock after
// a change and switches the portable-device class, as an administrator sees it.
#include "enforcement/PolicyPoll.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <thread>

#include "guard/VolumeGuard.h"
#include "platform/Registry.h"
#include "platform/SystemDir.h"
#include "platform/sim/SimMachine.h"
#include "service/ServiceState.h"

namespace enforcement {
namespace {

using platform::kHkeyLocalMachine;
using platform::sim::kWpdClassGuid;
using platform::sim::SimDrive;
using platform::sim::SimMachine;

constexpr char16_t kTagPath[] = u"C:\\Windows\\system32\\ReadTag.ini";

class PolicyPollTest : public ::testing::Test {
 public:
  PolicyPollTest() {
    machine.Install();
    service::ResetWholeProcess();
    machine.devices.AddClass(u"WPD", kWpdClassGuid);
    wpd = machine.devices.AddDevice(kWpdClassGuid);
    machine.volumes.SetDrive('E', SimDrive{platform::kDriveRemovable, true});
    machine.core.ClearJournal();
  }
  // The guard and the poll's values are process-wide: every test starts and ends afresh.
  ~PolicyPollTest() override { service::ResetWholeProcess(); }

  void Tag(std::u16string_view line) {
    machine.files.SetTextFileUtf16(kTagPath, u"[State]\r\n" + std::u16string(line) + u"\r\n");
  }
  void SetValue(std::uint32_t v) {
    machine.registry.SetDword(kHkeyLocalMachine, kWriteProtectKey, kWriteProtectValue, v);
  }
  std::optional<std::uint32_t> Value() {
    auto v = machine.registry.Value(kHkeyLocalMachine, kWriteProtectKey, kWriteProtectValue);
    if (!v || v->type != platform::kRegDword || v->data.size() != 4) return std::nullopt;
    return v->data[0] | (v->data[1] << 8) | (v->data[2] << 16) | (v->data[3] << 24);
  }
  // One tick, as the timer delivers it; returns the journal lines it added.
  std::vector<std::string> Tick() {
    machine.core.ClearJournal();
    PollPolicy(&guard::TheVolumeGuard(), true);
    return machine.core.Journal();
  }
  static std::size_t Count(const std::vector<std::string>& lines, const std::string& prefix) {
    return std::count_if(lines.begin(), lines.end(),
                         [&](const std::string& l) { return l.starts_with(prefix); });
  }
  bool WpdDisabled() { return machine.devices.Device(wpd).problem == platform::kCmProbDisabled; }

  SimMachine machine;
  std::uint32_t wpd = 0;
};

// The tag's first character alone, read as a decimal digit, is the value asked for. Digits of
// other scripts count as far as the Windows C runtime counts them; everything else asks for 0.
TEST_F(PolicyPollTest, TagTextGivesTheDesiredValue) {
  struct Case {
    const char* name;
    std::optional<std::u16string> file;  // the whole file; nullopt: none
    std::int32_t desired;
  };
  const Case cases[] = {
      {"no file", std::nullopt, 0},
      {"1", u"[State]\nkey=1\n", 1},
      {"9", u"[State]\nkey=9\n", 9},
      {"10", u"[State]\nkey=10\n", 1},
      {"-1", u"[State]\nkey=-1\n", 0},
      {"x", u"[State]\nkey=x\n", 0},
      {"empty", u"[State]\nkey=\n", 0},
      {"blank first", u"[State]\nkey=\" 1\"\n", 0},
      {"Arabic-Indic three", u"[State]\nkey=\u0663\n", 3},
      {"fullwidth one", u"[State]\nkey=\uFF11\n", 1},
      {"Thai nine", u"[State]\nkey=\u0E59\n", 9},
      {"Tamil one (not counted)", u"[State]\nkey=\u0BE7\n", 0},
      {"superscript two", u"[State]\nkey=\u00B2\n", 0},
      {"other section", u"[Other]\nkey=1\n", 0},
      {"other key", u"[State]\nkeys=1\n", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimMachine m;
    m.Install();
    if (c.file) m.files.SetTextFileUtf16(kTagPath, *c.file);
    PollPolicy(nullptr, false);
    EXPECT_EQ(DesiredWriteProtect, c.desired);
    // With nothing stored, only a non-zero request is written.
    auto v = m.registry.Value(kHkeyLocalMachine, kWriteProtectKey, kWriteProtectValue);
    EXPECT_EQ(v.has_value(), c.desired != 0);
    if (v) {
      EXPECT_EQ(v->data[0], c.desired);
    }
    guard::ResetProcessState();
  }
  // A directory where the file should be reads as a missing file.
  machine.Install();
  machine.files.MakeDirectory(kTagPath);
  Tick();
  EXPECT_EQ(DesiredWriteProtect, 0);
  EXPECT_FALSE(Value().has_value());
}

TEST_F(PolicyPollTest, UnderWow64TheTagComesFromSysWow64) {
  machine.files.SetTextFileUtf16(kTagPath, u"[State]\nkey=1\n");
  machine.files.SetTextFileUtf16(u"C:\\Windows\\SysWOW64\\ReadTag.ini", u"[State]\nkey=2\n");
  platform::IsWow64 = 1;
  Tick();
  platform::IsWow64 = 0;
  EXPECT_EQ(Value(), 2u);
  EXPECT_FALSE(WpdDisabled());
}

// What an administrator sees, tick after tick.
TEST_F(PolicyPollTest, ValueFollowsTheTagOncePerChange) {
  struct Step {
    const char* name;
    void (*act)(PolicyPollTest&);
    std::optional<std::uint32_t> value;
    std::size_t writes, pulses;
    bool wpdDisabled;
  };
  const Step steps[] = {
      {"no tag, no value", [](PolicyPollTest&) {}, std::nullopt, 0, 0, false},
      {"tag 1", [](PolicyPollTest& t) { t.Tag(u"key=1"); }, 1u, 1, 1, true},
      {"unchanged", [](PolicyPollTest&) {}, 1u, 0, 0, true},
      {"reset by someone", [](PolicyPollTest& t) { t.SetValue(0); }, 1u, 1, 1, true},
      {"tag 0", [](PolicyPollTest& t) { t.Tag(u"key=0"); }, 0u, 1, 1, false},
      {"unchanged again", [](PolicyPollTest&) {}, 0u, 0, 0, false},
      {"tag 2", [](PolicyPollTest& t) { t.Tag(u"key=2"); }, 2u, 1, 1, false},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.name);
    s.act(*this);
    std::uint32_t disablesBefore = machine.devices.Device(wpd).disableCalls;
    std::vector<std::string> tick = Tick();
    EXPECT_EQ(Value(), s.value);
    EXPECT_EQ(Count(tick, "RegSetValueExW"), s.writes);
    EXPECT_EQ(Count(tick, "Sleep 500"), s.pulses);
    EXPECT_EQ(Count(tick, "SetupDiGetClassDevsW"), 1 + s.pulses);  // the release enables too
    EXPECT_EQ(WpdDisabled(), s.wpdDisabled);
    // A device that is already disabled is left alone.
    if (s.wpdDisabled && s.pulses == 0) {
      EXPECT_EQ(machine.devices.Device(wpd).disableCalls, disablesBefore);
    }
    EXPECT_EQ(machine.registry.OpenKeyCount(), 0u);
  }
}

// A change locks every removable volume, holds it for 500 ms of the virtual clock under the
// guard lock and releases it; the registry is read before the fifty 1 ms sleeps and written
// after them.
TEST_F(PolicyPollTest, ChangeRunsOneLockAndReleasePulse) {
  Tag(u"key=1");
  bool lockedDuringPause = false;
  bool guardHeldDuringPause = false;
  bool guardHeldWhileSettling = true;
  machine.core.SetClockListener([&](std::uint64_t) {
    std::uint32_t last = machine.threads.Sleeps().back();
    bool held = false;
    std::thread probe([&] {
      held = !guard::TheVolumeGuard().Mutex().try_lock();
      if (!held) guard::TheVolumeGuard().Mutex().unlock();
    });
    probe.join();
    if (last == 500) {
      lockedDuringPause = machine.volumes.Drive('E').lockedBy != platform::kNullHandle;
      guardHeldDuringPause = held;
    } else if (last == 1) {
      guardHeldWhileSettling = guardHeldWhileSettling && held;
    }
  });
  std::uint64_t start = machine.core.NowMs();
  std::vector<std::string> tick = Tick();
  machine.core.SetClockListener({});

  std::vector<std::uint32_t> expected(50, 1);
  expected.insert(expected.end(), {100, 500, 100});  // lock E, the pause, release E
  EXPECT_EQ(machine.threads.Sleeps(), expected);
  EXPECT_EQ(machine.core.NowMs() - start, 750u);
  EXPECT_TRUE(lockedDuringPause);
  EXPECT_TRUE(guardHeldDuringPause);
  EXPECT_FALSE(guardHeldWhileSettling);
  EXPECT_EQ(machine.volumes.Drive('E').lockedBy, platform::kNullHandle);
  EXPECT_TRUE(machine.volumes.HandlesOn('E').empty());
  EXPECT_EQ(guard::VolumeGuard::RemovableLock, 0);

  auto at = [&](const std::string& prefix) {
    return std::find_if(tick.begin(), tick.end(),
                        [&](const std::string& l) { return l.starts_with(prefix); }) -
           tick.begin();
  };
  EXPECT_LT(at("RegOpenKeyExW"), at("Sleep 1"));
  EXPECT_LT(at("Sleep 1"), at("RegCreateKeyExW"));
  EXPECT_LT(at("RegSetValueExW"), at("Sleep 500"));
}

// While the removable lock is on, the value is still written but the volumes stay locked and
// the class stays disabled whatever the tag says.
TEST_F(PolicyPollTest, RemovableLockSuppressesThePulse) {
  SetValue(1);
  guard::TheVolumeGuard().SetRemovableLock(true);
  platform::Handle holder = machine.volumes.Drive('E').lockedBy;
  ASSERT_NE(holder, platform::kNullHandle);
  Tag(u"key=0");
  std::vector<std::string> tick = Tick();
  EXPECT_EQ(Value(), 0u);
  EXPECT_EQ(Count(tick, "Sleep 500"), 0u);
  EXPECT_EQ(Count(tick, "CreateFileW"), 0u);
  EXPECT_EQ(machine.volumes.Drive('E').lockedBy, holder);
  EXPECT_TRUE(WpdDisabled());
}

// A write that keeps failing is tried again, with its pulse, on every tick; nothing is logged.
TEST_F(PolicyPollTest, FailingWriteIsRetriedEachTick) {
  machine.registry.DenyAccess(kHkeyLocalMachine, u"SYSTEM\\CurrentControlSet\\Control",
                              platform::kKeyCreateSubKey);
  Tag(u"key=1");
  for (int i = 0; i < 3; ++i) {
    std::vector<std::string> tick = Tick();
    EXPECT_EQ(Count(tick, "RegCreateKeyExW"), 1u);
    EXPECT_EQ(Count(tick, "Sleep 500"), 1u);
    EXPECT_TRUE(WpdDisabled());
  }
  EXPECT_FALSE(machine.registry.KeyExists(kHkeyLocalMachine, kWriteProtectKey));
  EXPECT_TRUE(machine.core.DebugLines().empty());
}

// A tick that starts while another is running, on the same thread or another, does nothing.
TEST_F(PolicyPollTest, OverlappingTickIsSkipped) {
  Tag(u"key=1");
  platform::Handle timer = platform::kNullHandle;
  ASSERT_TRUE(machine.threads.CreateTimerQueueTimer(&timer, platform::kNullHandle, PollPolicy,
                                                    nullptr, 1000, 1000, 0));
  bool nested = false;
  machine.core.SetClockListener([&](std::uint64_t) {
    if (nested) return;
    nested = true;
    machine.threads.FireTimer(timer);
    std::thread other([&] { machine.threads.FireTimer(timer); });
    other.join();
  });
  machine.threads.FireTimer(timer);
  machine.core.SetClockListener({});
  std::vector<std::string> journal = machine.core.Journal();
  EXPECT_EQ(Count(journal, "GetPrivateProfileStringW"), 1u);
  EXPECT_EQ(Count(journal, "RegSetValueExW"), 1u);
  // The skipped ticks left nothing behind: the next one runs.
  SetValue(0);
  EXPECT_EQ(Count(Tick(), "RegSetValueExW"), 1u);
}

// When the device list cannot be had, the tick logs one wide line and ends normally; without
// the class at all, no device is touched and nothing is logged.
TEST_F(PolicyPollTest, DeviceListFailureIsLoggedAndTheTickEnds) {
  machine.core.FailCall(platform::sim::Fault::kSetupDiGetClassDevsW,
                        platform::kErrorInvalidParameter);
  Tick();
  ASSERT_EQ(machine.core.DebugLines().size(), 1u);
  EXPECT_TRUE(machine.core.DebugLines()[0].wide);
  EXPECT_EQ(machine.core.DebugLines()[0].text,
            u"\n(VexService) SetupDiGetClassDevs failed. (err=57)");

  Tag(u"key=1");
  Tick();
  EXPECT_EQ(Value(), 1u);
  EXPECT_EQ(machine.core.DebugLines().size(), 3u);  // the release's enable and the tick's own

  machine.core.ClearFaults();
  machine.devices.RemoveClass(u"WPD");
  SetValue(0);
  std::vector<std::string> tick = Tick();
  EXPECT_EQ(Value(), 1u);
  EXPECT_EQ(Count(tick, "SetupDiGetClassDevsW"), 0u);
  EXPECT_EQ(machine.devices.Device(wpd).disableCalls, 0u);
  EXPECT_EQ(machine.core.DebugLines().size(), 3u);
}

}  // namespace
}  // namespace enforcement

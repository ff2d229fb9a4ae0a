// Start-up: which policy file is read, how its State sets the flags, and the first lock pass.
#include "policy/StartGuard.h"

#include <algorithm>
#include <atomic>

#include "enforcement/PolicyPoll.h"
#include "guard/VolumeGuard.h"
#include "platform/Registry.h"
#include "tests/unit/policy/PolicyTestSupport.h"
#include "tests/unit/service/ServiceTestSupport.h"

namespace policy::test {
namespace {

using guard::VolumeGuard;

class StartGuardTest : public PolicyTest {
 protected:
  void SetUp() override {
    PolicyTest::SetUp();
    platform::sim::SimDrive stick;
    stick.type = platform::kDriveRemovable;
    stick.volumePresent = true;
    machine.volumes.SetDrive('E', stick);
    platform::sim::SimDrive cd = stick;
    cd.type = platform::kDriveCdrom;
    machine.volumes.SetDrive('F', cd);
  }

  void WriteFile(const char16_t* path, const std::u16string& text) {
    machine.files.SetTextFileUtf16(path, text, /*bom=*/false);
  }

  bool Locked(char letter) const {
    return machine.volumes.Drive(letter).lockedBy != platform::kNullHandle;
  }

  VolumeGuard g;
};

TEST_F(StartGuardTest, StateTextSetsTheFlagsAndTheFirstPass) {
  struct Row {
    std::u16string state;
    bool removable;
    bool optical;
  };
  for (const Row& row : {Row{u"falsefalse", false, false}, Row{u"truefalse", true, false},
                         Row{u"falsetrue", false, true}, Row{u"truetrue", true, true},
                         Row{u"FalseFalse", true, true}, Row{u"yes", true, true}}) {
    SCOPED_TRACE(std::string(row.state.begin(), row.state.end()));
    platform::sim::SimMachine fresh;
    fresh.Install();
    ReleasePolicy();
    ResetPolicyDecryptionForTests();
    fresh.volumes.SetDrive('E', machine.volumes.Drive('E'));
    fresh.volumes.SetDrive('F', machine.volumes.Drive('F'));
    fresh.files.SetTextFileUtf16(kDevState, PolicyFileText(row.state), false);
    VolumeGuard guard;
    policy::StartGuard(guard);
    EXPECT_EQ(guard.GetRemovableLock(), row.removable);
    EXPECT_EQ(guard.GetOpticalLock(), row.optical);
    EXPECT_EQ(fresh.volumes.Drive('E').lockedBy != platform::kNullHandle, row.removable);
    EXPECT_EQ(fresh.volumes.Drive('F').lockedBy != platform::kNullHandle, row.optical);
    // The pass selected only the kinds the policy names.
    EXPECT_EQ(guard.removableCount, row.removable ? 1 : 0);
    EXPECT_EQ(guard.opticalCount, row.optical ? 1 : 0);
    EXPECT_TRUE(fresh.core.JournalOf("CreateFileW C:\\Windows\\system32\\SysSecurity.ini").empty());
  }
}

TEST_F(StartGuardTest, PollTimerIsArmedBeforeThePolicyIsRead) {
  policy::StartGuard(g);
  auto journal = machine.core.Journal();
  auto timer = std::find_if(journal.begin(), journal.end(), [](const std::string& l) {
    return l.starts_with("CreateTimerQueueTimer");
  });
  ASSERT_NE(timer, journal.end());
  EXPECT_TRUE(timer->ends_with(" 1000 1000 0 -> 1")) << *timer;
  auto firstFileLook = std::find_if(journal.begin(), journal.end(), [](const std::string& l) {
    return l.find("DevState.ini") != std::string::npos;
  });
  EXPECT_LT(timer - journal.begin(), firstFileLook - journal.begin());
  auto timers = machine.threads.Timers();
  ASSERT_EQ(timers.size(), 1u);
  EXPECT_EQ(timers.begin()->second.parameter, &g);
}

TEST_F(StartGuardTest, NeitherFileLeavesBothFlagsClear) {
  // Neither file: no State, both flags stay clear, the pass runs with no kind selected.
  policy::StartGuard(g);
  EXPECT_FALSE(g.GetRemovableLock());
  EXPECT_FALSE(g.GetOpticalLock());
  EXPECT_FALSE(Locked('E'));
  auto logs = Logs();
  EXPECT_EQ(std::count(logs.begin(), logs.end(), "\n(VexService) Input path is not exist"), 2);
}

TEST_F(StartGuardTest, FallbackFileIsReadWhenTheFirstIsMissing) {
  WriteFile(kSysSecurity, PolicyFileText(u"falsetrue"));
  policy::StartGuard(g);
  EXPECT_FALSE(g.GetRemovableLock());
  EXPECT_TRUE(g.GetOpticalLock());
  EXPECT_TRUE(Locked('F'));
  EXPECT_FALSE(Locked('E'));
}

TEST_F(StartGuardTest, IncompleteFirstFileStillAppliesItsStateWhenTheFallbackIsMissing) {
  WriteFile(kDevState, PolicyFileText(u"truefalse", /*omit=*/u"Jan"));
  policy::StartGuard(g);
  auto logs = Logs();
  EXPECT_NE(std::find(logs.begin(), logs.end(), "\n(VexService) INI information is not correct!"),
            logs.end());
  EXPECT_TRUE(g.GetRemovableLock());
  EXPECT_FALSE(g.GetOpticalLock());
  EXPECT_TRUE(Locked('E'));
}

TEST_F(StartGuardTest, IncompleteFirstFileIsCompletedByTheFallback) {
  WriteFile(kDevState, PolicyFileText(u"falsetrue", /*omit=*/u"Feb"));
  // The fallback supplies only the missing count; the State comes from the first file.
  WriteFile(kSysSecurity, u"Feb=14\r\n");
  policy::StartGuard(g);
  EXPECT_FALSE(g.GetRemovableLock());
  EXPECT_TRUE(g.GetOpticalLock());
}

TEST_F(StartGuardTest, SystemDirectoryTooLongForThePathIsTreatedAsMissing) {
  machine.files.SetSystemFolder(u"C:\\" + std::u16string(250, u'd'));
  policy::StartGuard(g);
  EXPECT_FALSE(g.GetRemovableLock());
  EXPECT_FALSE(g.GetOpticalLock());
  auto logs = Logs();
  EXPECT_EQ(std::count(logs.begin(), logs.end(), "\n(VexService) Input path is not exist"), 2);
}

// Start-up slower than the first poll tick (making a new key container's key pair takes 1.2 s),
// with the tag asking for a WriteProtect change: the tick's lock-and-release pulse runs while
// start-up is still reading the policy. Whatever the order, the policy must end in force: the
// flags as the State says, exactly the volumes they cover locked, and every lock held through a
// slot of a kind whose flag is set.
class SlowStartUpTest : public service::test::ServiceHostTest {};

TEST_F(SlowStartUpTest, FirstTickDuringStartUpLeavesThePolicyInForce) {
  struct Row {
    const char16_t* state;  // nullptr: no policy file
    bool removable;
    bool optical;
  };
  for (const Row& row :
       {Row{u"truefalse", true, false}, Row{u"falsefalse", false, false},
        Row{u"falsetrue", false, true}, Row{u"truetrue", true, true}, Row{nullptr, false, false}}) {
    const std::u16string name = row.state != nullptr ? row.state : u"no policy file";
    SCOPED_TRACE(std::string(name.begin(), name.end()));
    NewMachine();
    platform::sim::SimDrive stick{platform::kDriveRemovable, true};
    sim->volumes.SetDrive('E', stick);
    platform::sim::SimDrive cd{platform::kDriveCdrom, true};
    sim->volumes.SetDrive('F', cd);
    if (row.state != nullptr)
      sim->files.SetTextFileUtf16(kDevState, PolicyFileText(row.state), false);
    sim->files.SetTextFileUtf8(u"C:\\Windows\\system32\\ReadTag.ini", "[State]\r\nkey=1\r\n");
    sim->crypto.SetKeyStore(platform::sim::SimKeyStore{
        .containerExists = false, .signatureKey = false, .keyGenerationMs = 1200});

    std::atomic<std::uint64_t> startedAt{0};
    std::atomic<bool> started{false};
    sim->threads.StartThread("main", [&] {
      policy::StartGuard(guard::TheVolumeGuard());
      startedAt = sim->core.NowMs();
      started = true;
    });
    sim->threads.Sleep(3000);  // the first tick's pulse and two quiet ticks
    ASSERT_TRUE(started.load());

    // The first tick wrote WriteProtect before start-up was done with the policy.
    auto writes = sim->core.TimedJournal();
    auto write = std::find_if(writes.begin(), writes.end(),
                              [](const auto& l) { return l.second.starts_with("RegSetValueExW"); });
    ASSERT_NE(write, writes.end());
    EXPECT_LT(write->first, startedAt.load());
    EXPECT_EQ(sim->registry
                  .Value(platform::kHkeyLocalMachine, enforcement::kWriteProtectKey,
                         enforcement::kWriteProtectValue)
                  ->data[0],
              1);

    guard::VolumeGuard& g = guard::TheVolumeGuard();
    std::lock_guard lock(g.Mutex());
    EXPECT_EQ(g.GetRemovableLock(), row.removable);
    EXPECT_EQ(g.GetOpticalLock(), row.optical);
    const platform::Handle e = sim->volumes.Drive('E').lockedBy;
    const platform::Handle f = sim->volumes.Drive('F').lockedBy;
    EXPECT_EQ(e != platform::kNullHandle, row.removable);
    EXPECT_EQ(f != platform::kNullHandle, row.optical);
    const platform::Handle* removableEnd = g.removableHandles + guard::kDriveCount;
    const platform::Handle* opticalEnd = g.opticalHandles + guard::kDriveCount;
    if (e != platform::kNullHandle) {
      EXPECT_NE(std::find(std::cbegin(g.removableHandles), removableEnd, e), removableEnd);
    }
    if (f != platform::kNullHandle) {
      EXPECT_NE(std::find(std::cbegin(g.opticalHandles), opticalEnd, f), opticalEnd);
    }
  }
}

}  // namespace
}  // namespace policy::test

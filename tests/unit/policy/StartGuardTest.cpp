// Start-up: which policy file is read, how its State sets the flags, and the first lock pass.
#include "policy/StartGuard.h"

#include "guard/VolumeGuard.h"
#include "tests/unit/policy/PolicyTestSupport.h"

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
    guard.StartGuard();
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
  g.StartGuard();
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
  g.StartGuard();
  EXPECT_FALSE(g.GetRemovableLock());
  EXPECT_FALSE(g.GetOpticalLock());
  EXPECT_FALSE(Locked('E'));
  auto logs = Logs();
  EXPECT_EQ(std::count(logs.begin(), logs.end(), "\n(VexService) Input path is not exist"), 2);
}

TEST_F(StartGuardTest, FallbackFileIsReadWhenTheFirstIsMissing) {
  WriteFile(kSysSecurity, PolicyFileText(u"falsetrue"));
  g.StartGuard();
  EXPECT_FALSE(g.GetRemovableLock());
  EXPECT_TRUE(g.GetOpticalLock());
  EXPECT_TRUE(Locked('F'));
  EXPECT_FALSE(Locked('E'));
}

TEST_F(StartGuardTest, IncompleteFirstFileStillAppliesItsStateWhenTheFallbackIsMissing) {
  WriteFile(kDevState, PolicyFileText(u"truefalse", /*omit=*/u"Jan"));
  g.StartGuard();
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
  g.StartGuard();
  EXPECT_FALSE(g.GetRemovableLock());
  EXPECT_TRUE(g.GetOpticalLock());
}

TEST_F(StartGuardTest, SystemDirectoryTooLongForThePathIsTreatedAsMissing) {
  machine.files.SetSystemFolder(u"C:\\" + std::u16string(250, u'd'));
  g.StartGuard();
  EXPECT_FALSE(g.GetRemovableLock());
  EXPECT_FALSE(g.GetOpticalLock());
  auto logs = Logs();
  EXPECT_EQ(std::count(logs.begin(), logs.end(), "\n(VexService) Input path is not exist"), 2);
}

}  // namespace
}  // namespace policy::test

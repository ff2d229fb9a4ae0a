// The whole service on the simulated machine with the file systems' lock rules: which volumes
// another process could open, and when, around start-up, arrivals, removals and refused locks.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "guard/VolumeGuard.h"
#include "programs/tarvel-sim/Scenario.h"
#include "programs/tarvel-sim/Simulator.h"

namespace simulator {
namespace {

using Spans = std::vector<std::pair<std::uint64_t, std::uint64_t>>;

RunOutcome RunText(const std::string& text) {
  auto parsed = ParseScenario(text);
  if (auto* e = std::get_if<ScenarioError>(&parsed)) {
    ADD_FAILURE() << e->line << ": " << e->message;
    return {};
  }
  return RunScenario(std::get<Scenario>(parsed));
}

const DriveOutcome* DriveOf(const RunOutcome& o, char letter) {
  auto it = std::find_if(o.drives.begin(), o.drives.end(),
                         [letter](const DriveOutcome& d) { return d.letter == letter; });
  return it == o.drives.end() ? nullptr : &*it;
}

std::size_t LinesWith(const RunOutcome& o, const std::string& text) {
  return static_cast<std::size_t>(std::count(o.debugLines.begin(), o.debugLines.end(), text));
}

// For each case the letter watched ends locked, and the spans in which another process could
// have opened a file on it are exactly those listed: the pauses before a take are the floor
// (each span may end 1 ms later: the worker takes a broadcast at its next 1 ms step, and a tick
// may wait that long for the guard), and nothing else opens a volume to other processes.
TEST(LockHoldTest, BlockedVolumesAreOpenOnlyForThePausesBeforeTheirTake) {
  struct Case {
    const char* name;
    std::string scenario;
    char letter;
    Spans openable;
    std::size_t failureLines = 0;  // "Lock X: failed. (err=5)" lines for the letter
  };
  const std::string sticks = "drive C fixed ata\ndrive E removable\ndrive F removable\n";
  const Case cases[] = {
      {"another device removed: the sticks stay locked throughout",
       sticks + "drive G removable\npolicy truefalse\nat 3000 remove G\n",
       'F',
       {{0, 200}}},
      {"stick arrives: taken through the arrival's own handle after both pauses",
       sticks + "policy truefalse\nat 2000 arrive H removable\n",
       'H',
       {{2000, 2200}}},
      {"stick arrives with a file held open: refused, dismounted at once, locked at the retry",
       sticks + "policy truefalse\nat 2000 arrive H removable busy\n",
       'H',
       {{2000, 2200}},
       1},
      {"CD arrives (CDFS): locked first, then dismounted",
       sticks + "policy falsetrue\nat 2000 arrive L cdrom\n",
       'L',
       {{2000, 2100}}},
      {"CD at start-up under the optical lock",
       sticks + "drive G cdrom\npolicy truetrue\n",
       'G',
       {{0, 300}}},
      {"NTFS stick at start-up", "drive E removable fs ntfs\npolicy truefalse\n", 'E', {{0, 100}}},
      {"stick with a file held open at start-up",
       "drive E removable busy\npolicy truefalse\n",
       'E',
       {{0, 100}},
       1},
      {"stick plugged in behind the start-up pass, before the window exists",
       sticks + "drive G removable\npolicy truefalse\nat 150 arrive D removable\n",
       'D',
       {{150, 1050}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunOutcome o = RunText(c.scenario + "run 5000\n");
    const DriveOutcome* d = DriveOf(o, c.letter);
    ASSERT_NE(d, nullptr);
    EXPECT_TRUE(d->locked);
    EXPECT_TRUE(d->blockedKind);
    ASSERT_EQ(d->openable.size(), c.openable.size());
    for (std::size_t i = 0; i < c.openable.size(); ++i) {
      EXPECT_EQ(d->openable[i].first, c.openable[i].first) << i;
      EXPECT_GE(d->openable[i].second, c.openable[i].second) << i;
      EXPECT_LE(d->openable[i].second, c.openable[i].second + 1) << i;
    }
    EXPECT_EQ(LinesWith(o, std::string("\n(VexService) Lock ") + c.letter + ": failed. (err=5)"),
              c.failureLines);
  }
}

// A volume that never opens is tried at start-up and then once a second, as often as the
// bound allows from one event to the next, and no more: its log lines stop.
TEST(LockHoldTest, AVolumeThatNeverOpensIsTriedABoundedNumberOfTimes) {
  RunOutcome o = RunText("drive K removable openfails\npolicy truefalse\nrun 20000\n");
  EXPECT_EQ(LinesWith(o, "\n(VexService) Lock K: failed. (err=5)"),
            guard::VolumeGuard::kMaxLockTries);
  const DriveOutcome* k = DriveOf(o, 'K');
  ASSERT_NE(k, nullptr);
  EXPECT_FALSE(k->locked);
}

}  // namespace
}  // namespace simulator

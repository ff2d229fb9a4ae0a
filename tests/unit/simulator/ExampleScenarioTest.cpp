// The example scenarios and the default one, run whole through the service's real code.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "programs/tarvel-sim/Scenario.h"
#include "programs/tarvel-sim/Simulator.h"

namespace simulator {
namespace {

RunOutcome RunFile(const std::string& name) {
  std::ifstream in(std::string(TARVEL_SOURCE_DIR) + "/examples/scenarios/" + name);
  std::stringstream text;
  text << in.rdbuf();
  auto parsed = ParseScenario(text.str());
  if (auto* e = std::get_if<ScenarioError>(&parsed)) {
    ADD_FAILURE() << name << ":" << e->line << ": " << e->message;
    return {};
  }
  return RunScenario(std::get<Scenario>(parsed));
}

// "E" -> locked?, for the letters the outcome lists.
std::map<char, bool> Locks(const RunOutcome& o) {
  std::map<char, bool> out;
  for (const DriveOutcome& d : o.drives) out[d.letter] = d.locked;
  return out;
}

bool Has(const RunOutcome& o, const std::string& fragment) {
  for (const std::string& line : o.timeline) {
    if (line.find(fragment) != std::string::npos) return true;
  }
  return false;
}

void ExpectCleanStop(const RunOutcome& o) {
  EXPECT_TRUE(o.notes.empty()) << o.notes.front();
  EXPECT_EQ(o.exitCode, 0);
  EXPECT_EQ(o.serviceState, 1u);
  EXPECT_EQ(o.controlsAccepted, 4u);
}

TEST(ExampleScenarioTest, RemovableLockFollowsTheControlCodes) {
  RunOutcome o = RunFile("removable-lock.scn");
  ExpectCleanStop(o);
  EXPECT_EQ(
      Locks(o),
      (std::map<char, bool>{
          {'C', false}, {'E', false}, {'F', false}, {'G', false}, {'H', false}, {'J', false}}));
  // While the lock was on, the stick, the USB disk and the stick that arrived were held.
  EXPECT_TRUE(Has(o, "[   1.600]    E: locked"));
  EXPECT_TRUE(Has(o, "F: locked"));
  EXPECT_TRUE(Has(o, "H: locked"));
  EXPECT_FALSE(Has(o, "C: locked"));
  EXPECT_FALSE(Has(o, "G: locked"));
  // After 129 a new stick is never locked, and device events no longer reach the guard.
  EXPECT_FALSE(Has(o, "J: locked"));
  EXPECT_EQ(std::count(o.debugLines.begin(), o.debugLines.end(),
                       "\n(VexService) Get Device change in WndProc"),
            1);
  ASSERT_EQ(o.portableDevices.size(), 1u);
  EXPECT_TRUE(o.portableDevices[0].second);
}

TEST(ExampleScenarioTest, FallbackPolicyLocksOpticalVolumesOnly) {
  RunOutcome o = RunFile("policy-fallback.scn");
  ExpectCleanStop(o);
  EXPECT_EQ(Locks(o), (std::map<char, bool>{{'E', false}, {'G', true}, {'K', true}}));
  EXPECT_EQ(std::count(o.debugLines.begin(), o.debugLines.end(),
                       "\n(VexService) Input path is not exist"),
            1);
}

TEST(ExampleScenarioTest, WriteProtectFollowsTheTagFile) {
  RunOutcome o = RunFile("write-protect.scn");
  ExpectCleanStop(o);
  EXPECT_EQ(o.writeProtect, 0u);
  EXPECT_TRUE(Has(o, "WriteProtect written: 1"));
  // Reset by someone at 3.500, put back by the next tick.
  EXPECT_TRUE(Has(o, "[   4.050]    WriteProtect written: 1"));
  EXPECT_TRUE(Has(o, "WriteProtect written: 0"));
  // Each change pulsed the removable lock once: the stick was locked and released.
  EXPECT_TRUE(Has(o, "E: locked"));
  EXPECT_EQ(Locks(o).at('E'), false);
  ASSERT_EQ(o.portableDevices.size(), 2u);
  EXPECT_TRUE(o.portableDevices[0].second);
  EXPECT_TRUE(o.portableDevices[1].second);
  EXPECT_TRUE(Has(o, "portable devices: 2 enable call(s) 2 disable call(s)"));
}

TEST(ExampleScenarioTest, ExternalDisksAreLockedAndTheMachinesOwnAreNot) {
  RunOutcome o = RunFile("external-disks.scn");
  ExpectCleanStop(o);
  EXPECT_EQ(Locks(o), (std::map<char, bool>{{'C', false},
                                            {'D', false},
                                            {'S', true},
                                            {'T', true},
                                            {'U', true},
                                            {'V', false},
                                            {'W', false},
                                            {'X', true},
                                            {'a', true},
                                            {'b', false},
                                            {'c', true}}));
  EXPECT_FALSE(Has(o, "]    efi: ")) << "the letterless EFI partition is never touched";
  // The machine's own disks and the virtual machine's are never dismounted by any pass or
  // arrival of the run.
  for (char letter : {'C', 'D', 'V', 'W'}) {
    EXPECT_FALSE(Has(o, std::string("]    ") + letter + ": ")) << letter;
  }
  for (const DriveOutcome& d : o.drives) {
    if (d.letter == 'T') {
      EXPECT_EQ(d.bus, "nvme hotplug");
    } else if (d.letter == 'V') {
      EXPECT_EQ(d.bus, "nvme hotplug vm");
    }
  }
}

TEST(ExampleScenarioTest, DefaultScenarioEndsAsItsStoryTells) {
  auto parsed = ParseScenario(DefaultScenarioText());
  RunOutcome o = RunScenario(std::get<Scenario>(parsed));
  ExpectCleanStop(o);
  EXPECT_EQ(Locks(o), (std::map<char, bool>{{'C', false},
                                            {'D', false},
                                            {'E', true},
                                            {'F', true},
                                            {'G', false},
                                            {'H', false},
                                            {'R', true}}));
  EXPECT_TRUE(Has(o, "H: locked"));
  EXPECT_TRUE(Has(o, "G: locked"));
  // The internal NVMe data disk: never dismounted nor locked by any pass, toggle, arrival or
  // removal of the run, and mounted at the end; the USB hard disk beside it is locked.
  EXPECT_FALSE(Has(o, "]    D: "));
  EXPECT_TRUE(Has(o, "F: locked"));
  for (const DriveOutcome& d : o.drives) {
    if (d.letter == 'D') {
      EXPECT_EQ(d.bus, "nvme");
      EXPECT_TRUE(d.mounted);
    }
    if (d.letter == 'F') {
      EXPECT_EQ(d.bus, "usb");
    }
  }
  EXPECT_EQ(o.writeProtect, 0u);
}

TEST(ExampleScenarioTest, ControlsToAProcessNotStartedAsAServiceAreNoted) {
  auto parsed = ParseScenario("drive E removable\nnot-a-service\nat 1000 control 128\n");
  RunOutcome o = RunScenario(std::get<Scenario>(parsed));
  EXPECT_EQ(o.exitCode, 0);
  EXPECT_FALSE(o.serviceState.has_value());
  ASSERT_EQ(o.notes.size(), 1u);
  EXPECT_NE(o.notes[0].find("line 3: control 128"), std::string::npos) << o.notes[0];
  EXPECT_NE(std::find(o.debugLines.begin(), o.debugLines.end(),
                      "\n(VexService) StartServiceCtrlDispatcher Fail!! Please register it first."),
            o.debugLines.end());
}

}  // namespace
}  // namespace simulator

// The simulator's scenario text: what it builds, and how it refuses mistakes.
#include "programs/tarvel-sim/Scenario.h"

#include <gtest/gtest.h>

namespace simulator {
namespace {

TEST(ScenarioTest, DefaultScenarioParsesIntoTheWholeStory) {
  auto parsed = ParseScenario(DefaultScenarioText());
  ASSERT_TRUE(std::holds_alternative<Scenario>(parsed));
  const Scenario& s = std::get<Scenario>(parsed);
  EXPECT_EQ(s.drives.size(), 6u);
  EXPECT_EQ(s.policyState, "truefalse");
  EXPECT_EQ(s.policyFileName, "DevState.ini");
  ASSERT_FALSE(s.events.empty());
  EXPECT_EQ(s.events.back().code, 255u);
  EXPECT_EQ(s.runMs, s.events.back().atMs + 2000);
}

TEST(ScenarioTest, StatementsAndEvents) {
  auto parsed = ParseScenario(
      "drive e cdrom openfails\n"
      "policy falsetrue in SysSecurity.ini\n"
      "tag \"\"\n"
      "wpd absent\n"
      "not-a-service\n"
      "run 9000\r\n"
      "at 3000 tag 1 and more\n"
      "at 1000 arrive F fixed ata\n"
      "at 2000 write-protect 7\n"
      "drive D fixed bus nvme\n"
      "at 4000 arrive G fixed bus queryfails\n"
      "at 5000 arrive H fixed bus 1394 ata\n"
      "at 6000 arrive T fixed thunderbolt\n"
      "at 6000 arrive V fixed vm hotplug disk 4 bus scsi\n"
      "at 6000 arrive R fixed removablemedia\n");
  ASSERT_TRUE(std::holds_alternative<Scenario>(parsed));
  const Scenario& s = std::get<Scenario>(parsed);
  ASSERT_EQ(s.drives.size(), 2u);
  EXPECT_EQ(s.drives[1].busType, 0x11u);
  EXPECT_FALSE(s.drives[1].busQueryFails);
  EXPECT_EQ(s.drives[0].busType, 0x07u) << "a disk's bus is USB unless the scenario says";
  EXPECT_EQ(s.drives[0].letter, 'E');
  EXPECT_EQ(s.drives[0].type, 5u);
  EXPECT_TRUE(s.drives[0].openFails);
  EXPECT_EQ(s.policyFileName, "SysSecurity.ini");
  EXPECT_EQ(s.tag, "");
  EXPECT_FALSE(s.portableClass);
  EXPECT_FALSE(s.startedByScm);
  EXPECT_EQ(s.runMs, 9000u);
  ASSERT_EQ(s.events.size(), 8u);
  const DriveSpec& tb = s.events[5].drive;
  EXPECT_TRUE(tb.busType == 0x11u && tb.hotplug && !tb.vm && tb.disk == 0u);
  const DriveSpec& vm = s.events[6].drive;
  EXPECT_TRUE(vm.busType == 0x01u && vm.hotplug && vm.vm && vm.disk == 4u) << "bus after vm";
  EXPECT_TRUE(s.events[7].drive.removableMedia && !s.events[7].drive.hotplug);
  EXPECT_TRUE(s.events[3].drive.busQueryFails);
  EXPECT_EQ(s.events[4].drive.busType, 0x04u);
  EXPECT_TRUE(s.events[4].drive.answersAta);
  EXPECT_EQ(s.events[0].kind, Event::Kind::Arrive);  // sorted by time
  EXPECT_TRUE(s.events[0].drive.answersAta);
  EXPECT_EQ(s.events[0].line, 8);
  EXPECT_EQ(s.events[1].code, 7u);
  EXPECT_EQ(s.events[2].text, "1 and more");
}

TEST(ScenarioTest, MistakesAreRefusedWithTheirLine) {
  struct Row {
    const char* text;
    int line;
    const char* fragment;
  };
  for (Row row :
       {Row{"drive E usb", 1, "unknown drive type 'usb'"},
        Row{"# ok\ndrive 5 removable", 2, "not a drive letter"},
        Row{"drive E removable\ndrive E cdrom", 2, "drive E twice"},
        Row{"at soon stop", 1, "time 'soon'"}, Row{"at 100 explode", 1, "unknown event 'explode'"},
        Row{"at 100 control", 1, "expected: at MS control CODE"},
        Row{"policy truefalse in Other.ini", 1, "DevState.ini or SysSecurity.ini"},
        Row{"run 100\nat 500 stop", 2, "after the end of the run"},
        Row{"frobnicate", 1, "unknown statement"},
        Row{"drive D fixed bus thunderbolt", 1, "unknown bus 'thunderbolt'"},
        Row{"drive D fixed disk", 1, "expected a disk number after 'disk'"},
        Row{"drive D fixed disk 100", 1, "disk '100' is not a number from 0 to 99"},
        Row{"drive D fixed usb4", 1, "unknown drive option 'usb4'"},
        Row{"at 100 arrive D fixed bus", 1, "expected a bus after 'bus'"},
        Row{"volume {x} removable", 1, "without braces or backslashes"},
        Row{"volume stick removable\nvolume stick cdrom", 2, "volume stick twice"},
        Row{"drive E removable fs hpfs", 1, "expected a file system after 'fs'"},
        Row{"at 100 open", 1, "expected: at MS open|close LETTER|NAME"}}) {
    auto parsed = ParseScenario(row.text);
    ASSERT_TRUE(std::holds_alternative<ScenarioError>(parsed)) << row.text;
    const ScenarioError& e = std::get<ScenarioError>(parsed);
    EXPECT_EQ(e.line, row.line) << row.text;
    EXPECT_NE(e.message.find(row.fragment), std::string::npos) << e.message;
  }
}

}  // namespace
}  // namespace simulator

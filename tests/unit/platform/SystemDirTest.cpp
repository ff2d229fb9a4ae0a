// WOW64 detection and the system directory rule.
#include "platform/SystemDir.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/Text.h"
#include "platform/sim/SimMachine.h"

namespace platform {
namespace {

using platform::sim::SimMachine;

std::string SystemDir() {
  char16_t path[platform::kMaxPath];
  SystemDirPath(path);
  return platform::ToUtf8(path);
}

TEST(SystemDirTest, DirectoryFollowsWow64AndEndsInOneBackslash) {
  struct Case {
    const char* name;
    bool present, answer;
    const char16_t* reported;
    const char* expected;
  };
  const Case cases[] = {
      {"no IsWow64Process", false, true, u"C:\\Windows\\system32", "C:\\Windows\\system32\\"},
      {"native", true, false, u"C:\\Windows\\system32", "C:\\Windows\\system32\\"},
      {"wow64", true, true, u"C:\\Windows\\system32", "C:\\Windows\\SysWOW64\\"},
      {"wow64, upper case", true, true, u"C:\\WINDOWS\\SYSTEM32", "C:\\WINDOWS\\SysWOW64\\"},
      {"wow64, other drive", true, true, u"D:\\WinNT\\System32", "D:\\WinNT\\SysWOW64\\"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimMachine m;
    m.Install();
    m.process.SetIsWow64Process(c.present, c.answer);
    m.files.SetSystemFolder(c.reported);
    IsWow64 = 1;  // DetectWow64 must clear what an earlier run left
    ResolveIsWow64ProcessPtr();
    EXPECT_EQ(IsWow64ProcessPtr != nullptr, c.present);
    DetectWow64();
    EXPECT_EQ(IsWow64, c.present && c.answer ? 1 : 0);
    EXPECT_EQ(SystemDir(), c.expected);
  }
}

TEST(SystemDirTest, LookupIsByModuleAndNarrowName) {
  SimMachine m;
  m.Install();
  ResolveIsWow64ProcessPtr();
  EXPECT_EQ(m.core.Journal(),
            (std::vector<std::string>{"GetModuleHandleW \"kernel32\" -> 0x77000000",
                                      "GetProcAddress 0x77000000 \"IsWow64Process\" -> "
                                      "IsWow64Process"}));
}

// A failing IsWow64Process leaves the flag clear, so the reported folder is used.
TEST(SystemDirTest, FailingIsWow64ProcessMeansNoWow64) {
  SimMachine m;
  m.Install();
  m.process.SetIsWow64Process(true, true);
  m.core.FailCall(sim::Fault::kIsWow64Process, platform::kErrorAccessDenied);
  ResolveIsWow64ProcessPtr();
  DetectWow64();
  EXPECT_EQ(IsWow64, 0);
  EXPECT_EQ(SystemDir(), "C:\\Windows\\system32\\");
}

}  // namespace
}  // namespace platform

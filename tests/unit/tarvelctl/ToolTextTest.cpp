// The tool's pure pieces: command lines, PE machine types, the tag file's folder and text, the
// service's DACL and debug-message lines.
#include <gtest/gtest.h>

#include "platform/Text.h"

#include "tools/tarvelctl/DebugLog.h"
#include "tools/tarvelctl/PeImage.h"
#include "tools/tarvelctl/ServiceSecurity.h"
#include "tools/tarvelctl/ServiceText.h"
#include "tools/tarvelctl/TagFile.h"

namespace tarvelctl {
namespace {

// The first bytes of an image: "MZ", e_lfanew, and "PE\0\0" with the machine at that offset.
std::vector<std::uint8_t> Image(std::uint16_t machine, std::uint32_t peOffset = 0x80,
                                std::size_t size = 0x100) {
  std::vector<std::uint8_t> b(size, 0);
  b[0] = 'M';
  b[1] = 'Z';
  for (int i = 0; i < 4; ++i) b[0x3C + i] = static_cast<std::uint8_t>(peOffset >> (8 * i));
  if (std::size_t{peOffset} + 6 <= size) {
    b[peOffset] = 'P';
    b[peOffset + 1] = 'E';
    b[peOffset + 4] = static_cast<std::uint8_t>(machine);
    b[peOffset + 5] = static_cast<std::uint8_t>(machine >> 8);
  }
  return b;
}

TEST(ToolTextTest, ExecutableFromCommandLine) {
  struct Row {
    std::u16string commandLine;
    std::u16string executable;
  } rows[] = {
      {u"\"C:\\Program Files\\Tarvel\\tarvel-service.exe\"",
       u"C:\\Program Files\\Tarvel\\tarvel-service.exe"},
      {u"\"C:\\Program Files\\Tarvel\\tarvel-service.exe\" -x",
       u"C:\\Program Files\\Tarvel\\tarvel-service.exe"},
      {u"  \"C:\\a b\\s.exe", u"C:\\a b\\s.exe"},
      {u"C:\\Tarvel\\tarvel-service.exe", u"C:\\Tarvel\\tarvel-service.exe"},
      {u"C:\\Tarvel\\tarvel-service.EXE -service", u"C:\\Tarvel\\tarvel-service.EXE"},
      {u"C:\\Program Files\\Tarvel\\svc.exe /k", u"C:\\Program Files\\Tarvel\\svc.exe"},
      {u"%SystemRoot%\\tarvel.exe", u"%SystemRoot%\\tarvel.exe"},
      {u"C:\\odd name\\svc  ", u"C:\\odd name\\svc"},
      {u"   ", u""},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(ExecutableFromCommandLine(r.commandLine), r.executable)
        << platform::ToUtf8(r.commandLine);
  }
  // What install registers comes back whole.
  EXPECT_EQ(ExecutableFromCommandLine(QuoteCommandLine(u"C:\\a b\\x.exe")), u"C:\\a b\\x.exe");
}

TEST(ToolTextTest, PeMachine) {
  struct Row {
    const char* name;
    std::vector<std::uint8_t> head;
    std::optional<std::uint16_t> machine;
  } rows[] = {
      {"i386", Image(kMachineI386), kMachineI386},
      {"x64", Image(kMachineAmd64), kMachineAmd64},
      {"header at the very end", Image(kMachineArm64, 0xFA), kMachineArm64},
      {"header cut off", Image(kMachineI386, 0xFB), std::nullopt},
      {"offset past the bytes", Image(kMachineI386, 0x2000), std::nullopt},
      {"offset that would wrap", Image(kMachineI386, 0xFFFFFFFE), std::nullopt},
      {"too short for e_lfanew", std::vector<std::uint8_t>{'M', 'Z', 0, 0}, std::nullopt},
      {"no MZ", std::vector<std::uint8_t>(0x100, 0), std::nullopt},
  };
  auto noPe = Image(kMachineI386);
  noPe[0x81] = 'X';
  EXPECT_EQ(PeMachine(noPe), std::nullopt);
  for (const Row& r : rows) EXPECT_EQ(PeMachine(r.head), r.machine) << r.name;

  EXPECT_EQ(Is32BitMachine(kMachineI386), true);
  EXPECT_EQ(Is32BitMachine(kMachineAmd64), false);
  EXPECT_EQ(Is32BitMachine(kMachineArm64), false);
  EXPECT_EQ(Is32BitMachine(0x0200), std::nullopt);  // Itanium: not a service build
}

TEST(ToolTextTest, TagFolderFollowsTheServiceNotTheTool) {
  struct Row {
    bool service32;
    bool windows64;
    bool toolWow64;
    const char* folder;
  } rows[] = {
      {true, true, false, "SysWOW64"},   // shipped build on 64-bit Windows, 64-bit tool
      {true, true, true, "SysWOW64"},    // the same, 32-bit tool: SysWOW64 is not redirected
      {false, true, false, "System32"},  // 64-bit service, 64-bit tool
      {false, true, true, "Sysnative"},  // 64-bit service, 32-bit tool: System32 is redirected
      {true, false, false, "System32"},  // 32-bit Windows
  };
  for (const Row& r : rows) {
    EXPECT_EQ(TagFolderName(r.service32, r.windows64, r.toolWow64), r.folder)
        << r.service32 << r.windows64 << r.toolWow64;
  }
}

TEST(ToolTextTest, UpdateTagTextSetsTheFirstStateKeyAndKeepsTheRest) {
  struct Row {
    const char* name;
    std::string before;
    std::string after;
  } rows[] = {
      {"no file", "", "[State]\r\nkey=1\r\n"},
      {"value replaced", "[State]\r\nkey=0\r\n", "[State]\r\nkey=1\r\n"},
      {"names without regard to case or blanks", " [ state ] \r\n  KEY = 0 \r\nother=x\r\n",
       " [ state ] \r\nkey=1\r\nother=x\r\n"},
      {"other sections kept, key added at the section's end",
       "[A]\nkey=9\n[State]\nname=x\n\n[B]\nkey=8\n",
       "[A]\nkey=9\n[State]\nname=x\n\nkey=1\n[B]\nkey=8\n"},
      {"section appended", "; comment\r\n[A]\r\nx=1",
       "; comment\r\n[A]\r\nx=1\r\n[State]\r\nkey=1\r\n"},
      {"header without line end", "[State]", "[State]\r\nkey=1\r\n"},
      {"only the first State section", "[State]\nkey=0\n[State]\nkey=0\n",
       "[State]\nkey=1\n[State]\nkey=0\n"},
      {"keykey is another key", "[State]\nkeykey=0\n", "[State]\nkeykey=0\nkey=1\n"},
      {"UTF-8 byte-order mark kept", "\xEF\xBB\xBF[State]\r\nkey=0\r\n",
       "\xEF\xBB\xBF[State]\r\nkey=1\r\n"},
      {"last line without line end", "[State]\nkey=0", "[State]\nkey=1"},
  };
  for (const Row& r : rows) {
    TagText t = UpdateTagText(r.before, "1");
    EXPECT_EQ(t.text, r.after) << r.name;
    EXPECT_FALSE(t.replacedUtf16) << r.name;
  }
  TagText utf16 = UpdateTagText(std::string("\xFF\xFE[\0S\0", 6), "0");
  EXPECT_TRUE(utf16.replacedUtf16);
  EXPECT_EQ(utf16.text, "[State]\r\nkey=0\r\n");
}

TEST(ToolTextTest, OnlySystemAndAdministratorsMayOperateTheService) {
  EXPECT_EQ(
      BuildServiceSddl(ServiceGrants()),
      "D:(A;;CCLCSWRPWPDTLOCRRC;;;SY)(A;;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;BA)(A;;CCLCSWLORC;;;AU)");
  for (const ServiceGrant& g : ServiceGrants()) {
    bool operates = g.trustee == "SY" || g.trustee == "BA";
    for (std::uint32_t right : {kServiceUserDefinedControl, kServiceStart, kServiceStop}) {
      EXPECT_EQ((g.rights & right) != 0, operates) << g.trustee << " " << right;
    }
    for (std::uint32_t right : {kServiceChangeConfig, kDelete, kWriteDac, kWriteOwner}) {
      EXPECT_EQ((g.rights & right) != 0, g.trustee == "BA") << g.trustee << " " << right;
    }
    EXPECT_EQ(g.rights & kServiceReadRights, kServiceReadRights) << g.trustee;
  }
  EXPECT_EQ(RightsToSddl(kServiceUserDefinedControl), "CR");
  EXPECT_EQ(RightsToSddl(kServiceStart | kServiceStop), "RPWP");
  EXPECT_EQ(RightsToSddl(kServiceUserDefinedControl | 0x1000000), "0x1000100");
}

TEST(ToolTextTest, DebugMessagesAndStatus) {
  using Lines = std::vector<std::string>;
  EXPECT_EQ(FormatDebugMessage({7, "\n(VexService) Start Wait"}),
            Lines{"[7] (VexService) Start Wait"});
  EXPECT_EQ(FormatDebugMessage({7, "WndProc WndProc WndProc WndProc"}),
            Lines{"[7] WndProc WndProc WndProc WndProc"});
  EXPECT_EQ(FormatDebugMessage({9, "a\r\nb\n\n"}), (Lines{"[9] a", "[9] b"}));
  EXPECT_EQ(FormatDebugMessage({9, "\n"}), Lines{"[9] "});

  EXPECT_EQ(StateName(kServiceRunning), "RUNNING");
  EXPECT_EQ(StateName(9), "state 9");
  EXPECT_EQ(AcceptedControlsText(0), "none");
  EXPECT_EQ(AcceptedControlsText(4), "SHUTDOWN");
  EXPECT_EQ(AcceptedControlsText(5 | 0x10000), "STOP | SHUTDOWN | 0x10000");
  std::string status = FormatStatus({kServiceStopPending, 4, 0, 0, 1, 3000, 0});
  EXPECT_NE(status.find("state:             STOP_PENDING\n"), std::string::npos);
  EXPECT_NE(status.find("accepted controls: SHUTDOWN\n"), std::string::npos);
  EXPECT_NE(status.find("check point:       1\n"), std::string::npos);
  EXPECT_NE(status.find("wait hint:         3000 ms\n"), std::string::npos);
}

}  // namespace
}  // namespace tarvelctl

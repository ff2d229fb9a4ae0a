// The trusted files' DACL: what the commands set, who a descriptor lets in, what `status` warns
// about, and that the DACL keeps a user from holding the policy file at start-up.
#include "tests/unit/tarvelctl/FakeServiceManager.h"
#include "tools/tarvelctl/FileSecurity.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "platform/Text.h"
#include "platform/sim/SimMachine.h"
#include "policy/StartGuard.h"
#include "service/ServiceState.h"
#include "tests/unit/policy/PolicyTestSupport.h"
#include "tools/tarvelctl/Cli.h"
#include "tools/tarvelctl/LocalFiles.h"
#include "tools/tarvelctl/PeImage.h"
#include "tools/tarvelctl/ServiceManager.h"
#include "tools/tarvelctl/sim/SimFileSecurity.h"

namespace tarvelctl {
namespace {

using platform::sim::SimFiles;

const std::string kTrusted = "O:BA" + platform::ToUtf8(kTrustedFileSddl);

// A registered service whose executable is an i386 image, and nothing else.
class OneServiceManager final : public StillServiceManager {
 public:
  std::u16string commandLine;
  std::uint32_t Create(const std::u16string&) override { return 0; }
  std::uint32_t SetRecovery(const RecoveryPlan&) override { return 0; }
  std::uint32_t SetDescription(const std::u16string&) override { return 0; }
  std::uint32_t SetSecurity(const std::u16string&) override { return 0; }
  std::uint32_t Delete() override { return 0; }
  std::uint32_t Start() override { return 0; }
  std::uint32_t Control(std::uint32_t, ServiceStatusInfo*) override { return 0; }
  std::uint32_t Query(ServiceStatusInfo* status) override {
    *status = {platform::kServiceRunning, 4, 0, 0, 0, 0, 42};
    return 0;
  }
  std::uint32_t QueryCommandLine(std::u16string* out) override {
    *out = commandLine;
    return 0;
  }
  std::uint32_t QueryConfig(ServiceConfigInfo* out) override {
    *out = {0x10, 2, commandLine};
    return 0;
  }
  std::uint32_t QueryRecovery(RecoveryState*) override { return 0; }
  std::uint32_t QuerySecurity(std::u16string*) override { return 0; }
};

class TestHost final : public Host {
 public:
  platform::sim::SimMachine machine;
  sim::SimFileSecurity security{machine.files};
  OneServiceManager services;
  std::optional<WindowsLayout> layout;
  std::u16string Stage(const std::string& path, const std::vector<std::uint8_t>&) override {
    return platform::FromUtf8(path);
  }
  FileSecurityCalls& FileSecurity() override { return security; }
  ServiceManager* Services() override { return &services; }
  std::optional<WindowsLayout> Layout() override { return layout; }
};

class FileSecurityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host.machine.Install();  // policy write encrypts through the platform
    dir = std::filesystem::temp_directory_path() /
          ("tarvelctl-dacl-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir / "Windows" / "SysWOW64");
    std::vector<std::uint8_t> image(0x100, 0);
    image[0] = 'M', image[1] = 'Z', image[0x3C] = 0x80, image[0x80] = 'P', image[0x81] = 'E';
    image[0x84] = kMachineI386 & 0xFF, image[0x85] = kMachineI386 >> 8;
    std::string error;
    ASSERT_TRUE(WriteLocalFile(Path("svc.exe"), image, &error)) << error;
    host.services.commandLine = platform::FromUtf8(Path("svc.exe"));
    host.layout = WindowsLayout{(dir / "Windows").string(), true, false};
  }
  void TearDown() override { std::filesystem::remove_all(dir); }

  std::string Path(const std::string& name) const { return (dir / name).string(); }
  std::string SystemPath(const std::string& name) const {
    return (dir / "Windows" / "SysWOW64" / name).string();
  }
  std::string Security(const std::string& path) {
    return host.machine.files.FileSecurity(platform::FromUtf8(path));
  }
  // Whether an account whose token holds these groups can open the file for reading.
  bool Opens(const std::vector<std::string>& token, const std::string& path) {
    platform::Handle h =
        host.machine.files.OpenFileAs(token, platform::FromUtf8(path), platform::kGenericRead, 0);
    if (h == platform::kInvalidHandleValue) return false;
    host.machine.threads.CloseHandle(h);
    return true;
  }
  int Run(const std::vector<std::string>& args) {
    out.str("");
    err.str("");
    ToolContext ctx{host, out, err, 1};
    return RunTarvelctl(args, ctx);
  }
  // A file in the service's folder as an administrator's copy leaves it: the folder's entries.
  void PlaceInherited(const std::string& name, const std::string& text) {
    std::string error;
    std::vector<std::uint8_t> bytes(text.begin(), text.end());
    ASSERT_TRUE(WriteLocalFile(SystemPath(name), bytes, &error)) << error;
    host.machine.files.SetFile(platform::FromUtf8(SystemPath(name)), bytes);
  }

  TestHost host;
  std::ostringstream out;
  std::ostringstream err;
  std::filesystem::path dir;
};

TEST_F(FileSecurityTest, OthersWhoCanOpenReadsTheDacl) {
  // What Wine reports for every file: its user owns it and Everyone may read.
  const char* const kWineDefault =
      "O:S-1-5-21-0-0-0-1000D:(A;;FA;;;SY)(A;;FA;;;S-1-5-21-0-0-0-1000)(A;;0x1200a9;;;WD)";
  struct Row {
    const char* sddl;
    const char* others;  // DescribeOpeners, or "?" when the text cannot be read
  } rows[] = {
      {"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)", ""},
      {"O:SYD:P(A;;FA;;;S-1-5-18)(A;;FA;;;S-1-5-32-544)", ""},
      // As Windows reads back the tool's DACL, and a copied file's inherited one.
      {"O:BAD:PAI(A;;FA;;;SY)(A;;FA;;;BA)", ""},
      {"O:BAD:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)", "Users (read, execute)"},
      {SimFiles::kInheritedFileSecurity, "Users (read, execute)"},
      {kWineDefault,
       "S-1-5-21-0-0-0-1000 (read, write, execute, delete, change the DACL, take ownership), "
       "Everyone (read, execute)"},
      {"O:BAD:NO_ACCESS_CONTROL",
       "Everyone (read, write, execute, delete, change the DACL, "
       "take ownership)"},
      {"O:BAD:(D;;FR;;;BU)(A;;FR;;;BU)(A;;FA;;;BA)", ""},
      {"O:BAD:(D;;FW;;;WD)(A;;GA;;;AU)",
       "Authenticated Users (read, execute, delete, change the DACL, take ownership)"},
      {"O:BAD:(A;OICIIO;FA;;;CO)(A;;0x100080;;;BU)(A;;RCWD;;;IU)", "INTERACTIVE (change the DACL)"},
      {"O:BUD:P(A;;FA;;;SY)", "Users (change the DACL)"},
      {"O:BUD:P(A;;FA;;;SY)(A;;RC;;;OW)", ""},
      {"D:(OA;;FA;;;SY)", "?"},
      {"D:(A;;QQ;;;SY)", "?"},
      {"D:(A;;FA;;;SY", "?"},
      {"not sddl", "?"},
      {"D:(A;;0x-1;;;BU)", "?"},
      {"D:(A;;0x100000001;;;BU)", "?"},
      {"D:XY(A;;FA;;;SY)", "?"},
      {"D:P(A;;FA;;;SY)D:(A;;FA;;;BU)", "?"},
      {"D:P(A;;FA;;;SY)x", "?"},
      {"O:D:P(A;;FA;;;SY)", "?"},
  };
  for (const Row& r : rows) {
    auto others = OthersWhoCanOpen(platform::FromUtf8(r.sddl));
    EXPECT_EQ(others ? DescribeOpeners(*others) : "?", r.others) << r.sddl;
  }
  // A descriptor cut inside an entry is refused (and not read past its end).
  const std::string wine = kWineDefault;
  for (std::size_t n = 0; n <= wine.size(); ++n) {
    std::string cut = wine.substr(0, n);
    bool insideEntry = cut.rfind('(') != std::string::npos &&
                       (cut.rfind(')') == std::string::npos || cut.rfind(')') < cut.rfind('('));
    if (insideEntry) {
      EXPECT_FALSE(OthersWhoCanOpen(platform::FromUtf8(cut))) << cut;
    }
  }
}

TEST_F(FileSecurityTest, WrittenFilesCarryTheDaclAndRefuseUsers) {
  const std::string tag = SystemPath("ReadTag.ini");
  const std::string policyFile = Path("DevState.ini");
  PlaceInherited("ReadTag.ini", "[State]\r\nkey=0\r\n");
  std::string error;
  ASSERT_TRUE(WriteLocalFile(tag + ".new", {'x'}, &error));  // left by an interrupted run
  ASSERT_TRUE(Opens(SimFiles::StandardUserToken(), tag));

  ASSERT_EQ(Run({"write-protect", "1"}), kExitOk) << err.str();
  EXPECT_NE(out.str().find("DACL D:P(A;;FA;;;SY)(A;;FA;;;BA)"), std::string::npos) << out.str();
  ASSERT_EQ(Run({"policy", "write", "--removable", "on", "--optical", "off", "-o", policyFile}),
            kExitOk)
      << err.str();
  for (const std::string& path : {tag, policyFile}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(Security(path), kTrusted);
    EXPECT_FALSE(Opens(SimFiles::StandardUserToken(), path));
    EXPECT_TRUE(Opens(SimFiles::LocalSystemToken(), path));
    EXPECT_FALSE(LocalFileExists(path + ".new"));
  }
  auto text = ReadLocalFile(tag, &error);
  ASSERT_TRUE(text);
  EXPECT_EQ(std::string(text->begin(), text->end()), "[State]\r\nkey=1\r\n");

  // A file that cannot be made is reported, with no temporary left behind.
  EXPECT_EQ(Run({"write-protect", "1", "--dir", Path("missing")}), kExitFailed);
  EXPECT_NE(
      err.str().find("cannot write " + Path("missing/ReadTag.ini") + ".new: Access is denied (5)"),
      std::string::npos)
      << err.str();
}

TEST_F(FileSecurityTest, InstallSecuresTheFilesThatExistAndStatusWarnsAboutOthers) {
  PlaceInherited("DevState.ini", "policy");
  PlaceInherited("ReadTag.ini", "[State]\r\nkey=1\r\n");
  // Before: status names each file a user can open, and who.
  ASSERT_EQ(Run({"status"}), kExitOk) << err.str();
  for (const char* name : {"DevState.ini", "ReadTag.ini"}) {
    EXPECT_NE(err.str().find(SystemPath(name) + " can be opened by Users (read, execute)"),
              std::string::npos)
        << err.str();
  }
  EXPECT_EQ(err.str().find("SysSecurity.ini"), std::string::npos);

  ASSERT_EQ(Run({"install", "--configure-only"}), kExitOk) << err.str();
  EXPECT_NE(out.str().find("Files: secured DevState.ini, ReadTag.ini in " +
                           (dir / "Windows" / "SysWOW64").string()),
            std::string::npos)
      << out.str();
  EXPECT_EQ(Security(SystemPath("DevState.ini")), kTrusted);
  EXPECT_EQ(Security(SystemPath("ReadTag.ini")), kTrusted);
  EXPECT_FALSE(LocalFileExists(SystemPath("SysSecurity.ini")));

  ASSERT_EQ(Run({"status"}), kExitOk);
  EXPECT_EQ(err.str().find("warning"), std::string::npos) << err.str();
  // An administrator who later opens a file to Users is warned about again.
  host.machine.files.SetFileSecurity(platform::FromUtf8(SystemPath("ReadTag.ini")),
                                     "D:(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)");
  ASSERT_EQ(Run({"status"}), kExitOk);
  EXPECT_NE(err.str().find("ReadTag.ini can be opened by Users (read, execute)"), std::string::npos)
      << err.str();
  EXPECT_EQ(err.str().find("DevState.ini"), std::string::npos) << err.str();

  // With no file yet, install says so; with no service to ask, it cannot secure anything.
  std::filesystem::remove(SystemPath("DevState.ini"));
  std::filesystem::remove(SystemPath("ReadTag.ini"));
  ASSERT_EQ(Run({"install", "--configure-only"}), kExitOk);
  EXPECT_NE(out.str().find("Files: no DevState.ini, SysSecurity.ini or ReadTag.ini"),
            std::string::npos);
  host.services.commandLine = platform::FromUtf8(Path("missing.exe"));
  EXPECT_EQ(Run({"install", "--configure-only"}), kExitFailed);
  EXPECT_NE(err.str().find("cannot secure the policy and tag files"), std::string::npos);
}

// A user who can open the policy file holds it at start-up, and the service starts with its
// locks off; under the tool's DACL the user's open is refused and the policy applies.
TEST(TrustedFileDaclTest, AUserCannotHoldThePolicyFileUnderTheDacl) {
  for (bool secured : {false, true}) {
    SCOPED_TRACE(secured ? "secured" : "inherited");
    platform::sim::SimMachine m;
    m.Install();
    service::ResetWholeProcess();
    platform::sim::SimDrive stick;
    stick.type = platform::kDriveRemovable;
    stick.volumePresent = true;
    m.volumes.SetDrive('E', stick);
    m.files.SetTextFileUtf16(policy::test::kDevState, policy::test::PolicyFileText(u"truetrue"),
                             false);
    if (secured) {
      ASSERT_TRUE(
          m.files.SetFileSecurity(policy::test::kDevState, platform::ToUtf8(kTrustedFileSddl)));
    }
    platform::Handle held = m.files.OpenFileAs(SimFiles::StandardUserToken(),
                                               policy::test::kDevState, platform::kGenericRead, 0);
    EXPECT_EQ(held == platform::kInvalidHandleValue, secured);
    if (secured) {
      EXPECT_EQ(platform::sim::SimCore::GetLastError(), 5u);
    }
    guard::VolumeGuard g;
    policy::StartGuard(g);
    EXPECT_EQ(g.GetRemovableLock(), secured);
    EXPECT_EQ(m.volumes.Drive('E').lockedBy != platform::kNullHandle, secured);
    service::ResetWholeProcess();
  }
}

}  // namespace
}  // namespace tarvelctl

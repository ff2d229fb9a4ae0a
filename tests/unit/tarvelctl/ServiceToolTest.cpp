// The service commands against a scripted Service Control Manager: what they send, how long
// they wait, and the message and exit code of every failure.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "platform/Text.h"
#include "platform/sim/SimMachine.h"
#include "tools/tarvelctl/Cli.h"
#include "tools/tarvelctl/LocalFiles.h"
#include "tools/tarvelctl/PeImage.h"
#include "tools/tarvelctl/ServiceManager.h"
#include "tools/tarvelctl/ServiceSecurity.h"
#include "tools/tarvelctl/ServiceText.h"
#include "tools/tarvelctl/sim/SimFileSecurity.h"

namespace tarvelctl {
namespace {

// A service that reports STOP_PENDING after code 255 and STOPPED after stopPolls queries, and
// RUNNING after startPolls queries when it starts out START_PENDING.
class ScriptedServices final : public ServiceManager {
 public:
  bool installed = true;
  ServiceStatusInfo status{kServiceRunning, 4, 0, 0, 0, 0, 42};
  std::map<std::string, std::uint32_t> failures;
  std::vector<std::string> calls;
  int stopPolls = 2;
  int startPolls = 2;
  bool processEnds = true;
  bool diesOnStart = false;
  std::u16string commandLine;
  std::u16string sddl;
  std::uint64_t now = 0;

  std::uint32_t Create(const std::u16string& line) override {
    if (auto e = Call("Create")) return e;
    if (installed) return kErrorServiceExists;
    installed = true;
    status = {kServiceStopped, 0, 0, 0, 0, 0, 0};
    commandLine = line;
    return 0;
  }
  std::uint32_t SetRecovery(const RecoveryPlan&) override { return Call("SetRecovery"); }
  std::uint32_t SetDescription(const std::u16string&) override { return Call("SetDescription"); }
  std::uint32_t SetSecurity(const std::u16string& text) override {
    sddl = text;
    return Call("SetSecurity");
  }
  std::uint32_t Delete() override {
    if (auto e = Call("Delete")) return e;
    installed = false;
    return 0;
  }
  std::uint32_t Start() override {
    if (auto e = Call("Start")) return e;
    status = diesOnStart ? ServiceStatusInfo{kServiceStopped, 0, 1067, 0, 0, 0, 0}
                         : ServiceStatusInfo{kServiceRunning, 4, 0, 0, 0, 0, 43};
    return 0;
  }
  std::uint32_t Control(std::uint32_t code, ServiceStatusInfo* out) override {
    if (auto e = Call("Control " + std::to_string(code))) return e;
    if (status.state == kServiceStopped) return kErrorServiceNotActive;
    if (status.state == kServiceStartPending) return kErrorServiceCannotAcceptCtrl;
    if (code == kControlStopService) status = {kServiceStopPending, 4, 0, 0, 1, 3000, 42};
    *out = status;
    return 0;
  }
  std::uint32_t Query(ServiceStatusInfo* out) override {
    if (auto e = Call("Query")) return e;
    if (status.state == kServiceStopPending && stopPolls-- == 0) status = {kServiceStopped, 4};
    if (status.state == kServiceStartPending && startPolls-- == 0) status.state = kServiceRunning;
    *out = status;
    return 0;
  }
  std::uint32_t QueryCommandLine(std::u16string* out) override {
    if (auto e = Call("QueryCommandLine")) return e;
    *out = commandLine;
    return 0;
  }
  std::uint32_t QueryConfig(ServiceConfigInfo* out) override {
    if (auto e = Call("QueryConfig")) return e;
    *out = {0x10, 2, commandLine};
    return 0;
  }
  std::uint32_t QueryRecovery(RecoveryState*) override { return Call("QueryRecovery"); }
  std::uint32_t QuerySecurity(std::u16string* out) override {
    if (auto e = Call("QuerySecurity")) return e;
    *out = sddl;
    return 0;
  }
  std::u16string ExpandEnvironment(const std::u16string& text) override { return text; }
  std::uint32_t WaitForProcessExit(std::uint32_t pid, std::uint32_t timeoutMs) override {
    calls.push_back("Wait " + std::to_string(pid));
    if (processEnds) return 0;
    now += timeoutMs;
    return kWaitTimeout;
  }
  std::string ErrorText(std::uint32_t code) override { return "text of " + std::to_string(code); }
  std::uint64_t NowMs() override { return now; }
  void SleepMs(std::uint32_t ms) override { now += ms; }

 private:
  std::uint32_t Call(const std::string& name) {
    calls.push_back(name);
    auto f = failures.find(name.substr(0, name.find(' ')));
    if (f != failures.end()) return f->second;
    return installed || name == "Create" ? 0 : kErrorServiceDoesNotExist;
  }
};

class TestHost final : public Host {
 public:
  ScriptedServices services;
  std::optional<WindowsLayout> layout;
  platform::sim::SimMachine machine;
  sim::SimFileSecurity security{machine.files};
  FileSecurityCalls& FileSecurity() override { return security; }
  std::u16string Stage(const std::string& path, const std::vector<std::uint8_t>&) override {
    return platform::FromUtf8(path);
  }
  ServiceManager* Services() override { return &services; }
  std::optional<WindowsLayout> Layout() override { return layout; }
};

class ServiceToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = std::filesystem::temp_directory_path() /
          ("tarvelctl-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
  }
  void TearDown() override { std::filesystem::remove_all(dir); }

  int Run(const std::vector<std::string>& args) {
    out.str("");
    err.str("");
    ToolContext ctx{host, out, err, 1};
    return RunTarvelctl(args, ctx);
  }
  // Writes the first bytes of an image of the machine type and returns its path.
  std::string WriteImage(const std::string& name, std::uint16_t machine) {
    std::vector<std::uint8_t> b(0x100, 0);
    b[0] = 'M', b[1] = 'Z', b[0x3C] = 0x80;
    b[0x80] = 'P', b[0x81] = 'E', b[0x84] = machine & 0xFF, b[0x85] = machine >> 8;
    std::string path = (dir / name).string();
    std::string error;
    EXPECT_TRUE(WriteLocalFile(path, b, &error)) << error;
    return path;
  }

  TestHost host;
  ScriptedServices& services = host.services;
  std::ostringstream out;
  std::ostringstream err;
  std::filesystem::path dir;
};

TEST_F(ServiceToolTest, StopAndStartWaitOutPendingStates) {
  EXPECT_EQ(Run({"stop"}), kExitOk) << err.str();
  EXPECT_EQ(services.calls, (std::vector<std::string>{"Query", "Control 255", "Query", "Query",
                                                      "Query", "Wait 42"}));
  EXPECT_NE(out.str().find("stopped; process 42 has ended"), std::string::npos) << out.str();

  // Still starting: code 255 waits until the service runs and can take it.
  services = ScriptedServices();
  services.status.state = kServiceStartPending;
  EXPECT_EQ(Run({"stop"}), kExitOk) << err.str();
  EXPECT_EQ(services.calls, (std::vector<std::string>{"Query", "Query", "Query", "Control 255",
                                                      "Query", "Query", "Query", "Wait 42"}));
  // Stopping: start waits until it has stopped, then starts it again.
  services = ScriptedServices();
  services.status = {kServiceStopPending, 4, 0, 0, 1, 3000, 42};
  EXPECT_EQ(Run({"start"}), kExitOk) << err.str();
  EXPECT_EQ(services.calls,
            (std::vector<std::string>{"Query", "Query", "Query", "Start", "Query"}));

  // Stopped already: nothing is sent.
  services.status.state = kServiceStopped;
  services.calls.clear();
  EXPECT_EQ(Run({"stop"}), kExitOk);
  EXPECT_EQ(services.calls, std::vector<std::string>{"Query"});
  EXPECT_NE(out.str().find("is not running"), std::string::npos);
}

TEST_F(ServiceToolTest, FailuresGiveTheirExitCodesAndWindowsText) {
  struct Row {
    const char* name;
    std::vector<std::string> args;
    std::function<void(ScriptedServices&)> setup;
    int exitCode;
    const char* message;
  } rows[] = {
      {"stop, not installed",
       {"stop"},
       [](auto& s) { s.installed = false; },
       kExitNotInstalled,
       "text of 1060 (1060); `tarvelctl install` installs it"},
      {"stop, access denied",
       {"stop"},
       [](auto& s) { s.failures["Control"] = 5; },
       kExitAccessDenied,
       "cannot send the stop code 255 to Tarvel Service: text of 5 (5); run "
       "tarvelctl from an elevated prompt"},
      {"stop never ends",
       {"stop", "--timeout", "2"},
       [](auto& s) { s.stopPolls = 1000; },
       kExitTimeout,
       "did not stop within 2 s:\n  state:             STOP_PENDING"},
      {"stopped, process stays",
       {"stop"},
       [](auto& s) { s.processEnds = false; },
       kExitTimeout,
       "reports STOPPED, but its process 42 has not ended within 30 s"},
      {"toggle while stopped",
       {"removable", "on"},
       [](auto& s) { s.status.state = kServiceStopped; },
       kExitNotRunning,
       "cannot send code 128 (removable lock on): text of 1062 (1062); `tarvelctl start`"},
      {"start dies",
       {"start"},
       [](auto& s) {
         s.status.state = kServiceStopped;
         s.diesOnStart = true;
       },
       kExitFailed,
       "stopped during start-up: text of 1067 (1067)"},
      {"start refused",
       {"start"},
       [](auto& s) {
         s.status.state = kServiceStopped;
         s.failures["Start"] = 5;
       },
       kExitAccessDenied,
       "cannot start Tarvel Service: text of 5"},
      {"status, not installed",
       {"status"},
       [](auto& s) { s.installed = false; },
       kExitNotInstalled,
       "cannot query Tarvel Service: text of 1060"},
      {"configure a missing service",
       {"install", "--configure-only"},
       [](auto& s) { s.installed = false; },
       kExitNotInstalled,
       "cannot open Tarvel Service"},
      {"security refused",
       {"install", "--configure-only"},
       [](auto& s) { s.failures["SetSecurity"] = 5; },
       kExitAccessDenied,
       "cannot set the service's security: text of 5"},
      {"uninstall, stop refused",
       {"uninstall"},
       [](auto& s) { s.failures["Control"] = 5; },
       kExitAccessDenied,
       "cannot send the stop code 255"},
  };
  for (const Row& r : rows) {
    services = ScriptedServices();
    r.setup(services);
    EXPECT_EQ(Run(r.args), r.exitCode) << r.name << "\n" << err.str();
    EXPECT_NE(err.str().find(r.message), std::string::npos) << r.name << "\n" << err.str();
  }
  // Usage errors: CLI11's codes, all 100 and above.
  for (std::vector<std::string> args : {std::vector<std::string>{"removable", "maybe"},
                                        {"optical"},
                                        {"write-protect", "10"},
                                        {"install", "--configure-only", "--exe", "x.exe"},
                                        {"stop", "--timeout", "0"}}) {
    EXPECT_GE(Run(args), 100) << args[0];
  }
}

TEST_F(ServiceToolTest, LockTogglesSendTheirCodes) {
  for (auto [args, code] :
       {std::pair<std::vector<std::string>, const char*>{{"removable", "on"}, "128"},
        {{"removable", "off"}, "129"},
        {{"optical", "on"}, "130"},
        {{"optical", "off"}, "131"}}) {
    services.calls.clear();
    EXPECT_EQ(Run(args), kExitOk);
    EXPECT_EQ(services.calls, std::vector<std::string>{std::string("Control ") + code});
    EXPECT_NE(out.str().find("state:             RUNNING"), std::string::npos);
  }
}

TEST_F(ServiceToolTest, InstallRegistersTheQuotedExecutableAndLocksItDown) {
  std::string exe = WriteImage("tarvel service.exe", kMachineI386);
  services.installed = false;
  host.layout = WindowsLayout{(dir / "Windows").string(), true, false};
  EXPECT_EQ(Run({"install", "--exe", exe}), kExitOk) << err.str();
  EXPECT_NE(out.str().find("Files: no DevState.ini, SysSecurity.ini or ReadTag.ini in " +
                           (dir / "Windows" / "SysWOW64").string()),
            std::string::npos)
      << out.str();
  EXPECT_EQ(services.commandLine, u"\"" + platform::FromUtf8(exe) + u"\"");
  EXPECT_EQ(services.calls, (std::vector<std::string>{"Create", "SetDescription", "SetRecovery",
                                                      "SetSecurity", "QueryCommandLine"}));
  EXPECT_EQ(platform::ToUtf8(services.sddl), BuildServiceSddl(ServiceGrants()));
  EXPECT_NE(out.str().find("(i386)"), std::string::npos) << out.str();

  // Installed already: the hint names both ways on.
  EXPECT_EQ(Run({"install", "--exe", exe}), kExitFailed);
  EXPECT_NE(err.str().find("--configure-only"), std::string::npos);
  // Not a program.
  std::string error;
  ASSERT_TRUE(WriteLocalFile((dir / "notes.txt").string(), {'h', 'i'}, &error));
  services.installed = false;
  EXPECT_EQ(Run({"install", "--exe", (dir / "notes.txt").string()}), kExitFailed);
  EXPECT_NE(err.str().find("is not a Windows program"), std::string::npos);
}

TEST_F(ServiceToolTest, UninstallStopsARunningServiceFirst) {
  EXPECT_EQ(Run({"uninstall"}), kExitOk) << err.str();
  EXPECT_EQ(services.calls.front(), "Query");
  EXPECT_EQ(services.calls[1], "Control 255");
  EXPECT_EQ(services.calls.back(), "Delete");
  EXPECT_FALSE(services.installed);
}

TEST_F(ServiceToolTest, WriteProtectFindsTheFolderFromTheServiceExecutable) {
  struct Row {
    std::uint16_t machine;
    bool toolWow64;
    const char* folder;
  } rows[] = {{kMachineI386, false, "SysWOW64"},
              {kMachineI386, true, "SysWOW64"},
              {kMachineAmd64, false, "System32"},
              {kMachineAmd64, true, "Sysnative"}};
  for (const Row& r : rows) {
    std::filesystem::remove_all(dir / "Windows");
    std::filesystem::create_directories(dir / "Windows" / r.folder);
    services.commandLine = u"\"" + platform::FromUtf8(WriteImage("svc.exe", r.machine)) + u"\"";
    host.layout = WindowsLayout{(dir / "Windows").string(), true, r.toolWow64};
    EXPECT_EQ(Run({"write-protect", "1"}), kExitOk) << r.folder << err.str();
    std::string error;
    auto text = ReadLocalFile((dir / "Windows" / r.folder / "ReadTag.ini").string(), &error);
    ASSERT_TRUE(text) << r.folder << ": " << error;
    EXPECT_EQ(std::string(text->begin(), text->end()), "[State]\r\nkey=1\r\n");
  }
  // An existing file keeps its other lines.
  EXPECT_EQ(Run({"write-protect", "0"}), kExitOk);
  std::string error;
  auto text = ReadLocalFile((dir / "Windows" / "Sysnative" / "ReadTag.ini").string(), &error);
  EXPECT_EQ(std::string(text->begin(), text->end()), "[State]\r\nkey=0\r\n");

  // Not installed: the folder cannot be told; --dir always works.
  services.installed = false;
  EXPECT_EQ(Run({"write-protect", "1"}), kExitNotInstalled);
  EXPECT_NE(err.str().find("give the folder with --dir"), std::string::npos);
  EXPECT_EQ(Run({"write-protect", "1", "--dir", dir.string()}), kExitOk);
  // An executable of a machine type the tool does not know.
  services.installed = true;
  services.commandLine = platform::FromUtf8(WriteImage("ia64.exe", 0x0200));
  EXPECT_EQ(Run({"write-protect", "1"}), kExitFailed);
  EXPECT_NE(err.str().find("machine type 0x0200"), std::string::npos) << err.str();
}

}  // namespace
}  // namespace tarvelctl

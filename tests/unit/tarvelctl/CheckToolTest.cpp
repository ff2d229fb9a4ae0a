// `check` on the simulated machine: a compliant machine and each kind of drift, with the exit
// code and the JSON fleet tools read; the JSON writer's escapes; service DACLs read back.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <sstream>

#include "guard/VolumeControl.h"
#include "platform/Text.h"
#include "service/ServiceState.h"
#include "tests/unit/policy/PolicyTestSupport.h"
#include "tests/unit/tarvelctl/FakeServiceManager.h"
#include "tools/tarvelctl/CheckCommand.h"
#include "tools/tarvelctl/Cli.h"
#include "tools/tarvelctl/FileSecurity.h"
#include "tools/tarvelctl/Json.h"
#include "tools/tarvelctl/LocalFiles.h"
#include "tools/tarvelctl/PeImage.h"
#include "tools/tarvelctl/PolicyWriter.h"
#include "tools/tarvelctl/ServiceManager.h"
#include "tools/tarvelctl/ServiceSecurity.h"
#include "tools/tarvelctl/ServiceText.h"
#include "tools/tarvelctl/sim/SimFileSecurity.h"

namespace tarvelctl {
namespace {

using platform::kHkeyLocalMachine;

// What the Service Control Manager says about the installed service.
class FakeServices final : public StillServiceManager {
 public:
  std::uint32_t queryError = 0;
  std::uint32_t state = kServiceRunning;
  std::u16string commandLine;
  std::u16string sddl = platform::FromUtf8(BuildServiceSddl(ServiceGrants()));
  RecoveryState recovery{86400, {{1, 5000}, {1, 5000}, {1, 60000}}};

  // What repair asked of it, in order; and what the service does on a start or a lock code.
  std::vector<std::string> calls;
  std::function<void(std::uint32_t code)> service = [](std::uint32_t) {};

  std::uint32_t Create(const std::u16string&) override { return 0; }
  std::uint32_t SetRecovery(const RecoveryPlan&) override { return Call("SetRecovery"); }
  std::uint32_t SetDescription(const std::u16string&) override { return Call("SetDescription"); }
  std::uint32_t SetSecurity(const std::u16string&) override { return Call("SetSecurity"); }
  std::uint32_t Delete() override { return 0; }
  std::uint32_t Start() override {
    state = kServiceRunning;
    service(0);
    return Call("Start");
  }
  std::uint32_t Control(std::uint32_t code, ServiceStatusInfo* out) override {
    service(code);
    Query(out);
    return Call("Control " + std::to_string(code));
  }
  std::uint32_t Query(ServiceStatusInfo* out) override {
    if (queryError != 0) return queryError;
    *out = {state, 4, 0, 0, 0, 0, state == kServiceRunning ? 42u : 0u};
    return 0;
  }
  std::uint32_t QueryCommandLine(std::u16string* out) override {
    *out = commandLine;
    return queryError;
  }
  std::uint32_t QueryConfig(ServiceConfigInfo* out) override {
    *out = {0x10, 2, commandLine};
    return queryError;
  }
  std::uint32_t QueryRecovery(RecoveryState* out) override {
    *out = recovery;
    return queryError;
  }
  std::uint32_t QuerySecurity(std::u16string* out) override {
    *out = sddl;
    return queryError;
  }

 private:
  std::uint32_t Call(const std::string& what) {
    calls.push_back(what);
    return queryError;
  }
};

// Files reach the test's simulated machine under their local path.
class CheckHost final : public Host {
 public:
  explicit CheckHost(platform::sim::SimMachine& m) : machine_(m), security_(m.files) {}
  FakeServices services;
  std::optional<WindowsLayout> layout;
  std::uint32_t adminError = 0;
  bool locksEnforced = true;
  bool daclsKept = true;

  std::u16string Stage(const std::string& path, const std::vector<std::uint8_t>& bytes) override {
    std::u16string staged = platform::FromUtf8(path);
    machine_.files.SetFile(staged, bytes);
    return staged;
  }
  FileSecurityCalls& FileSecurity() override { return security_; }
  ServiceManager* Services() override { return &services; }
  std::optional<WindowsLayout> Layout() override { return layout; }
  std::uint32_t AdministratorError() override { return adminError; }
  bool VolumeLocksEnforced() override { return locksEnforced; }
  bool FileDaclsKept() override { return daclsKept; }

 private:
  platform::sim::SimMachine& machine_;
  sim::SimFileSecurity security_;
};

enum class PolicyKind { kTrueFalse, kGarbled, kNone };

struct Case {
  const char* name;
  PolicyKind policy = PolicyKind::kTrueFalse;
  bool eLocked = true;      // a handle holds E:'s lock, as the service's would
  bool wpdDisabled = true;  // the one "WPD" device
  std::uint32_t writeProtect = 0;
  const char* tag = "0";
  std::uint32_t state = kServiceRunning;
  std::uint32_t queryError = 0;
  std::uint32_t adminError = 0;
  bool locksEnforced = true;
  const char16_t* sddl = nullptr;    // the service's DACL read back; default: what install sets
  const char* policyDacl = nullptr;  // DevState.ini's; default: what policy write sets
  bool daclsKept = true;
  std::uint32_t openError = 0;  // what the check's open of E: meets, when not 0
  int exitCode = 0;
  const char* verdict = "compliant";
  std::vector<std::string> reasons{};
  const char* evidence = "";  // a text the report must hold
};

class CheckToolTest : public ::testing::Test {
 protected:
  // A fresh machine, fresh policy state and a fresh system folder, as for a new process.
  void SetUp() override {
    machine = std::make_unique<platform::sim::SimMachine>();
    machine->Install();
    service::ResetWholeProcess();
    host = std::make_unique<CheckHost>(*machine);
    dir = std::filesystem::temp_directory_path() /
          ("tarvelctl-check-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir / "System32");
    host->layout = WindowsLayout{dir.string(), true, false};
    // An x64 service image: it reads the native system folder.
    std::vector<std::uint8_t> image(0x100, 0);
    image[0] = 'M', image[1] = 'Z', image[0x3C] = 0x80, image[0x80] = 'P', image[0x81] = 'E';
    image[0x84] = kMachineAmd64 & 0xFF, image[0x85] = kMachineAmd64 >> 8;
    std::string exe = (dir / "tarvel-service.exe").string();
    std::string error;
    ASSERT_TRUE(WriteLocalFile(exe, image, &error)) << error;
    host->services.commandLine = QuoteCommandLine(platform::FromUtf8(exe));
  }
  void TearDown() override {
    std::filesystem::remove_all(dir);
    service::ResetWholeProcess();
  }

  void Arrange(const Case& c) {
    if (c.policy != PolicyKind::kNone) {
      std::string error;
      auto file = BuildPolicyFile({true, false, std::nullopt, std::nullopt, 7}, &error);
      ASSERT_TRUE(file) << error;
      std::vector<std::uint8_t> bytes = file->bytes;
      if (c.policy == PolicyKind::kGarbled) {
        // No State line: its count is there, so the file is complete, but the State entry
        // stays empty and cannot be decrypted.
        std::u16string text = policy::test::PolicyFileText(u"truefalse", u"State");
        bytes.clear();
        for (char16_t u : text) bytes.insert(bytes.end(), {std::uint8_t(u), std::uint8_t(u >> 8)});
      }
      const std::string path = (dir / "System32" / "DevState.ini").string();
      ASSERT_TRUE(WriteLocalFile(path, bytes, &error));
      machine->files.SetFile(platform::FromUtf8(path), bytes);
      ASSERT_TRUE(machine->files.SetFileSecurity(
          platform::FromUtf8(path), c.policyDacl != nullptr ? std::string(c.policyDacl)
                                                            : platform::ToUtf8(kTrustedFileSddl)));
    }
    std::string tag = std::string("[State]\r\nkey=") + c.tag + "\r\n";
    std::string error;
    ASSERT_TRUE(WriteLocalFile((dir / "System32" / "ReadTag.ini").string(),
                               std::vector<std::uint8_t>(tag.begin(), tag.end()), &error));
    machine->registry.SetDword(kHkeyLocalMachine, enforcement_key, u"WriteProtect", c.writeProtect);
    machine->volumes.SetDrive(
        'C', {.type = platform::kDriveFixed, .volumePresent = true, .answersAtaIdentify = true});
    // Blank-padded, as USB devices report their strings.
    machine->volumes.SetDrive('E', {.type = platform::kDriveRemovable,
                                    .volumePresent = true,
                                    .vendor = "SanDisk ",
                                    .product = "Cruzer Blade    ",
                                    .serial = " 4C530001"});
    machine->volumes.SetDrive('F', {.type = platform::kDriveCdrom, .volumePresent = true});
    machine->volumes.SetDrive('G', {.type = platform::kDriveRemote, .volumePresent = true});
    if (c.eLocked) {
      held = guard::OpenVolume(u"\\\\.\\E:");
      ASSERT_TRUE(guard::DismountVolume(held));
      ASSERT_TRUE(guard::LockVolume(held));
    }
    machine->devices.AddClass(u"WPD", platform::sim::kWpdClassGuid);
    machine->devices.AddDevice(platform::sim::kWpdClassGuid, true, c.wpdDisabled ? 22 : 0);
    host->services.state = c.state;
    host->services.queryError = c.queryError;
    host->adminError = c.adminError;
    host->locksEnforced = c.locksEnforced;
    host->daclsKept = c.daclsKept;
    if (c.sddl != nullptr) host->services.sddl = c.sddl;
    openError = c.openError;
  }

  int Run(const std::vector<std::string>& args) {
    out.str("");
    err.str("");
    // The check opens C: for the ATA probe, then E:.
    if (openError != 0) {
      machine->core.FailCall(platform::sim::Fault::kCreateFileWVolume, openError, 1, 1);
    }
    ToolContext ctx{*host, out, err, 1};
    return RunTarvelctl(args, ctx);
  }

  static std::string ReasonsJson(const std::vector<std::string>& reasons) {
    if (reasons.empty()) return "\"reasons\": []";
    std::string text = "\"reasons\": [";
    for (std::size_t i = 0; i < reasons.size(); ++i) {
      text += std::string(i > 0 ? "," : "") + "\n    \"" + reasons[i] + "\"";
    }
    return text + "\n  ]";
  }

  static constexpr const char16_t* enforcement_key =
      u"SYSTEM\\CurrentControlSet\\Control\\StorageDevicePolicies\\";
  std::filesystem::path dir;
  std::unique_ptr<platform::sim::SimMachine> machine;
  std::unique_ptr<CheckHost> host;
  platform::Handle held = platform::kNullHandle;
  std::uint32_t openError = 0;
  std::ostringstream out;
  std::ostringstream err;
};

TEST_F(CheckToolTest, VerdictExitCodeAndJsonForEachKindOfDrift) {
  const Case cases[] = {
      {.name = "compliant",
       .reasons = {},
       .evidence = "E: a removable drive, to be held locked and dismounted"},
      // As after code 129, which releases the volumes and enables the devices.
      {.name = "volume not locked",
       .eLocked = false,
       .wpdDisabled = false,
       .exitCode = 1,
       .verdict = "drift",
       .reasons = {"volume.E"},
       .evidence = "not locked: an open succeeds"},
      {.name = "WriteProtect disagrees with the tag",
       .writeProtect = 1,
       .exitCode = 1,
       .verdict = "drift",
       .reasons = {"writeProtection"},
       .evidence = "disagree: the tag asks for 0, WriteProtect is 1"},
      {.name = "WPD device enabled under the removable lock",
       .wpdDisabled = false,
       .exitCode = 1,
       .verdict = "drift",
       .reasons = {"portableDevice.0"},
       .evidence = "is enabled; to be disabled"},
      {.name = "service stopped: its locks went with it",
       .eLocked = false,
       .state = kServiceStopped,
       .exitCode = 1,
       .verdict = "drift",
       .reasons = {"service.running", "volume.E"},
       .evidence = "not locked: the service is not running"},
      {.name = "policy file that does not decrypt",
       .policy = PolicyKind::kGarbled,
       .eLocked = false,
       .wpdDisabled = false,
       .exitCode = 1,
       .verdict = "drift",
       .reasons = {"policy.decrypts"},
       .evidence = "does not decrypt: the service starts with both locks off"},
      {.name = "no policy file",
       .policy = PolicyKind::kNone,
       .eLocked = false,
       .wpdDisabled = false,
       .exitCode = 1,
       .verdict = "drift",
       .reasons = {"policy.file"},
       .evidence = "no DevState.ini or SysSecurity.ini"},
      // As Windows reads back what policy write set: protected, inheritance flags, owner SYSTEM.
      {.name = "policy file with the trusted DACL",
       .policyDacl = "O:SYD:PAI(A;;FA;;;SY)(A;;FA;;;BA)",
       .reasons = {},
       .evidence = "ok          policy.dacl: only SYSTEM and Administrators may open it"},
      {.name = "policy file open to Users (the system folder's inherited DACL)",
       .policyDacl = platform::sim::SimFiles::kInheritedFileSecurity,
       .exitCode = 1,
       .verdict = "drift",
       .reasons = {"policy.dacl"},
       .evidence = "can also be opened by Users (read, execute)"},
      // Wine reads back its default descriptor whatever was set: not a claim either way.
      {.name = "file DACLs not kept (Wine)",
       .policyDacl = platform::sim::SimFiles::kInheritedFileSecurity,
       .daclsKept = false,
       .exitCode = 2,
       .verdict = "cannot tell",
       .reasons = {"policy.dacl"},
       .evidence = "cannot tell policy.dacl: Wine does not keep file DACLs"},
      {.name = "service security open to interactive users",
       .sddl = u"D:(A;;CCLCSWRPWPDTLOCRRC;;;SY)(A;;CCLCSWLOCRRC;;;IU)",
       .exitCode = 1,
       .verdict = "drift",
       .reasons = {"service.security"},
       .evidence = "also granted to IU"},
      {.name = "empty DACL read back (Wine)",
       .sddl = u"D:",
       .exitCode = 2,
       .verdict = "cannot tell",
       .reasons = {"service.security"},
       .evidence = "cannot be read back"},
      {.name = "locks not enforced (Wine): an open volume does not show its lock",
       .eLocked = false,
       .locksEnforced = false,
       .exitCode = 2,
       .verdict = "cannot tell",
       .reasons = {"volume.E"},
       .evidence = "cannot see the lock"},
      // A handle that dismounted E: is still open: nothing on it opens, though no lock holds it.
      {.name = "dismounted and held",
       .eLocked = false,
       .openError = 21,
       .reasons = {},
       .evidence = "volume.E: E: a removable drive, to be held locked and dismounted (removable "
                   "lock on); dismounted and held, not locked: an open fails (text of 21 (21))"},
      {.name = "service missing",
       .queryError = kErrorServiceDoesNotExist,
       .exitCode = 2,
       .verdict = "cannot tell",
       .reasons = {"service.installed", "policy.file", "volume.E", "volume.F", "writeProtection",
                   "portableDevice.0"},
       .evidence = "service missing: text of 1060 (1060)"},
      {.name = "not an administrator",
       .adminError = kErrorAccessDenied,
       .exitCode = 2,
       .verdict = "cannot tell",
       .reasons = {"administrator"},
       .evidence = "not run as an administrator: text of 5 (5)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    Arrange(c);
    EXPECT_EQ(Run({"check"}), c.exitCode) << out.str();
    EXPECT_NE(out.str().find(c.evidence), std::string::npos) << out.str();
    EXPECT_EQ(out.str().rfind(std::string("Tarvel Service check: ") + c.verdict, 0), 0u);
    EXPECT_EQ(Run({"check", "--json"}), c.exitCode);
    const std::string json = out.str();
    EXPECT_NE(json.find(std::string("\"verdict\": \"") + c.verdict + "\""), std::string::npos);
    EXPECT_NE(json.find("\"exitCode\": " + std::to_string(c.exitCode)), std::string::npos);
    EXPECT_NE(json.find(ReasonsJson(c.reasons)), std::string::npos) << json;
    held = platform::kNullHandle;
  }
}

TEST_F(CheckToolTest, JsonFactsOfACompliantMachine) {
  Arrange({.name = "compliant", .reasons = {}});
  ASSERT_EQ(Run({"check", "--json"}), 0) << out.str();
  const std::string json = out.str();
  for (const char* fact :
       {"\"ownProcess\": true", "\"automaticStart\": true", "\"recoverySet\": true",
        "\"daclLimited\": true", "\"machine\": \"x64\"", "\"decrypts\": true",
        "\"state\": \"truefalse\"", "\"othersCanOpen\": []", "\"removable\": true",
        "\"removable\": \"on\"", "\"optical\": \"off\"", "\"letter\": \"E:\"",
        "\"observed\": \"locked\"", "\"kind\": \"internal\"", "\"tagFirstCharacter\": \"0\"",
        "\"agree\": true", "\"required\": \"disabled\"", "\"state\": \"disabled\""}) {
    EXPECT_NE(json.find(fact), std::string::npos) << fact << "\n" << json;
  }
  // The network drive is listed, never opened.
  EXPECT_NE(json.find("\"observed\": \"not the service's\""), std::string::npos);
  EXPECT_TRUE(machine->volumes.HandlesOn('G').empty());
}

// What each fleet tool reads: the exit code and the first line, for a compliant machine, a
// drift, a stopped service and a check that cannot start (text and JSON: the table above);
// standard error stays empty except where a Win32 app is not detected.
TEST_F(CheckToolTest, EachFormatsExitCodeAndFirstLine) {
  const Case compliant{.name = "compliant"};
  const Case drift{.name = "E: released", .eLocked = false, .wpdDisabled = false};
  const Case stopped{.name = "stopped", .eLocked = false, .state = kServiceStopped};
  const Case missing{.name = "no service", .queryError = kErrorServiceDoesNotExist};
  const std::string exe = platform::ToUtf8(ExecutableFromCommandLine(host->services.commandLine));
  const std::string detected = "Tarvel Service detected: running, process 42; " + exe +
                               " (x64): it reads its files in " +
                               JoinLocalPath(dir.string(), "System32");
  const std::string unknownIds =
      "service.installed policy.file volume.E volume.F writeProtection portableDevice.0";
  const struct {
    const Case* arrange;
    const char* format;
    int exitCode;
    std::string firstLine;  // empty: nothing on standard output
  } rows[] = {
      {&compliant, "intune", 0, "compliant"},
      {&compliant, "intune-app", 0, detected},
      {&compliant, "configmgr", 0, "Compliant"},
      {&drift, "intune", 1, "drift: volume.E"},
      {&drift, "intune-app", 0, detected},
      {&drift, "configmgr", 0, "NonCompliant: volume.E"},
      {&stopped, "intune", 1, "drift: service.running volume.E"},
      {&stopped, "intune-app", 1, ""},
      {&stopped, "configmgr", 0, "NonCompliant: service.running volume.E"},
      {&missing, "intune", 1, "cannot tell: " + unknownIds},
      {&missing, "intune-app", 1, ""},
      {&missing, "configmgr", 0, "Unknown: " + unknownIds},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.arrange->name) + " --format " + row.format);
    TearDown();
    SetUp();
    Arrange(*row.arrange);
    EXPECT_EQ(Run({"check", "--format", row.format}), row.exitCode) << out.str() << err.str();
    const std::string text = out.str();
    EXPECT_EQ(text.substr(0, text.find('\n')), row.firstLine);
    EXPECT_EQ(err.str().empty(), row.exitCode == 0 || std::string(row.format) != "intune-app");
    held = platform::kNullHandle;
  }
  // An app detection asks nothing of the volumes.
  const std::size_t ioctls = machine->volumes.Ioctls().size();
  Run({"check", "--format", "intune-app"});
  EXPECT_EQ(machine->volumes.Ioctls().size(), ioctls);
  EXPECT_GE(Run({"check", "--json", "--format", "text"}), 100);
  EXPECT_GE(Run({"check", "--format", "xml"}), 100);
}

// Intune shows the first 2,048 characters of a detection's output: the verdict line stays
// short and whole, and the items that follow stop before the limit.
TEST(CheckFormatTest, IntuneOutputStaysWithinTheReportColumn) {
  CheckReport report;
  report.exitCode = kCheckDrift;
  report.verdict = "drift";
  for (int i = 0; i < 60; ++i) {
    const std::string id = "volume." + std::to_string(i);
    report.items.push_back({"Volumes", id, CheckResult::kDrift, std::string(80, 'x')});
    report.reasons.push_back(id);
  }
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(WriteCheckReport(report, CheckFormat::kIntune, out, err), 1);
  const std::string text = out.str();
  EXPECT_LE(text.size(), kIntuneOutputLimit);
  const std::string first = text.substr(0, text.find('\n'));
  EXPECT_EQ(first.rfind("drift: volume.0 volume.1 ", 0), 0u) << first;
  EXPECT_NE(first.find(" more)"), std::string::npos) << first;
  EXPECT_LE(first.size(), 200u);
  EXPECT_EQ(text.substr(text.size() - 4), "...\n");
}

// The device behind a volume the check opens, in the text and the JSON; --no-serials leaves its
// serial unread; a locked volume refuses the open that would read it.
TEST_F(CheckToolTest, VolumesNameTheDeviceBehindThem) {
  Arrange({.name = "E: open", .eLocked = false, .wpdDisabled = false});
  const std::string line =
      "              device: USB \"SanDisk\" \"Cruzer Blade\", serial \"4C530001\"\n";
  EXPECT_EQ(Run({"check"}), 1);
  EXPECT_NE(out.str().find("not locked: an open succeeds\n" + line), std::string::npos)
      << out.str();
  EXPECT_EQ(Run({"check", "--json"}), 1);
  for (const char* fact : {"\"bus\": \"USB\"", "\"vendor\": \"SanDisk\"",
                           "\"product\": \"Cruzer Blade\"", "\"serial\": \"4C530001\""}) {
    EXPECT_NE(out.str().find(fact), std::string::npos) << fact;
  }
  for (const char* format : {"text", "json"}) {
    EXPECT_EQ(Run({"check", "--no-serials", "--format", format}), 1);
    EXPECT_EQ(out.str().find("4C530001"), std::string::npos) << out.str();
  }
  EXPECT_NE(out.str().find("\"serial\": null"), std::string::npos);
  Run({"check", "--no-serials"});
  EXPECT_NE(out.str().find("\"Cruzer Blade\", serial not collected (--no-serials)"),
            std::string::npos);

  held = guard::OpenVolume(u"\\\\.\\E:");
  ASSERT_TRUE(guard::DismountVolume(held) && guard::LockVolume(held));
  Run({"check"});
  EXPECT_NE(out.str().find("held locked: an open is refused (text of 5 (5))\n"
                           "              device: not read: the volume does not open\n"),
            std::string::npos)
      << out.str();

  // A volume without a letter is listed by its volume path and folder; a hot-pluggable NVMe disk
  // says why it is removable kind.
  platform::sim::SimDrive stick{platform::kDriveRemovable, true};
  stick.mountPoints = {u"C:\\mnt\\stick\\"};
  machine->volumes.AddLetterlessVolume("stick", stick);
  platform::sim::SimDrive nvme{platform::kDriveFixed, true};
  nvme.busType = platform::kBusTypeNvme;
  nvme.deviceHotplug = true;
  machine->volumes.SetDrive('T', nvme);
  Run({"check"});
  for (const char* text :
       {"volume.stick", "\\\\?\\Volume{stick}\\ (in C:\\mnt\\stick\\) a removable drive",
        "T: a fixed disk that does not answer the ATA probe, on an internal bus (type 17), and its "
        "device is hot-pluggable (DeviceHotplug)"}) {
    EXPECT_NE(out.str().find(text), std::string::npos) << text << "\n" << out.str();
  }
  Run({"check", "--json"});
  EXPECT_NE(out.str().find("\"mountPoints\": [\n        \"C:\\\\mnt\\\\stick\\\\\"\n      ]"),
            std::string::npos)
      << out.str();
}

// Repair on the simulated machine, with a service that locks E: when it starts and on code
// 128: what it mends, what it asks of the Service Control Manager, and what it leaves alone.
TEST_F(CheckToolTest, RepairMendsWhatItCanAndNamesWhatItCannot) {
  const std::vector<std::string> configure = {"SetDescription", "SetRecovery", "SetSecurity"};
  auto with = [&](std::vector<std::string> more) {
    std::vector<std::string> calls = configure;
    calls.insert(calls.end(), more.begin(), more.end());
    return calls;
  };
  const struct {
    Case arrange;
    std::vector<std::string> calls;
    int exitCode;
    const char* output;
  } rows[] = {
      {{.name = "stopped service", .eLocked = false, .state = kServiceStopped},
       with({"Start"}),
       0,
       "Tarvel Service is running."},
      // Code 129 released E:; the devices stay disabled (the poll has not run yet).
      {{.name = "removable lock switched off by code 129", .eLocked = false},
       with({"Control 128", "Control 131"}),
       0,
       "Sent code 128 (removable lock on)"},
      {{.name = "policy file open to Users",
        .policyDacl = platform::sim::SimFiles::kInheritedFileSecurity},
       with({"Control 128", "Control 131"}),
       0,
       "Files: secured DevState.ini, ReadTag.ini in "},
      {{.name = "no service", .queryError = kErrorServiceDoesNotExist},
       {},
       2,
       "Repair: nothing changed; this needs an administrator's hand:\n"
       "  service.installed: service missing: text of 1060 (1060)\n"},
      {{.name = "no policy file", .policy = PolicyKind::kNone, .eLocked = false},
       {},
       1,
       "  policy.file: no DevState.ini or SysSecurity.ini in "},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.arrange.name);
    TearDown();
    SetUp();
    Arrange(row.arrange);
    host->services.service = [this](std::uint32_t code) {
      if (code != 0 && code != kControlRemovableLockOn) return;
      held = guard::OpenVolume(u"\\\\.\\E:");
      guard::DismountVolume(held);
      guard::LockVolume(held);
    };
    const std::string policyPath = (dir / "System32" / "DevState.ini").string();
    std::string error;
    const auto policyBefore = ReadLocalFile(policyPath, &error);
    const std::string daclBefore = machine->files.FileSecurity(platform::FromUtf8(policyPath));
    EXPECT_EQ(Run({"repair"}), row.exitCode) << out.str() << err.str();
    EXPECT_NE(out.str().find(row.output), std::string::npos) << out.str();
    EXPECT_EQ(host->services.calls, row.calls);
    EXPECT_EQ(ReadLocalFile(policyPath, &error), policyBefore) << "repair wrote the policy file";
    if (row.calls.empty()) {
      EXPECT_EQ(machine->files.FileSecurity(platform::FromUtf8(policyPath)), daclBefore);
    } else {
      EXPECT_NE(out.str().find("Tarvel Service check: compliant (exit 0)"), std::string::npos);
    }
    held = platform::kNullHandle;
  }
}

TEST(JsonTest, StringsAreEscapedToAscii) {
  const struct {
    std::string in;
    const char* out;
  } rows[] = {
      {"plain", "\"plain\""},
      {"a\"b\\c", "\"a\\\"b\\\\c\""},
      {"C:\\windows\\system32\\", "\"C:\\\\windows\\\\system32\\\\\""},
      {"line\nnext\ttab\r", "\"line\\nnext\\ttab\\r\""},
      {std::string("nul\0x", 5), "\"nul\\u0000x\""},
      {"\x1f\x7f", "\"\\u001f\\u007f\""},
      {"\xC3\xA9quipement", "\"\\u00e9quipement\""},
      {"\xF0\x9F\x98\x80", "\"\\ud83d\\ude00\""},
      {"bad \xC3 byte", "\"bad \\ufffd byte\""},
      {"overlong \xC0\xAF", "\"overlong \\ufffd\\ufffd\""},
      {"surrogate \xED\xA0\x80", "\"surrogate \\ufffd\\ufffd\\ufffd\""},
      {"cut \xE2\x82", "\"cut \\ufffd\\ufffd\""},
  };
  for (const auto& r : rows) EXPECT_EQ(JsonQuote(r.in), r.out) << r.out;
  Json doc = Json::Object().Set("a", Json::Array().Push(1).Push(nullptr)).Set("b", true);
  doc.Set("a", "replaced");
  EXPECT_EQ(doc.Dump(), "{\n  \"a\": \"replaced\",\n  \"b\": true\n}");
}

TEST(ServiceDaclTest, ReadBackEntriesAndRights) {
  ParsedDacl d = ParseDacl(BuildServiceSddl(ServiceGrants()));
  ASSERT_TRUE(d.valid);
  ASSERT_EQ(d.entries.size(), 3u);
  EXPECT_EQ(d.entries[2].trustee, "AU");
  EXPECT_EQ(d.entries[2].rights, kServiceReadRights);

  d = ParseDacl("D:P(A;;GA;;;S-1-5-18)(D;;RP;;;WD)(A;;0x130;;;S-1-5-32-544)(A;;GX;;;BU)");
  ASSERT_TRUE(d.valid);
  ASSERT_EQ(d.entries.size(), 4u);
  EXPECT_EQ(d.entries[0].trustee, "SY");
  EXPECT_FALSE(d.entries[1].allow);
  EXPECT_EQ(d.entries[2].trustee, "BA");
  EXPECT_EQ(d.entries[2].rights, kServiceStart | kServiceStop | kServiceUserDefinedControl);
  EXPECT_NE(d.entries[3].rights & kServiceUserDefinedControl, 0u);

  EXPECT_TRUE(ParseDacl("D:NO_ACCESS_CONTROL").nullDacl);
  EXPECT_TRUE(ParseDacl("D:").valid);
  EXPECT_TRUE(ParseDacl("D:").entries.empty());
  EXPECT_FALSE(ParseDacl("D:(A;;QQ;;;SY)").valid);
  EXPECT_FALSE(ParseDacl("D:(A;;RP;;").valid);
  EXPECT_FALSE(ParseDacl("O:BA").valid);
}

}  // namespace
}  // namespace tarvelctl

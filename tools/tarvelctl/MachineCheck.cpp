// `check`: whether this machine enforces its policy, item by item, with the evidence.
#include "tools/tarvelctl/MachineCheck.h"

#include <algorithm>
#include <optional>

#include "enforcement/DwordReg.h"
#include "enforcement/PolicyPoll.h"
#include "guard/DriveKind.h"
#include "guard/VolumeControl.h"
#include "platform/Devices.h"
#include "platform/Files.h"
#include "platform/Platform.h"
#include "platform/Text.h"
#include "platform/Threads.h"
#include "platform/UniqueHandle.h"
#include "platform/Volumes.h"
#include "tools/tarvelctl/FileSecurity.h"
#include "tools/tarvelctl/LocalFiles.h"
#include "tools/tarvelctl/PeImage.h"
#include "tools/tarvelctl/PolicyInspector.h"
#include "tools/tarvelctl/ServiceManager.h"
#include "tools/tarvelctl/ServiceSecurity.h"
#include "tools/tarvelctl/ServiceText.h"
#include "tools/tarvelctl/TagCommands.h"

namespace tarvelctl {

namespace {

constexpr std::uint32_t kOwnProcess = 0x10;
constexpr std::uint32_t kInteractiveProcess = 0x100;
constexpr std::uint32_t kAutoStart = 2;
constexpr std::uint32_t kActionRestart = 1;
/// The poll corrects WriteProtect within a second: a difference is looked at again after this.
constexpr std::uint32_t kWriteProtectSettleMs = 1500;

constexpr char kService[] = "Service";
constexpr char kPolicy[] = "Policy";
constexpr char kVolumes[] = "Volumes";
constexpr char kWriteProtection[] = "Write protection";
constexpr char kDevices[] = "Portable devices";

std::string Utf8(const std::u16string& text) {
  return platform::ToUtf8(text);
}

std::string OnOff(bool on) {
  return on ? "on" : "off";
}

const char* DriveTypeName(std::uint32_t type) {
  switch (type) {
    case platform::kDriveRemovable:
      return "removable";
    case platform::kDriveFixed:
      return "fixed";
    case platform::kDriveRemote:
      return "remote";
    case platform::kDriveCdrom:
      return "cdrom";
    case platform::kDriveRamdisk:
      return "ramdisk";
    default:
      return "unknown";
  }
}

// The kind the service's passes give a drive letter, and why.
struct VolumeKind {
  std::string kind;  // "removable", "optical", "internal", "none"
  std::string why;
};

// The guard's own sorting of the letter (drive type, ATA probe, bus query), in words.
VolumeKind KindOf(int letter) {
  guard::DriveFacts facts = guard::InspectDrive(letter);
  const bool disk = facts.type == platform::kDriveFixed || facts.type == platform::kDriveRamdisk;
  std::string why;
  if (facts.type == platform::kDriveCdrom) {
    why = "a CD-ROM drive";
  } else if (facts.type == platform::kDriveRemovable) {
    why = "a removable drive";
  } else if (disk) {
    why = facts.type == platform::kDriveFixed ? "a fixed disk" : "a RAM disk";
    if (!facts.opened) {
      why += " whose volume does not open for the probe";
    } else if (facts.answersAta) {
      why += " that answers the ATA probe";
    } else if (facts.type == platform::kDriveRamdisk) {
      why += " that does not answer the ATA probe";
    } else if (!facts.bus.answered) {
      why += " that does not answer the ATA probe nor the bus query";
    } else {
      why += " that does not answer the ATA probe, on " +
             std::string(guard::IsExternalBus(facts.bus) ? "an external" : "an internal") +
             " bus (type " + std::to_string(facts.bus.busType) + ")";
    }
  } else if (facts.type == platform::kDriveRemote) {
    why = "a network drive, which the service never touches";
  } else {
    why = "a drive type the service does not handle";
  }
  switch (facts.kind) {
    case guard::DriveKind::kOptical:
      return {"optical", why};
    case guard::DriveKind::kRemovable:
      return {"removable", why};
    case guard::DriveKind::kNeither:
      break;
  }
  return {disk ? "internal" : "none", why};
}

class Checker {
 public:
  explicit Checker(Host& host) : host_(host), services_(host.Services()) {}

  CheckReport Run() {
    CheckAdministrator();
    CheckService();
    CheckPolicy();
    CheckVolumes();
    InferLiveFlags();
    CheckWriteProtection();
    CheckPortableDevices();
    Decide();
    return std::move(report_);
  }

 private:
  void Add(const char* section, const std::string& id, CheckResult result,
           const std::string& text) {
    report_.items.push_back({section, id, result, text});
  }

  std::string ErrorText(std::uint32_t code) {
    std::string text = services_ != nullptr ? services_->ErrorText(code) : "error";
    return text + " (" + std::to_string(code) + ")";
  }

  void CheckAdministrator() {
    std::uint32_t error = host_.AdministratorError();
    if (error == 0) return;
    report_.cannotStart = true;
    Add(kService, "administrator", CheckResult::kUnknown,
        "not run as an administrator: " + ErrorText(error) +
            "; run tarvelctl check from an elevated prompt or as SYSTEM");
  }

  void CheckService() {
    Json facts = Json::Object();
    if (services_ == nullptr) {
      report_.cannotStart = true;
      Add(kService, "service.installed", CheckResult::kUnknown,
          "this build has no Service Control Manager to ask; the Windows build has");
      facts.Set("installed", nullptr);
      report_.facts.Set("service", facts);
      return;
    }
    ServiceStatusInfo status;
    std::uint32_t error = services_->Query(&status);
    if (error != 0) {
      report_.cannotStart = true;
      const bool missing = error == kErrorServiceDoesNotExist;
      facts.Set("installed", missing ? Json(false) : Json());
      Add(kService, "service.installed", CheckResult::kUnknown,
          (missing ? "service missing: " : "cannot open the service: ") + ErrorText(error));
      report_.facts.Set("service", facts);
      return;
    }
    facts.Set("installed", true);
    running_ = status.state == kServiceRunning;
    facts.Set("state", StateName(status.state));
    facts.Set("running", running_);
    facts.Set("processId", status.processId);
    Add(kService, "service.running", running_ ? CheckResult::kOk : CheckResult::kDrift,
        running_ ? "running, process " + std::to_string(status.processId)
                 : "not running: " + StateName(status.state));

    ServiceConfigInfo config;
    error = services_->QueryConfig(&config);
    if (error != 0) {
      Add(kService, "service.configuration", CheckResult::kUnknown,
          "cannot read the configuration: " + ErrorText(error));
    } else {
      const bool own = (config.serviceType & ~kInteractiveProcess) == kOwnProcess;
      facts.Set("serviceType", config.serviceType).Set("ownProcess", own);
      Add(kService, "service.ownProcess", own ? CheckResult::kOk : CheckResult::kDrift,
          (own ? "own process" : "not an own-process service") + std::string(" (type 0x") +
              Hex(config.serviceType) + ")");
      const bool automatic = config.startType == kAutoStart;
      facts.Set("startType", config.startType).Set("automaticStart", automatic);
      Add(kService, "service.automaticStart", automatic ? CheckResult::kOk : CheckResult::kDrift,
          automatic ? "automatic start (start type 2)"
                    : "start type " + std::to_string(config.startType) +
                          ", not automatic (2): it does not start with Windows");
      CheckExecutable(config.commandLine, facts);
    }
    CheckRecovery(facts);
    CheckSecurity(facts);
    report_.facts.Set("service", facts);
  }

  static std::string Hex(std::uint32_t v) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    do {
      text.insert(text.begin(), kDigits[v & 0xF]);
      v >>= 4;
    } while (v != 0);
    return text;
  }

  void CheckExecutable(const std::u16string& commandLine, Json& facts) {
    std::optional<WindowsLayout> layout = host_.Layout();
    if (!layout) {
      Add(kService, "service.executable", CheckResult::kUnknown,
          "this build cannot tell where Windows keeps its folders");
      return;
    }
    ServiceFolder folder = LocateServiceFolder(commandLine, *services_, *layout);
    facts.Set("executable", folder.executable);
    facts.Set("executablePresent", folder.machine.has_value());
    facts.Set("machine", folder.machine ? Json(MachineName(*folder.machine)) : Json());
    facts.Set("systemDirectory", folder.directory ? Json(*folder.directory) : Json());
    if (!folder.directory) {
      Add(kService, "service.executable",
          folder.machine ? CheckResult::kUnknown : CheckResult::kDrift, folder.problem);
      return;
    }
    directory_ = folder.directory;
    Add(kService, "service.executable", CheckResult::kOk,
        folder.executable + " (" + MachineName(*folder.machine) + "): it reads its files in " +
            *directory_);
  }

  void CheckRecovery(Json& facts) {
    RecoveryState recovery;
    std::uint32_t error = services_->QueryRecovery(&recovery);
    if (error != 0) {
      facts.Set("recoverySet", nullptr);
      Add(kService, "service.recovery", CheckResult::kUnknown,
          "cannot read the recovery options: " + ErrorText(error));
      return;
    }
    Json actions = Json::Array();
    std::string text;
    bool restarts = !recovery.actions.empty();
    for (const RecoveryAction& a : recovery.actions) {
      actions.Push(Json::Object().Set("type", a.type).Set("delayMs", a.delayMs));
      if (a.type != kActionRestart) restarts = false;
      text += (text.empty() ? "" : ", ") +
              (a.type == kActionRestart ? "restart after " + std::to_string(a.delayMs / 1000) + " s"
                                        : "action " + std::to_string(a.type));
    }
    facts.Set("recovery",
              Json::Object().Set("resetSeconds", recovery.resetSeconds).Set("actions", actions));
    facts.Set("recoverySet", restarts);
    Add(kService, "service.recovery", restarts ? CheckResult::kOk : CheckResult::kDrift,
        restarts                   ? "on failure: " + text
        : recovery.actions.empty() ? "no recovery actions: a service that fails stays stopped"
                                   : "not every failure restarts it: " + text);
  }

  void CheckSecurity(Json& facts) {
    std::u16string sddl16;
    std::uint32_t error = services_->QuerySecurity(&sddl16);
    if (error != 0) {
      facts.Set("dacl", nullptr).Set("daclLimited", nullptr);
      Add(kService, "service.security", CheckResult::kUnknown,
          "cannot read the security descriptor: " + ErrorText(error));
      return;
    }
    const std::string sddl = Utf8(sddl16);
    facts.Set("dacl", sddl);
    ParsedDacl dacl = ParseDacl(sddl);
    if (!dacl.valid || (!dacl.nullDacl && dacl.entries.empty())) {
      // Wine returns an empty DACL whatever was set; on Windows an empty DACL would lock
      // everyone out, the administrators who set it included. Either way it shows nothing.
      facts.Set("daclLimited", nullptr);
      Add(kService, "service.security", CheckResult::kUnknown,
          "the security descriptor cannot be read back: the system returned \"" + sddl +
              "\", which names no one");
      return;
    }
    constexpr std::uint32_t kOperate = kServiceStart | kServiceStop | kServiceUserDefinedControl;
    std::string others;
    for (const DaclEntry& e : dacl.entries) {
      if (!e.allow || (e.rights & kOperate) == 0 || e.trustee == "SY" || e.trustee == "BA")
        continue;
      others += (others.empty() ? "" : ", ") + e.trustee;
    }
    if (dacl.nullDacl) others = "everyone (no DACL)";
    facts.Set("daclLimited", others.empty());
    Add(kService, "service.security", others.empty() ? CheckResult::kOk : CheckResult::kDrift,
        others.empty()
            ? "start, stop and codes 128-255: SYSTEM and Administrators only (" + sddl + ")"
            : "start, stop or codes 128-255 also granted to " + others + " (" + sddl + ")");
  }

  // The policy file the service reads at start: its content decides the start-up flags.
  void CheckPolicy() {
    Json facts = Json::Object();
    if (!directory_) {
      Add(kPolicy, "policy.file", CheckResult::kUnknown,
          "the system folder the service reads is not known (see service.executable)");
      report_.facts.Set("policy", facts);
      return;
    }
    const std::string dev = JoinLocalPath(*directory_, "DevState.ini");
    const std::string sys = JoinLocalPath(*directory_, "SysSecurity.ini");
    std::optional<std::u16string> devPath = Stage(dev, facts);
    std::optional<std::u16string> sysPath = devPath ? Stage(sys, facts) : std::nullopt;
    if (!devPath || !sysPath) {
      report_.facts.Set("policy", facts);
      return;
    }
    StartupPolicy policy = InspectStartupPolicy(*devPath, *sysPath);
    const std::string file = policy.file == 1 ? dev : policy.file == 2 ? sys : "";
    facts.Set("file", policy.file == 0 ? Json() : Json(file));
    facts.Set("complete", policy.complete);
    facts.Set("decrypts", policy.state.has_value());
    facts.Set("state", policy.state ? Json(Utf8(*policy.state)) : Json());
    // A State that cannot be decrypted leaves the guard's flags as they were created: clear.
    startupFlags_ = policy.locks;
    facts.Set("startupFlags", Json::Object()
                                  .Set("removable", policy.locks.removable)
                                  .Set("optical", policy.locks.optical));
    report_.facts.Set("policy", facts);
    if (policy.file == 0) {
      Add(kPolicy, "policy.file", CheckResult::kDrift,
          "no DevState.ini or SysSecurity.ini in " + *directory_ +
              ": the service starts with both locks off");
      return;
    }
    Add(kPolicy, "policy.file", CheckResult::kOk,
        "the service reads " + file + " at start" +
            (policy.complete ? "" : " (incomplete: a count is missing or 0)"));
    CheckPolicyDacl(file, facts);
    report_.facts.Set("policy", facts);
    if (!policy.state) {
      Add(kPolicy, "policy.decrypts", CheckResult::kDrift,
          "the State value does not decrypt: the service starts with both locks off");
      return;
    }
    Add(kPolicy, "policy.decrypts", CheckResult::kOk,
        "State \"" + Utf8(*policy.state) + "\": start-up flags removable " +
            OnOff(policy.locks.removable) + ", optical " + OnOff(policy.locks.optical) +
            " (what the file gives; control codes 128-131 can change them while it runs)");
  }

  // Who besides SYSTEM and the Administrators may open the policy file: whoever holds it open
  // when the service starts makes it read the file as missing, and start with its locks off.
  void CheckPolicyDacl(const std::string& file, Json& facts) {
    std::string error;
    std::optional<std::u16string> sddl = ReadFileSddl(host_.FileSecurity(), file, &error);
    facts.Set("dacl", sddl ? Json(Utf8(*sddl)) : Json());
    facts.Set("othersCanOpen", nullptr);
    if (!sddl) {
      Add(kPolicy, "policy.dacl", CheckResult::kUnknown, error);
      return;
    }
    if (!host_.FileDaclsKept()) {
      // Wine workaround: it returns its default descriptor whatever was set, which would
      // always read as open to Everyone.
      Add(kPolicy, "policy.dacl", CheckResult::kUnknown,
          "Wine does not keep file DACLs: it returns \"" + Utf8(*sddl) +
              "\" whatever was set, so who may open " + file + " is not known");
      return;
    }
    std::optional<std::vector<FileOpener>> others = OthersWhoCanOpen(*sddl);
    if (!others) {
      Add(kPolicy, "policy.dacl", CheckResult::kUnknown,
          "cannot make out who may open " + file + ": \"" + Utf8(*sddl) + "\"");
      return;
    }
    Json openers = Json::Array();
    for (const FileOpener& o : *others) {
      openers.Push(
          Json::Object().Set("trustee", o.trustee).Set("name", o.name).Set("rights", o.rights));
    }
    facts.Set("othersCanOpen", openers);
    if (others->empty()) {
      Add(kPolicy, "policy.dacl", CheckResult::kOk,
          "only SYSTEM and Administrators may open it (" + Utf8(*sddl) + ")");
      return;
    }
    Add(kPolicy, "policy.dacl", CheckResult::kDrift,
        "can also be opened by " + DescribeOpeners(*others) +
            ": whoever holds it open when the service starts makes it start with both locks "
            "off; `tarvelctl install --configure-only` secures it (" +
            Utf8(*sddl) + ")");
  }

  // Makes a local file readable through the installed platform; nullopt after an item that
  // says why it cannot be read. A missing file is passed on as a path that does not exist.
  std::optional<std::u16string> Stage(const std::string& path, Json& facts) {
    if (!LocalFileExists(path)) return platform::FromUtf8(path);
    std::string problem;
    std::optional<std::vector<std::uint8_t>> bytes = ReadLocalFile(path, &problem);
    if (!bytes) {
      // The Windows error of an open as the service makes it (the Win32 host stages the path
      // itself, so the open meets the real file).
      std::u16string staged = host_.Stage(path, {});
      platform::Files& files = *platform::Current().files;
      platform::UniqueFileHandle h(files.CreateFileW(staged.c_str(), platform::kGenericRead, 0,
                                                     platform::kOpenExisting,
                                                     platform::kFileAttributeNormal));
      std::uint32_t error = h.valid() ? 0 : platform::Current().threads->GetLastError();
      facts.Set("file", path).Set("readable", false);
      Add(kPolicy, "policy.file", CheckResult::kUnknown,
          "file unreadable: " + problem + (error != 0 ? ": " + ErrorText(error) : ""));
      return std::nullopt;
    }
    return host_.Stage(path, *bytes);
  }

  // Each drive letter in use, its kind and whether its lock is as the start-up flags require,
  // told from an open of the volume: while another handle holds a volume's lock, Windows
  // refuses every further open of it.
  void CheckVolumes() {
    Json volumes = Json::Array();
    platform::Volumes& v = *platform::Current().volumes;
    for (int i = 0; i < guard::kDriveCount; ++i) {
      const char16_t* root = guard::DriveLetters[i];
      std::uint32_t type = v.GetDriveTypeW(root);
      if (type == platform::kDriveUnknown || type == platform::kDriveNoRootDir) continue;
      const std::string letter(1, static_cast<char>('A' + i));
      VolumeKind kind = KindOf(i);
      Json facts = Json::Object()
                       .Set("letter", letter + ":")
                       .Set("type", DriveTypeName(type))
                       .Set("typeCode", type)
                       .Set("kind", kind.kind);
      std::optional<bool> lockRequired;
      if (kind.kind == "removable" && startupFlags_) lockRequired = startupFlags_->removable;
      if (kind.kind == "optical" && startupFlags_) lockRequired = startupFlags_->optical;
      if (kind.kind == "internal" || kind.kind == "none") lockRequired = false;
      facts.Set("lockRequired", lockRequired ? Json(*lockRequired) : Json());

      std::string observed;
      std::string evidence;
      CheckResult result = CheckResult::kOk;
      if (kind.kind == "internal" || kind.kind == "none") {
        observed = "not the service's";
        evidence = letter + ": " + kind.why + ": never locked";
      } else {
        ObserveLock(letter, kind, lockRequired, &observed, &evidence, &result);
      }
      facts.Set("observed", observed).Set("result", CheckResultName(result));
      volumes.Push(facts);
      Add(kVolumes, "volume." + letter, result, evidence);
    }
    report_.facts.Set("volumes", volumes);
  }

  void ObserveLock(const std::string& letter, const VolumeKind& kind,
                   std::optional<bool> lockRequired, std::string* observed, std::string* evidence,
                   CheckResult* result) {
    char16_t path[guard::kVolumePathSize];
    guard::InitVolumePath(path);
    guard::AppendDriveLetter(path, letter[0] - 'A');
    platform::UniqueFileHandle h(guard::OpenVolume(path));
    const std::uint32_t error = h.valid() ? 0 : platform::Current().threads->GetLastError();
    h.reset();
    const std::string what = letter + ": " + kind.why + ", ";
    const std::string need =
        !lockRequired ? "what the policy asks is not known"
        : *lockRequired
            ? std::string("to be held locked and dismounted (") + kind.kind + " lock on)"
            : std::string("to be left open (") + kind.kind + " lock off)";
    bool refused =
        error == platform::kErrorAccessDenied || error == platform::kErrorSharingViolation;
    Tally& tally = kind.kind == "optical" ? optical_ : removable_;
    if (error != 0 && !refused) {
      *observed = "unknown";
      *result = CheckResult::kUnknown;
      *evidence = what + need + "; an open fails: " + ErrorText(error);
      return;
    }
    if (refused && !host_.VolumeLocksEnforced()) {
      // Wine workaround: its locks keep no open out, so a refusal there has another cause.
      *observed = "unknown";
      *result = CheckResult::kUnknown;
      *evidence = what + need + "; an open is refused (" + ErrorText(error) +
                  "), which on this system (Wine) is not a lock";
      tally.unseen += letter + ":";
      return;
    }
    if (refused) {
      *observed = "locked";
      tally.locked += letter + ":";
      *result = !lockRequired   ? CheckResult::kUnknown
                : *lockRequired ? CheckResult::kOk
                                : CheckResult::kDrift;
      *evidence = what + need + "; held locked: an open is refused (" + ErrorText(error) + ")";
      return;
    }
    // The open succeeded.
    if (!lockRequired) {
      *observed = "opens";
      *result = CheckResult::kUnknown;
      *evidence = what + need + "; an open succeeds";
      tally.open += letter + ":";
    } else if (!*lockRequired) {
      *observed = "opens";
      *result = CheckResult::kOk;
      *evidence = what + need + "; not locked: an open succeeds";
      tally.open += letter + ":";
    } else if (!running_ && services_ != nullptr && !report_.cannotStart) {
      // The service's handles end with its process, and closing them ends its locks.
      *observed = "opens";
      *result = CheckResult::kDrift;
      *evidence = what + need + "; not locked: the service is not running, and an open succeeds";
      tally.open += letter + ":";
    } else if (!host_.VolumeLocksEnforced()) {
      *observed = "lock not visible";
      *result = CheckResult::kUnknown;
      *evidence = what + need +
                  "; cannot see the lock: an open succeeds, and this system (Wine) accepts volume "
                  "locks without keeping other opens out";
      tally.unseen += letter + ":";
    } else {
      *observed = "opens";
      *result = CheckResult::kDrift;
      *evidence = what + need + "; not locked: an open succeeds";
      tally.open += letter + ":";
    }
  }

  // Control codes can change the flags after start-up and the service cannot be asked: the
  // volumes of a kind, where there are any, tell what the flag is now.
  void InferLiveFlags() {
    Json live = Json::Object();
    std::string text;
    for (auto [name, tally] : {std::pair<const char*, const Tally*>{"removable", &removable_},
                               std::pair<const char*, const Tally*>{"optical", &optical_}}) {
      std::string value;
      if (!tally->unseen.empty()) {
        value = "unknown";
      } else if (tally->locked.empty() && tally->open.empty()) {
        value = "no volume";
      } else if (tally->open.empty()) {
        value = "on";
      } else if (tally->locked.empty()) {
        value = "off";
      } else {
        value = "mixed";
      }
      live.Set(name, value);
      if (tally == &removable_ && (value == "on" || value == "off")) {
        liveRemovable_ = value == "on";
      }
      text += std::string(text.empty() ? "" : ", ") + name + " " + value;
      if (!tally->locked.empty()) text += " (locked " + tally->locked + ")";
      if (!tally->open.empty()) text += " (open " + tally->open + ")";
      if (!tally->unseen.empty()) text += " (not visible " + tally->unseen + ")";
    }
    Json policy = report_.facts.Get("policy");
    policy.Set("liveFlags", live);
    report_.facts.Set("policy", policy);
    Add(kPolicy, "policy.liveFlags", CheckResult::kInfo, "live flags seen on the volumes: " + text);
  }

  void CheckWriteProtection() {
    Json facts = Json::Object();
    std::optional<std::int32_t> desired;
    if (!directory_) {
      Add(kWriteProtection, "writeProtection", CheckResult::kUnknown,
          "the system folder the service reads is not known (see service.executable)");
    } else {
      desired = ReadTag(facts);
    }
    std::int32_t current = ReadWriteProtect();
    if (desired && *desired != current && running_) {
      // The poll may be about to correct it: look again once it has had its second.
      services_->SleepMs(kWriteProtectSettleMs);
      desired = ReadTag(facts);
      current = ReadWriteProtect();
    }
    facts.Set("writeProtect", current);
    facts.Set("agree", desired ? Json(*desired == current) : Json());
    report_.facts.Set("writeProtection", facts);
    desiredWriteProtect_ = desired;
    if (!desired) return;
    const std::string values = "the tag asks for " + std::to_string(*desired) +
                               ", WriteProtect is " + std::to_string(current);
    Add(kWriteProtection, "writeProtection",
        *desired == current ? CheckResult::kOk : CheckResult::kDrift,
        (*desired == current ? "agree: " : "disagree: ") + values);
  }

  // The tag file's first character as the poll reads it; nullopt after an item saying why not.
  std::optional<std::int32_t> ReadTag(Json& facts) {
    const std::string path = JoinLocalPath(*directory_, Utf8(enforcement::kTagFileName));
    facts.Set("tagFile", path);
    std::u16string staged = platform::FromUtf8(path);
    if (LocalFileExists(path)) {
      std::string problem;
      std::optional<std::vector<std::uint8_t>> bytes = ReadLocalFile(path, &problem);
      if (!bytes) {
        Add(kWriteProtection, "writeProtection", CheckResult::kUnknown,
            "tag file unreadable: " + problem);
        return std::nullopt;
      }
      staged = host_.Stage(path, *bytes);
    }
    char16_t text[enforcement::kTagCapacity] = {};
    platform::Current().files->GetPrivateProfileStringW(u"State", u"key", u"0", text,
                                                        enforcement::kTagCapacity, staged.c_str());
    facts.Set("tagFirstCharacter", Utf8(std::u16string(text, text[0] == 0 ? 0 : 1)));
    std::int32_t desired = enforcement::TagDigitValue(text[0]);
    facts.Set("desired", desired);
    return desired;
  }

  static std::int32_t ReadWriteProtect() {
    // The accessor the poll reads it with: made for the one read and deleted right after.
    auto reg = std::make_unique<enforcement::DwordReg>(platform::kHkeyLocalMachine,
                                                       enforcement::kWriteProtectKey,
                                                       enforcement::kWriteProtectValue);
    return static_cast<std::int32_t>(reg->Read());
  }

  // Each present device of the "WPD" class against the poll's rule: disabled while the
  // removable lock is on or the tag asks for write protection (1), enabled otherwise.
  void CheckPortableDevices() {
    Json facts = Json::Object();
    // While the service runs, its poll goes by the flag as it is now; a stopped service's
    // next start goes by the file.
    std::optional<bool> removable = running_ ? liveRemovable_ : std::nullopt;
    if (!removable && startupFlags_) removable = startupFlags_->removable;
    std::optional<bool> disable;
    if (removable && *removable) {
      disable = true;
    } else if (removable && desiredWriteProtect_) {
      disable = *desiredWriteProtect_ == 1;
    }
    facts.Set("required", disable ? Json(*disable ? "disabled" : "enabled") : Json());
    Json devices = Json::Array();
    platform::Devices& d = *platform::Current().devices;
    platform::Guid guids[1] = {};
    std::uint32_t required = 0;
    if (!d.SetupDiClassGuidsFromNameW(u"WPD", guids, 1, &required) || required == 0) {
      facts.Set("classPresent", false).Set("devices", devices);
      report_.facts.Set("portableDevices", facts);
      Add(kDevices, "portableDevices", CheckResult::kOk, "no \"WPD\" setup class: no devices");
      return;
    }
    facts.Set("classPresent", true);
    platform::UniqueDevInfo set(
        d.SetupDiGetClassDevsW(&guids[0], nullptr, platform::kNullHandle, platform::kDigcfPresent));
    if (!set.valid()) {
      std::uint32_t error = platform::Current().threads->GetLastError();
      facts.Set("devices", nullptr);
      report_.facts.Set("portableDevices", facts);
      Add(kDevices, "portableDevices", CheckResult::kUnknown,
          "cannot list the \"WPD\" devices: " + ErrorText(error));
      return;
    }
    const std::string rule =
        !disable   ? "what the poll asks is not known"
        : *disable ? "to be disabled (removable lock on, or the tag asks for write protection)"
                   : "to be enabled (removable lock off, no write protection asked)";
    platform::SpDevinfoData device{};
    device.cbSize = sizeof(platform::SpDevinfoData);
    std::uint32_t count = 0;
    for (std::uint32_t index = 0; d.SetupDiEnumDeviceInfo(set.get(), index, &device); ++index) {
      ++count;
      std::uint32_t status = 0;
      std::uint32_t problem = 0;
      std::uint32_t cr = d.CM_Get_DevNode_Status(&status, &problem, device.devInst, 0);
      const std::string id = "portableDevice." + std::to_string(index);
      const std::string name =
          "device " + std::to_string(index) + " (devnode " + std::to_string(device.devInst) + ")";
      Json one = Json::Object().Set("index", index).Set("devInst", device.devInst);
      if (cr != platform::kCrSuccess) {
        one.Set("state", nullptr).Set("result", CheckResultName(CheckResult::kUnknown));
        devices.Push(one);
        Add(kDevices, id, CheckResult::kUnknown,
            name + ": its status cannot be read (CONFIGRET " + std::to_string(cr) + ")");
        continue;
      }
      const bool disabled = problem == platform::kCmProbDisabled;
      CheckResult result = !disable               ? CheckResult::kUnknown
                           : disabled == *disable ? CheckResult::kOk
                                                  : CheckResult::kDrift;
      one.Set("state", disabled ? "disabled" : "enabled").Set("result", CheckResultName(result));
      devices.Push(one);
      Add(kDevices, id, result, name + " is " + (disabled ? "disabled" : "enabled") + "; " + rule);
    }
    facts.Set("devices", devices);
    report_.facts.Set("portableDevices", facts);
    if (count == 0) Add(kDevices, "portableDevices", CheckResult::kOk, "no present \"WPD\" device");
  }

  void Decide() {
    // Items in the order of their sections' first appearance.
    std::vector<std::string> order;
    for (const CheckItem& item : report_.items) {
      if (std::find(order.begin(), order.end(), item.section) == order.end()) {
        order.push_back(item.section);
      }
    }
    std::stable_sort(report_.items.begin(), report_.items.end(),
                     [&](const CheckItem& a, const CheckItem& b) {
                       return std::find(order.begin(), order.end(), a.section) <
                              std::find(order.begin(), order.end(), b.section);
                     });
    std::vector<std::string> drift;
    std::vector<std::string> unknown;
    for (const CheckItem& item : report_.items) {
      if (item.result == CheckResult::kDrift) drift.push_back(item.id);
      if (item.result == CheckResult::kUnknown) unknown.push_back(item.id);
    }
    if (report_.cannotStart) {
      report_.exitCode = kCheckCannotTell;
      report_.verdict = "cannot tell";
      report_.reasons = unknown;
    } else if (!drift.empty()) {
      report_.exitCode = kCheckDrift;
      report_.verdict = "drift";
      report_.reasons = drift;
    } else if (!unknown.empty()) {
      report_.exitCode = kCheckCannotTell;
      report_.verdict = "cannot tell";
      report_.reasons = unknown;
    } else {
      report_.exitCode = kCheckCompliant;
      report_.verdict = "compliant";
    }
  }

  struct Tally {
    std::string locked;
    std::string open;
    std::string unseen;
  };

  Host& host_;
  ServiceManager* services_;
  CheckReport report_;
  bool running_ = false;
  std::optional<std::string> directory_;
  std::optional<LockOutcome> startupFlags_;
  std::optional<bool> liveRemovable_;
  std::optional<std::int32_t> desiredWriteProtect_;
  Tally removable_;
  Tally optical_;
};

}  // namespace

const char* CheckResultName(CheckResult result) {
  switch (result) {
    case CheckResult::kOk:
      return "ok";
    case CheckResult::kDrift:
      return "drift";
    case CheckResult::kUnknown:
      return "cannot tell";
    case CheckResult::kInfo:
      return "info";
  }
  return "?";
}

CheckReport CheckMachine(Host& host) {
  return Checker(host).Run();
}

}  // namespace tarvelctl

// The tool's command line: every command's CLI11 subcommand, its options and their checks, in
// one file (CLI11 is header-only, so each file that builds commands compiles all of it).
#include "tools/tarvelctl/Cli.h"

#include <CLI/CLI.hpp>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "TarvelVersion.h"

#include "platform/Text.h"
#include "tools/tarvelctl/CheckCommand.h"
#include "tools/tarvelctl/DebugLog.h"
#include "tools/tarvelctl/PolicyCommands.h"
#include "tools/tarvelctl/RepairCommand.h"
#include "tools/tarvelctl/ServiceCommands.h"
#include "tools/tarvelctl/ServiceText.h"
#include "tools/tarvelctl/TagCommands.h"

namespace tarvelctl {

namespace {

template <typename Run>
void WithServices(ToolContext& ctx, int* exitCode, Run run) {
  ServiceManager* services = ctx.host.Services();
  if (services == nullptr) {
    ctx.err << "tarvelctl: this build has no Service Control Manager to talk to; the service "
               "commands work in the Windows build\n";
    *exitCode = kExitFailed;
    return;
  }
  *exitCode = run(*services);
}

struct WriteArguments {
  std::string removable;
  std::string optical;
  std::string counter;
  std::string description;
  std::string output;
};

void AddServiceCommands(CLI::App& app, ToolContext& ctx, int* exitCode) {
  auto install = std::make_shared<InstallRequest>();
  auto exe = std::make_shared<std::string>();
  CLI::App* installCmd = app.add_subcommand(
      "install",
      "Install the service: own process, automatic start, restart on failure, and a security "
      "descriptor that lets only SYSTEM and Administrators start, stop or send codes 128-255");
  CLI::Option* exeOption =
      installCmd->add_option("--exe", *exe,
                             std::string("The service's executable (default: ") +
                                 kServiceExecutable + " beside tarvelctl)");
  CLI::Option* configureOnly = installCmd->add_flag(
      "--configure-only", install->configureOnly,
      "Only apply the recovery options and the security descriptor to the registered service");
  configureOnly->excludes(exeOption);
  installCmd->callback([install, exe, exeOption, &ctx, exitCode] {
    if (exeOption->count() > 0) install->executable = *exe;
    WithServices(ctx, exitCode,
                 [&](ServiceManager& services) { return RunInstall(*install, services, ctx); });
  });

  auto seconds = std::make_shared<std::uint32_t>(kDefaultWaitSeconds);
  auto addTimeout = [seconds](CLI::App* cmd) {
    cmd->add_option("--timeout", *seconds, "Seconds to wait for the service (default 30)")
        ->check(CLI::Range(1u, 3600u));
  };

  CLI::App* uninstall =
      app.add_subcommand("uninstall", "Stop the service (code 255) if it runs, then remove it");
  addTimeout(uninstall);
  uninstall->callback([seconds, &ctx, exitCode] {
    WithServices(ctx, exitCode, [&](ServiceManager& services) {
      return RunUninstall(*seconds * 1000, services, ctx);
    });
  });

  CLI::App* start = app.add_subcommand("start", "Start the service and wait until it runs");
  addTimeout(start);
  start->callback([seconds, &ctx, exitCode] {
    WithServices(ctx, exitCode, [&](ServiceManager& services) {
      return RunStart(*seconds * 1000, services, ctx);
    });
  });

  CLI::App* stop = app.add_subcommand(
      "stop",
      "Stop the service with code 255 (it accepts no plain stop) and wait until it has stopped");
  addTimeout(stop);
  stop->callback([seconds, &ctx, exitCode] {
    WithServices(ctx, exitCode,
                 [&](ServiceManager& services) { return RunStop(*seconds * 1000, services, ctx); });
  });

  CLI::App* status = app.add_subcommand(
      "status", "Show the service's state, accepted controls, check point and wait hint");
  status->callback([&ctx, exitCode] {
    WithServices(ctx, exitCode, [&](ServiceManager& services) { return RunStatus(services, ctx); });
  });

  struct Toggle {
    const char* name;
    const char* help;
    std::uint32_t onCode;
  };
  for (Toggle t : {Toggle{"removable", "Switch the removable-volume lock on (128) or off (129)",
                          kControlRemovableLockOn},
                   Toggle{"optical", "Switch the optical-volume lock on (130) or off (131)",
                          kControlOpticalLockOn}}) {
    auto value = std::make_shared<std::string>();
    CLI::App* cmd = app.add_subcommand(t.name, t.help);
    cmd->add_option("state", *value, "on or off")->required()->check(CLI::IsMember({"on", "off"}));
    std::uint32_t onCode = t.onCode;
    cmd->callback([value, onCode, &ctx, exitCode] {
      std::uint32_t code = *value == "on" ? onCode : onCode + 1;
      WithServices(ctx, exitCode,
                   [&](ServiceManager& services) { return RunLockControl(code, services, ctx); });
    });
  }
}

void AddTagCommands(CLI::App& app, ToolContext& ctx, int* exitCode) {
  auto request = std::make_shared<WriteProtectRequest>();
  auto dir = std::make_shared<std::string>();
  CLI::App* cmd = app.add_subcommand(
      "write-protect",
      "Set [State] key= in ReadTag.ini, which the service copies into the storage WriteProtect "
      "value once a second (1 protects, 0 releases)");
  cmd->add_option("value", request->value, "A digit, 0 to 9")->required()->check(CLI::Range(0, 9));
  CLI::Option* dirOption = cmd->add_option(
      "--dir", *dir,
      "Write ReadTag.ini in this folder instead of the one the installed service reads (its "
      "executable's machine type tells: SysWOW64 for a 32-bit service on 64-bit Windows, else "
      "system32)");
  cmd->callback([request, dir, dirOption, &ctx, exitCode] {
    if (dirOption->count() > 0) request->directory = *dir;
    *exitCode = RunWriteProtect(*request, ctx);
  });
}

void AddLogCommand(CLI::App& app, ToolContext& ctx, int* exitCode) {
  auto request = std::make_shared<LogRequest>();
  auto global = std::make_shared<bool>(false);
  auto local = std::make_shared<bool>(false);
  CLI::App* cmd = app.add_subcommand(
      "log",
      "Follow debug output live, as DebugView does: the service's lines (services write to "
      "Global\\DBWIN_BUFFER) and those of programs in this session (DBWIN_BUFFER)");
  cmd->add_flag("--global", *global, "Only the services' buffer (needs an elevated prompt)");
  cmd->add_flag("--local", *local, "Only this session's buffer");
  cmd->add_option("--for", request->seconds, "Stop after this many seconds (default: Ctrl+C)");
  cmd->callback([request, global, local, &ctx, exitCode] {
    if (*global || *local) {
      request->explicitScopes = true;
      request->global = *global;
      request->local = *local;
    }
    DebugMonitor* monitor = ctx.host.DebugOutput();
    if (monitor == nullptr) {
      ctx.err << "tarvelctl: this build has no debug output to follow; `log` works in the "
                 "Windows build\n";
      *exitCode = kExitFailed;
      return;
    }
    *exitCode = RunLog(*request, *monitor, ctx);
  });
}

void AddPolicyCommands(CLI::App& app, ToolContext& ctx, int* exitCode) {
  CLI::App* policy = app.add_subcommand("policy", "Write or check the encrypted policy file");
  policy->require_subcommand(1);

  auto args = std::make_shared<WriteArguments>();
  CLI::App* write =
      policy->add_subcommand("write", "Write a policy file (DevState.ini or SysSecurity.ini)");
  write->add_option("--removable", args->removable, "Lock removable volumes")
      ->required()
      ->check(CLI::IsMember({"on", "off"}));
  write->add_option("--optical", args->optical, "Lock optical volumes")
      ->required()
      ->check(CLI::IsMember({"on", "off"}));
  CLI::Option* counter =
      write->add_option("--counter", args->counter, "Counter text (default: a number)");
  CLI::Option* description =
      write->add_option("--description", args->description,
                        "Description text (default: \"" +
                            platform::ToUtf8(std::u16string(kDefaultDescription)) + "\")");
  write->add_option("-o,--output", args->output, "The file to write")->required();
  write->callback([args, counter, description, &ctx, exitCode] {
    PolicyWriteRequest request;
    request.removable = args->removable == "on";
    request.optical = args->optical == "on";
    if (counter->count() > 0) request.counter = platform::FromUtf8(args->counter);
    if (description->count() > 0) request.description = platform::FromUtf8(args->description);
    request.counterStart = ctx.now;
    *exitCode = RunPolicyWrite(request, args->output, ctx);
  });

  auto file = std::make_shared<std::string>();
  CLI::App* show = policy->add_subcommand(
      "show", "Show what the service reads from a policy file, and any problem in it");
  show->add_option("file", *file, "The policy file")->required();
  show->callback([file, &ctx, exitCode] { *exitCode = RunPolicyShow(*file, ctx); });
}

void AddCheckCommands(CLI::App& app, ToolContext& ctx, int* exitCode) {
  auto request = std::make_shared<CheckRequest>();
  auto json = std::make_shared<bool>(false);
  auto noSerials = std::make_shared<bool>(false);
  CLI::App* cmd = app.add_subcommand(
      "check",
      "Check that this machine enforces its policy: the service, the policy file it reads at "
      "start, the volumes' locks and devices, write protection and portable devices. Exit code "
      "0 compliant, 1 drift, 2 cannot tell (other formats: their tools' own)");
  const std::map<std::string, CheckFormat> formats = {{"text", CheckFormat::kText},
                                                      {"json", CheckFormat::kJson},
                                                      {"intune", CheckFormat::kIntune},
                                                      {"intune-app", CheckFormat::kIntuneApp},
                                                      {"configmgr", CheckFormat::kConfigMgr}};
  CLI::Option* format =
      cmd->add_option("--format", request->format,
                      "text; json (one object); intune (remediation detection: exit 1 for drift "
                      "and cannot tell); intune-app (Win32 app detection: exit 0 and one line "
                      "while installed and running); configmgr (discovery: always exit 0, "
                      "prints Compliant, NonCompliant or Unknown)")
          ->transform(CLI::CheckedTransformer(formats));
  cmd->add_flag("--json", *json, "The same as --format json")->excludes(format);
  const char* serialsHelp =
      "Leave out the volumes' device serial numbers (a serial can identify a person's device)";
  cmd->add_flag("--no-serials", *noSerials, serialsHelp);
  cmd->callback([request, json, noSerials, &ctx, exitCode] {
    if (*json) request->format = CheckFormat::kJson;
    request->serials = !*noSerials;
    *exitCode = RunCheck(*request, ctx);
  });

  auto repair = std::make_shared<RepairRequest>();
  auto seconds = std::make_shared<std::uint32_t>(kDefaultWaitSeconds);
  auto repairNoSerials = std::make_shared<bool>(false);
  CLI::App* repairCmd = app.add_subcommand(
      "repair",
      "Mend what can be mended, then check again: start a stopped service; apply the recovery "
      "options, the service's descriptor and the policy and tag files' DACLs again; send the "
      "codes that bring the live locks back to the policy file. Names what it cannot mend (no "
      "service, no policy file, an undecryptable policy) and changes nothing then. Exit code: "
      "check's");
  repairCmd->add_option("--timeout", *seconds, "Seconds to wait for a start (default 30)")
      ->check(CLI::Range(1u, 3600u));
  repairCmd->add_flag("--no-serials", *repairNoSerials, serialsHelp);
  repairCmd->callback([repair, seconds, repairNoSerials, &ctx, exitCode] {
    repair->timeoutMs = *seconds * 1000;
    repair->serials = !*repairNoSerials;
    *exitCode = RunRepair(*repair, ctx);
  });
}

}  // namespace

int RunTarvelctl(const std::vector<std::string>& args, ToolContext& ctx) {
  CLI::App app("Controls the Tarvel Service and its policy files", "tarvelctl");
  app.require_subcommand(1);
  app.set_version_flag("--version", "tarvelctl " TARVEL_VERSION);
  int exitCode = kExitOk;
  app.footer(
      "Exit codes: 0 done, 1 failed, 2 problems found (policy show), 3 service not installed, "
      "4 access denied, 5 timed out, 6 service not running; check and repair: 0 compliant, 1 "
      "drift, 2 cannot tell; usage errors 100 and above.");
  AddServiceCommands(app, ctx, &exitCode);
  AddTagCommands(app, ctx, &exitCode);
  AddLogCommand(app, ctx, &exitCode);
  AddPolicyCommands(app, ctx, &exitCode);
  AddCheckCommands(app, ctx, &exitCode);

  std::vector<const char*> argv = {"tarvelctl"};
  for (const auto& a : args) argv.push_back(a.c_str());
  try {
    app.parse(static_cast<int>(argv.size()), argv.data());
  } catch (const CLI::ParseError& e) {
    return app.exit(e, ctx.out, ctx.err);
  }
  return exitCode;
}

}  // namespace tarvelctl

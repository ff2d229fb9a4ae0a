// The service commands: install, uninstall, start, stop, status and the lock toggles.
#include "tools/tarvelctl/ServiceCommands.h"

#include <memory>

#include "platform/Text.h"
#include "tools/tarvelctl/FileSecurity.h"
#include "tools/tarvelctl/LocalFiles.h"
#include "tools/tarvelctl/PeImage.h"
#include "tools/tarvelctl/ServiceSecurity.h"
#include "tools/tarvelctl/ServiceText.h"
#include "tools/tarvelctl/TagCommands.h"

namespace tarvelctl {

namespace {

constexpr char16_t kDescription[] =
    u"Keeps removable and optical volumes locked and the storage write protection in line with "
    u"the machine's policy.";
constexpr std::uint32_t kPollMs = 200;

std::string Utf8(const std::u16string& text) {
  return platform::ToUtf8(text);
}

const std::string& Name() {
  static const std::string name = Utf8(kServiceName);
  return name;
}

// Prints "tarvelctl: what: <Windows text> (code)" with a hint for the usual causes, and
// returns the matching exit code.
int Fail(ServiceManager& services, ToolContext& ctx, const std::string& what, std::uint32_t error) {
  ctx.err << "tarvelctl: " << what << ": " << services.ErrorText(error) << " (" << error << ")";
  if (error == kErrorServiceDoesNotExist) ctx.err << "; `tarvelctl install` installs it";
  if (error == kErrorAccessDenied) ctx.err << "; run tarvelctl from an elevated prompt";
  if (error == kErrorServiceNotActive) ctx.err << "; `tarvelctl start` starts it";
  ctx.err << "\n";
  return ExitCodeFor(error);
}

const char* LockCodeText(std::uint32_t code) {
  switch (code) {
    case kControlRemovableLockOn:
      return "removable lock on";
    case kControlRemovableLockOff:
      return "removable lock off";
    case kControlOpticalLockOn:
      return "optical lock on";
    case kControlOpticalLockOff:
      return "optical lock off";
    default:
      return "custom code";
  }
}

// Queries until the service leaves state (a pending one) or the deadline passes; 0 or the error.
std::uint32_t WaitWhile(std::uint32_t state, std::uint64_t deadline, ServiceManager& services,
                        ServiceStatusInfo* status) {
  for (;;) {
    std::uint32_t error = services.Query(status);
    if (error != 0 || status->state != state || services.NowMs() >= deadline) return error;
    services.SleepMs(kPollMs);
  }
}

// Sends code 255 to a service that is not stopped, then waits for SERVICE_STOPPED and for its
// process to end. A service still starting takes no control yet: it is given until it runs.
int StopAndWait(const ServiceStatusInfo& before, std::uint32_t timeoutMs, ServiceManager& services,
                ToolContext& ctx) {
  const std::uint64_t deadline = services.NowMs() + timeoutMs;
  ServiceStatusInfo status = before;
  std::uint32_t error = 0;
  if (status.state == kServiceStartPending) {
    error = WaitWhile(kServiceStartPending, deadline, services, &status);
    if (error != 0) return Fail(services, ctx, "cannot query " + Name(), error);
  }
  error = services.Control(kControlStopService, &status);
  if (error == 0) {
    ctx.out << "Sent code " << kControlStopService << "; " << Name() << " reports "
            << StateName(status.state) << ".\n";
  } else if (error != kErrorServiceNotActive && error != kErrorServiceCannotAcceptCtrl) {
    // Not active: it stopped meanwhile. Cannot accept: it is stopping already.
    return Fail(services, ctx, "cannot send the stop code 255 to " + Name(), error);
  }
  for (;;) {
    error = services.Query(&status);
    if (error != 0) return Fail(services, ctx, "cannot query " + Name(), error);
    if (status.state == kServiceStopped) break;
    if (services.NowMs() >= deadline) {
      ctx.err << "tarvelctl: " << Name() << " did not stop within " << timeoutMs / 1000 << " s:\n"
              << FormatStatus(status);
      return kExitTimeout;
    }
    services.SleepMs(kPollMs);
  }
  if (before.processId != 0) {
    std::uint64_t now = services.NowMs();
    auto left = static_cast<std::uint32_t>(deadline > now ? deadline - now : 0);
    if (services.WaitForProcessExit(before.processId, left) == kWaitTimeout) {
      ctx.err << "tarvelctl: " << Name() << " reports STOPPED, but its process " << before.processId
              << " has not ended within " << timeoutMs / 1000 << " s\n";
      return kExitTimeout;
    }
  }
  ctx.out << Name() << " stopped";
  if (before.processId != 0) ctx.out << "; process " << before.processId << " has ended";
  ctx.out << ".\n";
  return kExitOk;
}

int Configure(ServiceManager& services, ToolContext& ctx) {
  std::uint32_t error = services.SetDescription(kDescription);
  if (error != 0) return Fail(services, ctx, "cannot set the description", error);

  RecoveryPlan plan = ServiceRecoveryPlan();
  error = services.SetRecovery(plan);
  if (error != 0) return Fail(services, ctx, "cannot set the recovery options", error);
  ctx.out << "Recovery: restart after " << plan.restartDelaysMs[0] / 1000 << " s, "
          << plan.restartDelaysMs[1] / 1000 << " s, then " << plan.restartDelaysMs[2] / 1000
          << " s; failures counted afresh after " << plan.resetSeconds / 3600 << " h.\n";

  std::string sddl = BuildServiceSddl(ServiceGrants());
  error = services.SetSecurity(platform::FromUtf8(sddl));
  if (error != 0) return Fail(services, ctx, "cannot set the service's security", error);
  ctx.out << "Security: " << sddl << "\n"
          << "  (start, stop and codes 128-255: SYSTEM and Administrators only; other "
             "signed-in users may query)\n";
  return kExitOk;
}

// Sets the trusted files' DACL on those of them that exist where the installed service reads
// them. A file that keeps the system folder's entries can be held open by any user.
int SecureServiceFiles(ToolContext& ctx) {
  std::string problem;
  int rc = kExitOk;
  std::optional<std::string> dir = ServiceFileDirectory(ctx, &problem, &rc);
  if (!dir) {
    ctx.err << "tarvelctl: cannot secure the policy and tag files: " << problem << "\n";
    return rc;
  }
  std::string secured;
  for (const char* name : kTrustedFileNames) {
    std::string path = JoinLocalPath(*dir, name);
    if (!LocalFileExists(path)) continue;
    std::string error;
    if (!SecureTrustedFile(ctx.host.FileSecurity(), path, &error)) {
      ctx.err << "tarvelctl: " << error << "\n";
      return kExitFailed;
    }
    secured += secured.empty() ? name : std::string(", ") + name;
  }
  if (secured.empty()) {
    ctx.out << "Files: no DevState.ini, SysSecurity.ini or ReadTag.ini in " << *dir
            << " yet; `tarvelctl policy write` and `write-protect` create them with the DACL "
            << Utf8(kTrustedFileSddl) << ".\n";
  } else {
    ctx.out << "Files: secured " << secured << " in " << *dir << ": DACL " << Utf8(kTrustedFileSddl)
            << " (SYSTEM and Administrators only)\n";
  }
  return kExitOk;
}

// Warns about each trusted file that someone other than SYSTEM and the Administrators can open.
void WarnAboutFileSecurity(ToolContext& ctx) {
  std::string problem;
  int rc = kExitOk;
  std::optional<std::string> dir = ServiceFileDirectory(ctx, &problem, &rc);
  if (!dir) {
    ctx.err << "tarvelctl: note: the policy and tag files were not checked: " << problem << "\n";
    return;
  }
  for (const char* name : kTrustedFileNames) {
    std::string path = JoinLocalPath(*dir, name);
    if (!LocalFileExists(path)) continue;
    std::string error;
    std::optional<std::u16string> sddl = ReadFileSddl(ctx.host.FileSecurity(), path, &error);
    if (!sddl) {
      ctx.err << "tarvelctl: warning: " << error << "\n";
      continue;
    }
    std::optional<std::vector<FileOpener>> others = OthersWhoCanOpen(*sddl);
    if (!others) {
      ctx.err << "tarvelctl: warning: cannot make out who may open " << path << ": " << Utf8(*sddl)
              << "\n";
    } else if (!others->empty()) {
      ctx.err << "tarvelctl: warning: " << path << " can be opened by " << DescribeOpeners(*others)
              << ": whoever holds it open makes the service read it as missing; `tarvelctl "
                 "install --configure-only` secures it (DACL now "
              << Utf8(*sddl) << ")\n";
    }
  }
}

}  // namespace

RecoveryPlan ServiceRecoveryPlan() {
  return RecoveryPlan{24 * 3600, {5000, 5000, 60000}};
}

int ExitCodeFor(std::uint32_t error) {
  switch (error) {
    case 0:
      return kExitOk;
    case kErrorServiceDoesNotExist:
      return kExitNotInstalled;
    case kErrorAccessDenied:
      return kExitAccessDenied;
    case kErrorServiceNotActive:
      return kExitNotRunning;
    case kWaitTimeout:
      return kExitTimeout;
    default:
      return kExitFailed;
  }
}

int RunInstall(const InstallRequest& request, ServiceManager& services, ToolContext& ctx) {
  if (request.configureOnly) {
    ServiceStatusInfo status;
    std::uint32_t error = services.Query(&status);
    if (error != 0) return Fail(services, ctx, "cannot open " + Name(), error);
    int rc = Configure(services, ctx);
    return rc != kExitOk ? rc : SecureServiceFiles(ctx);
  }

  std::string exe = AbsoluteLocalPath(
      request.executable.value_or(JoinLocalPath(ctx.host.ProgramDirectory(), kServiceExecutable)));
  std::string error;
  auto head = ReadLocalFilePrefix(exe, kPeHeaderBytes, &error);
  if (!head) {
    ctx.err << "tarvelctl: " << error << " (give the service's executable with --exe)\n";
    return kExitFailed;
  }
  std::optional<std::uint16_t> machine = PeMachine(*head);
  if (!machine) {
    ctx.err << "tarvelctl: " << exe << " is not a Windows program\n";
    return kExitFailed;
  }

  std::u16string commandLine = QuoteCommandLine(platform::FromUtf8(exe));
  std::uint32_t code = services.Create(commandLine);
  if (code == kErrorServiceExists) {
    ctx.err << "tarvelctl: " << Name()
            << " is already installed; `tarvelctl install --configure-only` applies the "
               "recovery and security settings to it, `tarvelctl uninstall` removes it\n";
    return kExitFailed;
  }
  if (code != 0) return Fail(services, ctx, "cannot install " + Name(), code);
  ctx.out << "Installed " << Name() << ": " << Utf8(commandLine) << " (" << MachineName(*machine)
          << "), own process, automatic start, LocalSystem.\n";
  int rc = Configure(services, ctx);
  if (rc == kExitOk) rc = SecureServiceFiles(ctx);
  if (rc != kExitOk) {
    ctx.err << "tarvelctl: " << Name()
            << " is installed without all of these settings; `tarvelctl install "
               "--configure-only` applies them\n";
  }
  return rc;
}

int RunUninstall(std::uint32_t timeoutMs, ServiceManager& services, ToolContext& ctx) {
  ServiceStatusInfo status;
  std::uint32_t error = services.Query(&status);
  if (error != 0) return Fail(services, ctx, "cannot open " + Name(), error);
  if (status.state != kServiceStopped) {
    int rc = StopAndWait(status, timeoutMs, services, ctx);
    if (rc != kExitOk) return rc;
  }
  error = services.Delete();
  if (error == kErrorServiceMarkedForDelete) {
    ctx.out << Name()
            << " is already marked for removal; Windows removes it once every program "
               "holding it open has let go.\n";
    return kExitOk;
  }
  if (error != 0) return Fail(services, ctx, "cannot remove " + Name(), error);
  ctx.out << "Removed " << Name() << ".\n";
  return kExitOk;
}

int RunStart(std::uint32_t timeoutMs, ServiceManager& services, ToolContext& ctx) {
  const std::uint64_t deadline = services.NowMs() + timeoutMs;
  ServiceStatusInfo status;
  std::uint32_t error = services.Query(&status);
  if (error != 0) return Fail(services, ctx, "cannot open " + Name(), error);
  // A service on its way out is started again once it has stopped.
  if (status.state == kServiceStopPending) {
    error = WaitWhile(kServiceStopPending, deadline, services, &status);
    if (error != 0) return Fail(services, ctx, "cannot query " + Name(), error);
  }
  if (status.state == kServiceStopped) {
    error = services.Start();
    if (error != 0 && error != kErrorServiceAlreadyRunning) {
      return Fail(services, ctx, "cannot start " + Name(), error);
    }
  }
  for (;;) {
    error = services.Query(&status);
    if (error != 0) return Fail(services, ctx, "cannot query " + Name(), error);
    if (status.state == kServiceRunning) break;
    if (status.state == kServiceStopped) {
      ctx.err << "tarvelctl: " << Name() << " stopped during start-up";
      if (status.win32ExitCode != 0) {
        ctx.err << ": " << services.ErrorText(status.win32ExitCode) << " (" << status.win32ExitCode
                << ")";
      }
      ctx.err << "\n";
      return kExitFailed;
    }
    if (services.NowMs() >= deadline) {
      ctx.err << "tarvelctl: " << Name() << " did not start within " << timeoutMs / 1000 << " s:\n"
              << FormatStatus(status);
      return kExitTimeout;
    }
    services.SleepMs(kPollMs);
  }
  ctx.out << Name() << " is running.\n" << FormatStatus(status);
  return kExitOk;
}

int RunStop(std::uint32_t timeoutMs, ServiceManager& services, ToolContext& ctx) {
  ServiceStatusInfo status;
  std::uint32_t error = services.Query(&status);
  if (error != 0) return Fail(services, ctx, "cannot open " + Name(), error);
  if (status.state == kServiceStopped) {
    ctx.out << Name() << " is not running.\n";
    return kExitOk;
  }
  return StopAndWait(status, timeoutMs, services, ctx);
}

int RunStatus(ServiceManager& services, ToolContext& ctx) {
  ServiceStatusInfo status;
  std::uint32_t error = services.Query(&status);
  if (error != 0) return Fail(services, ctx, "cannot query " + Name(), error);
  ctx.out << Name() << "\n" << FormatStatus(status);
  WarnAboutFileSecurity(ctx);
  return kExitOk;
}

int RunLockControl(std::uint32_t code, ServiceManager& services, ToolContext& ctx) {
  ServiceStatusInfo status;
  std::uint32_t error = services.Control(code, &status);
  if (error != 0) {
    return Fail(services, ctx,
                "cannot send code " + std::to_string(code) + " (" + LockCodeText(code) + ")",
                error);
  }
  ctx.out << "Sent code " << code << " (" << LockCodeText(code) << "); " << Name() << " answers:\n"
          << FormatStatus(status);
  return kExitOk;
}

}  // namespace tarvelctl

// The service commands: install, uninstall, start, stop, status and the lock toggles.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "tools/tarvelctl/ServiceManager.h"
#include "tools/tarvelctl/ToolContext.h"

namespace tarvelctl {

/// The executable `install` registers when --exe is not given, beside the tool.
inline constexpr char kServiceExecutable[] = "tarvel-service.exe";

/// How long start, stop and uninstall wait for the service by default.
inline constexpr std::uint32_t kDefaultWaitSeconds = 30;

/// The recovery options `install` sets: restart 5 s after the first and second failure and a
/// minute after any later one, counting failures afresh after a day without one.
RecoveryPlan ServiceRecoveryPlan();

/// What `install` is asked for.
struct InstallRequest {
  /// The executable to register; beside the tool when absent.
  std::optional<std::string> executable;
  /// Apply recovery options and security to the registered service only.
  bool configureOnly = false;
};

/// The exit code for a Win32 error of a service call.
int ExitCodeFor(std::uint32_t error);

int RunInstall(const InstallRequest& request, ServiceManager& services, ToolContext& ctx);
int RunUninstall(std::uint32_t timeoutMs, ServiceManager& services, ToolContext& ctx);
int RunStart(std::uint32_t timeoutMs, ServiceManager& services, ToolContext& ctx);
/// Sends code 255 (the service accepts no plain stop) and waits until it reports stopped and
/// its process has ended.
int RunStop(std::uint32_t timeoutMs, ServiceManager& services, ToolContext& ctx);
int RunStatus(ServiceManager& services, ToolContext& ctx);
/// Sends one of the lock codes 128 to 131 and prints the status the service answers with.
int RunLockControl(std::uint32_t code, ServiceManager& services, ToolContext& ctx);

}  // namespace tarvelctl

// The Service Control Manager as the tool sees it: the one service it installs and controls.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/ServiceNames.h"

namespace tarvelctl {

/// The service's name, display name and service-table name alike.
using platform::kServiceName;

/// Win32 error codes the commands tell apart.
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorFileNotFound = 2;
/// A volume dismounted by a handle that is still open (or a drive with no medium) refuses opens.
inline constexpr std::uint32_t kErrorNotReady = 21;
inline constexpr std::uint32_t kErrorServiceAlreadyRunning = 1056;
inline constexpr std::uint32_t kErrorServiceDoesNotExist = 1060;
inline constexpr std::uint32_t kErrorServiceCannotAcceptCtrl = 1061;
inline constexpr std::uint32_t kErrorServiceNotActive = 1062;
inline constexpr std::uint32_t kErrorServiceMarkedForDelete = 1072;
inline constexpr std::uint32_t kErrorServiceExists = 1073;
inline constexpr std::uint32_t kWaitTimeout = 258;

/// SERVICE_STATUS_PROCESS, as QueryServiceStatusEx and ControlService give it.
struct ServiceStatusInfo {
  std::uint32_t state = 0;
  std::uint32_t controlsAccepted = 0;
  std::uint32_t win32ExitCode = 0;
  std::uint32_t serviceExitCode = 0;
  std::uint32_t checkPoint = 0;
  std::uint32_t waitHint = 0;
  std::uint32_t processId = 0;
};

/// SERVICE_CONFIG_FAILURE_ACTIONS: restart after each delay in turn (the last one repeats),
/// counting failures afresh after resetSeconds without one.
struct RecoveryPlan {
  std::uint32_t resetSeconds = 0;
  std::uint32_t restartDelaysMs[3] = {};
};

/// QUERY_SERVICE_CONFIGW's fields that `check` examines.
struct ServiceConfigInfo {
  std::uint32_t serviceType = 0;  ///< SERVICE_WIN32_OWN_PROCESS is 0x10
  std::uint32_t startType = 0;    ///< SERVICE_AUTO_START is 2
  std::u16string commandLine;     ///< lpBinaryPathName, as stored
};

/// One SC_ACTION of SERVICE_CONFIG_FAILURE_ACTIONS.
struct RecoveryAction {
  std::uint32_t type = 0;  ///< SC_ACTION_NONE 0, SC_ACTION_RESTART 1, REBOOT 2, RUN_COMMAND 3
  std::uint32_t delayMs = 0;
};

/// SERVICE_CONFIG_FAILURE_ACTIONS as QueryServiceConfig2W gives it back.
struct RecoveryState {
  std::uint32_t resetSeconds = 0;
  std::vector<RecoveryAction> actions;
};

/// Every operation opens the manager and the service with just the rights it needs, and
/// returns the Win32 error code (0 on success).
class ServiceManager {
 public:
  virtual ~ServiceManager() = default;
  /// CreateServiceW: own process, automatic start, run as LocalSystem.
  virtual std::uint32_t Create(const std::u16string& commandLine) = 0;
  virtual std::uint32_t SetRecovery(const RecoveryPlan& plan) = 0;
  virtual std::uint32_t SetDescription(const std::u16string& description) = 0;
  /// SetServiceObjectSecurity of the DACL that sddl describes.
  virtual std::uint32_t SetSecurity(const std::u16string& sddl) = 0;
  virtual std::uint32_t Delete() = 0;
  virtual std::uint32_t Start() = 0;
  /// ControlService; *status is the status the service gave back.
  virtual std::uint32_t Control(std::uint32_t code, ServiceStatusInfo* status) = 0;
  virtual std::uint32_t Query(ServiceStatusInfo* status) = 0;
  /// The registered command line (lpBinaryPathName), as stored.
  virtual std::uint32_t QueryCommandLine(std::u16string* commandLine) = 0;
  /// QueryServiceConfigW: type, start type and command line.
  virtual std::uint32_t QueryConfig(ServiceConfigInfo* config) = 0;
  /// QueryServiceConfig2W of SERVICE_CONFIG_FAILURE_ACTIONS.
  virtual std::uint32_t QueryRecovery(RecoveryState* recovery) = 0;
  /// QueryServiceObjectSecurity of the DACL, written as SDDL ("D:(A;;...;;;SY)...").
  virtual std::uint32_t QuerySecurity(std::u16string* sddl) = 0;
  /// ExpandEnvironmentStringsW.
  virtual std::u16string ExpandEnvironment(const std::u16string& text) = 0;
  /// Waits until process id has ended: 0 when it has (or no longer exists), kWaitTimeout.
  virtual std::uint32_t WaitForProcessExit(std::uint32_t processId, std::uint32_t timeoutMs) = 0;
  /// FormatMessageW's text for a Win32 error code, without its line end.
  virtual std::string ErrorText(std::uint32_t code) = 0;
  /// A monotonic clock in milliseconds, and a pause.
  virtual std::uint64_t NowMs() = 0;
  virtual void SleepMs(std::uint32_t ms) = 0;
};

}  // namespace tarvelctl

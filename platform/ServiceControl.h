// Service Control Manager: the dispatcher, the control handler and status reports.
#pragma once

#include <cstdint>

#include "platform/Types.h"

namespace platform {

using ServiceMainRoutine = void (*)(std::uint32_t argc, char16_t** argv);
using ServiceHandlerRoutine = void (*)(std::uint32_t control);

/// SERVICE_TABLE_ENTRYW; a null name and routine end the table.
struct ServiceTableEntry {
  const char16_t* serviceName;
  ServiceMainRoutine serviceProc;
};

/// SERVICE_STATUS.
struct ServiceStatus {
  std::uint32_t dwServiceType;
  std::uint32_t dwCurrentState;
  std::uint32_t dwControlsAccepted;
  std::uint32_t dwWin32ExitCode;
  std::uint32_t dwServiceSpecificExitCode;
  std::uint32_t dwCheckPoint;
  std::uint32_t dwWaitHint;
};

inline constexpr std::uint32_t kServiceWin32OwnProcess = 0x10;
inline constexpr std::uint32_t kServiceStopped = 1;
inline constexpr std::uint32_t kServiceStartPending = 2;
inline constexpr std::uint32_t kServiceStopPending = 3;
inline constexpr std::uint32_t kServiceRunning = 4;
inline constexpr std::uint32_t kServiceAcceptShutdown = 4;
inline constexpr std::uint32_t kErrorServiceSpecificError = 1066;

class ServiceControl {
 public:
  virtual ~ServiceControl() = default;
  virtual Bool StartServiceCtrlDispatcherW(const ServiceTableEntry* table) = 0;
  /// Returns the status handle, or null.
  virtual Handle RegisterServiceCtrlHandlerW(const char16_t* serviceName,
                                             ServiceHandlerRoutine handler) = 0;
  virtual Bool SetServiceStatus(Handle statusHandle, const ServiceStatus* status) = 0;
};

}  // namespace platform

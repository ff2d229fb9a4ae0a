// The Service Control Manager on real Windows.
#pragma once

#include "platform/ServiceControl.h"

namespace platform::win32 {

/// Thin calls into advapi32. The service routine and the handler are plain functions of the
/// seam; Win32 calls them through trampolines of its own calling convention, so this process
/// hosts one service with one handler.
class Win32Service final : public ServiceControl {
 public:
  /// Dispatches the table's first service (a table of more is refused with error 87).
  Bool StartServiceCtrlDispatcherW(const ServiceTableEntry* table) override;
  Handle RegisterServiceCtrlHandlerW(const char16_t* serviceName,
                                     ServiceHandlerRoutine handler) override;
  Bool SetServiceStatus(Handle statusHandle, const ServiceStatus* status) override;
};

}  // namespace platform::win32

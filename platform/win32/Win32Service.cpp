// The Service Control Manager on real Windows.
#include "platform/win32/Win32Service.h"

#include <atomic>

#include "platform/win32/WindowsSupport.h"

namespace platform::win32 {

namespace {

std::atomic<ServiceMainRoutine> serviceRoutine{nullptr};
std::atomic<ServiceHandlerRoutine> handlerRoutine{nullptr};

VOID WINAPI ServiceMainTrampoline(DWORD argc, LPWSTR* argv) {
  ServiceMainRoutine routine = serviceRoutine.load();
  if (routine != nullptr) routine(argc, reinterpret_cast<char16_t**>(argv));
}

VOID WINAPI HandlerTrampoline(DWORD control) {
  ServiceHandlerRoutine handler = handlerRoutine.load();
  if (handler != nullptr) handler(control);
}

}  // namespace

Bool Win32Service::StartServiceCtrlDispatcherW(const ServiceTableEntry* table) {
  if (table == nullptr || table[0].serviceName == nullptr || table[0].serviceProc == nullptr ||
      table[1].serviceName != nullptr || table[1].serviceProc != nullptr) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  serviceRoutine.store(table[0].serviceProc);
  SERVICE_TABLE_ENTRYW entries[] = {
      {const_cast<LPWSTR>(W(table[0].serviceName)), ServiceMainTrampoline},
      {nullptr, nullptr},
  };
  return ::StartServiceCtrlDispatcherW(entries);
}

Handle Win32Service::RegisterServiceCtrlHandlerW(const char16_t* serviceName,
                                                 ServiceHandlerRoutine handler) {
  handlerRoutine.store(handler);
  SERVICE_STATUS_HANDLE h = ::RegisterServiceCtrlHandlerW(W(serviceName), HandlerTrampoline);
  return reinterpret_cast<Handle>(h);
}

Bool Win32Service::SetServiceStatus(Handle statusHandle, const ServiceStatus* status) {
  if (status == nullptr) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  SERVICE_STATUS s{};
  s.dwServiceType = status->dwServiceType;
  s.dwCurrentState = status->dwCurrentState;
  s.dwControlsAccepted = status->dwControlsAccepted;
  s.dwWin32ExitCode = status->dwWin32ExitCode;
  s.dwServiceSpecificExitCode = status->dwServiceSpecificExitCode;
  s.dwCheckPoint = status->dwCheckPoint;
  s.dwWaitHint = status->dwWaitHint;
  return ::SetServiceStatus(reinterpret_cast<SERVICE_STATUS_HANDLE>(statusHandle), &s);
}

}  // namespace platform::win32

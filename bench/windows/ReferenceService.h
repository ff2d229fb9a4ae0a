// The skeleton of the reference services: a SERVICE_WIN32_OWN_PROCESS service that reports
// itself running, runs its work on a thread of its own and waits on its stop event.
#pragma once

#include "platform/win32/WindowsSupport.h"

namespace bench {

/// What a reference service runs beside its wait, on a thread of its own; null for nothing.
/// It returns once running is false.
using ReferenceWork = void (*)(volatile LONG* running);

namespace detail {

inline const wchar_t* serviceName = L"";
inline ReferenceWork work = nullptr;
inline SERVICE_STATUS_HANDLE statusHandle = nullptr;
inline HANDLE stopEvent = nullptr;
inline volatile LONG running = 1;

inline void Report(DWORD state) {
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted =
      state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
  SetServiceStatus(statusHandle, &status);
}

inline DWORD WINAPI Handler(DWORD control, DWORD /*type*/, LPVOID /*data*/, LPVOID /*context*/) {
  if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
    Report(SERVICE_STOP_PENDING);
    InterlockedExchange(&running, 0);
    SetEvent(stopEvent);
  }
  return NO_ERROR;
}

inline DWORD WINAPI WorkThread(LPVOID /*parameter*/) {
  work(&running);
  return 0;
}

inline void WINAPI ServiceMain(DWORD /*argc*/, LPWSTR* /*argv*/) {
  statusHandle = RegisterServiceCtrlHandlerExW(serviceName, Handler, nullptr);
  if (statusHandle == nullptr) return;
  Report(SERVICE_START_PENDING);
  stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE thread =
      work != nullptr ? CreateThread(nullptr, 0, WorkThread, nullptr, 0, nullptr) : nullptr;
  Report(SERVICE_RUNNING);
  WaitForSingleObject(stopEvent, INFINITE);
  if (thread != nullptr) {
    WaitForSingleObject(thread, 1000);
    CloseHandle(thread);
  }
  CloseHandle(stopEvent);
  Report(SERVICE_STOPPED);
}

}  // namespace detail

/// Runs the service control dispatcher for one service; returns the process's exit code.
inline int RunReferenceService(const wchar_t* name, ReferenceWork work) {
  detail::serviceName = name;
  detail::work = work;
  SERVICE_TABLE_ENTRYW table[] = {{const_cast<wchar_t*>(name), detail::ServiceMain},
                                  {nullptr, nullptr}};
  return StartServiceCtrlDispatcherW(table) ? 0 : 1;
}

}  // namespace bench

// The tool's Service Control Manager on Windows: advapi32's service calls.
#include "tools/tarvelctl/win32/Win32ServiceManager.h"

#include <sddl.h>

#include <algorithm>
#include <vector>

#include "platform/Text.h"
#include "tools/tarvelctl/ServiceText.h"

namespace tarvelctl::win32 {

namespace {

using platform::win32::W;

// Opens the manager and the service with the rights the caller needs.
DWORD OpenTarvelService(DWORD access, ServiceHandle* manager, ServiceHandle* service) {
  manager->reset(FromSc(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT)));
  if (!manager->valid()) return ::GetLastError();
  service->reset(FromSc(::OpenServiceW(Sc(*manager), W(kServiceName), access)));
  return service->valid() ? 0 : ::GetLastError();
}

ServiceStatusInfo FromStatus(const SERVICE_STATUS& s) {
  return {s.dwCurrentState,
          s.dwControlsAccepted,
          s.dwWin32ExitCode,
          s.dwServiceSpecificExitCode,
          s.dwCheckPoint,
          s.dwWaitHint,
          0};
}

}  // namespace

std::uint32_t Win32ServiceManager::Create(const std::u16string& commandLine) {
  ServiceHandle manager(
      FromSc(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE)));
  if (!manager.valid()) return ::GetLastError();
  ServiceHandle service(FromSc(::CreateServiceW(
      Sc(manager), W(kServiceName), W(kServiceName), SERVICE_QUERY_STATUS,
      SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, W(commandLine.c_str()),
      nullptr, nullptr, nullptr, nullptr /* LocalSystem */, nullptr)));
  return service.valid() ? 0 : ::GetLastError();
}

std::uint32_t Win32ServiceManager::SetRecovery(const RecoveryPlan& plan) {
  ServiceHandle manager;
  ServiceHandle service;
  // A restart action needs SERVICE_START besides the change right.
  if (DWORD error = OpenTarvelService(SERVICE_CHANGE_CONFIG | SERVICE_START, &manager, &service)) {
    return error;
  }
  SC_ACTION actions[3];
  for (int i = 0; i < 3; ++i) actions[i] = {SC_ACTION_RESTART, plan.restartDelaysMs[i]};
  SERVICE_FAILURE_ACTIONSW failure{plan.resetSeconds, nullptr, nullptr, 3, actions};
  return ::ChangeServiceConfig2W(Sc(service), SERVICE_CONFIG_FAILURE_ACTIONS, &failure)
             ? 0
             : ::GetLastError();
}

std::uint32_t Win32ServiceManager::SetDescription(const std::u16string& description) {
  ServiceHandle manager;
  ServiceHandle service;
  if (DWORD error = OpenTarvelService(SERVICE_CHANGE_CONFIG, &manager, &service)) return error;
  std::u16string text = description;
  SERVICE_DESCRIPTIONW info{W(text.data())};
  return ::ChangeServiceConfig2W(Sc(service), SERVICE_CONFIG_DESCRIPTION, &info) ? 0
                                                                                 : ::GetLastError();
}

std::uint32_t Win32ServiceManager::SetSecurity(const std::u16string& sddl) {
  ServiceHandle manager;
  ServiceHandle service;
  if (DWORD error = OpenTarvelService(WRITE_DAC | READ_CONTROL, &manager, &service)) return error;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(W(sddl.c_str()), SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
    return ::GetLastError();
  }
  DWORD error = ::SetServiceObjectSecurity(Sc(service), DACL_SECURITY_INFORMATION, descriptor)
                    ? 0
                    : ::GetLastError();
  ::LocalFree(descriptor);
  return error;
}

std::uint32_t Win32ServiceManager::Delete() {
  ServiceHandle manager;
  ServiceHandle service;
  if (DWORD error = OpenTarvelService(DELETE, &manager, &service)) return error;
  return ::DeleteService(Sc(service)) ? 0 : ::GetLastError();
}

std::uint32_t Win32ServiceManager::Start() {
  ServiceHandle manager;
  ServiceHandle service;
  if (DWORD error = OpenTarvelService(SERVICE_START, &manager, &service)) return error;
  return ::StartServiceW(Sc(service), 0, nullptr) ? 0 : ::GetLastError();
}

std::uint32_t Win32ServiceManager::Control(std::uint32_t code, ServiceStatusInfo* status) {
  ServiceHandle manager;
  ServiceHandle service;
  DWORD access = code >= 128 ? SERVICE_USER_DEFINED_CONTROL : SERVICE_INTERROGATE;
  if (DWORD error = OpenTarvelService(access, &manager, &service)) return error;
  SERVICE_STATUS s{};
  BOOL ok = ::ControlService(Sc(service), code, &s);
  DWORD error = ok ? 0 : ::GetLastError();
  *status = FromStatus(s);
  return error;
}

std::uint32_t Win32ServiceManager::Query(ServiceStatusInfo* status) {
  ServiceHandle manager;
  ServiceHandle service;
  if (DWORD error = OpenTarvelService(SERVICE_QUERY_STATUS, &manager, &service)) return error;
  SERVICE_STATUS_PROCESS s{};
  DWORD needed = 0;
  if (!::QueryServiceStatusEx(Sc(service), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&s),
                              sizeof s, &needed)) {
    return ::GetLastError();
  }
  *status = {s.dwCurrentState, s.dwControlsAccepted, s.dwWin32ExitCode, s.dwServiceSpecificExitCode,
             s.dwCheckPoint,   s.dwWaitHint,         s.dwProcessId};
  return 0;
}

std::uint32_t Win32ServiceManager::QueryCommandLine(std::u16string* commandLine) {
  ServiceConfigInfo config;
  if (std::uint32_t error = QueryConfig(&config)) return error;
  *commandLine = config.commandLine;
  return 0;
}

std::uint32_t Win32ServiceManager::QueryConfig(ServiceConfigInfo* out) {
  ServiceHandle manager;
  ServiceHandle service;
  if (DWORD error = OpenTarvelService(SERVICE_QUERY_CONFIG, &manager, &service)) return error;
  DWORD needed = 0;
  ::QueryServiceConfigW(Sc(service), nullptr, 0, &needed);
  if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return ::GetLastError();
  std::vector<BYTE> buffer(needed);
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
  if (!::QueryServiceConfigW(Sc(service), config, needed, &needed)) return ::GetLastError();
  out->serviceType = config->dwServiceType;
  out->startType = config->dwStartType;
  out->commandLine =
      config->lpBinaryPathName ? reinterpret_cast<const char16_t*>(config->lpBinaryPathName) : u"";
  return 0;
}

std::uint32_t Win32ServiceManager::QueryRecovery(RecoveryState* recovery) {
  ServiceHandle manager;
  ServiceHandle service;
  if (DWORD error = OpenTarvelService(SERVICE_QUERY_CONFIG, &manager, &service)) return error;
  DWORD needed = 0;
  if (!::QueryServiceConfig2W(Sc(service), SERVICE_CONFIG_FAILURE_ACTIONS, nullptr, 0, &needed) &&
      ::GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
    return ::GetLastError();
  }
  // Room for the structure even when the call asks for less.
  std::vector<BYTE> buffer(std::max<DWORD>(needed, sizeof(SERVICE_FAILURE_ACTIONSW)));
  if (!::QueryServiceConfig2W(Sc(service), SERVICE_CONFIG_FAILURE_ACTIONS, buffer.data(),
                              static_cast<DWORD>(buffer.size()), &needed)) {
    return ::GetLastError();
  }
  const auto* failure = reinterpret_cast<const SERVICE_FAILURE_ACTIONSW*>(buffer.data());
  recovery->resetSeconds = failure->dwResetPeriod;
  recovery->actions.clear();
  for (DWORD i = 0; failure->lpsaActions != nullptr && i < failure->cActions; ++i) {
    recovery->actions.push_back(
        {static_cast<std::uint32_t>(failure->lpsaActions[i].Type), failure->lpsaActions[i].Delay});
  }
  return 0;
}

std::uint32_t Win32ServiceManager::QuerySecurity(std::u16string* sddl) {
  ServiceHandle manager;
  ServiceHandle service;
  if (DWORD error = OpenTarvelService(READ_CONTROL, &manager, &service)) return error;
  DWORD needed = 0;
  std::vector<BYTE> buffer(4096);
  while (!::QueryServiceObjectSecurity(Sc(service), DACL_SECURITY_INFORMATION, buffer.data(),
                                       static_cast<DWORD>(buffer.size()), &needed)) {
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed <= buffer.size()) {
      return ::GetLastError();
    }
    buffer.resize(needed);
  }
  wchar_t* text = nullptr;
  if (!::ConvertSecurityDescriptorToStringSecurityDescriptorW(
          buffer.data(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
    return ::GetLastError();
  }
  *sddl = reinterpret_cast<const char16_t*>(text);
  ::LocalFree(text);
  return 0;
}

std::u16string Win32ServiceManager::ExpandEnvironment(const std::u16string& text) {
  DWORD size = ::ExpandEnvironmentStringsW(W(text.c_str()), nullptr, 0);
  if (size == 0) return text;
  std::u16string out(size, u'\0');
  size = ::ExpandEnvironmentStringsW(W(text.c_str()), W(out.data()), size);
  if (size == 0) return text;
  out.resize(size - 1);
  return out;
}

std::uint32_t Win32ServiceManager::WaitForProcessExit(std::uint32_t processId,
                                                      std::uint32_t timeoutMs) {
  platform::UniqueKernelHandle process(
      reinterpret_cast<platform::Handle>(::OpenProcess(SYNCHRONIZE, FALSE, processId)));
  if (!process.valid()) {
    // ERROR_INVALID_PARAMETER: no process has that id any more.
    DWORD error = ::GetLastError();
    return error == ERROR_INVALID_PARAMETER ? 0 : error;
  }
  DWORD wait = ::WaitForSingleObject(platform::win32::H(process.get()), timeoutMs);
  return wait == WAIT_OBJECT_0 ? 0 : wait == WAIT_TIMEOUT ? kWaitTimeout : ::GetLastError();
}

std::string Win32ServiceManager::ErrorText(std::uint32_t code) {
  return WindowsErrorText(code);
}

std::uint64_t Win32ServiceManager::NowMs() {
  return ::GetTickCount64();
}

void Win32ServiceManager::SleepMs(std::uint32_t ms) {
  ::Sleep(ms);
}

}  // namespace tarvelctl::win32

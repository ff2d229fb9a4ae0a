// What the end-to-end suite needs done that Wine's own tools cannot do: custom control codes,
// device broadcasts from the service's window station, the service's security descriptor,
// drive letters through Wine's mount manager, a volume's storage bus, and waiting for a process
// to end.
//
//   tarvel-e2e-probe control CODE             ControlService; prints the status given back
//   tarvel-e2e-probe device EVENT MASK|LETTER SendMessageW(WM_DEVICECHANGE) to the hidden window
//   tarvel-e2e-probe security                 QueryServiceObjectSecurity; who may do what
//   tarvel-e2e-probe sddl TEXT                the same analysis of a descriptor given as SDDL
//   tarvel-e2e-probe drive LETTER TYPE DIR    defines a drive letter of a type (Wine only)
//   tarvel-e2e-probe bus LETTER               the bus type the volume's disk reports
//   tarvel-e2e-probe gone PID SECONDS         waits for a process to end
#include "platform/win32/WindowsSupport.h"
// dbt.h and sddl.h need windows.h first.
#include <dbt.h>
#include <sddl.h>
#include <winioctl.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <cwctype>
#include <string>
#include <vector>

#include "platform/win32/WineDrives.h"

namespace {

constexpr wchar_t kServiceName[] = L"Tarvel Service";

int Usage() {
  std::fprintf(stderr, "usage: tarvel-e2e-probe control|device|security|sddl|drive|bus|gone ...\n");
  return 2;
}

int Control(DWORD code) {
  SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  DWORD access = code >= 128 ? SERVICE_USER_DEFINED_CONTROL
                 : code == 4 ? SERVICE_INTERROGATE
                 : code == 1 ? SERVICE_STOP
                             : SERVICE_ALL_ACCESS;
  SC_HANDLE service = manager ? ::OpenServiceW(manager, kServiceName, access) : nullptr;
  if (service == nullptr) {
    std::printf("control %lu: cannot open the service: error %lu\n", code, ::GetLastError());
    if (manager) ::CloseServiceHandle(manager);
    return 1;
  }
  SERVICE_STATUS s{};
  BOOL ok = ::ControlService(service, code, &s);
  DWORD error = ok ? 0 : ::GetLastError();
  ::CloseServiceHandle(service);
  ::CloseServiceHandle(manager);
  if (!ok) {
    std::printf("control %lu: error %lu\n", code, error);
    return 1;
  }
  std::printf("control %lu: state %lu accepted 0x%lx checkpoint %lu waithint %lu\n", code,
              s.dwCurrentState, s.dwControlsAccepted, s.dwCheckPoint, s.dwWaitHint);
  return 0;
}

// WM_DEVICECHANGE reaches top-level windows of the sender's window station only, and the
// service's window lives in Wine's service station: move there first.
int Device(const wchar_t* event, const wchar_t* target) {
  HWINSTA station = ::OpenWindowStationW(L"__wineservice_winstation", FALSE, GENERIC_ALL);
  if (station == nullptr || !::SetProcessWindowStation(station)) {
    std::printf("device: cannot enter the service window station: error %lu\n", ::GetLastError());
    return 1;
  }
  HDESK desktop = ::OpenDesktopW(L"Default", 0, FALSE, GENERIC_ALL);
  if (desktop == nullptr || !::SetThreadDesktop(desktop)) {
    std::printf("device: cannot enter its desktop: error %lu\n", ::GetLastError());
    return 1;
  }
  HWND window = ::FindWindowW(L"MainWndClass", kServiceName);
  if (window == nullptr) {
    std::printf("device: no window of class MainWndClass titled \"Tarvel Service\"\n");
    return 1;
  }
  WPARAM code = std::wcscmp(event, L"arrival") == 0  ? 0x8000
                : std::wcscmp(event, L"remove") == 0 ? 0x8004
                                                     : std::wcstoul(event, nullptr, 0);
  DWORD mask = std::iswalpha(target[0]) && target[1] == 0
                   ? 1u << (std::towupper(target[0]) - L'A')
                   : static_cast<DWORD>(std::wcstoul(target, nullptr, 0));
  DEV_BROADCAST_VOLUME volume{sizeof volume, DBT_DEVTYP_VOLUME, 0, mask, 0};
  DWORD_PTR result = 0;
  if (!::SendMessageTimeoutW(window, WM_DEVICECHANGE, code, reinterpret_cast<LPARAM>(&volume),
                             SMTO_NORMAL, 20000, &result)) {
    std::printf("device: SendMessageTimeoutW failed: error %lu\n", ::GetLastError());
    return 1;
  }
  std::printf("device 0x%llx mask 0x%lx: window procedure returned %llu\n",
              static_cast<unsigned long long>(code), mask, static_cast<unsigned long long>(result));
  return 0;
}

// The SDDL alias of a SID the suite cares about, or its S-1-... form.
std::wstring TrusteeName(PSID sid) {
  struct Known {
    WELL_KNOWN_SID_TYPE type;
    const wchar_t* alias;
  } known[] = {{WinLocalSystemSid, L"SY"},       {WinBuiltinAdministratorsSid, L"BA"},
               {WinAuthenticatedUserSid, L"AU"}, {WinInteractiveSid, L"IU"},
               {WinServiceSid, L"SU"},           {WinWorldSid, L"WD"},
               {WinBuiltinUsersSid, L"BU"},      {WinLocalServiceSid, L"LS"},
               {WinNetworkServiceSid, L"NS"}};
  for (const Known& k : known) {
    if (::IsWellKnownSid(sid, k.type)) return k.alias;
  }
  wchar_t* text = nullptr;
  std::wstring name = ::ConvertSidToStringSidW(sid, &text) ? text : L"?";
  if (text) ::LocalFree(text);
  return name;
}

// Prints the DACL and, for the rights that matter, who holds them through an allowing entry.
int Analyse(PSECURITY_DESCRIPTOR descriptor) {
  wchar_t* sddl = nullptr;
  if (::ConvertSecurityDescriptorToStringSecurityDescriptorW(
          descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &sddl, nullptr)) {
    std::printf("dacl: %ls\n", sddl);
    ::LocalFree(sddl);
  }
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  if (!::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) {
    std::printf("no DACL: error %lu\n", ::GetLastError());
    return 1;
  }
  if (!present || dacl == nullptr) {
    std::printf("null DACL: everyone may do everything\n");
    return 0;
  }
  struct Right {
    const char* name;
    DWORD mask;
    std::wstring holders;
  } rights[] = {{"user-defined control", SERVICE_USER_DEFINED_CONTROL, L""},
                {"start", SERVICE_START, L""},
                {"stop", SERVICE_STOP, L""},
                {"query status", SERVICE_QUERY_STATUS, L""}};
  std::printf("entries: %u\n", dacl->AceCount);
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!::GetAce(dacl, i, &ace)) continue;
    auto* header = static_cast<ACE_HEADER*>(ace);
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) {
      std::printf("entry %lu: type %u (not an allowing entry)\n", i, header->AceType);
      continue;
    }
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    std::wstring who = TrusteeName(&allowed->SidStart);
    for (Right& r : rights) {
      if ((allowed->Mask & r.mask) == 0) continue;
      if (!r.holders.empty()) r.holders += L" ";
      r.holders += who;
    }
  }
  for (const Right& r : rights) std::printf("%s: %ls\n", r.name, r.holders.c_str());
  return 0;
}

int Security() {
  SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE service = manager ? ::OpenServiceW(manager, kServiceName, READ_CONTROL) : nullptr;
  if (service == nullptr) {
    std::printf("security: cannot open the service: error %lu\n", ::GetLastError());
    return 1;
  }
  std::vector<BYTE> buffer(8192);
  DWORD needed = 0;
  BOOL ok = ::QueryServiceObjectSecurity(service, DACL_SECURITY_INFORMATION, buffer.data(),
                                         static_cast<DWORD>(buffer.size()), &needed);
  DWORD error = ok ? 0 : ::GetLastError();
  ::CloseServiceHandle(service);
  ::CloseServiceHandle(manager);
  if (!ok) {
    std::printf("security: QueryServiceObjectSecurity failed: error %lu\n", error);
    return 1;
  }
  return Analyse(buffer.data());
}

int Sddl(const wchar_t* text) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(text, SDDL_REVISION_1, &descriptor,
                                                              nullptr)) {
    std::printf("sddl: not a descriptor: error %lu\n", ::GetLastError());
    return 1;
  }
  int rc = Analyse(descriptor);
  ::LocalFree(descriptor);
  return rc;
}

int Drive(const wchar_t* letter, const wchar_t* type, const wchar_t* dir) {
  std::string unixDir;
  for (const wchar_t* p = dir; *p; ++p) unixDir += static_cast<char>(*p);
  auto driveType = static_cast<std::uint32_t>(std::wcstoul(type, nullptr, 10));
  std::uint32_t error = platform::win32::DefineWineDrive(
      static_cast<char>(std::towupper(letter[0])), driveType, unixDir);
  wchar_t root[] = {static_cast<wchar_t>(std::towupper(letter[0])), L':', L'\\', 0};
  std::printf("drive %lc: define error %u, GetDriveTypeW %u\n", root[0], error,
              ::GetDriveTypeW(root));
  return error == 0 && ::GetDriveTypeW(root) == driveType ? 0 : 1;
}

// IOCTL_STORAGE_QUERY_PROPERTY for the device descriptor, as the guard asks it, on the volume.
int Bus(const wchar_t* letter) {
  wchar_t path[] = {L'\\', L'\\', L'.', L'\\', static_cast<wchar_t>(std::towupper(letter[0])),
                    L':',  0};
  HANDLE volume =
      ::CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, 0, nullptr);
  if (volume == INVALID_HANDLE_VALUE) {
    std::printf("bus %lc: open error %lu\n", path[4], ::GetLastError());
    return 1;
  }
  STORAGE_PROPERTY_QUERY query{};
  query.PropertyId = StorageDeviceProperty;
  query.QueryType = PropertyStandardQuery;
  alignas(8) BYTE buffer[1024] = {};
  DWORD returned = 0;
  BOOL ok = ::DeviceIoControl(volume, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, buffer,
                              sizeof buffer, &returned, nullptr);
  DWORD error = ::GetLastError();
  ::CloseHandle(volume);
  if (!ok || returned < offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType) + sizeof(STORAGE_BUS_TYPE)) {
    std::printf("bus %lc: no answer (error %lu, %lu bytes)\n", path[4], ok ? 0 : error, returned);
    return 1;
  }
  const auto* descriptor = reinterpret_cast<const STORAGE_DEVICE_DESCRIPTOR*>(buffer);
  std::printf("bus %lc: type %d, removable media %d\n", path[4],
              static_cast<int>(descriptor->BusType), descriptor->RemovableMedia ? 1 : 0);
  return 0;
}

int Gone(DWORD pid, DWORD seconds) {
  HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, pid);
  if (process == nullptr) {
    std::printf("process %lu: gone (OpenProcess error %lu)\n", pid, ::GetLastError());
    return 0;
  }
  DWORD wait = ::WaitForSingleObject(process, seconds * 1000);
  ::CloseHandle(process);
  std::printf("process %lu: %s\n", pid, wait == WAIT_OBJECT_0 ? "gone" : "still running");
  return wait == WAIT_OBJECT_0 ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return Usage();
  std::wstring command = argv[1];
  if (command == L"control" && argc == 3) return Control(std::wcstoul(argv[2], nullptr, 10));
  if (command == L"device" && argc == 4) return Device(argv[2], argv[3]);
  if (command == L"security" && argc == 2) return Security();
  if (command == L"sddl" && argc == 3) return Sddl(argv[2]);
  if (command == L"drive" && argc == 5) return Drive(argv[2], argv[3], argv[4]);
  if (command == L"bus" && argc == 3) return Bus(argv[2]);
  if (command == L"gone" && argc == 4) {
    return Gone(std::wcstoul(argv[2], nullptr, 10), std::wcstoul(argv[3], nullptr, 10));
  }
  return Usage();
}

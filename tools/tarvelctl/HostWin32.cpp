// The tool's host on Windows: the real Win32 layer, the Service Control Manager and DBWIN.
#include <memory>

#include "platform/Text.h"
#include "platform/win32/Win32Platform.h"
#include "platform/win32/WindowsSupport.h"
#include "tools/tarvelctl/Host.h"
#include "tools/tarvelctl/win32/Win32DebugMonitor.h"
#include "tools/tarvelctl/win32/Win32FileSecurity.h"
#include "tools/tarvelctl/win32/Win32Handles.h"
#include "tools/tarvelctl/win32/Win32ServiceManager.h"

namespace tarvelctl {

namespace {

std::string Utf8(const wchar_t* text) {
  return platform::ToUtf8(reinterpret_cast<const char16_t*>(text));
}

// Wine's ntdll exports wine_get_version; Windows' does not.
bool UnderWine() {
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

class Win32Host final : public Host {
 public:
  Win32Host() { platform_.Install(); }
  std::u16string Stage(const std::string& path,
                       const std::vector<std::uint8_t>& /*bytes*/) override {
    return platform::FromUtf8(path);
  }
  FileSecurityCalls& FileSecurity() override { return security_; }
  ServiceManager* Services() override { return &services_; }
  DebugMonitor* DebugOutput() override {
    if (!monitor_) monitor_ = std::make_unique<win32::Win32DebugMonitor>();
    return monitor_.get();
  }
  std::optional<WindowsLayout> Layout() override {
    WindowsLayout layout;
    wchar_t dir[MAX_PATH] = {};
    if (::GetSystemWindowsDirectoryW(dir, MAX_PATH) == 0) return std::nullopt;
    layout.windowsDirectory = Utf8(dir);
    SYSTEM_INFO info{};
    ::GetNativeSystemInfo(&info);
    layout.windows64Bit = info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 ||
                          info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_ARM64 ||
                          info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_IA64;
    BOOL wow64 = FALSE;
    layout.toolUnderWow64 = ::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64;
    return layout;
  }
  std::uint32_t AdministratorError() override {
    // Full access to the Service Control Manager is granted to administrators alone (and only
    // to an elevated token), and the refusal carries Windows' own error.
    win32::ServiceHandle manager(
        win32::FromSc(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)));
    return manager.valid() ? 0 : ::GetLastError();
  }
  // Wine workaround: its volume locks are accepted but keep no other open out, and
  // GetNamedSecurityInfoW returns its default descriptor whatever was set on a file.
  bool VolumeLocksEnforced() override { return !UnderWine(); }
  bool FileDaclsKept() override { return !UnderWine(); }
  std::string ProgramDirectory() override {
    std::wstring text(32768, L'\0');
    text.resize(::GetModuleFileNameW(nullptr, text.data(), static_cast<DWORD>(text.size())));
    std::size_t slash = text.find_last_of(L"\\/");
    return slash == std::wstring::npos ? "." : Utf8(text.substr(0, slash).c_str());
  }

 private:
  platform::win32::Win32Platform platform_;
  win32::Win32ServiceManager services_;
  win32::Win32FileSecurity security_;
  std::unique_ptr<win32::Win32DebugMonitor> monitor_;
};

}  // namespace

std::unique_ptr<Host> CreateHost() {
  return std::make_unique<Win32Host>();
}

}  // namespace tarvelctl

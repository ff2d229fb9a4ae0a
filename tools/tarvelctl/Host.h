// The platform the tool runs on, and how the files it is given reach that platform.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarvelctl {

class DebugMonitor;
class FileSecurityCalls;
class ServiceManager;

/// Where Windows keeps its folders, and how the tool runs on it.
struct WindowsLayout {
  /// The Windows directory (GetSystemWindowsDirectoryW), UTF-8.
  std::string windowsDirectory;
  /// Windows itself is 64-bit (GetNativeSystemInfo).
  bool windows64Bit = false;
  /// The tool is a 32-bit program on 64-bit Windows (IsWow64Process).
  bool toolUnderWow64 = false;
};

/// Chosen by the build: on Windows the real Win32 layer; on Linux a simulated machine (its
/// cipher is libgcrypt), into which the files the tool reads are copied.
class Host {
 public:
  virtual ~Host() = default;
  /// Makes the local file at path (UTF-8, as given on the command line), whose content is
  /// bytes, readable through the installed platform; returns its path in the platform's terms.
  virtual std::u16string Stage(const std::string& path, const std::vector<std::uint8_t>& bytes) = 0;
  /// The calls that create files with a descriptor and read and set file DACLs.
  virtual FileSecurityCalls& FileSecurity() = 0;
  /// This machine's Service Control Manager; null where there is none (the Linux build).
  virtual ServiceManager* Services() { return nullptr; }
  /// A monitor of debug output; null where there is none.
  virtual DebugMonitor* DebugOutput() { return nullptr; }
  /// The Windows folders; nullopt where there is no Windows.
  virtual std::optional<WindowsLayout> Layout() { return std::nullopt; }
  /// 0 when the tool runs with an administrator's rights, else the Win32 error that a request
  /// for them met (ERROR_ACCESS_DENIED from a non-elevated prompt).
  virtual std::uint32_t AdministratorError() { return 0; }
  /// Whether a volume lock keeps other opens out, as on Windows. Wine accepts FSCTL_LOCK_VOLUME
  /// without enforcing it, so there an open that succeeds says nothing about a lock.
  virtual bool VolumeLocksEnforced() { return true; }
  /// Whether a file keeps the DACL set on it, as on Windows. Wine returns the same default
  /// descriptor for every file whatever was set, so there a DACL read back says nothing.
  virtual bool FileDaclsKept() { return true; }
  /// The folder that holds the tool's own executable, UTF-8.
  virtual std::string ProgramDirectory() { return "."; }
};

/// Creates the host of this build and installs its platform.
std::unique_ptr<Host> CreateHost();

}  // namespace tarvelctl

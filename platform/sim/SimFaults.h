// The simulated machine's fault points: the platform calls a test can make fail, and their names.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace platform::sim {

/// A point at which SimCore::FailCall makes calls fail. Each is one platform call, except the
/// few that narrow a call to one use ("CreateFileW volume"); a call that has both consults the
/// whole call's point first.
enum class Fault : std::uint8_t {
  // Volumes and their memory.
  kCreateFileW,        ///< every open, of a volume or of a file
  kCreateFileWVolume,  ///< opens of a volume only
  kDeviceIoControl,
  kDeviceIoControlStorageQuery,  ///< IOCTL_STORAGE_QUERY_PROPERTY only
  kGlobalAlloc,
  // Files, paths and profiles.
  kCreateFileWFile,  ///< opens of a file only
  kReadFile,
  kSHGetSpecialFolderPathW,
  kPathRemoveFileSpecW,
  kPathAddBackslashW,
  kPathAppendW,
  kPathFileExistsW,
  kGetPrivateProfileStringW,
  // Registry.
  kRegOpenKeyExW,
  kRegQueryValueExW,
  kRegCreateKeyExW,
  kRegSetValueExW,
  kRegCloseKey,
  // Device installation.
  kSetupDiClassGuidsFromNameW,
  kSetupDiGetClassDevsW,
  kSetupDiEnumDeviceInfo,
  kSetupDiDestroyDeviceInfoList,
  kCM_Get_DevNode_Status,
  kCM_Enable_DevNode,
  kCM_Disable_DevNode,
  // CryptoAPI.
  kCryptAcquireContextW,
  kCryptReleaseContext,
  kCryptGetUserKey,
  kCryptGenKey,
  kCryptDestroyKey,
  kCryptCreateHash,
  kCryptHashData,
  kCryptDeriveKey,
  kCryptDestroyHash,
  kCryptDecrypt,
  kCryptEncrypt,
  // Threads, events and timers.
  kCloseHandle,
  kCreateThread,
  kCreateEventW,
  kSetEvent,
  kWaitForSingleObject,
  kCreateTimerQueue,
  kCreateTimerQueueTimer,
  // Service Control Manager.
  kStartServiceCtrlDispatcherW,
  kRegisterServiceCtrlHandlerW,
  kSetServiceStatus,
  // Process information.
  kGetModuleHandleW,
  kGetProcAddress,
  kIsWow64Process,
  // Windowing.
  kRegisterClassW,
  kCreateWindowExW,
  kLoadIconW,
  kLoadCursorW,
  kGetStockObject,
  // Drive letters.
  kGetLogicalDrives,

  kCount  ///< not a fault point: how many there are
};

inline constexpr std::size_t kFaultCount = static_cast<std::size_t>(Fault::kCount);

/// A fault point and the name text gives it: the call's own name, with the use it narrows to.
struct FaultEntry {
  Fault fault;
  std::string_view name;
};

/// Every fault point in the enum's order.
inline constexpr std::array<FaultEntry, kFaultCount> kFaultNames = {{
    {Fault::kCreateFileW, "CreateFileW"},
    {Fault::kCreateFileWVolume, "CreateFileW volume"},
    {Fault::kDeviceIoControl, "DeviceIoControl"},
    {Fault::kDeviceIoControlStorageQuery, "DeviceIoControl storage query"},
    {Fault::kGlobalAlloc, "GlobalAlloc"},
    {Fault::kCreateFileWFile, "CreateFileW file"},
    {Fault::kReadFile, "ReadFile"},
    {Fault::kSHGetSpecialFolderPathW, "SHGetSpecialFolderPathW"},
    {Fault::kPathRemoveFileSpecW, "PathRemoveFileSpecW"},
    {Fault::kPathAddBackslashW, "PathAddBackslashW"},
    {Fault::kPathAppendW, "PathAppendW"},
    {Fault::kPathFileExistsW, "PathFileExistsW"},
    {Fault::kGetPrivateProfileStringW, "GetPrivateProfileStringW"},
    {Fault::kRegOpenKeyExW, "RegOpenKeyExW"},
    {Fault::kRegQueryValueExW, "RegQueryValueExW"},
    {Fault::kRegCreateKeyExW, "RegCreateKeyExW"},
    {Fault::kRegSetValueExW, "RegSetValueExW"},
    {Fault::kRegCloseKey, "RegCloseKey"},
    {Fault::kSetupDiClassGuidsFromNameW, "SetupDiClassGuidsFromNameW"},
    {Fault::kSetupDiGetClassDevsW, "SetupDiGetClassDevsW"},
    {Fault::kSetupDiEnumDeviceInfo, "SetupDiEnumDeviceInfo"},
    {Fault::kSetupDiDestroyDeviceInfoList, "SetupDiDestroyDeviceInfoList"},
    {Fault::kCM_Get_DevNode_Status, "CM_Get_DevNode_Status"},
    {Fault::kCM_Enable_DevNode, "CM_Enable_DevNode"},
    {Fault::kCM_Disable_DevNode, "CM_Disable_DevNode"},
    {Fault::kCryptAcquireContextW, "CryptAcquireContextW"},
    {Fault::kCryptReleaseContext, "CryptReleaseContext"},
    {Fault::kCryptGetUserKey, "CryptGetUserKey"},
    {Fault::kCryptGenKey, "CryptGenKey"},
    {Fault::kCryptDestroyKey, "CryptDestroyKey"},
    {Fault::kCryptCreateHash, "CryptCreateHash"},
    {Fault::kCryptHashData, "CryptHashData"},
    {Fault::kCryptDeriveKey, "CryptDeriveKey"},
    {Fault::kCryptDestroyHash, "CryptDestroyHash"},
    {Fault::kCryptDecrypt, "CryptDecrypt"},
    {Fault::kCryptEncrypt, "CryptEncrypt"},
    {Fault::kCloseHandle, "CloseHandle"},
    {Fault::kCreateThread, "CreateThread"},
    {Fault::kCreateEventW, "CreateEventW"},
    {Fault::kSetEvent, "SetEvent"},
    {Fault::kWaitForSingleObject, "WaitForSingleObject"},
    {Fault::kCreateTimerQueue, "CreateTimerQueue"},
    {Fault::kCreateTimerQueueTimer, "CreateTimerQueueTimer"},
    {Fault::kStartServiceCtrlDispatcherW, "StartServiceCtrlDispatcherW"},
    {Fault::kRegisterServiceCtrlHandlerW, "RegisterServiceCtrlHandlerW"},
    {Fault::kSetServiceStatus, "SetServiceStatus"},
    {Fault::kGetModuleHandleW, "GetModuleHandleW"},
    {Fault::kGetProcAddress, "GetProcAddress"},
    {Fault::kIsWow64Process, "IsWow64Process"},
    {Fault::kRegisterClassW, "RegisterClassW"},
    {Fault::kCreateWindowExW, "CreateWindowExW"},
    {Fault::kLoadIconW, "LoadIconW"},
    {Fault::kLoadCursorW, "LoadCursorW"},
    {Fault::kGetStockObject, "GetStockObject"},
    {Fault::kGetLogicalDrives, "GetLogicalDrives"},
}};

// A point added to the enum without a name leaves a default entry behind, out of order; two
// points of one name could not both be told apart in text.
static_assert(
    [] {
      for (std::size_t i = 0; i < kFaultCount; ++i) {
        if (kFaultNames[i].fault != static_cast<Fault>(i) || kFaultNames[i].name.empty()) {
          return false;
        }
        for (std::size_t j = 0; j < i; ++j) {
          if (kFaultNames[j].name == kFaultNames[i].name) return false;
        }
      }
      return true;
    }(),
    "kFaultNames must name every fault point once, in the enum's order");

/// The point's name ("CreateFileW volume").
constexpr std::string_view FaultName(Fault fault) {
  return kFaultNames[static_cast<std::size_t>(fault)].name;
}

/// The point text names, exactly as FaultName spells it; none for any other text.
constexpr std::optional<Fault> FaultByName(std::string_view name) {
  for (const FaultEntry& entry : kFaultNames) {
    if (entry.name == name) return entry.fault;
  }
  return std::nullopt;
}

}  // namespace platform::sim

// The names and codes that the service, its tool, the simulator program and the benchmarks
// share, said once so that they cannot drift apart. The subsystems bring them into their own
// namespaces with using-declarations.
#pragma once

#include <cstdint>

namespace platform {

/// The service's name: the service table's name, the handler registration's name and the
/// hidden window's title.
inline constexpr char16_t kServiceName[] = u"Tarvel Service";
/// The class of the service's hidden notification window.
inline constexpr char16_t kNotifyWindowClass[] = u"MainWndClass";

/// Control codes the service acts on. 1 and 5 are the system's stop and shutdown; 128 to 131
/// and 255 are this service's own.
inline constexpr std::uint32_t kControlStop = 1;
inline constexpr std::uint32_t kControlShutdown = 5;
inline constexpr std::uint32_t kControlRemovableLockOn = 128;
inline constexpr std::uint32_t kControlRemovableLockOff = 129;
inline constexpr std::uint32_t kControlOpticalLockOn = 130;
inline constexpr std::uint32_t kControlOpticalLockOff = 131;
inline constexpr std::uint32_t kControlStopService = 255;

/// The policy files, tried in this order in the system directory.
inline constexpr char16_t kPolicyFileName[] = u"DevState.ini";
inline constexpr char16_t kFallbackPolicyFileName[] = u"SysSecurity.ini";
/// The tag file, in the system directory.
inline constexpr char16_t kTagFileName[] = u"ReadTag.ini";

/// Where the write-protect value lives, below HKEY_LOCAL_MACHINE.
inline constexpr char16_t kWriteProtectKey[] =
    u"SYSTEM\\CurrentControlSet\\Control\\StorageDevicePolicies\\";
inline constexpr char16_t kWriteProtectValue[] = u"WriteProtect";

}  // namespace platform

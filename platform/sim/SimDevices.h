// The simulated machine's device installation: setup classes, devices and their device nodes.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/Devices.h"
#include "platform/sim/SimCore.h"

namespace platform::sim {

/// The GUID of the portable-device setup class ("WPD") on Windows.
inline constexpr Guid kWpdClassGuid = {
    0xEEC5AD98, 0x8080, 0x425F, {0x92, 0x2A, 0xDA, 0xBF, 0x3D, 0xE3, 0xF6, 0x9A}};

/// CONFIGRET values the simulated configuration manager returns.
inline constexpr std::uint32_t kCrInvalidPointer = 0x03;
inline constexpr std::uint32_t kCrInvalidFlag = 0x04;
inline constexpr std::uint32_t kCrInvalidDevnode = 0x05;
inline constexpr std::uint32_t kCrNoSuchDevinst = 0x0D;
inline constexpr std::uint32_t kCrFailure = 0x13;

/// Device-node status bits reported by CM_Get_DevNode_Status.
inline constexpr std::uint32_t kDnDriverLoaded = 0x2;
inline constexpr std::uint32_t kDnStarted = 0x8;
inline constexpr std::uint32_t kDnHasProblem = 0x400;

/// Win32 error codes of the setup calls.
inline constexpr std::uint32_t kErrorInsufficientBuffer = 122;
inline constexpr std::uint32_t kErrorNoMoreItems = 259;
inline constexpr std::uint32_t kErrorInvalidUserBuffer = 1784;

/// One device of the simulated machine.
struct SimDevice {
  Guid classGuid;
  std::uint32_t devInst = 0;
  bool present = true;        ///< false: installed but not connected (not DIGCF_PRESENT)
  std::uint32_t problem = 0;  ///< 0 working, 22 (CM_PROB_DISABLED) disabled, or any other
  bool statusFails = false;   ///< CM_Get_DevNode_Status fails with CR_FAILURE, writes nothing
  bool statusSilent = false;  ///< CM_Get_DevNode_Status succeeds, writes nothing (Wine's stub)
  std::uint32_t enableCalls = 0;
  std::uint32_t disableCalls = 0;
};

/// Setup classes by name and GUID, and devices per class. A device information set is a
/// snapshot of the devices its query selected and lives in the core's handle table (kind
/// "devinfo") until SetupDiDestroyDeviceInfoList, so a set that is never released shows as a
/// leak. Besides the per-device failures, every call honours core.FailCall at its own fault point:
/// the setup calls then fail with that error as the thread's last error, the CM_ calls return
/// it as their CONFIGRET.
class SimDevices final : public Devices {
 public:
  explicit SimDevices(SimCore& core) : core_(core) {}

  /// Registers a setup class; several classes may share a name, as on Windows.
  void AddClass(const std::u16string& name, const Guid& guid);
  /// Unregisters every class of that name (compared without regard to case).
  void RemoveClass(const std::u16string& name);
  /// Adds a device of the class and returns its DevInst.
  std::uint32_t AddDevice(const Guid& classGuid, bool present = true, std::uint32_t problem = 0);
  /// Replaces what the machine knows of a device (matched by devInst).
  void SetDevice(const SimDevice& device);
  /// The device, or a device with devInst 0 when there is none.
  [[nodiscard]] SimDevice Device(std::uint32_t devInst) const;
  [[nodiscard]] std::vector<SimDevice> AllDevices() const;

  Bool SetupDiClassGuidsFromNameW(const char16_t* className, Guid* list, std::uint32_t listSize,
                                  std::uint32_t* requiredSize) override;
  Handle SetupDiGetClassDevsW(const Guid* classGuid, const char16_t* enumerator, Handle parent,
                              std::uint32_t flags) override;
  Bool SetupDiEnumDeviceInfo(Handle set, std::uint32_t index, SpDevinfoData* data) override;
  Bool SetupDiDestroyDeviceInfoList(Handle set) override;
  std::uint32_t CM_Get_DevNode_Status(std::uint32_t* status, std::uint32_t* problem,
                                      std::uint32_t devInst, std::uint32_t flags) override;
  std::uint32_t CM_Enable_DevNode(std::uint32_t devInst, std::uint32_t flags) override;
  std::uint32_t CM_Disable_DevNode(std::uint32_t devInst, std::uint32_t flags) override;

 private:
  struct SimClass {
    std::u16string name;
    Guid guid;
  };

  SimDevice* DeviceOf(std::uint32_t devInst);

  SimCore& core_;
  std::vector<SimClass> classes_;
  std::vector<SimDevice> devices_;
  std::map<Handle, std::vector<std::uint32_t>> sets_;
  std::uint32_t nextDevInst_ = 1;
};

bool operator==(const Guid& a, const Guid& b);

}  // namespace platform::sim

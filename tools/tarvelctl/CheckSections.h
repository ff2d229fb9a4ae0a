// `check`'s sections and what they hand on to each other: each section looks at one part of the
// machine, adds its items and its facts, and leaves for the later sections what they depend on.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "tools/tarvelctl/Host.h"
#include "tools/tarvelctl/MachineCheck.h"
#include "tools/tarvelctl/PolicyInspector.h"
#include "tools/tarvelctl/ServiceManager.h"

namespace tarvelctl {

inline constexpr char kSectionService[] = "Service";
inline constexpr char kSectionPolicy[] = "Policy";
inline constexpr char kSectionVolumes[] = "Volumes";
inline constexpr char kSectionWriteProtection[] = "Write protection";
inline constexpr char kSectionDevices[] = "Portable devices";

/// The letters ("E:H:") of one lock kind's volumes by what an open of each showed.
struct VolumeTally {
  std::string locked;  ///< refused: held locked
  std::string open;
  std::string unseen;  ///< what an open cannot tell (Wine, a held dismount)
};

/// The check in progress: the report so far and what one section found that a later one needs.
struct CheckState {
  CheckState(Host& h, const CheckOptions& o) : host(h), services(h.Services()), options(o) {}

  /// Appends an item to the report.
  void Add(const char* section, const std::string& id, CheckResult result, const std::string& text,
           std::string detail = {});
  /// Windows' text for a Win32 error, with its code: "Access is denied. (5)".
  std::string ErrorText(std::uint32_t code) const;

  Host& host;
  ServiceManager* services;
  CheckOptions options;
  CheckReport report;
  bool running = false;                             ///< the service reports RUNNING
  std::optional<std::string> directory;             ///< the system folder the service reads
  std::optional<LockOutcome> startupFlags;          ///< what its policy file gives at start
  std::optional<bool> liveRemovable;                ///< the removable flag seen on the volumes
  std::optional<std::int32_t> desiredWriteProtect;  ///< what the tag file asks for
  VolumeTally removable;
  VolumeTally optical;
};

/// Not an administrator: the check cannot start.
void CheckAdministrator(CheckState& state);
/// Installed, running, own process, automatic start, executable, recovery, descriptor.
void CheckService(CheckState& state);
/// The policy file the service reads at start, its DACL and what its State gives.
void CheckPolicy(CheckState& state);
/// Each drive letter in use, its kind, the device behind it and whether it is held locked.
void CheckVolumes(CheckState& state);
/// The live flags as the volumes show them (control codes can change them after start-up).
void InferLiveFlags(CheckState& state);
/// The tag file against the WriteProtect value.
void CheckWriteProtection(CheckState& state);
/// Each "WPD" device against the poll's rule.
void CheckPortableDevices(CheckState& state);

}  // namespace tarvelctl

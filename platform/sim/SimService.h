// The simulated Service Control Manager: the dispatcher, the control handler, status reports.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/ServiceControl.h"
#include "platform/sim/SimCore.h"
#include "platform/sim/SimThreads.h"

namespace platform::sim {

/// One call of SetServiceStatus, with every field, whether it was accepted and when.
struct StatusReport {
  Handle handle = kNullHandle;
  ServiceStatus status{};
  Bool result = 0;
  std::uint32_t error = 0;  ///< the last error when result is 0
  std::uint64_t timeMs = 0;
};

inline constexpr std::uint32_t kErrorFailedServiceControllerConnect = 1063;
inline constexpr std::uint32_t kErrorServiceAlreadyRunning = 1056;
inline constexpr std::uint32_t kErrorInvalidData = 13;

/// The Service Control Manager as this process sees it. The process is or is not started by it
/// (SetStartedByScm). When it is, StartServiceCtrlDispatcherW runs the table's first service
/// routine on a thread of its own and serves control codes on the calling thread: each code a
/// test or the simulator sends (SendControl) is delivered to the registered handler there, in
/// order. The dispatcher returns once the service has reported SERVICE_STOPPED and the handler
/// call in progress has returned; after that report the status handle is no longer valid.
/// Every code reaches the handler, whatever the service announced it accepts.
class SimService final : public ServiceControl {
 public:
  SimService(SimCore& core, SimThreads& threads) : core_(core), threads_(threads) {}

  Bool StartServiceCtrlDispatcherW(const ServiceTableEntry* table) override;
  Handle RegisterServiceCtrlHandlerW(const char16_t* serviceName,
                                     ServiceHandlerRoutine handler) override;
  Bool SetServiceStatus(Handle statusHandle, const ServiceStatus* status) override;

  /// Whether the Service Control Manager started this process (true unless told otherwise).
  /// When not, the dispatcher fails at once with error 1063.
  void SetStartedByScm(bool started);

  /// Sends a control code as ControlService does: waits until the handler has returned. False,
  /// at once, when no handler can take it (no dispatcher, no handler registered yet, service
  /// stopped), or when the dispatcher returned before delivering it.
  bool SendControl(std::uint32_t code);
  /// Makes the dispatcher return as if the service had stopped. It stands in for the end of a
  /// process whose service never reports SERVICE_STOPPED (a failed start).
  void EndDispatcher();

  /// Every status report so far, accepted or not, in order.
  [[nodiscard]] std::vector<StatusReport> Reports() const;
  /// The last accepted status: what the Service Control Manager shows.
  [[nodiscard]] std::optional<ServiceStatus> CurrentStatus() const;
  /// The codes delivered to the handler, in order.
  [[nodiscard]] std::vector<std::uint32_t> DeliveredControls() const;
  [[nodiscard]] bool DispatcherReturned() const;
  [[nodiscard]] bool ServiceMainReturned() const;

  /// Test waits, each bounded by a real-time limit: false when it passed first.
  bool WaitForState(std::uint32_t state, std::chrono::milliseconds limit = kSafetyLimit);
  bool WaitForServiceMainReturn(std::chrono::milliseconds limit = kSafetyLimit);

 private:
  enum class ControlFate { kQueued, kHandled, kDropped };

  SimCore& core_;
  SimThreads& threads_;
  bool startedByScm_ = true;
  bool dispatching_ = false;
  bool dispatcherReturned_ = false;
  bool serviceMainReturned_ = false;
  bool ended_ = false;
  bool stopped_ = false;
  std::u16string serviceName_;
  ServiceHandlerRoutine handler_ = nullptr;
  Handle statusHandle_ = kNullHandle;
  std::uint32_t registrations_ = 0;
  std::vector<StatusReport> reports_;
  std::optional<ServiceStatus> current_;
  std::deque<std::pair<std::uint64_t, std::uint32_t>> queue_;
  std::map<std::uint64_t, ControlFate> fates_;
  std::uint64_t nextControl_ = 1;
  std::vector<std::uint32_t> delivered_;
};

}  // namespace platform::sim

// The simulated Service Control Manager.
#include "platform/sim/SimService.h"

#include <algorithm>
#include <tuple>

#include "platform/Text.h"

namespace platform::sim {

namespace {

// Status handles are not kernel handles: nothing closes them, so they stay out of the table.
constexpr Handle kStatusHandleBase = 0x5C0000;

std::string StatusText(const ServiceStatus& s) {
  return "type=" + std::to_string(s.dwServiceType) + " state=" + std::to_string(s.dwCurrentState) +
         " accepted=" + std::to_string(s.dwControlsAccepted) +
         " exit=" + std::to_string(s.dwWin32ExitCode) +
         " specific=" + std::to_string(s.dwServiceSpecificExitCode) +
         " checkpoint=" + std::to_string(s.dwCheckPoint) + " hint=" + std::to_string(s.dwWaitHint);
}

}  // namespace

void SimService::SetStartedByScm(bool started) {
  std::lock_guard lock(core_.Mutex());
  startedByScm_ = started;
}

Bool SimService::StartServiceCtrlDispatcherW(const ServiceTableEntry* table) {
  ServiceMainRoutine routine = nullptr;
  {
    SimCall call = core_.Enter(Fault::kStartServiceCtrlDispatcherW);
    call.Describe([&] {
      return "StartServiceCtrlDispatcherW " + (table != nullptr && table[0].serviceName != nullptr
                                                   ? ToUtf8(table[0].serviceName)
                                                   : std::string("(none)"));
    });
    std::uint32_t error = call.error();
    if (call.failed()) {
      // the injected error stands
    } else if (table == nullptr || table[0].serviceName == nullptr ||
               table[0].serviceProc == nullptr) {
      error = kErrorInvalidParameter;
    } else if (!startedByScm_) {
      error = kErrorFailedServiceControllerConnect;
    } else if (dispatching_) {
      error = kErrorServiceAlreadyRunning;
    }
    if (call.failed() || error != 0) {
      SimCore::SetLastError(error);
      call.Record([&] { return " -> 0 (" + std::to_string(error) + ")"; });
      return 0;
    }
    call.Record([] { return " connected"; });
    dispatching_ = true;
    dispatcherReturned_ = false;
    serviceMainReturned_ = false;
    ended_ = false;
    stopped_ = false;
    serviceName_ = table[0].serviceName;
    routine = table[0].serviceProc;
  }

  // The service's own thread, with the service name as its one argument.
  threads_.StartThread("service main", [this, routine] {
    std::u16string argument;
    {
      std::lock_guard lock(core_.Mutex());
      argument = serviceName_;
    }
    char16_t* argv[] = {argument.data(), nullptr};
    routine(1, argv);
    {
      std::lock_guard lock(core_.Mutex());
      serviceMainReturned_ = true;
      core_.Record([&] { return "ServiceMain returned"; });
    }
    threads_.scheduler().Changed();
  });

  // This thread now serves control codes until the service has stopped.
  for (;;) {
    std::uint64_t id = 0;
    std::uint32_t code = 0;
    ServiceHandlerRoutine handler = nullptr;
    bool ready = threads_.Await([&] {
      std::lock_guard lock(core_.Mutex());
      return stopped_ || ended_ || !queue_.empty();
    });
    {
      std::lock_guard lock(core_.Mutex());
      if (!ready || stopped_ || ended_) break;
      std::tie(id, code) = queue_.front();
      queue_.pop_front();
      handler = handler_;
      delivered_.push_back(code);
      core_.Record([&] { return "Control " + std::to_string(code) + " delivered"; });
    }
    handler(code);
    {
      std::lock_guard lock(core_.Mutex());
      fates_[id] = ControlFate::kHandled;
    }
    threads_.scheduler().Changed();
  }

  {
    std::lock_guard lock(core_.Mutex());
    for (const auto& [id, code] : queue_) fates_[id] = ControlFate::kDropped;
    queue_.clear();
    dispatching_ = false;
    dispatcherReturned_ = true;
    core_.Record([&] { return "StartServiceCtrlDispatcherW -> 1"; });
  }
  threads_.scheduler().Changed();
  return 1;
}

Handle SimService::RegisterServiceCtrlHandlerW(const char16_t* serviceName,
                                               ServiceHandlerRoutine handler) {
  SimCall call = core_.Enter(Fault::kRegisterServiceCtrlHandlerW);
  call.Describe([&] {
    return "RegisterServiceCtrlHandlerW " +
           (serviceName != nullptr ? ToUtf8(serviceName) : std::string("(null)"));
  });
  std::uint32_t error = call.error();
  if (call.failed()) {
    // the injected error stands
  } else if (handler == nullptr) {
    error = kErrorInvalidParameter;
  } else if (!dispatching_) {
    error = kErrorFailedServiceControllerConnect;
  }
  if (call.failed() || error != 0) {
    SimCore::SetLastError(error);
    call.Record([&] { return " -> null (" + std::to_string(error) + ")"; });
    return kNullHandle;
  }
  // An own-process service's name is not checked, as on Windows.
  handler_ = handler;
  statusHandle_ = kStatusHandleBase + Handle{4} * ++registrations_;
  call.Record([&] { return " -> " + HandleText(statusHandle_); });
  return statusHandle_;
}

Bool SimService::SetServiceStatus(Handle statusHandle, const ServiceStatus* status) {
  Bool result = 0;
  {
    SimCall call = core_.Enter(Fault::kSetServiceStatus);
    StatusReport report;
    report.handle = statusHandle;
    if (status != nullptr) report.status = *status;
    report.timeMs = core_.NowMs();
    std::uint32_t error = call.error();
    if (call.failed()) {
      // the injected error stands
    } else if (statusHandle == kNullHandle || statusHandle != statusHandle_ || stopped_) {
      error = kErrorInvalidHandle;
    } else if (status == nullptr) {
      error = kErrorInvalidParameter;
    } else if (status->dwCurrentState < kServiceStopped || status->dwCurrentState > 7) {
      error = kErrorInvalidData;
    }
    report.result = call.failed() || error != 0 ? 0 : 1;
    report.error = error;
    reports_.push_back(report);
    call.Record([&] {
      return "SetServiceStatus " + HandleText(statusHandle) + " " + StatusText(report.status) +
             " -> " + std::to_string(report.result);
    });
    if (report.result == 0) {
      SimCore::SetLastError(error);
    } else {
      current_ = *status;
      // After the stopped report the service is gone for the Service Control Manager.
      if (status->dwCurrentState == kServiceStopped) stopped_ = true;
    }
    result = report.result;
  }
  threads_.scheduler().Changed();
  return result;
}

bool SimService::SendControl(std::uint32_t code) {
  std::uint64_t id = 0;
  {
    std::lock_guard lock(core_.Mutex());
    if (!dispatching_ || handler_ == nullptr || stopped_ || ended_) {
      core_.Record([&] { return "Control " + std::to_string(code) + " refused"; });
      return false;
    }
    id = nextControl_++;
    queue_.emplace_back(id, code);
    fates_[id] = ControlFate::kQueued;
    core_.Record([&] { return "Control " + std::to_string(code) + " sent"; });
  }
  threads_.scheduler().Changed();
  ControlFate fate = ControlFate::kQueued;
  threads_.Await([&] {
    std::lock_guard lock(core_.Mutex());
    fate = fates_[id];
    return fate != ControlFate::kQueued;
  });
  return fate == ControlFate::kHandled;
}

void SimService::EndDispatcher() {
  {
    std::lock_guard lock(core_.Mutex());
    ended_ = true;
    core_.Record([&] { return "Dispatcher ended by the machine"; });
  }
  threads_.scheduler().Changed();
}

std::vector<StatusReport> SimService::Reports() const {
  std::lock_guard lock(core_.Mutex());
  return reports_;
}

std::optional<ServiceStatus> SimService::CurrentStatus() const {
  std::lock_guard lock(core_.Mutex());
  return current_;
}

std::vector<std::uint32_t> SimService::DeliveredControls() const {
  std::lock_guard lock(core_.Mutex());
  return delivered_;
}

bool SimService::DispatcherReturned() const {
  std::lock_guard lock(core_.Mutex());
  return dispatcherReturned_;
}

bool SimService::ServiceMainReturned() const {
  std::lock_guard lock(core_.Mutex());
  return serviceMainReturned_;
}

bool SimService::WaitForState(std::uint32_t state, std::chrono::milliseconds limit) {
  return threads_.WaitUntil(
      [&] {
        std::lock_guard lock(core_.Mutex());
        return std::any_of(reports_.begin(), reports_.end(), [state](const StatusReport& r) {
          return r.result != 0 && r.status.dwCurrentState == state;
        });
      },
      limit);
}

bool SimService::WaitForServiceMainReturn(std::chrono::milliseconds limit) {
  return threads_.WaitUntil([&] { return ServiceMainReturned(); }, limit);
}

}  // namespace platform::sim

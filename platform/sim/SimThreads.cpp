// The simulated machine's threads, events, virtual sleeps and timer queues.
#include "platform/sim/SimThreads.h"

#include <chrono>

namespace platform::sim {

SimThreads::~SimThreads() {
  JoinThreads();
}

void SimThreads::Sleep(std::uint32_t milliseconds) {
  {
    std::lock_guard lock(core_.Mutex());
    sleeps_.push_back(milliseconds);
    core_.Record("Sleep " + std::to_string(milliseconds));
  }
  core_.AdvanceMs(milliseconds);
}

Bool SimThreads::CloseHandle(Handle object) {
  std::lock_guard lock(core_.Mutex());
  std::uint32_t injected = 0;
  bool ok = false;
  if (core_.TakeFault("CloseHandle", &injected)) {
    SimCore::SetLastError(injected);
  } else {
    ok = core_.CloseHandle(object);
  }
  core_.Record("CloseHandle " + HandleText(object) + " -> " + (ok ? "1" : "0"));
  return ok ? 1 : 0;
}

Handle SimThreads::CreateThread(ThreadRoutine routine, void* parameter) {
  std::lock_guard lock(core_.Mutex());
  std::uint32_t injected = 0;
  if (core_.TakeFault("CreateThread", &injected)) {
    SimCore::SetLastError(injected);
    core_.Record("CreateThread -> null");
    return kNullHandle;
  }
  Handle h = core_.OpenHandle(HandleEntry{"thread", "worker"});
  threads_.emplace_back([routine, parameter] { routine(parameter); });
  core_.Record("CreateThread -> " + HandleText(h));
  return h;
}

Handle SimThreads::CreateEventW(bool manualReset, bool initialState) {
  std::lock_guard lock(core_.Mutex());
  std::uint32_t injected = 0;
  if (core_.TakeFault("CreateEventW", &injected)) {
    SimCore::SetLastError(injected);
    core_.Record("CreateEventW -> null");
    return kNullHandle;
  }
  Handle h = core_.OpenHandle(HandleEntry{"event", "unnamed"},
                              [this](Handle closed) { events_.erase(closed); });
  events_[h] = Event{manualReset, initialState};
  core_.Record("CreateEventW " + std::to_string(manualReset) + " " + std::to_string(initialState) +
               " -> " + HandleText(h));
  return h;
}

Bool SimThreads::SetEvent(Handle event) {
  std::lock_guard lock(core_.Mutex());
  auto it = events_.find(event);
  Bool ok = 0;
  if (it != events_.end()) {
    it->second.signalled = true;
    ok = 1;
    eventChanged_.notify_all();
  } else {
    SimCore::SetLastError(kErrorInvalidHandle);
  }
  core_.Record("SetEvent " + HandleText(event) + " -> " + std::to_string(ok));
  return ok;
}

std::uint32_t SimThreads::WaitForSingleObject(Handle object, std::uint32_t milliseconds) {
  std::unique_lock lock(core_.Mutex());
  core_.Record("WaitForSingleObject " + HandleText(object));
  auto ready = [&] {
    auto it = events_.find(object);
    return it == events_.end() || it->second.signalled;
  };
  if (!events_.contains(object)) {
    SimCore::SetLastError(kErrorInvalidHandle);
    return kWaitFailed;
  }
  if (milliseconds == kInfinite) {
    eventChanged_.wait(lock, ready);
  } else if (!ready()) {
    // A bounded wait does not block on the virtual clock: it times out at once unless set.
    return kWaitTimeout;
  }
  auto it = events_.find(object);
  if (it == events_.end()) return kWaitFailed;
  if (!it->second.manualReset) it->second.signalled = false;
  return kWaitObject0;
}

Handle SimThreads::CreateTimerQueue() {
  std::lock_guard lock(core_.Mutex());
  std::uint32_t injected = 0;
  if (core_.TakeFault("CreateTimerQueue", &injected)) {
    SimCore::SetLastError(injected);
    core_.Record("CreateTimerQueue -> null");
    return kNullHandle;
  }
  Handle h = core_.OpenHandle(HandleEntry{"timerqueue", "queue"});
  core_.Record("CreateTimerQueue -> " + HandleText(h));
  return h;
}

Bool SimThreads::CreateTimerQueueTimer(Handle* timer, Handle queue, TimerCallback callback,
                                       void* parameter, std::uint32_t dueTime, std::uint32_t period,
                                       std::uint32_t flags) {
  std::lock_guard lock(core_.Mutex());
  std::string what = "CreateTimerQueueTimer " + HandleText(queue) + " " + std::to_string(dueTime) +
                     " " + std::to_string(period) + " " + std::to_string(flags);
  std::uint32_t injected = 0;
  if (core_.TakeFault("CreateTimerQueueTimer", &injected) || timer == nullptr) {
    SimCore::SetLastError(injected != 0 ? injected : kErrorInvalidParameter);
    core_.Record(what + " -> 0");
    return 0;
  }
  Handle h = core_.OpenHandle(HandleEntry{"timer", "timer"});
  timers_[h] = SimTimer{queue, callback, parameter, dueTime, period, flags, core_.NowMs()};
  *timer = h;
  core_.Record(what + " -> 1");
  return 1;
}

std::uint32_t SimThreads::GetLastError() {
  return SimCore::GetLastError();
}

std::map<Handle, SimTimer> SimThreads::Timers() const {
  std::lock_guard lock(core_.Mutex());
  return timers_;
}

void SimThreads::FireTimer(Handle timer) {
  SimTimer t;
  {
    std::lock_guard lock(core_.Mutex());
    auto it = timers_.find(timer);
    if (it == timers_.end()) return;
    t = it->second;
  }
  if (t.callback != nullptr) t.callback(t.parameter, true);
}

void SimThreads::JoinThreads() {
  std::vector<std::thread> joining;
  {
    std::lock_guard lock(core_.Mutex());
    joining.swap(threads_);
  }
  for (auto& t : joining) t.join();
}

std::vector<std::uint32_t> SimThreads::Sleeps() const {
  std::lock_guard lock(core_.Mutex());
  return sleeps_;
}

}  // namespace platform::sim

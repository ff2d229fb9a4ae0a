// The simulated machine's threads, events, virtual sleeps and timer queues.
#include "platform/sim/SimThreads.h"

#include <algorithm>
#include <optional>

namespace platform::sim {

SimThreads::~SimThreads() {
  EndProcess();
  JoinThreads();
}

void SimThreads::EnableScheduledMode() {
  scheduler_.Enable();
  std::map<Handle, SimTimer> existing = Timers();
  for (const auto& [h, t] : existing) StartTimerThread(h, t);
}

SimThreads::Registration SimThreads::RegisterCurrentThread(std::string name) {
  SimScheduler::ThreadState* state = scheduler_.AddThread(std::move(name), false);
  scheduler_.Attach(state);
  return Registration(scheduler_, state);
}

void SimThreads::StartThread(std::string name, std::function<void()> body,
                             std::function<void()> onEnd) {
  std::lock_guard lock(threadsMutex_);
  if (scheduler_.ProcessEnded()) return;
  SimScheduler::ThreadState* state = scheduler_.AddThread(std::move(name), true);
  Completion* done = threads_.emplace_back(std::make_unique<Completion>()).get();
  SimThreadPool::Instance().Run(
      [this, state, body = std::move(body), onEnd = std::move(onEnd)] {
        scheduler_.Attach(state);
        try {
          body();
        } catch (const ProcessExit&) {
          // The process ended while this thread waited: it ends here, as the system would end it.
        }
        std::vector<std::function<void()>> listeners;
        {
          std::lock_guard listenersLock(threadsMutex_);
          listeners = exitListeners_;
        }
        for (const auto& listener : listeners) listener();
        if (onEnd) onEnd();
        scheduler_.RemoveThread(state);
        scheduler_.Changed();
      },
      done);
}

void SimThreads::AddThreadExitListener(std::function<void()> listener) {
  std::lock_guard lock(threadsMutex_);
  exitListeners_.push_back(std::move(listener));
}

bool SimThreads::WaitUntil(const std::function<bool()>& ready, std::chrono::milliseconds limit) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + limit;
  for (;;) {
    std::uint64_t seen = scheduler_.Generation();
    if (ready()) return true;
    WakeReason why = WakeReason::kChanged;
    if (scheduler_.Enabled()) {
      why = scheduler_.Block(seen, core_.NowMs() + 1, deadline);
    } else {
      why = scheduler_.Block(seen, std::nullopt,
                             std::min(deadline, Clock::now() + std::chrono::milliseconds(1)));
    }
    if (why == WakeReason::kEnded || Clock::now() >= deadline) return ready();
  }
}

bool SimThreads::Await(const std::function<bool()>& ready) {
  for (;;) {
    std::uint64_t seen = scheduler_.Generation();
    if (ready()) return true;
    if (scheduler_.Block(seen) == WakeReason::kEnded) return ready();
  }
}

void SimThreads::EndProcess() {
  scheduler_.EndProcess();
}

void SimThreads::Sleep(std::uint32_t milliseconds) {
  {
    SimCall call = core_.Enter();
    if (core_.Recording()) sleeps_.push_back(milliseconds);
    call.Record([&] { return "Sleep " + std::to_string(milliseconds); });
  }
  // The pause itself runs outside the machine's lock, so that other threads run meanwhile.
  scheduler_.Sleep(milliseconds);
}

Bool SimThreads::CloseHandle(Handle object) {
  SimCall call = core_.Enter(Fault::kCloseHandle);
  bool ok = false;
  if (call.failed()) {
    SimCore::SetLastError(call.error());
  } else {
    ok = core_.CloseHandle(object);
  }
  call.Record([&] { return "CloseHandle " + HandleText(object) + " -> " + (ok ? "1" : "0"); });
  return ok ? 1 : 0;
}

Handle SimThreads::CreateThread(ThreadRoutine routine, void* parameter) {
  Handle h = kNullHandle;
  {
    SimCall call = core_.Enter(Fault::kCreateThread);
    if (call.failed() || scheduler_.ProcessEnded()) {
      SimCore::SetLastError(call.error() != 0 ? call.error() : kErrorNotEnoughMemory);
      call.Record([] { return "CreateThread -> null"; });
      return kNullHandle;
    }
    h = core_.OpenHandle(HandleEntry{"thread", "worker"},
                         [this](Handle closed) { threadEnded_.erase(closed); });
    threadEnded_[h] = false;
    call.Record([&] { return "CreateThread -> " + HandleText(h); });
  }
  StartThread(
      "thread " + HandleText(h),
      [this, routine, parameter, quantum = createdThreadQuantumMs_.load()] {
        scheduler_.SetSleepQuantum(quantum);
        routine(parameter);
      },
      [this, h] {
        {
          std::lock_guard lock(core_.Mutex());
          auto it = threadEnded_.find(h);
          if (it != threadEnded_.end()) it->second = true;
        }
        scheduler_.Changed();
      });
  return h;
}

Handle SimThreads::CreateEventW(bool manualReset, bool initialState) {
  SimCall call = core_.Enter(Fault::kCreateEventW);
  if (call.failed()) {
    SimCore::SetLastError(call.error());
    call.Record([] { return "CreateEventW -> null"; });
    return kNullHandle;
  }
  Handle h = core_.OpenHandle(HandleEntry{"event", "unnamed"},
                              [this](Handle closed) { events_.erase(closed); });
  events_[h] = Event{manualReset, initialState};
  call.Record([&] {
    return "CreateEventW " + std::to_string(manualReset) + " " + std::to_string(initialState) +
           " -> " + HandleText(h);
  });
  return h;
}

Bool SimThreads::SetEvent(Handle event) {
  Bool ok = 0;
  {
    SimCall call = core_.Enter(Fault::kSetEvent);
    auto it = events_.find(event);
    if (call.failed()) {
      SimCore::SetLastError(call.error());
    } else if (it != events_.end()) {
      it->second.signalled = true;
      ok = 1;
    } else {
      SimCore::SetLastError(kErrorInvalidHandle);
    }
    call.Record([&] { return "SetEvent " + HandleText(event) + " -> " + std::to_string(ok); });
  }
  if (ok != 0) scheduler_.Changed();
  return ok;
}

std::uint32_t SimThreads::WaitForSingleObject(Handle object, std::uint32_t milliseconds) {
  std::optional<std::uint64_t> deadline;
  {
    SimCall call = core_.Enter(Fault::kWaitForSingleObject);
    if (call.failed()) {
      SimCore::SetLastError(call.error());
      call.Record([&] { return "WaitForSingleObject " + HandleText(object) + " -> WAIT_FAILED"; });
      return kWaitFailed;
    }
    call.Record([&] { return "WaitForSingleObject " + HandleText(object); });
    if (milliseconds != kInfinite) deadline = core_.NowMs() + milliseconds;
  }
  for (;;) {
    std::uint64_t seen = scheduler_.Generation();
    {
      std::lock_guard lock(core_.Mutex());
      auto event = events_.find(object);
      auto thread = threadEnded_.find(object);
      if (event != events_.end()) {
        if (event->second.signalled) {
          if (!event->second.manualReset) event->second.signalled = false;
          return kWaitObject0;
        }
      } else if (thread != threadEnded_.end()) {
        if (thread->second) return kWaitObject0;
      } else {
        // Not a waitable object, or closed while the wait went on.
        SimCore::SetLastError(kErrorInvalidHandle);
        return kWaitFailed;
      }
    }
    // A bounded wait times out at once in the default mode and at its virtual deadline in
    // scheduled mode; an infinite wait counts as blocked until the object is signalled.
    switch (scheduler_.Block(seen, deadline)) {
      case WakeReason::kVirtualTimeout:
      case WakeReason::kRealTimeout:
        return kWaitTimeout;
      case WakeReason::kEnded:
        return kWaitFailed;
      case WakeReason::kChanged:
        break;
    }
  }
}

Handle SimThreads::CreateTimerQueue() {
  SimCall call = core_.Enter(Fault::kCreateTimerQueue);
  if (call.failed()) {
    SimCore::SetLastError(call.error());
    call.Record([] { return "CreateTimerQueue -> null"; });
    return kNullHandle;
  }
  Handle h = core_.OpenHandle(HandleEntry{"timerqueue", "queue"});
  call.Record([&] { return "CreateTimerQueue -> " + HandleText(h); });
  return h;
}

Bool SimThreads::CreateTimerQueueTimer(Handle* timer, Handle queue, TimerCallback callback,
                                       void* parameter, std::uint32_t dueTime, std::uint32_t period,
                                       std::uint32_t flags) {
  Handle h = kNullHandle;
  SimTimer created;
  {
    SimCall call = core_.Enter(Fault::kCreateTimerQueueTimer);
    call.Describe([&] {
      return "CreateTimerQueueTimer " + HandleText(queue) + " " + std::to_string(dueTime) + " " +
             std::to_string(period) + " " + std::to_string(flags);
    });
    if (call.failed() || timer == nullptr) {
      SimCore::SetLastError(call.error() != 0 ? call.error() : kErrorInvalidParameter);
      call.Record([] { return " -> 0"; });
      return 0;
    }
    h = core_.OpenHandle(HandleEntry{"timer", "timer"});
    created = SimTimer{queue, callback, parameter, dueTime, period, flags, core_.NowMs()};
    timers_[h] = created;
    *timer = h;
    call.Record([] { return " -> 1"; });
  }
  if (scheduler_.Enabled()) StartTimerThread(h, created);
  return 1;
}

// A timer of the scheduled mode: its own thread sleeps until each due time and starts the tick
// on a fresh thread, as the pool does, so that a long tick does not hold back the next one.
void SimThreads::StartTimerThread(Handle timer, const SimTimer& t) {
  StartThread("timer " + HandleText(timer), [this, timer, t] {
    std::uint64_t due = t.createdAtMs + t.dueTime;
    for (;;) {
      scheduler_.SleepUntil(due);
      {
        std::lock_guard lock(core_.Mutex());
        core_.Record([&] { return "Timer " + HandleText(timer) + " fires"; });
      }
      StartThread("tick of timer " + HandleText(timer), [t] {
        if (t.callback != nullptr) t.callback(t.parameter, true);
      });
      if (t.period == 0) return;
      due += t.period;
    }
  });
}

std::uint32_t SimThreads::GetLastError() {
  return SimCore::GetLastError();
}

void SimThreads::SetLastError(std::uint32_t error) {
  SimCore::SetLastError(error);
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
  for (;;) {
    std::vector<std::unique_ptr<Completion>> joining;
    {
      std::lock_guard lock(threadsMutex_);
      joining.swap(threads_);
    }
    if (joining.empty()) return;
    for (const auto& t : joining) t->Wait();
  }
}

std::vector<std::uint32_t> SimThreads::Sleeps() const {
  std::lock_guard lock(core_.Mutex());
  return sleeps_;
}

}  // namespace platform::sim

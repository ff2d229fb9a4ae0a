// The simulated machine's waits and its virtual-time scheduler.
#include "platform/sim/SimScheduler.h"

#include <algorithm>
#include <condition_variable>
#include <limits>

namespace platform::sim {

struct SimScheduler::ThreadState {
  std::string name;
  bool simulated = false;  ///< started by the machine: ended with the process
  bool running = true;
  bool wakesOnChange = false;  ///< a Block, as opposed to a Sleep
  bool hasWake = false;        ///< a virtual time ends the wait
  std::uint64_t wakeAt = 0;
  std::uint64_t sleepQuantum = 0;  ///< sleeps end on a multiple of this (0: when due)
  WakeReason reason = WakeReason::kChanged;
  std::condition_variable cv;
};

namespace {
thread_local const SimScheduler* tOwner = nullptr;
thread_local SimScheduler::ThreadState* tState = nullptr;
constexpr std::uint64_t kNoWake = std::numeric_limits<std::uint64_t>::max();
}  // namespace

SimScheduler::SimScheduler(SimCore& core) : core_(core) {}

SimScheduler::~SimScheduler() {
  if (CurrentBlockingObserver() == this) SetBlockingObserver(nullptr);
  if (tOwner == this) {
    tOwner = nullptr;
    tState = nullptr;
  }
}

void SimScheduler::Enable() {
  enabled_.store(true);
  SetBlockingObserver(this);
}

SimScheduler::ThreadState* SimScheduler::AddThread(std::string name, bool simulated) {
  auto state = std::make_unique<ThreadState>();
  state->name = std::move(name);
  state->simulated = simulated;
  std::lock_guard lock(mutex_);
  ThreadState* raw = state.get();
  owned_.push_back(std::move(state));
  active_.push_back(raw);
  return raw;
}

void SimScheduler::Attach(ThreadState* state) {
  tOwner = this;
  tState = state;
}

void SimScheduler::RemoveThread(ThreadState* state) {
  std::lock_guard lock(mutex_);
  EraseLocked(state);
  auto it = std::find_if(owned_.begin(), owned_.end(),
                         [state](const auto& owned) { return owned.get() == state; });
  if (tOwner == this && tState == state) {
    tOwner = nullptr;
    tState = nullptr;
  }
  if (it != owned_.end()) owned_.erase(it);
  MaybeAdvanceLocked();
}

SimScheduler::ThreadState* SimScheduler::Mine() const {
  return tOwner == this ? tState : nullptr;
}

void SimScheduler::ExitCheck(const ThreadState& state) const {
  if (state.simulated && ended_.load()) throw ProcessExit{};
}

void SimScheduler::EraseLocked(ThreadState* state) {
  active_.erase(std::remove(active_.begin(), active_.end(), state), active_.end());
}

// The scheduler's step: when no known thread runs, the clock jumps to the earliest wake time
// and every thread due by then runs again. Threads that all wait for one another (no wake time
// among them) leave the clock where it is until something outside acts.
void SimScheduler::MaybeAdvanceLocked() {
  if (!enabled_.load() || ended_.load()) return;
  std::uint64_t next = kNoWake;
  for (const ThreadState* s : active_) {
    if (s->running) return;
    if (s->hasWake) next = std::min(next, s->wakeAt);
  }
  if (next == kNoWake) return;
  core_.AdvanceTo(next);
  for (ThreadState* s : active_) {
    if (s->hasWake && s->wakeAt <= next) {
      s->running = true;
      s->hasWake = false;
      s->reason = WakeReason::kVirtualTimeout;
      s->cv.notify_one();
    }
  }
}

std::uint64_t SimScheduler::Generation() {
  std::lock_guard lock(mutex_);
  return generation_;
}

void SimScheduler::WaitForChange(std::uint64_t seen) {
  Block(seen);
}

void SimScheduler::Changed() {
  std::lock_guard lock(mutex_);
  ++generation_;
  for (ThreadState* s : active_) {
    if (!s->running && s->wakesOnChange) {
      s->running = true;
      s->hasWake = false;
      s->reason = WakeReason::kChanged;
      s->cv.notify_one();
    }
  }
}

WakeReason SimScheduler::Block(std::uint64_t seen, std::optional<std::uint64_t> virtualDeadline,
                               std::optional<std::chrono::steady_clock::time_point> realDeadline) {
  std::unique_lock lock(mutex_);
  ThreadState temp;
  ThreadState* s = Mine();
  const bool known = s != nullptr;
  if (!known) s = &temp;
  ExitCheck(*s);
  if (ended_.load()) return WakeReason::kEnded;
  if (generation_ != seen) return WakeReason::kChanged;
  if (virtualDeadline &&
      (!enabled_.load() || *virtualDeadline <= core_.NowMs())) {  // bounded waits: no wait
    return WakeReason::kVirtualTimeout;
  }
  if (!known) active_.push_back(s);
  s->running = false;
  s->wakesOnChange = true;
  s->hasWake = virtualDeadline.has_value();
  s->wakeAt = virtualDeadline.value_or(0);
  MaybeAdvanceLocked();
  WakeReason reason = WakeReason::kChanged;
  bool timedOut = false;
  while (!s->running) {
    if (realDeadline) {
      if (s->cv.wait_until(lock, *realDeadline) == std::cv_status::timeout && !s->running) {
        timedOut = true;
        s->running = true;
        s->hasWake = false;
      }
    } else {
      s->cv.wait(lock);
    }
  }
  reason = timedOut ? WakeReason::kRealTimeout : s->reason;
  s->wakesOnChange = false;
  if (!known) {
    EraseLocked(s);
    MaybeAdvanceLocked();
  }
  ExitCheck(*s);
  if (ended_.load() && reason != WakeReason::kRealTimeout) return WakeReason::kEnded;
  return reason;
}

void SimScheduler::Sleep(std::uint64_t ms) {
  if (!enabled_.load()) {
    ThreadState* s = Mine();
    if (s != nullptr) ExitCheck(*s);
    core_.AdvanceMs(ms);
    return;
  }
  SleepUntil(core_.NowMs() + ms);
}

void SimScheduler::SleepUntil(std::uint64_t timeMs) {
  std::unique_lock lock(mutex_);
  ThreadState temp;
  ThreadState* s = Mine();
  const bool known = s != nullptr;
  if (!known) s = &temp;
  ExitCheck(*s);
  if (ended_.load()) return;
  if (!enabled_.load()) {
    lock.unlock();
    std::uint64_t now = core_.NowMs();
    if (timeMs > now) core_.AdvanceMs(timeMs - now);
    return;
  }
  if (!known) active_.push_back(s);
  if (s->sleepQuantum != 0)
    timeMs = (timeMs + s->sleepQuantum - 1) / s->sleepQuantum * s->sleepQuantum;
  s->running = false;
  s->wakesOnChange = false;
  s->hasWake = true;
  s->wakeAt = timeMs;
  MaybeAdvanceLocked();
  while (!s->running) s->cv.wait(lock);
  if (!known) {
    EraseLocked(s);
    MaybeAdvanceLocked();
  }
  ExitCheck(*s);
}

void SimScheduler::SetSleepQuantum(std::uint64_t ms) {
  std::lock_guard lock(mutex_);
  if (ThreadState* s = Mine()) s->sleepQuantum = ms;
}

void SimScheduler::EndProcess() {
  std::lock_guard lock(mutex_);
  ended_.store(true);
  ++generation_;
  for (ThreadState* s : active_) {
    if (!s->running) {
      s->running = true;
      s->hasWake = false;
      s->reason = WakeReason::kEnded;
      s->cv.notify_one();
    }
  }
}

std::vector<std::string> SimScheduler::Describe() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> out;
  out.push_back("clock " + std::to_string(core_.NowMs()) + " ms");
  for (const ThreadState* s : active_) {
    std::string line = (s->name.empty() ? std::string("(unregistered)") : s->name) + ": ";
    if (s->running) {
      line += "running";
    } else if (s->wakesOnChange) {
      line += "blocked";
      if (s->hasWake) line += " until " + std::to_string(s->wakeAt);
    } else {
      line += "sleeping until " + std::to_string(s->wakeAt);
    }
    out.push_back(line);
  }
  return out;
}

}  // namespace platform::sim

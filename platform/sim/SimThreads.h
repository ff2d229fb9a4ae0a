// The simulated machine's threads, events, virtual sleeps and timer queues.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/Threads.h"
#include "platform/sim/SimCore.h"
#include "platform/sim/SimScheduler.h"
#include "platform/sim/SimThreadPool.h"

namespace platform::sim {

/// A timer created in a timer queue. In the default mode its ticks are driven by the test
/// (FireTimer); in scheduled mode it fires on its own at its virtual due times.
struct SimTimer {
  Handle queue = kNullHandle;
  TimerCallback callback = nullptr;
  void* parameter = nullptr;
  std::uint32_t dueTime = 0;
  std::uint32_t period = 0;
  std::uint32_t flags = 0;
  std::uint64_t createdAtMs = 0;
};

/// How long a test's wait on the simulated machine may take in real time before it gives up.
inline constexpr std::chrono::milliseconds kSafetyLimit{10000};

/// Threads are real threads (kept in SimThreadPool between machines); events are real events, so
/// that a waiting thread wakes when another sets them. Sleep advances the virtual clock and never
/// waits in the default mode; in scheduled mode (EnableScheduledMode) it waits for the clock, which
/// moves only while every thread of the machine waits (see SimScheduler).
class SimThreads final : public Threads {
 public:
  explicit SimThreads(SimCore& core) : core_(core), scheduler_(core) {}
  /// Ends the simulated process and joins every thread the machine started.
  ~SimThreads() override;
  SimThreads(const SimThreads&) = delete;
  SimThreads& operator=(const SimThreads&) = delete;

  void Sleep(std::uint32_t milliseconds) override;
  Bool CloseHandle(Handle object) override;
  Handle CreateThread(ThreadRoutine routine, void* parameter) override;
  Handle CreateEventW(bool manualReset, bool initialState) override;
  Bool SetEvent(Handle event) override;
  /// Waits on an event or a thread handle (signalled once its thread has ended).
  std::uint32_t WaitForSingleObject(Handle object, std::uint32_t milliseconds) override;
  Handle CreateTimerQueue() override;
  Bool CreateTimerQueueTimer(Handle* timer, Handle queue, TimerCallback callback, void* parameter,
                             std::uint32_t dueTime, std::uint32_t period,
                             std::uint32_t flags) override;
  std::uint32_t GetLastError() override;
  void SetLastError(std::uint32_t error) override;

  /// Switches to scheduled mode: virtual time for real threads. Call before any thread starts.
  void EnableScheduledMode();
  /// Scheduled mode: every sleep of a thread that CreateThread starts from now on ends at the
  /// first multiple of ms at or after its due time, as Sleep(1) lasts until the next timer
  /// interrupt at Windows' default resolution of 15.6 ms; 0 (the default) ends it when due.
  /// A loop of short sleeps then wakes once a quantum instead of once a millisecond.
  void SetCreatedThreadSleepQuantum(std::uint32_t ms) { createdThreadQuantumMs_ = ms; }

  /// The calling thread's membership of the schedule; it leaves when this is destroyed.
  class Registration {
   public:
    Registration(SimScheduler& scheduler, SimScheduler::ThreadState* state)
        : scheduler_(&scheduler), state_(state) {}
    Registration(Registration&& other) noexcept
        : scheduler_(other.scheduler_), state_(std::exchange(other.state_, nullptr)) {}
    Registration(const Registration&) = delete;
    Registration& operator=(const Registration&) = delete;
    Registration& operator=(Registration&&) = delete;
    ~Registration() {
      if (state_ != nullptr) scheduler_->RemoveThread(state_);
    }

   private:
    SimScheduler* scheduler_;
    SimScheduler::ThreadState* state_;
  };
  /// Registers the calling thread (the main thread, a scenario driver) with the scheduler: the
  /// clock waits for it whenever it runs.
  [[nodiscard]] Registration RegisterCurrentThread(std::string name);

  /// Starts a thread of the machine: known to the scheduler from before its start, ended with
  /// the simulated process, joined by JoinThreads. Nothing starts once the process has ended.
  void StartThread(std::string name, std::function<void()> body, std::function<void()> onEnd = {});
  /// Runs on every thread of the machine as it ends (its windows go with it).
  void AddThreadExitListener(std::function<void()> listener);

  /// A test's wait: blocks until ready() holds, checked after every change of the machine's
  /// state and at every virtual millisecond (every real millisecond in the default mode), so it
  /// also sees what changes without notice, such as debug lines. False when the real-time limit
  /// passed first (a test fails then instead of hanging), or when the process ended.
  bool WaitUntil(const std::function<bool()>& ready,
                 std::chrono::milliseconds limit = kSafetyLimit);
  /// The machine's own waits: blocks until ready() holds, checked after every change of the
  /// machine's state. False when the process ended first.
  bool Await(const std::function<bool()>& ready);

  /// Ends the simulated process: every thread of the machine ends at its next wait.
  void EndProcess();
  [[nodiscard]] bool ProcessEnded() const { return scheduler_.ProcessEnded(); }

  SimScheduler& scheduler() { return scheduler_; }

  /// The timers created so far, by handle.
  [[nodiscard]] std::map<Handle, SimTimer> Timers() const;
  /// Runs one tick of a timer on the calling thread, as the pool would.
  void FireTimer(Handle timer);
  /// Waits until every thread started by the machine has returned.
  void JoinThreads();
  /// Every Sleep made so far, in milliseconds, in order.
  [[nodiscard]] std::vector<std::uint32_t> Sleeps() const;

 private:
  struct Event {
    bool manualReset = true;
    bool signalled = false;
  };

  void StartTimerThread(Handle timer, const SimTimer& t);

  SimCore& core_;
  SimScheduler scheduler_;
  std::map<Handle, Event> events_;
  std::map<Handle, bool> threadEnded_;
  std::atomic<std::uint32_t> createdThreadQuantumMs_{0};
  std::map<Handle, SimTimer> timers_;
  std::vector<std::uint32_t> sleeps_;
  std::mutex threadsMutex_;
  std::vector<std::unique_ptr<Completion>> threads_;  ///< one per thread started, set as it ends
  std::vector<std::function<void()>> exitListeners_;
};

}  // namespace platform::sim

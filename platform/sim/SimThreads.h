// The simulated machine's threads, events, virtual sleeps and timer queues.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <thread>
#include <vector>

#include "platform/Threads.h"
#include "platform/sim/SimCore.h"

namespace platform::sim {

/// A timer created in a timer queue; its ticks are driven by the test or the simulator.
struct SimTimer {
  Handle queue = kNullHandle;
  TimerCallback callback = nullptr;
  void* parameter = nullptr;
  std::uint32_t dueTime = 0;
  std::uint32_t period = 0;
  std::uint32_t flags = 0;
  std::uint64_t createdAtMs = 0;
};

/// Sleep advances the virtual clock and never waits. Threads are real threads; events are real
/// events, so that a waiting thread wakes when another sets them.
class SimThreads final : public Threads {
 public:
  explicit SimThreads(SimCore& core) : core_(core) {}
  ~SimThreads() override;
  SimThreads(const SimThreads&) = delete;
  SimThreads& operator=(const SimThreads&) = delete;

  void Sleep(std::uint32_t milliseconds) override;
  Bool CloseHandle(Handle object) override;
  Handle CreateThread(ThreadRoutine routine, void* parameter) override;
  Handle CreateEventW(bool manualReset, bool initialState) override;
  Bool SetEvent(Handle event) override;
  std::uint32_t WaitForSingleObject(Handle object, std::uint32_t milliseconds) override;
  Handle CreateTimerQueue() override;
  Bool CreateTimerQueueTimer(Handle* timer, Handle queue, TimerCallback callback, void* parameter,
                             std::uint32_t dueTime, std::uint32_t period,
                             std::uint32_t flags) override;
  std::uint32_t GetLastError() override;

  /// The timers created so far, by handle.
  [[nodiscard]] std::map<Handle, SimTimer> Timers() const;
  /// Runs one tick of a timer on the calling thread, as the pool would.
  void FireTimer(Handle timer);
  /// Waits until every thread started by CreateThread has returned.
  void JoinThreads();
  /// Every Sleep made so far, in milliseconds, in order.
  [[nodiscard]] std::vector<std::uint32_t> Sleeps() const;

 private:
  struct Event {
    bool manualReset = true;
    bool signalled = false;
  };

  SimCore& core_;
  std::condition_variable_any eventChanged_;
  std::map<Handle, Event> events_;
  std::map<Handle, SimTimer> timers_;
  std::vector<std::uint32_t> sleeps_;
  std::vector<std::thread> threads_;
};

}  // namespace platform::sim

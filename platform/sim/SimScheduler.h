// The simulated machine's waits, and virtual time for real threads: in scheduled mode the clock
// moves only while every thread it runs is waiting.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/RecursiveLock.h"
#include "platform/sim/SimCore.h"

namespace platform::sim {

/// Thrown from a wait of a thread the machine started, once the simulated process has ended.
/// The thread's wrapper catches it: it stands for the system ending the thread with the process.
struct ProcessExit {};

/// How a Block ended.
enum class WakeReason {
  kChanged,         ///< Changed() ran after the generation the caller saw
  kVirtualTimeout,  ///< the virtual deadline came (at once in the default mode)
  kRealTimeout,     ///< the real-time safety limit passed
  kEnded,           ///< the process has ended (threads the machine did not start)
};

/// Every wait of the simulated machine goes through here, futex-style: a waiter reads
/// Generation(), checks its condition, and blocks until Changed() moves the generation.
///
/// Default mode: Sleep advances the clock at once, as single-threaded unit tests want.
/// Scheduled mode (Enable): a classic discrete-event scheduler over real threads. The threads it
/// knows (those the machine starts, and any thread registered) are running, sleeping until a
/// virtual time, or blocked. When none is running, the clock jumps to the earliest wake time
/// and the threads due then run. A thread not known to the scheduler does not hold the clock
/// while it runs, but its sleeps and waits take part while they last.
class SimScheduler final : public BlockingObserver {
 public:
  explicit SimScheduler(SimCore& core);
  ~SimScheduler() override;
  SimScheduler(const SimScheduler&) = delete;
  SimScheduler& operator=(const SimScheduler&) = delete;

  /// Switches to scheduled mode. Call before any thread of the machine starts.
  void Enable();
  [[nodiscard]] bool Enabled() const { return enabled_.load(); }

  /// A thread known to the scheduler; defined in the .cpp.
  struct ThreadState;
  /// Adds a thread that counts as running from now on, before it starts, so that the clock
  /// cannot move past its start. simulated: a thread of the machine, ended with the process.
  ThreadState* AddThread(std::string name, bool simulated);
  /// Binds state to the calling thread.
  void Attach(ThreadState* state);
  /// The calling thread, bound to state, leaves the scheduler.
  void RemoveThread(ThreadState* state);

  std::uint64_t Generation() override;
  void WaitForChange(std::uint64_t seen) override;
  void Changed() override;

  /// Blocks the calling thread unless the generation has moved past seen, until Changed(), the
  /// virtual deadline or the real deadline.
  WakeReason Block(std::uint64_t seen, std::optional<std::uint64_t> virtualDeadline = {},
                   std::optional<std::chrono::steady_clock::time_point> realDeadline = {});
  /// Default mode: advances the clock by ms. Scheduled mode: waits for the clock to reach now+ms.
  void Sleep(std::uint64_t ms);
  /// Waits for the clock to reach timeMs (scheduled mode; the default mode advances to it).
  void SleepUntil(std::uint64_t timeMs);
  /// The calling known thread's sleeps from now on end at the first multiple of ms at or after
  /// their due time (0: when due). No effect on a thread the scheduler does not know.
  void SetSleepQuantum(std::uint64_t ms);

  /// Ends the simulated process: every wait of a machine thread, current or later, throws
  /// ProcessExit; other threads' waits return kEnded. The clock stops.
  void EndProcess();
  [[nodiscard]] bool ProcessEnded() const { return ended_.load(); }

  /// One line per known thread ("worker: sleeping until 1500"), for failure messages.
  [[nodiscard]] std::vector<std::string> Describe() const;

 private:
  ThreadState* Mine() const;
  void ExitCheck(const ThreadState& state) const;
  void MaybeAdvanceLocked();
  void EraseLocked(ThreadState* state);

  SimCore& core_;
  std::atomic<bool> enabled_{false};
  std::atomic<bool> ended_{false};
  mutable std::mutex mutex_;
  std::uint64_t generation_ = 0;
  std::vector<std::unique_ptr<ThreadState>> owned_;
  std::vector<ThreadState*> active_;
};

}  // namespace platform::sim

// A recursive lock whose waits a virtual-time scheduler can see, and the hook that lets it.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

namespace platform {

/// Observer of waits that happen outside the platform's own calls. A simulated machine that
/// runs threads on a virtual clock installs one: its clock may move only while every thread it
/// runs is waiting, so a thread that waits for a lock must say so. On real Windows none is
/// installed and the lock below is a plain recursive mutex.
class BlockingObserver {
 public:
  virtual ~BlockingObserver() = default;
  /// A counter that moves on every Changed().
  virtual std::uint64_t Generation() = 0;
  /// Blocks the calling thread until the counter differs from seen.
  virtual void WaitForChange(std::uint64_t seen) = 0;
  /// Announces that something a waiting thread may wait for has changed.
  virtual void Changed() = 0;
};

/// Installs (or, with nullptr, removes) the process-wide observer.
void SetBlockingObserver(BlockingObserver* observer);
/// The installed observer, or nullptr.
BlockingObserver* CurrentBlockingObserver();

/// A recursive mutual-exclusion lock (BasicLockable and Lockable). While no observer is
/// installed it behaves as std::recursive_mutex; with one, a contended lock() waits through the
/// observer and the last unlock() of a contended lock announces the release.
class RecursiveLock {
 public:
  RecursiveLock() = default;
  RecursiveLock(const RecursiveLock&) = delete;
  RecursiveLock& operator=(const RecursiveLock&) = delete;

  void lock();
  bool try_lock();
  void unlock();

 private:
  std::mutex mutex_;
  std::atomic<std::thread::id> owner_{};
  int depth_ = 0;  ///< touched by the owner only
  std::atomic<int> waiters_{0};
};

}  // namespace platform

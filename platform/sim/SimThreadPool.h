// Real threads for the simulated machine's threads, kept from one machine to the next.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <utility>

namespace platform::sim {

/// Set once a body handed to the pool has returned; waited on in place of a join. Its owner keeps
/// it until the wait has returned: the pool's thread touches it last when it sets it, and never
/// afterwards, so that what a body allocates is all freed before its waiter goes on.
class Completion {
 public:
  void Set();
  void Wait();
  /// False when limit passed first.
  bool WaitFor(std::chrono::milliseconds limit);

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool done_ = false;
};

/// The process's real threads for machine threads. Starting and ending a thread costs more than
/// most of what a machine thread runs, above all under AddressSanitizer (stack, TLS and allocator
/// cache are mapped, touched and unmapped each time), and one fuzz input or service test starts
/// seven or more. A body runs on an idle thread, or on a new one when none is idle, so that a
/// body that waits for another never waits for a thread to run it. A thread's last error is 0 at
/// the start of each body, as on a new Windows thread; everything else a body leaves in its
/// thread-locals it must clear itself.
class SimThreadPool {
 public:
  /// The pool, never destroyed: idle threads wait for work until the process exits.
  static SimThreadPool& Instance();

  /// Runs body and then sets *done, which must outlive the wait for it.
  void Run(std::function<void()> body, Completion* done);

 private:
  struct Work {
    std::function<void()> body;
    Completion* done = nullptr;
  };
  void Loop();

  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<Work> work_;
  std::size_t waiting_ = 0;
};

}  // namespace platform::sim

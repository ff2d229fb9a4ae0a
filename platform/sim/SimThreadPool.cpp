// Real threads for the simulated machine's threads.
#include "platform/sim/SimThreadPool.h"

#include <thread>

#include "platform/NoDestructor.h"
#include "platform/sim/SimCore.h"

namespace platform::sim {

void Completion::Set() {
  // Notified under the lock: once the waiter can take the lock, nothing here touches *this.
  std::lock_guard lock(mutex_);
  done_ = true;
  cv_.notify_all();
}

void Completion::Wait() {
  std::unique_lock lock(mutex_);
  cv_.wait(lock, [this] { return done_; });
}

bool Completion::WaitFor(std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  return cv_.wait_for(lock, limit, [this] { return done_; });
}

SimThreadPool& SimThreadPool::Instance() {
  static NoDestructor<SimThreadPool> pool;
  return pool.get();
}

void SimThreadPool::Run(std::function<void()> body, Completion* done) {
  bool spawn = false;
  {
    std::lock_guard lock(mutex_);
    work_.push_back(Work{std::move(body), done});
    // Each queued body needs a waiting thread of its own; a woken thread stops counting as
    // waiting only once it runs, so this may start one thread more than needed, never one less.
    spawn = work_.size() > waiting_;
  }
  if (spawn) {
    std::thread([this] { Loop(); }).detach();
  } else {
    cv_.notify_one();
  }
}

void SimThreadPool::Loop() {
  std::unique_lock lock(mutex_);
  ++waiting_;
  for (;;) {
    cv_.wait(lock, [this] { return !work_.empty(); });
    --waiting_;
    Work next = std::move(work_.front());
    work_.pop_front();
    lock.unlock();
    SimCore::SetLastError(0);
    next.body();
    next.body = nullptr;  // what the body captured goes before its waiter goes on
    // Counted as waiting before its waiter hears it is done, so that work handed over right
    // after a wait finds this thread rather than starting another.
    lock.lock();
    ++waiting_;
    lock.unlock();
    next.done->Set();
    lock.lock();
  }
}

}  // namespace platform::sim

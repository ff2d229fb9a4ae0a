// A recursive lock whose waits a virtual-time scheduler can see.
#include "platform/RecursiveLock.h"

namespace platform {

namespace {
std::atomic<BlockingObserver*> observer{nullptr};
}  // namespace

void SetBlockingObserver(BlockingObserver* o) {
  observer.store(o);
}

BlockingObserver* CurrentBlockingObserver() {
  return observer.load();
}

void RecursiveLock::lock() {
  const std::thread::id me = std::this_thread::get_id();
  if (owner_.load(std::memory_order_relaxed) == me) {
    ++depth_;
    return;
  }
  if (!mutex_.try_lock()) {
    BlockingObserver* o = observer.load();
    if (o == nullptr) {
      mutex_.lock();
    } else {
      // The generation is read before each attempt, so a release between a failed attempt
      // and the wait moves it and the wait returns at once.
      waiters_.fetch_add(1);
      struct Leave {
        std::atomic<int>& count;
        ~Leave() { count.fetch_sub(1); }
      } leave{waiters_};
      for (;;) {
        std::uint64_t seen = o->Generation();
        if (mutex_.try_lock()) break;
        o->WaitForChange(seen);
      }
    }
  }
  owner_.store(me, std::memory_order_relaxed);
  depth_ = 1;
}

bool RecursiveLock::try_lock() {
  const std::thread::id me = std::this_thread::get_id();
  if (owner_.load(std::memory_order_relaxed) == me) {
    ++depth_;
    return true;
  }
  if (!mutex_.try_lock()) return false;
  owner_.store(me, std::memory_order_relaxed);
  depth_ = 1;
  return true;
}

void RecursiveLock::unlock() {
  if (--depth_ > 0) return;
  owner_.store(std::thread::id{}, std::memory_order_relaxed);
  mutex_.unlock();
  if (waiters_.load() > 0) {
    BlockingObserver* o = observer.load();
    if (o != nullptr) o->Changed();
  }
}

}  // namespace platform

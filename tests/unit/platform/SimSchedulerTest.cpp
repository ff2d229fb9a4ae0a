// Virtual time with real threads: sleeps, timers, bounded waits, a lock held across a sleep,
// and the end of the process, in scheduled mode and in the default mode.
#include "platform/sim/SimScheduler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/RecursiveLock.h"
#include "platform/sim/SimMachine.h"

namespace platform::sim {
namespace {

class SimSchedulerTest : public ::testing::Test {
 protected:
  SimSchedulerTest() {
    sim.Install();
    sim.threads.EnableScheduledMode();
    driver.emplace(sim.threads.RegisterCurrentThread("driver"));
  }
  ~SimSchedulerTest() override {
    sim.threads.EndProcess();
    sim.threads.JoinThreads();
  }

 public:
  /// Records "who@time" lines from any thread.
  void Mark(const std::string& who) {
    std::lock_guard lock(marksMutex);
    marks.push_back(who + "@" + std::to_string(sim.core.NowMs()));
  }

 protected:
  std::vector<std::string> Marks() {
    std::lock_guard lock(marksMutex);
    return marks;
  }

  SimMachine sim;
  std::optional<SimThreads::Registration> driver;
  std::mutex marksMutex;
  std::vector<std::string> marks;
};

// Threads that sleep wake exactly at their virtual times, in time order, whatever the real
// speed of each; the clock stays put while any of them runs.
TEST_F(SimSchedulerTest, SleepersWakeAtTheirVirtualTimes) {
  sim.threads.StartThread("a", [this] {
    for (int i = 0; i < 3; ++i) {
      sim.threads.Sleep(30);
      Mark("a");
    }
  });
  sim.threads.StartThread("b", [this] {
    sim.threads.Sleep(45);
    Mark("b");
    sim.threads.Sleep(40);
    Mark("b");
  });
  sim.threads.Sleep(100);
  EXPECT_EQ(Marks(), (std::vector<std::string>{"a@30", "b@45", "a@60", "b@85", "a@90"}));
  EXPECT_EQ(sim.core.NowMs(), 100u);
}

// With a sleep quantum, a thread that CreateThread starts wakes on the quantum's multiples; a
// thread started otherwise, and one created before the quantum was set, wake when due.
TEST_F(SimSchedulerTest, CreatedThreadsSleepToTheNextQuantum) {
  static SimSchedulerTest* self = nullptr;
  self = this;
  auto sleeper = [](void* name) -> std::uint32_t {
    for (int i = 0; i < 3; ++i) {
      platform::Current().threads->Sleep(1);
      self->Mark(static_cast<const char*>(name));
    }
    return 0;
  };
  static char fine[] = "fine";
  static char coarse[] = "coarse";
  Handle first = sim.threads.CreateThread(sleeper, fine);
  sim.threads.SetCreatedThreadSleepQuantum(16);
  Handle second = sim.threads.CreateThread(sleeper, coarse);
  sim.threads.StartThread("started", [this] {
    sim.threads.Sleep(20);
    Mark("started");
  });
  sim.threads.Sleep(100);
  EXPECT_EQ(Marks(), (std::vector<std::string>{"fine@1", "fine@2", "fine@3", "coarse@16",
                                               "started@20", "coarse@32", "coarse@48"}));
  sim.threads.CloseHandle(first);
  sim.threads.CloseHandle(second);
}

// A timer-queue timer fires on threads of its own at 1000 ms and then every 1000 ms.
TEST_F(SimSchedulerTest, TimersFireAtTheirDueTimes) {
  Handle queue = sim.threads.CreateTimerQueue();
  Handle timer = kNullHandle;
  ASSERT_EQ(sim.threads.CreateTimerQueueTimer(
                &timer, queue,
                [](void* self, bool fired) {
                  static_cast<SimSchedulerTest*>(self)->Mark(fired ? "tick" : "?");
                },
                this, 1000, 1000, 0),
            1);
  sim.threads.Sleep(3500);
  EXPECT_EQ(Marks(), (std::vector<std::string>{"tick@1000", "tick@2000", "tick@3000"}));
}

// A lock held across a sleep: the waiting thread counts as blocked, so the clock reaches the
// holder's wake time, and the waiter takes the lock at the release.
TEST_F(SimSchedulerTest, LockHeldAcrossASleepDoesNotStopTheClock) {
  RecursiveLock lock;
  std::atomic<bool> holding{false};
  sim.threads.StartThread("holder", [&] {
    std::lock_guard held(lock);
    {
      std::lock_guard again(lock);  // recursive
      holding = true;
      sim.threads.Sleep(100);
    }
    sim.threads.Sleep(50);
    Mark("release");
  });
  ASSERT_TRUE(sim.threads.WaitUntil([&] { return holding.load(); }));
  {
    std::lock_guard taken(lock);
    Mark("taken");
  }
  EXPECT_EQ(Marks(), (std::vector<std::string>{"release@150", "taken@150"}));
}

// A bounded wait ends at its virtual deadline in scheduled mode, at once in the default mode;
// a set event ends it at once in both.
TEST_F(SimSchedulerTest, BoundedWaitsTimeOutOnTheVirtualClock) {
  Handle event = sim.threads.CreateEventW(true, false);
  EXPECT_EQ(sim.threads.WaitForSingleObject(event, 250), kWaitTimeout);
  EXPECT_EQ(sim.core.NowMs(), 250u);
  sim.threads.StartThread("setter", [&] {
    sim.threads.Sleep(40);
    sim.threads.SetEvent(event);
  });
  EXPECT_EQ(sim.threads.WaitForSingleObject(event, 1000), kWaitObject0);
  EXPECT_EQ(sim.core.NowMs(), 290u);

  SimMachine plain;
  Handle other = plain.threads.CreateEventW(true, false);
  EXPECT_EQ(plain.threads.WaitForSingleObject(other, 250), kWaitTimeout);
  EXPECT_EQ(plain.core.NowMs(), 0u);
}

// The end of the process ends threads blocked for ever, sleeping, or polling, and a thread
// handle is signalled once its thread has ended.
TEST_F(SimSchedulerTest, ProcessEndEndsEveryThread) {
  Handle never = sim.threads.CreateEventW(true, false);
  std::atomic<int> ended{0};
  sim.threads.StartThread(
      "blocked", [&] { sim.threads.WaitForSingleObject(never, kInfinite); }, [&] { ++ended; });
  sim.threads.StartThread(
      "polling",
      [&] {
        for (;;) sim.threads.Sleep(1);
      },
      [&] { ++ended; });
  Handle worker = sim.threads.CreateThread([](void*) -> std::uint32_t { return 0; }, nullptr);
  EXPECT_EQ(sim.threads.WaitForSingleObject(worker, kInfinite), kWaitObject0);
  sim.threads.Sleep(10);
  sim.threads.EndProcess();
  sim.threads.JoinThreads();
  EXPECT_EQ(ended, 2);
  EXPECT_FALSE(sim.threads.Sleeps().empty());
}

}  // namespace
}  // namespace platform::sim

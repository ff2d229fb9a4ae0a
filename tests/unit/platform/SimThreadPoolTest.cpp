// The machine's thread pool: a body that waits for a later one gets a thread of its own, and a
// reused thread starts each body as a new Windows thread starts, with last error 0.
#include "platform/sim/SimThreadPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/sim/SimCore.h"

namespace platform::sim {
namespace {

constexpr std::chrono::milliseconds kLimit{5000};

TEST(SimThreadPoolTest, BodiesThatWaitForEachOtherEachGetAThread) {
  SimThreadPool& pool = SimThreadPool::Instance();
  // Each body waits for the next one, started after it: with a thread too few the chain would
  // never finish.
  constexpr int kChain = 8;
  std::atomic<int> reached{0};
  std::vector<Completion> done(kChain);
  for (int i = 0; i < kChain; ++i) {
    pool.Run(
        [&reached, i] {
          reached.fetch_add(1);
          while (reached.load() < kChain && i < kChain - 1) std::this_thread::yield();
        },
        &done[i]);
  }
  for (Completion& d : done) ASSERT_TRUE(d.WaitFor(kLimit));
  EXPECT_EQ(reached.load(), kChain);
}

TEST(SimThreadPoolTest, EveryBodyStartsWithLastErrorZero) {
  SimThreadPool& pool = SimThreadPool::Instance();
  for (int i = 0; i < 10; ++i) {
    std::uint32_t seen = 1;
    Completion done;
    pool.Run(
        [&seen] {
          seen = SimCore::GetLastError();
          SimCore::SetLastError(5);  // left behind for whichever body this thread runs next
        },
        &done);
    ASSERT_TRUE(done.WaitFor(kLimit));
    EXPECT_EQ(seen, 0u) << "body " << i;
  }
}

}  // namespace
}  // namespace platform::sim

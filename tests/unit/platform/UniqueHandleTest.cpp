// UniqueHandle closes what it owns exactly once and keeps the caller's last error.
#include "platform/UniqueHandle.h"

#include <gtest/gtest.h>

#include "tests/unit/support/SimFixture.h"

namespace platform {
namespace {

struct EventTraits {
  static Handle Invalid() { return kNullHandle; }
  // A close that changes the last error, as many release calls do.
  static void Close(Handle h) {
    Current().threads->CloseHandle(h);
    Current().threads->SetLastError(99);
  }
};
using UniqueEvent = UniqueHandle<EventTraits>;

class UniqueHandleTest : public testsupport::SimTest {};

TEST_F(UniqueHandleTest, ClosesOnceThroughMovesAndKeepsTheLastError) {
  {
    UniqueEvent a(sim.threads.CreateEventW(true, false));
    ASSERT_TRUE(a.valid());
    UniqueEvent b(std::move(a));
    EXPECT_FALSE(a.valid());  // NOLINT(bugprone-use-after-move): the moved-from state is the test
    UniqueEvent c;
    c = std::move(b);
    EXPECT_EQ(sim.core.OpenHandleCount("event"), 1u);
    // A failing call's error, set after the handle was opened, survives the handle's close.
    sim.threads.SetLastError(1234);
  }
  EXPECT_EQ(sim.core.OpenHandleCount("event"), 0u);
  EXPECT_EQ(sim.core.JournalOf("CloseHandle").size(), 1u);
  EXPECT_EQ(sim.threads.GetLastError(), 1234u);
}

}  // namespace
}  // namespace platform

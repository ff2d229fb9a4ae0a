// The poll's steady ticks allocate nothing of their own beyond the one registry accessor that
// each read makes on the heap, whatever the policy and devices.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "bench/sim/BenchMachine.h"
#include "bench/sim/MarkedPlatform.h"
#include "bench/sim/ServiceAccounting.h"
#include "enforcement/PolicyPoll.h"
#include "guard/VolumeGuard.h"
#include "platform/Devices.h"

namespace bench {
namespace {

// The counter sees an allocation made by the calling thread outside platform calls, and only
// that: without this the zero counts below would prove nothing.
TEST(ServiceAccountingTest, CountsOnlyTheServicesOwnAllocations) {
  StartCountingAllocations();
  auto own = std::make_unique<std::string>(100, 'x');
  {
    PlatformCallScope platformCall;
    auto machines = std::make_unique<std::string>(100, 'y');
  }
  EXPECT_EQ(StopCountingAllocations(), 2u);  // the unique_ptr's string and its buffer
}

// Ten ticks after a first one that settles the machine (the value already in line with the tag,
// the devices already switched): each allocates its registry accessor and nothing else. The
// accessor is made on the heap and deleted through its virtual destructor for each read, by
// design; anything more would be a regression.
TEST(PollAllocationTest, SteadyTicksAllocateOnlyTheirRegistryAccessor) {
  struct Case {
    const char* name;
    std::optional<std::u16string> tag;  // nullopt: no tag file
    Drives drives;
    bool removableLock;
    bool wpdClass;
  };
  const Case cases[] = {
      {"idle, devices enabled", u"[State]\r\nkey=0\r\n", Drives::kDesktop, false, true},
      {"removable lock on, devices disabled", u"[State]\r\nkey=0\r\n", Drives::kDesktop, true,
       true},
      {"write protection on", u"[State]\r\nkey=1\r\n", Drives::kAll26, false, true},
      {"no tag file", std::nullopt, Drives::kNone, false, true},
      {"no portable-device class", u"[State]\r\nkey=2\r\n", Drives::kDesktop, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BenchMachine m(c.drives);
    if (c.tag) {
      m.sim.files.SetTextFileUtf16(kTagFile, *c.tag);
    } else {
      m.sim.files.RemoveFile(kTagFile);
    }
    if (!c.wpdClass) m.sim.devices.RemoveClass(u"WPD");
    if (c.removableLock) guard::TheVolumeGuard().SetRemovableLock(true);
    MarkedPlatform marked(m.sim.platform());
    marked.Install();
    enforcement::PollPolicy(&guard::TheVolumeGuard(), true);

    StartCountingAllocations();
    for (int i = 0; i < 10; ++i) enforcement::PollPolicy(&guard::TheVolumeGuard(), true);
    EXPECT_EQ(StopCountingAllocations(), 10u);
    m.sim.Install();
  }
}

}  // namespace
}  // namespace bench

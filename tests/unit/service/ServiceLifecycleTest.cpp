// The service's whole life on the simulated machine: status reports, control codes, the stop,
// start-up failures and the process's exit code.
#include "service/ServiceLifecycle.h"

#include <chrono>

#include "platform/Text.h"
#include "tests/unit/service/ServiceTestSupport.h"

namespace service::test {
namespace {

using platform::ServiceStatus;
using platform::sim::Fault;
using platform::sim::StatusReport;

constexpr std::uint32_t kStartPending = platform::kServiceStartPending;
constexpr std::uint32_t kRunning = platform::kServiceRunning;
constexpr std::uint32_t kStopPending = platform::kServiceStopPending;
constexpr std::uint32_t kStopped = platform::kServiceStopped;
constexpr std::uint32_t kShutdown = platform::kServiceAcceptShutdown;

// One expected report: state, controls accepted, check point, wait hint, accepted or not.
struct Expected {
  std::uint32_t state;
  std::uint32_t accepted;
  std::uint32_t checkPoint;
  std::uint32_t waitHint;
  bool ok = true;
};

const Expected kStart1{kStartPending, 0, 1, 3000};
const Expected kStart2{kStartPending, 0, 2, 1000};
const Expected kRun{kRunning, kShutdown, 0, 0};
const Expected kStopPend{kStopPending, kShutdown, 1, 3000};
const Expected kStop{kStopped, kShutdown, 0, 0};

Expected Failed(Expected e) {
  e.ok = false;
  return e;
}

void ExpectReports(const std::vector<StatusReport>& actual, const std::vector<Expected>& expected,
                   const std::string& what) {
  ASSERT_EQ(actual.size(), expected.size()) << what;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const ServiceStatus& s = actual[i].status;
    const Expected& e = expected[i];
    SCOPED_TRACE(what + ", report " + std::to_string(i + 1));
    EXPECT_EQ(s.dwServiceType, platform::kServiceWin32OwnProcess);
    EXPECT_EQ(s.dwCurrentState, e.state);
    EXPECT_EQ(s.dwControlsAccepted, e.accepted);
    EXPECT_EQ(s.dwWin32ExitCode, 0u);
    EXPECT_EQ(s.dwServiceSpecificExitCode, 0u);
    EXPECT_EQ(s.dwCheckPoint, e.checkPoint);
    EXPECT_EQ(s.dwWaitHint, e.waitHint);
    EXPECT_EQ(actual[i].result != 0, e.ok);
  }
}

// The five states of a normal run, in order, with their check points, wait hints and
// announced controls; every handle closed and every thread's last line written.
TEST_F(ServiceHostTest, NormalRunReportsTheFiveStatesInOrder) {
  RunWith({});
  EXPECT_EQ(exitCode, 0);
  ExpectReports(sim->service.Reports(), {kStart1, kStart2, kRun, kStopPend, kStop}, "normal run");
  EXPECT_EQ(sim->service.DeliveredControls(), std::vector<std::uint32_t>{255});
  EXPECT_EQ(sim->core.OpenHandleCount("event"), 0u);
  EXPECT_EQ(sim->core.OpenHandleCount("thread"), 0u);

  // Each thread's lines in its own order; the lifecycle and worker lines are narrow, the window
  // procedure's wide.
  const std::vector<std::string> lines = HostLines();
  auto before = [&](const std::string& a, const std::string& b) {
    auto ia = std::find(lines.begin(), lines.end(), a);
    auto ib = std::find(lines.begin(), lines.end(), b);
    return ia != lines.end() && ib != lines.end() && ia < ib;
  };
  EXPECT_TRUE(before("\n(VexService) Start Wait", "\n(VexService) Close Handle"));
  EXPECT_TRUE(before("\n(VexService) Close Handle", "\n(VexService) Finish Service"));
  EXPECT_TRUE(
      before("\n(VexService) Start ServiceExecution...", "\n(VexService) before call settimer"));
  EXPECT_TRUE(before("\n(VexService) before call settimer",
                     "\n(VexService) Success create console window"));
  EXPECT_TRUE(before("\n(VexService) Success create console window",
                     "\n(VexService) Finish ServiceExecution"));
  EXPECT_EQ(Count("\n(VexService) Finish Main"), 1);
  for (const platform::sim::DebugLine& l : sim->core.DebugLines()) {
    std::string text = platform::ToUtf8(l.text);
    if (!IsHostLine(text)) continue;
    EXPECT_EQ(l.wide, text.find("WndProc") != std::string::npos || text == "timer timer") << text;
  }
}

// 1, 5 and 255 make the same two reports and the same stop.
TEST_F(ServiceHostTest, StopCodesStopTheSameWay) {
  for (std::uint32_t code : {1u, 5u, 255u}) {
    SCOPED_TRACE("code " + std::to_string(code));
    StartProcess();
    ASSERT_TRUE(sim->service.WaitForState(kRunning));
    ASSERT_TRUE(sim->service.SendControl(code));
    ASSERT_TRUE(WaitForExit());
    ASSERT_TRUE(sim->service.WaitForServiceMainReturn());
    EXPECT_EQ(exitCode, 0);
    std::vector<StatusReport> reports = sim->service.Reports();
    ExpectReports({reports.end() - 2, reports.end()}, {kStopPend, kStop}, "stop");
    EXPECT_EQ(CurrentState, kStopPending);
    EXPECT_EQ(WorkerRunning, 0u);
    EXPECT_EQ(StopEvent, platform::kNullHandle);
    EXPECT_TRUE(WaitForLine("\n(VexService) Finish ServiceExecution"));

    NewMachine();
  }
}

// 128 to 131 switch the locks (a USB stick is taken and given back) and re-report RUNNING;
// every other code only re-reports.
TEST_F(ServiceHostTest, ControlCodesToggleOrOnlyReReport) {
  sim->volumes.SetDrive('E', platform::sim::SimDrive{platform::kDriveRemovable, true});
  sim->volumes.SetDrive('F', platform::sim::SimDrive{platform::kDriveCdrom, true});
  struct Row {
    std::uint32_t code;
    std::uint8_t removable;  // the flags after the code
    std::uint8_t optical;
  };
  const Row rows[] = {
      {128, 1, 0}, {128, 1, 0}, {130, 1, 1}, {129, 0, 1},  {131, 0, 0}, {131, 0, 0},
      {0, 0, 0},   {2, 0, 0},   {3, 0, 0},   {4, 0, 0},    {6, 0, 0},   {127, 0, 0},
      {132, 0, 0}, {254, 0, 0}, {256, 0, 0}, {1000, 0, 0},
  };
  StartProcess();
  ASSERT_TRUE(sim->service.WaitForState(kRunning));
  for (const Row& row : rows) {
    SCOPED_TRACE("code " + std::to_string(row.code));
    const std::size_t before = sim->service.Reports().size();
    ASSERT_TRUE(sim->service.SendControl(row.code));
    std::vector<StatusReport> reports = sim->service.Reports();
    ExpectReports({reports.begin() + static_cast<std::ptrdiff_t>(before), reports.end()}, {kRun},
                  "re-report");
    EXPECT_EQ(guard::VolumeGuard::RemovableLock, row.removable);
    EXPECT_EQ(guard::VolumeGuard::OpticalLock, row.optical);
    EXPECT_EQ(sim->volumes.Drive('E').lockedBy != platform::kNullHandle, row.removable == 1);
    EXPECT_EQ(sim->volumes.Drive('F').lockedBy != platform::kNullHandle, row.optical == 1);
  }
  ASSERT_TRUE(sim->service.SendControl(kControlStopService));
  ASSERT_TRUE(WaitForExit());
}

// Before ServiceMain has recorded SERVICE_RUNNING the handler has no state of its own to
// report: a code then reports nothing (a toggle still acts), where re-reporting state 0 would
// be refused by the Service Control Manager and stop the service.
TEST_F(ServiceHostTest, CodeBeforeRunningReportsNothing) {
  StatusHandle = 0x5C0004;
  for (std::uint32_t code : {4u, 2u, 132u, 130u}) ServiceControlHandler(code);
  EXPECT_TRUE(sim->service.Reports().empty());
  EXPECT_EQ(guard::VolumeGuard::OpticalLock, 1);
  EXPECT_EQ(WorkerRunning, 1u);
}

// The exit code is 0 whether or not the process was started by the Service Control Manager;
// start-up work and the policy release happen either way.
TEST_F(ServiceHostTest, ExitCodeIsZeroWhetherOrNotConnected) {
  for (bool connected : {false, true}) {
    SCOPED_TRACE(connected ? "started by the SCM" : "started directly");
    sim->service.SetStartedByScm(connected);
    StartProcess();
    if (connected) {
      ASSERT_TRUE(sim->service.WaitForState(kRunning));
      ASSERT_TRUE(sim->service.SendControl(kControlShutdown));
    }
    ASSERT_TRUE(WaitForExit());
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(Count("\n(VexService) Finish Main"), connected ? 1 : 0);
    EXPECT_EQ(Count("\n(VexService) StartServiceCtrlDispatcher Fail!! Please register it first."),
              connected ? 0 : 1);
    EXPECT_EQ(sim->service.Reports().empty(), !connected);
    EXPECT_EQ(JournalCount("CreateTimerQueueTimer"), 1u);
    EXPECT_EQ(policy::CurrentPolicyRecord(), nullptr);

    NewMachine();
  }
}

// Each failing step of ServiceMain logs its line; no later step runs. After a failed report
// StopService has run, so the stopped report follows; after the other failures nothing more is
// reported and the dispatcher waits until the process ends.
TEST_F(ServiceHostTest, EachServiceMainFailureLogsItsLineAndStops) {
  struct Row {
    Fault call;
    int skip;
    const char* line;
    std::vector<Expected> reports;
    std::size_t events;  // stop events left open
    bool worker;
  };
  const std::vector<Row> rows = {
      {Fault::kRegisterServiceCtrlHandlerW, 0, "RegisterServiceCtrlHandler Fail!!", {}, 0, false},
      {Fault::kSetServiceStatus,
       0,
       "UpdateServiceStatus Fail_1!!",
       {Failed(kStart1), kStop},
       0,
       false},
      {Fault::kCreateEventW, 0, "Create Kill Event Fail!!", {kStart1}, 0, false},
      {Fault::kSetServiceStatus,
       1,
       "UpdateServiceStatus Fail_2!!",
       {kStart1, Failed(kStart2), kStop},
       1,
       false},
      {Fault::kCreateThread, 0, "StartServiceThread Fail!!", {kStart1, kStart2}, 1, false},
      {Fault::kSetServiceStatus,
       2,
       "UpdateServiceStatus Fail_3!!",
       {kStart1, kStart2, Failed(kRun), kStop},
       1,
       true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    sim->core.FailCall(row.call, 5, row.skip, 1);
    StartProcess();
    ASSERT_TRUE(sim->service.WaitForServiceMainReturn());
    const bool stopped = !row.reports.empty() && row.reports.back().state == kStopped;
    if (!stopped) sim->service.EndDispatcher();
    ASSERT_TRUE(WaitForExit());
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(Count(std::string("\n(VexService) ") + row.line), 1);
    EXPECT_EQ(Count("\n(VexService) Start Wait"), 0);
    ExpectReports(sim->service.Reports(), row.reports, row.line);
    EXPECT_EQ(sim->core.OpenHandleCount("event"), row.events);
    EXPECT_EQ(JournalCount("CreateThread -> 0x"), row.worker ? 1u : 0u);
    if (row.worker) {
      EXPECT_TRUE(WaitForLine("\n(VexService) Finish ServiceExecution"));
    }

    NewMachine();
  }
}

// A SetServiceStatus that always fails ends after a bounded number of reports: at start-up
// (failed start report, failed stopped report) and at a stop code (stop-pending, then the
// stopped reports of both StopService runs).
TEST_F(ServiceHostTest, AlwaysFailingStatusReportsEndBounded) {
  sim->core.FailCall(Fault::kSetServiceStatus, 5);
  StartProcess();
  ASSERT_TRUE(sim->service.WaitForServiceMainReturn());
  ExpectReports(sim->service.Reports(), {Failed(kStart1), Failed(kStop)}, "start");
  sim->service.EndDispatcher();
  ASSERT_TRUE(WaitForExit());

  NewMachine();
  StartProcess();
  ASSERT_TRUE(sim->service.WaitForState(kRunning));
  const std::size_t before = sim->service.Reports().size();
  sim->core.FailCall(Fault::kSetServiceStatus, 5);
  ASSERT_TRUE(sim->service.SendControl(kControlStopService));
  std::vector<StatusReport> reports = sim->service.Reports();
  ExpectReports({reports.begin() + static_cast<std::ptrdiff_t>(before), reports.end()},
                {Failed(kStopPend), Failed(kStop), Failed(kStop)}, "stop");
  // StopService ran twice but signalled the stop event once: the second run could otherwise
  // reach the handle after ServiceMain closed it.
  EXPECT_EQ(JournalCount("SetEvent"), 1u);
  EXPECT_TRUE(sim->service.WaitForServiceMainReturn());
  sim->service.EndDispatcher();
  ASSERT_TRUE(WaitForExit());
}

// A device arrival handled on the worker, control codes on the main thread and poll ticks on
// timer threads all work on the one guard at once; each waits for the guard in turn (the clock
// goes on meanwhile) and the volumes end as the last requests ask.
TEST_F(ServiceHostTest, ArrivalControlsAndPollOverlapOnTheGuard) {
  using platform::sim::SimDrive;
  sim->volumes.SetDrive('E', SimDrive{platform::kDriveRemovable, true});
  sim->volumes.SetDrive('F', SimDrive{platform::kDriveCdrom, true});
  StartProcess();
  ASSERT_TRUE(sim->service.WaitForState(kRunning));
  ASSERT_TRUE(sim->service.SendControl(kControlRemovableLockOn));
  const platform::Handle window = sim->windowing.FindWindowW(kNotifyWindowClass, kServiceName);
  ASSERT_NE(window, platform::kNullHandle);

  std::atomic<int> sent{0};
  sim->threads.StartThread("controls", [&] {
    sim->threads.Sleep(995);
    for (std::uint32_t code : {130u, 129u, 128u}) {
      if (sim->service.SendControl(code)) ++sent;
    }
  });
  sim->threads.Sleep(1000);
  sim->volumes.SetDrive('G', SimDrive{platform::kDriveRemovable, true});
  platform::DevBroadcastVolume arrival{sizeof(platform::DevBroadcastVolume),
                                       platform::kDbtDevtypVolume, 0, 1u << 6, 0};
  std::intptr_t result = 0;
  ASSERT_TRUE(sim->windowing.SendMessageW(window, platform::kWmDeviceChange,
                                          platform::kDbtDeviceArrival,
                                          reinterpret_cast<std::intptr_t>(&arrival), &result));
  EXPECT_EQ(result, 1);
  ASSERT_TRUE(sim->threads.WaitUntil([&] { return sent.load() == 3; }));
  sim->threads.Sleep(3000);
  for (char letter : {'E', 'F', 'G'}) {
    EXPECT_NE(sim->volumes.Drive(letter).lockedBy, platform::kNullHandle) << letter;
  }
  EXPECT_EQ(Count("\n(VexService) Handle device arrival finish"), 1);
  ASSERT_TRUE(sim->service.SendControl(kControlStopService));
  ASSERT_TRUE(WaitForExit());
}

// Twenty virtual seconds of the whole service (worker polling every millisecond, the poll
// timer ticking every second) take well under a second of real time.
TEST_F(ServiceHostTest, TwentyVirtualSecondsAreNotWaitedOut) {
  const auto start = std::chrono::steady_clock::now();
  StartProcess();
  ASSERT_TRUE(sim->service.WaitForState(kRunning));
  sim->threads.Sleep(20500);
  // The poll timer fired at 1000, 2000, ... 20000 ms.
  EXPECT_EQ(JournalCount("Timer "), 20u);
  ASSERT_TRUE(sim->service.SendControl(kControlStopService));
  ASSERT_TRUE(WaitForExit());
  const auto real = std::chrono::steady_clock::now() - start;
  EXPECT_GE(sim->core.NowMs(), 20500u);
  EXPECT_LE(sim->core.NowMs(), 20501u);
  // Virtual time is not waited out: the run takes less real time than the virtual time it
  // covers, however loaded the machine (how fast it runs is the benchmarks' business).
  EXPECT_LT(real, std::chrono::milliseconds(20000));
}

}  // namespace
}  // namespace service::test

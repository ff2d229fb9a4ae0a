// The worker thread and the hidden notification window: the window's class and creation, the
// polling loop's stop, and which messages reach the window procedure.
#include "service/ServiceWorker.h"

#include <optional>

#include "platform/Text.h"
#include "platform/Windowing.h"
#include "tests/unit/service/ServiceTestSupport.h"

namespace service::test {
namespace {

using platform::kNullHandle;
using platform::sim::Fault;

constexpr std::uint32_t kWmClose = platform::kWmClose;

class ServiceWorkerTest : public ServiceHostTest {
 protected:
  /// Starts the worker, as ServiceMain does, and waits for its window.
  platform::Handle StartWorkerWithWindow() {
    InstanceHandle = kInstance;
    EXPECT_EQ(StartWorker(), 1);
    EXPECT_TRUE(WaitForLine("\n(VexService) Success create console window"));
    return sim->windowing.FindWindowW(kNotifyWindowClass, kServiceName);
  }
  /// Clears the run flag and waits for the worker's end.
  void StopWorker() {
    WorkerRunning = 0;
    EXPECT_EQ(sim->threads.WaitForSingleObject(WorkerThread, platform::kInfinite),
              platform::kWaitObject0);
  }
  /// The debug lines written from index from on.
  [[nodiscard]] std::vector<std::string> LinesFrom(std::size_t from) const {
    std::vector<std::string> lines = sim->core.DebugTexts();
    return {lines.begin() + static_cast<std::ptrdiff_t>(from), lines.end()};
  }
};

// The class and the window as the tables give them, and what each failure leaves behind.
TEST_F(ServiceWorkerTest, NotifyWindowCreationAndItsFailures) {
  struct Row {
    std::optional<Fault> fail;  // the call made to fail, if any
    platform::Handle prevInstance;
    platform::Bool result;
    std::vector<std::string> lines;
  };
  const std::vector<Row> rows = {
      {std::nullopt,
       kNullHandle,
       1,
       {"\n(VexService) before call settimer", "\n(VexService) Success create console window"}},
      {Fault::kRegisterClassW, kNullHandle, 0, {"\n(VexService) Fail to create WNDCLASS"}},
      {Fault::kCreateWindowExW, kNullHandle, 0, {"\n(VexService) Fail to create WndClass"}},
      // A previous instance skips the registration, so this process has no such class.
      {std::nullopt, 0x300000, 0, {"\n(VexService) Fail to create WndClass"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE((row.fail ? std::string(FaultName(*row.fail)) : std::string()) + " prev " +
                 std::to_string(row.prevInstance));
    if (row.fail) sim->core.FailCall(*row.fail, 8);
    InstanceHandle = kInstance;
    PrevInstanceHandle = row.prevInstance;
    EXPECT_EQ(CreateNotifyWindow(), row.result);
    EXPECT_EQ(
        HostLines().size() - static_cast<std::size_t>(Count("WndProc WndProc WndProc WndProc")),
        row.lines.size());
    for (const std::string& line : row.lines) EXPECT_EQ(Count(line), 1) << line;
    EXPECT_EQ(NotifyWindow != kNullHandle, row.result == 1);
    EXPECT_EQ(JournalCount("RegisterClassW"), row.prevInstance == kNullHandle ? 1u : 0u);
    NewMachine();
  }

  InstanceHandle = kInstance;
  ASSERT_EQ(CreateNotifyWindow(), 1);
  std::vector<platform::sim::SimWindowClass> classes = sim->windowing.Classes();
  ASSERT_EQ(classes.size(), 1u);
  const platform::sim::SimWindowClass& c = classes[0];
  EXPECT_EQ(c.style, 0u);
  EXPECT_EQ(c.proc, &NotifyWndProc);
  EXPECT_EQ(c.cbClsExtra, 0);
  EXPECT_EQ(c.cbWndExtra, 0);
  EXPECT_EQ(c.instance, kInstance);
  EXPECT_EQ(sim->core.JournalOf("LoadIconW 0x0 32512").size(), 1u);
  EXPECT_EQ(sim->core.JournalOf("LoadCursorW 0x0 32512").size(), 1u);
  EXPECT_EQ(sim->core.JournalOf("GetStockObject 0 ").size(), 1u);
  EXPECT_NE(c.icon, kNullHandle);
  EXPECT_NE(c.cursor, kNullHandle);
  EXPECT_NE(c.background, kNullHandle);
  EXPECT_EQ(c.menuName, u"MainMenu");
  EXPECT_EQ(c.className, u"MainWndClass");

  std::vector<platform::sim::SimWindow> windows = sim->windowing.Windows();
  ASSERT_EQ(windows.size(), 1u);
  const platform::sim::SimWindow& w = windows[0];
  EXPECT_EQ(w.hwnd, NotifyWindow);
  EXPECT_EQ(w.exStyle, 0u);
  EXPECT_EQ(w.className, u"MainWndClass");
  EXPECT_EQ(w.windowName, u"Tarvel Service");
  EXPECT_EQ(w.style, 0x00CF0000u);
  for (std::int32_t v : {w.x, w.y, w.width, w.height}) {
    EXPECT_EQ(static_cast<std::uint32_t>(v), 0x80000000u);
  }
  EXPECT_EQ(w.parent, kNullHandle);
  EXPECT_EQ(w.menu, kNullHandle);
  EXPECT_EQ(w.instance, kInstance);
  EXPECT_EQ(w.param, nullptr);
  EXPECT_FALSE(w.visible);
  EXPECT_EQ(sim->core.JournalOf("ShowWindow " + platform::sim::HandleText(w.hwnd) + " 0 ").size(),
            1u);
}

// Once WorkerRunning is cleared the worker stops within two of its sleeps, even though every
// PeekMessageW still finds a posted message.
TEST_F(ServiceWorkerTest, WorkerStopsWithinTwoSleepsWhileMessagesKeepComing) {
  platform::Handle window = StartWorkerWithWindow();
  ASSERT_NE(window, kNullHandle);
  for (int i = 0; i < 500; ++i) {
    ASSERT_TRUE(sim->windowing.PostMessageW(window, platform::kWmUser + 1, i, 0));
  }
  sim->threads.Sleep(50);
  const std::size_t sleepsBefore = sim->threads.Sleeps().size();
  const std::size_t journalBefore = sim->core.Journal().size();
  ASSERT_GT(sim->windowing.PostedWaiting(window), 0u);
  StopWorker();
  EXPECT_LE(sim->threads.Sleeps().size() - sleepsBefore, 2u);
  // Every PeekMessageW made after the stop still found a message.
  std::vector<std::string> journal = sim->core.Journal();
  std::size_t peeks = 0;
  for (std::size_t i = journalBefore; i < journal.size(); ++i) {
    if (journal[i].starts_with("PeekMessageW")) {
      ++peeks;
      EXPECT_NE(journal[i].find(" -> 1 "), std::string::npos) << journal[i];
    }
  }
  EXPECT_LE(peeks, 2u);
  EXPECT_EQ(Count("\n(VexService) Finish ServiceExecution"), 1);
}

// WM_DEVICECHANGE reaches the guard only while a lock is on; otherwise DefWindowProcW answers.
TEST_F(ServiceWorkerTest, DeviceChangeReachesTheGuardOnlyWhileALockIsOn) {
  platform::Handle window = StartWorkerWithWindow();
  ASSERT_NE(window, kNullHandle);
  platform::DevBroadcastVolume volume{sizeof(platform::DevBroadcastVolume),
                                      platform::kDbtDevtypVolume, 0, 1u << 7, 0};  // H:, empty
  struct Row {
    std::uint8_t removable;
    std::uint8_t optical;
    std::uintptr_t event;
    std::vector<std::string> lines;
  };
  const std::string kProc = "WndProc WndProc WndProc WndProc";
  const std::string kGet = "\n(VexService) Get Device change in WndProc";
  const std::vector<Row> rows = {
      {0, 0, platform::kDbtDeviceArrival, {kProc}},
      {0, 0, platform::kDbtDeviceRemoveComplete, {kProc}},
      {1,
       0,
       platform::kDbtDeviceArrival,
       {kProc, kGet, "\n(VexService) Device arrival",
        "\n(VexService) Handle device arrival finish"}},
      {0,
       1,
       platform::kDbtDeviceRemoveComplete,
       {kProc, kGet, "\n(VexService) Device remove complete"}},
      {1, 1, 0x0007, {kProc, kGet}},  // DBT_DEVNODES_CHANGED: the guard ignores it
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.removable) + std::to_string(row.optical) + " event " +
                 std::to_string(row.event));
    guard::VolumeGuard::RemovableLock = row.removable;
    guard::VolumeGuard::OpticalLock = row.optical;
    const std::size_t from = sim->core.DebugTexts().size();
    const std::size_t defs =
        JournalCount("DefWindowProcW " + platform::sim::HandleText(window) + " 0x219");
    std::intptr_t result = -1;
    ASSERT_TRUE(sim->windowing.SendMessageW(window, platform::kWmDeviceChange, row.event,
                                            reinterpret_cast<std::intptr_t>(&volume), &result));
    const bool reaches = row.removable == 1 || row.optical == 1;
    EXPECT_EQ(result, reaches ? 1 : 0);
    EXPECT_EQ(LinesFrom(from), row.lines);
    EXPECT_EQ(JournalCount("DefWindowProcW " + platform::sim::HandleText(window) + " 0x219") - defs,
              reaches ? 0u : 1u);
  }
  for (const platform::sim::DebugLine& l : sim->core.DebugLines()) {
    const std::string text = platform::ToUtf8(l.text);
    if (text == kProc || text == kGet) {
      EXPECT_TRUE(l.wide);
    }
  }
  StopWorker();
}

// A posted WM_CLOSE (or WM_USER message) is taken off the queue and dropped: it never reaches
// the window procedure and the window stays. The same WM_CLOSE sent does reach it, and
// DefWindowProcW then closes the window.
TEST_F(ServiceWorkerTest, PostedCloseNeverReachesTheWindowProcedure) {
  platform::Handle window = StartWorkerWithWindow();
  ASSERT_NE(window, kNullHandle);
  const int procLines = Count("WndProc WndProc WndProc WndProc");
  ASSERT_TRUE(sim->windowing.PostMessageW(window, kWmClose, 0, 0));
  ASSERT_TRUE(sim->windowing.PostMessageW(window, platform::kWmUser, 0, 0));
  sim->threads.Sleep(10);
  EXPECT_EQ(sim->windowing.PostedWaiting(window), 0u);
  EXPECT_EQ(
      sim->core.JournalOf("PeekMessageW " + platform::sim::HandleText(window) + " 0x0 0x0 1 -> 1")
          .size(),
      2u);
  EXPECT_EQ(Count("WndProc WndProc WndProc WndProc"), procLines);
  EXPECT_EQ(sim->windowing.FindWindowW(kNotifyWindowClass, kServiceName), window);

  std::intptr_t result = -1;
  ASSERT_TRUE(sim->windowing.SendMessageW(window, kWmClose, 0, 0, &result));
  EXPECT_GT(Count("WndProc WndProc WndProc WndProc"), procLines);
  EXPECT_EQ(sim->windowing.FindWindowW(kNotifyWindowClass, kServiceName), kNullHandle);
  StopWorker();
}

}  // namespace
}  // namespace service::test

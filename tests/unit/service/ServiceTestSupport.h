// Whole-service runs on the simulated machine: the entry routine on a "main" thread of the
// machine, the test's own thread as the driver, virtual time throughout.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "guard/VolumeGuard.h"
#include "platform/SystemDir.h"
#include "platform/sim/SimMachine.h"
#include "policy/PolicyDecryption.h"
#include "policy/PolicyFile.h"
#include "service/ServiceEntry.h"
#include "service/ServiceLifecycle.h"
#include "service/ServiceState.h"
#include "service/ServiceWorker.h"

namespace service::test {

inline constexpr platform::Handle kInstance = 0x400000;

/// The lines the service host itself writes (the guard's and the poll's are left out).
inline bool IsHostLine(const std::string& line) {
  static const char* const kLines[] = {
      "\n(VexService) RegisterServiceCtrlHandler Fail!!",
      "\n(VexService) UpdateServiceStatus Fail_1!!",
      "\n(VexService) Create Kill Event Fail!!",
      "\n(VexService) UpdateServiceStatus Fail_2!!",
      "\n(VexService) StartServiceThread Fail!!",
      "\n(VexService) UpdateServiceStatus Fail_3!!",
      "\n(VexService) Start Wait",
      "\n(VexService) Close Handle",
      "\n(VexService) Finish Service",
      "\n(VexService) Finish Main",
      "\n(VexService) StartServiceCtrlDispatcher Fail!! Please register it first.",
      "\n(VexService) Start ServiceExecution...",
      "\n(VexService) Finish ServiceExecution",
      "\n(VexService) Fail to create WNDCLASS",
      "\n(VexService) Fail to create WndClass",
      "\n(VexService) before call settimer",
      "\n(VexService) Success create console window",
      "WndProc WndProc WndProc WndProc",
      "\n(VexService) Get Device change in WndProc",
      "timer timer",
  };
  for (const char* known : kLines) {
    if (line == known) return true;
  }
  return false;
}

/// A fresh process per test: the service's, the guard's and the policy's process-wide state
/// reset, a machine in scheduled mode, and this thread registered as the driver.
class ServiceHostTest : public ::testing::Test {
 protected:
  ServiceHostTest() { NewMachine(); }
  ~ServiceHostTest() override { EndMachine(); }

  /// Ends the process on the current machine, if any, and starts afresh on a new one.
  void NewMachine() {
    EndMachine();
    machine = std::make_unique<platform::sim::SimMachine>();
    sim = machine.get();
    sim->Install();
    ResetProcess();
    sim->threads.EnableScheduledMode();
    driver.emplace(sim->threads.RegisterCurrentThread("driver"));
    exitCode = kNoExitYet;
  }
  void EndMachine() {
    if (machine == nullptr) return;
    // The process ends: every thread of the machine stops at its next wait.
    sim->threads.EndProcess();
    sim->threads.JoinThreads();
    driver.reset();
    ResetProcess();
    machine.reset();
    sim = nullptr;
  }

  static void ResetProcess() { ResetWholeProcess(); }

  /// Starts the process: initialisation and the entry routine on the machine's "main" thread.
  void StartProcess(platform::Handle prevInstance = platform::kNullHandle) {
    sim->threads.StartThread("main", [this, prevInstance] {
      InitialiseProcess();
      exitCode = EntryRoutine(kInstance, prevInstance);
    });
  }
  /// Waits (bounded in real time) for the entry routine to return.
  bool WaitForExit() {
    return sim->threads.WaitUntil([this] { return exitCode.load() != kNoExitYet; });
  }
  /// Starts the process, waits until it runs, sends the codes, stops it with 255 and waits for
  /// the whole stop: entry routine, ServiceMain and worker.
  void RunWith(const std::vector<std::uint32_t>& codes) {
    StartProcess();
    ASSERT_TRUE(sim->service.WaitForState(platform::kServiceRunning));
    for (std::uint32_t code : codes) EXPECT_TRUE(sim->service.SendControl(code)) << code;
    ASSERT_TRUE(sim->service.SendControl(kControlStopService));
    ASSERT_TRUE(WaitForExit());
    ASSERT_TRUE(sim->service.WaitForServiceMainReturn());
    ASSERT_TRUE(WaitForLine("\n(VexService) Finish ServiceExecution"));
  }

  bool WaitForLine(const std::string& line) {
    return sim->threads.WaitUntil([&] { return Count(line) > 0; });
  }
  [[nodiscard]] int Count(const std::string& line) const {
    int n = 0;
    for (const std::string& l : sim->core.DebugTexts()) n += l == line ? 1 : 0;
    return n;
  }
  /// The service host's lines, in the order they were written.
  [[nodiscard]] std::vector<std::string> HostLines() const {
    std::vector<std::string> out;
    for (const std::string& l : sim->core.DebugTexts()) {
      if (IsHostLine(l)) out.push_back(l);
    }
    return out;
  }
  /// The journal lines that start with prefix.
  [[nodiscard]] std::size_t JournalCount(const std::string& prefix) const {
    return sim->core.JournalOf(prefix).size();
  }

  static constexpr int kNoExitYet = -1;
  std::unique_ptr<platform::sim::SimMachine> machine;
  platform::sim::SimMachine* sim = nullptr;
  std::optional<platform::sim::SimThreads::Registration> driver;
  std::atomic<int> exitCode{kNoExitYet};
};

}  // namespace service::test

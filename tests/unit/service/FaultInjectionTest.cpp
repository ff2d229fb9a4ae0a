// Fault injection across the whole service: every platform call the service makes is failed in
// turn, always and (where the run makes it more than once) only the first time, during one
// standard run of the whole process. Each run must end in bounded time, leave open only what the
// service deliberately keeps, and report, log and leave behind what really happened.
//
// Calls the service makes that have no failure to inject: Sleep, GetLastError, GetCurrentProcess,
// GetDriveTypeW (answers a type, never an error), PeekMessageW (no message is its only "0"),
// ShowWindow, DefWindowProcW, GlobalFree, OutputDebugStringA/W.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <future>
#include <map>
#include <set>

#include "enforcement/PolicyPoll.h"
#include "platform/Text.h"
#include "platform/Volumes.h"
#include "platform/Windowing.h"
#include "tests/unit/policy/PolicyTestSupport.h"
#include "tests/unit/service/ServiceTestSupport.h"

namespace service::test {
namespace {

using platform::Handle;
using platform::sim::Fault;
using platform::sim::SimDrive;

constexpr char16_t kDir[] = u"C:\\Windows\\SysWOW64\\";  // the system directory under WOW64
constexpr char16_t kWpKey[] = u"SYSTEM\\CurrentControlSet\\Control\\StorageDevicePolicies";
constexpr std::uint32_t kInjectedError = platform::kErrorAccessDenied;
constexpr char kLetters[] = "CEFGHJL";  // every letter the standard run uses

// Always, only the first call, or only one later call (the row's skip says which).
enum class Mode { kAlways, kFirst, kOnce };
enum class Start { kRuns, kFails, kNotConnected };

// What a run must end with. The defaults are the standard run's own outcome.
struct Expect {
  Start start = Start::kRuns;
  const char* line = "";      // the ServiceMain failure line, for Start::kFails
  std::uint8_t flags = 0x01;  // RemovableLock | OpticalLock << 1 after start-up
  bool window = true;
  const char* locked = "F";  // letters locked when the process ends
  std::uint32_t writeProtect = 1;
  const char* devices = "dd";  // the two "WPD" devices at the end: e enabled, d disabled
};

struct Row {
  Fault call;  // the fault point the machine's FailCall knows it by
  Mode mode;
  Expect expect;
  int skip = 0;  // for kOnce: the calls that pass first
};

// Releasing calls leave their object open when they fail; the kinds each one releases.
const std::map<Fault, std::set<std::string>> kReleases = {
    {Fault::kCloseHandle, {"volume", "event", "thread", "file"}},
    {Fault::kCryptDestroyKey, {"cryptkey"}},
    {Fault::kCryptDestroyHash, {"crypthash"}},
    {Fault::kCryptReleaseContext, {"cryptprov"}},
    {Fault::kRegCloseKey, {"regkey"}},
    {Fault::kSetupDiDestroyDeviceInfoList, {"devinfo"}},
};

// Without a window the arrival of L is never heard of; the once-a-second check takes it all
// the same.
Expect StartFails(const char* line) {
  return Expect{.start = Start::kFails, .line = line, .window = false, .locked = "GHL"};
}
Expect NoWindow() {
  return Expect{.window = false};
}

constexpr Mode A = Mode::kAlways;
constexpr Mode F = Mode::kFirst;
constexpr Mode N = Mode::kOnce;
// No policy read: both flags clear; the tag then works as usual.
const Expect kNoPolicy{.flags = 0x00, .locked = "F", .writeProtect = 1, .devices = "dd"};
// No policy and no tag: the tag reads "0" throughout.
const Expect kNoFiles{.flags = 0x00, .locked = "F", .writeProtect = 0, .devices = "ee"};

const std::vector<Row> kRows = {
    // Process information and the system directory.
    {Fault::kGetModuleHandleW, A, kNoFiles},
    {Fault::kGetProcAddress, A, kNoFiles},
    {Fault::kIsWow64Process, A, kNoFiles},
    {Fault::kSHGetSpecialFolderPathW, A, kNoFiles},
    {Fault::kSHGetSpecialFolderPathW, F, kNoPolicy},
    {Fault::kPathRemoveFileSpecW, A, kNoFiles},
    {Fault::kPathRemoveFileSpecW, F, kNoPolicy},
    {Fault::kPathAddBackslashW, A, kNoPolicy},
    {Fault::kPathAddBackslashW, F, {}},
    {Fault::kPathAppendW, A, kNoFiles},
    {Fault::kPathAppendW, F, kNoPolicy},
    // The poll timer.
    {Fault::kCreateTimerQueue, A, {}},
    {Fault::kCreateTimerQueueTimer, A,
     Expect{.flags = 0x01, .locked = "F", .writeProtect = 2, .devices = "ee"}},
    // The policy file and its decryption.
    {Fault::kPathFileExistsW, A, kNoPolicy},
    {Fault::kPathFileExistsW, F, kNoPolicy},
    {Fault::kCreateFileW, A,
     Expect{.flags = 0x00, .locked = "", .writeProtect = 1, .devices = "dd"}},
    {Fault::kCreateFileW, F, kNoPolicy},
    {Fault::kCreateFileWFile, A, kNoPolicy},
    {Fault::kCreateFileWFile, F, kNoPolicy},
    {Fault::kReadFile, A, kNoPolicy},
    {Fault::kReadFile, F, kNoPolicy},
    {Fault::kCryptAcquireContextW, A, kNoPolicy},
    {Fault::kCryptAcquireContextW, F, {}},
    {Fault::kCryptGetUserKey, A, {}},
    {Fault::kCryptGenKey, A, {}},
    {Fault::kCryptDestroyKey, A, {}},
    {Fault::kCryptDestroyKey, F, {}},
    {Fault::kCryptReleaseContext, A, {}},
    {Fault::kCryptReleaseContext, F, {}},
    {Fault::kCryptCreateHash, A, kNoPolicy},
    {Fault::kCryptHashData, A, kNoPolicy},
    {Fault::kCryptDeriveKey, A, kNoPolicy},
    {Fault::kCryptDecrypt, A, kNoPolicy},
    {Fault::kCryptDestroyHash, A, {}},
    // The volumes.
    {Fault::kCreateFileWVolume, A,
     Expect{.flags = 0x01, .locked = "", .writeProtect = 1, .devices = "dd"}},
    {Fault::kCreateFileWVolume, F, {}},
    {Fault::kDeviceIoControl, A,
     Expect{.flags = 0x01, .locked = "", .writeProtect = 1, .devices = "dd"}},
    {Fault::kDeviceIoControl, F, {}},
    {Fault::kGlobalAlloc, A, {}},
    {Fault::kGlobalAlloc, F, {}},
    // Without the letters in use, the once-a-second check asks every letter instead.
    {Fault::kGetLogicalDrives, A, {}},
    // The Service Control Manager and ServiceMain.
    {Fault::kStartServiceCtrlDispatcherW, A,
     [] {
       Expect e = Expect{.flags = 0x01, .locked = "EGH", .writeProtect = 2, .devices = "ed"};
       e.start = Start::kNotConnected;
       e.window = false;
       return e;
     }()},
    {Fault::kRegisterServiceCtrlHandlerW, A, StartFails("RegisterServiceCtrlHandler Fail!!")},
    {Fault::kSetServiceStatus, A, StartFails("UpdateServiceStatus Fail_1!!")},
    {Fault::kSetServiceStatus, F,
     [] {
       // The stopped report that follows is accepted: the process ends before any tick.
       Expect e = StartFails("UpdateServiceStatus Fail_1!!");
       e.locked = "EGH";
       e.writeProtect = 2;
       e.devices = "ed";
       return e;
     }()},
    // The re-report after the optical lock goes on: the service stops there and the process ends
    // with the locks it then holds.
    {Fault::kSetServiceStatus, N,
     Expect{.flags = 0x01, .locked = "EFGH", .writeProtect = 2, .devices = "ed"}, 3},
    {Fault::kCreateEventW, A, StartFails("Create Kill Event Fail!!")},
    {Fault::kCreateThread, A, StartFails("StartServiceThread Fail!!")},
    {Fault::kWaitForSingleObject, A, {}},
    {Fault::kSetEvent, A, {}},
    {Fault::kCloseHandle, A,
     Expect{.flags = 0x01, .locked = "FGHL", .writeProtect = 1, .devices = "dd"}},
    {Fault::kCloseHandle, F, {}},
    // The worker's window.
    {Fault::kRegisterClassW, A, NoWindow()},
    {Fault::kCreateWindowExW, A, NoWindow()},
    {Fault::kLoadIconW, A, {}},
    {Fault::kLoadCursorW, A, {}},
    {Fault::kGetStockObject, A, {}},
    // The tag file and the WriteProtect value.
    {Fault::kGetPrivateProfileStringW, A,
     Expect{.flags = 0x01, .locked = "F", .writeProtect = 0, .devices = "ee"}},
    {Fault::kGetPrivateProfileStringW, F, {}},
    {Fault::kRegOpenKeyExW, A, {}},
    {Fault::kRegOpenKeyExW, F, {}},
    {Fault::kRegQueryValueExW, A, {}},
    {Fault::kRegQueryValueExW, F, {}},
    // The value is never written, so every tick pulses the removable lock; the stop comes in
    // the middle of a pulse, with the removable volumes locked by it.
    {Fault::kRegCreateKeyExW, A,
     Expect{.flags = 0x01, .locked = "FGHL", .writeProtect = 2, .devices = "ee"}},
    {Fault::kRegCreateKeyExW, F, {}},
    {Fault::kRegSetValueExW, A,
     Expect{.flags = 0x01, .locked = "FGHL", .writeProtect = 2, .devices = "ee"}},
    {Fault::kRegSetValueExW, F, {}},
    {Fault::kRegCloseKey, A, {}},
    {Fault::kRegCloseKey, F, {}},
    // The "WPD" class switch.
    {Fault::kSetupDiClassGuidsFromNameW, A,
     Expect{.flags = 0x01, .locked = "F", .writeProtect = 1, .devices = "ed"}},
    {Fault::kSetupDiClassGuidsFromNameW, F, {}},
    {Fault::kSetupDiGetClassDevsW, A,
     Expect{.flags = 0x01, .locked = "F", .writeProtect = 1, .devices = "ed"}},
    {Fault::kSetupDiGetClassDevsW, F, {}},
    {Fault::kSetupDiEnumDeviceInfo, A,
     Expect{.flags = 0x01, .locked = "F", .writeProtect = 1, .devices = "ed"}},
    {Fault::kSetupDiEnumDeviceInfo, F, {}},
    {Fault::kSetupDiDestroyDeviceInfoList, A, {}},
    {Fault::kSetupDiDestroyDeviceInfoList, F, {}},
    {Fault::kCM_Get_DevNode_Status, A,
     Expect{.flags = 0x01, .locked = "F", .writeProtect = 1, .devices = "ee"}},
    {Fault::kCM_Get_DevNode_Status, F, {}},
    {Fault::kCM_Enable_DevNode, A, {}},
    {Fault::kCM_Enable_DevNode, F, {}},
    {Fault::kCM_Disable_DevNode, A,
     Expect{.flags = 0x01, .locked = "F", .writeProtect = 1, .devices = "ee"}},
    {Fault::kCM_Disable_DevNode, F, {}},
};

// What one run left behind.
struct Observed {
  Start start = Start::kRuns;
  std::string line;
  std::uint8_t flags = 0;
  bool window = false;
  std::string locked;
  std::uint32_t writeProtect = 0;
  std::string devices;
  int faults = 0;
  std::vector<std::string> notes;  // what else stands out, for the table
};

class FaultInjectionTest : public ServiceHostTest {
 protected:
  // Every kind of drive, a policy that locks the removable kind, a tag asking for 0 while the
  // value says 2, a "WPD" class with an enabled and a disabled device, no key container yet, and
  // a 32-bit process under WOW64 (so that the whole system-directory rule runs).
  void BuildMachine() {
    sim->process.SetIsWow64Process(true, true);
    sim->volumes.SetDrive('C', SimDrive{platform::kDriveFixed, true, true});
    sim->volumes.SetDrive('E', SimDrive{platform::kDriveRemovable, true});
    sim->volumes.SetDrive('F', SimDrive{platform::kDriveCdrom, true});
    sim->volumes.SetDrive('G', SimDrive{platform::kDriveFixed, true});
    sim->volumes.SetDrive('H', SimDrive{platform::kDriveRamdisk, true});
    sim->volumes.SetDrive('J', SimDrive{platform::kDriveRemote, true});
    sim->files.SetTextFileUtf16(std::u16string(kDir) + u"DevState.ini",
                                policy::test::PolicyFileText(u"truefalse"), false);
    WriteTag("0");
    sim->registry.SetDword(platform::kHkeyLocalMachine, kWpKey, u"WriteProtect", 2);
    sim->devices.AddClass(u"WPD", platform::sim::kWpdClassGuid);
    sim->devices.AddDevice(platform::sim::kWpdClassGuid, true, 0);
    sim->devices.AddDevice(platform::sim::kWpdClassGuid, true, platform::kCmProbDisabled);
    sim->crypto.SetKeyStore(platform::sim::SimKeyStore{false, false, false});
  }
  void WriteTag(const std::string& key) {
    sim->files.SetTextFileUtf8(std::u16string(kDir) + u"ReadTag.ini",
                               "[State]\r\nkey=" + key + "\r\n");
  }

  [[nodiscard]] bool Accepted(std::uint32_t state) const {
    for (const auto& r : sim->service.Reports()) {
      if (r.result != 0 && r.status.dwCurrentState == state) return true;
    }
    return false;
  }
  // The process still runs and the service takes control codes.
  [[nodiscard]] bool Serving() const {
    auto status = sim->service.CurrentStatus();
    return Alive() && status && status->dwCurrentState == platform::kServiceRunning;
  }
  bool Broadcast(std::uint32_t event, char letter) {
    Handle window = sim->windowing.FindWindowW(kNotifyWindowClass, kServiceName);
    if (window == platform::kNullHandle || !Alive()) return false;
    platform::DevBroadcastVolume volume{sizeof(platform::DevBroadcastVolume),
                                        platform::kDbtDevtypVolume, 0, 1u << (letter - 'A'), 0};
    std::intptr_t result = 0;
    return sim->windowing.SendMessageW(window, platform::kWmDeviceChange, event,
                                       reinterpret_cast<std::intptr_t>(&volume), &result);
  }
  // The process goes on: once the service has reported SERVICE_STOPPED, the dispatcher returns
  // and the entry routine ends the process.
  [[nodiscard]] bool Alive() const {
    auto status = sim->service.CurrentStatus();
    return exitCode == kNoExitYet && !sim->service.DispatcherReturned() &&
           !(status && status->dwCurrentState == platform::kServiceStopped);
  }
  [[nodiscard]] bool ServiceMainStarted() const {
    return JournalCount("StartServiceCtrlDispatcherW Tarvel Service connected") == 1;
  }
  void Control(std::uint32_t code) {
    if (Serving()) {
      EXPECT_TRUE(sim->service.SendControl(code)) << code;
    }
  }

  // Sleeps until half-way between two ticks of the poll timer (none: returns at once). The tag
  // read that opens a tick and a change the driver makes at that same virtual millisecond would
  // run in either order, and the run's outcome with them.
  void SleepToMidTick() {
    for (const auto& [handle, timer] : sim->threads.Timers()) {
      if (timer.period == 0) continue;
      const std::uint64_t first = timer.createdAtMs + timer.dueTime;
      const std::uint64_t now = sim->core.NowMs();
      const std::uint64_t mid = first + timer.period / 2;
      const std::uint64_t wait =
          now <= mid ? mid - now : (timer.period - (now - mid) % timer.period) % timer.period;
      if (wait > 0) sim->threads.Sleep(static_cast<std::uint32_t>(wait));
      return;
    }
  }
  Observed Run(const Row* row);
  void CheckEnd(const Row* row, Observed& seen);
};

// The standard run: start, optical lock on, a stick arrives, another is pulled, the tag changes,
// the removable lock goes off, an interrogation, the stop. Steps need a running service (codes)
// or a window (broadcasts); a process whose entry routine has returned takes no more steps.
Observed FaultInjectionTest::Run(const Row* row) {
  BuildMachine();
  if (row != nullptr) {
    sim->core.FailCall(row->call, kInjectedError, row->skip, row->mode == Mode::kAlways ? -1 : 1);
  }
  Observed seen;
  StartProcess();
  EXPECT_TRUE(sim->threads.WaitUntil([&] {
    return Accepted(platform::kServiceRunning) || sim->service.ServiceMainReturned() || !Alive();
  }));
  // Start-up has finished by now: ServiceMain runs after it, and the entry routine returns after.
  seen.flags = static_cast<std::uint8_t>(guard::VolumeGuard::RemovableLock |
                                         guard::VolumeGuard::OpticalLock << 1);
  EXPECT_TRUE(sim->threads.WaitUntil([&] {
    return !Serving() || Count("\n(VexService) Success create console window") +
                                 Count("\n(VexService) Fail to create WNDCLASS") +
                                 Count("\n(VexService) Fail to create WndClass") >
                             0;
  }));
  seen.window = sim->windowing.FindWindowW(kNotifyWindowClass, kServiceName) != 0;

  auto broadcast = [&](std::uint32_t event, char letter) {
    if (!Broadcast(event, letter) && seen.window) seen.notes.push_back("broadcast lost");
  };
  const std::vector<std::function<void()>> steps = {
      [&] { Control(kControlOpticalLockOn); },
      [&] {
        sim->volumes.SetDrive('L', SimDrive{platform::kDriveRemovable, true});
        broadcast(platform::kDbtDeviceArrival, 'L');
      },
      [&] {
        sim->volumes.RemoveDrive('E');
        broadcast(platform::kDbtDeviceRemoveComplete, 'E');
      },
      // Long enough for a tick that starts after the change and runs a whole pulse.
      [&] { sim->threads.Sleep(2300); },
      [&] { Control(kControlRemovableLockOff); },
      [&] {
        SleepToMidTick();
        WriteTag("1");
      },
      [&] { sim->threads.Sleep(2300); },
      [&] { Control(4); },
  };
  for (const auto& step : steps) {
    if (!Alive()) break;
    step();
  }

  // The stop: a running service takes 255; one that never ran waits in the dispatcher until the
  // system ends the process.
  if (Serving()) {
    EXPECT_TRUE(sim->service.SendControl(kControlStopService));
    EXPECT_TRUE(WaitForExit()) << "the stop code did not end the process";
  }
  if (Alive()) {
    sim->service.EndDispatcher();
    seen.notes.push_back("ended by the system");
  }
  EXPECT_TRUE(WaitForExit());
  // ServiceMain's last steps come within a few milliseconds of the stop; a ServiceMain that never
  // wakes is left to the process's end.
  const std::uint64_t until = sim->core.NowMs() + 50;
  if (ServiceMainStarted()) {
    sim->threads.WaitUntil(
        [&] { return sim->service.ServiceMainReturned() || sim->core.NowMs() >= until; });
  }
  auto joined = std::async(std::launch::async, [this] {
    sim->threads.EndProcess();
    sim->threads.JoinThreads();
  });
  EXPECT_EQ(joined.wait_for(std::chrono::seconds(10)), std::future_status::ready)
      << "the process's threads did not end";
  joined.wait();

  seen.faults = row == nullptr ? 0 : sim->core.FaultsTaken(row->call);
  CheckEnd(row, seen);
  return seen;
}

// What must hold at the end of every run, whatever failed.
void FaultInjectionTest::CheckEnd(const Row* row, Observed& seen) {
  const guard::VolumeGuard& g = guard::TheVolumeGuard();
  EXPECT_EQ(exitCode, 0);

  // Start: the SCM sees SERVICE_RUNNING exactly when every step of ServiceMain succeeded.
  static const char* const kStartLines[] = {
      "RegisterServiceCtrlHandler Fail!!", "UpdateServiceStatus Fail_1!!",
      "Create Kill Event Fail!!",          "UpdateServiceStatus Fail_2!!",
      "StartServiceThread Fail!!",         "UpdateServiceStatus Fail_3!!"};
  for (const char* line : kStartLines) {
    if (Count(std::string("\n(VexService) ") + line) == 0) continue;
    seen.start = Start::kFails;
    seen.line = line;
  }
  if (Count("\n(VexService) StartServiceCtrlDispatcher Fail!! Please register it first.") > 0) {
    seen.start = Start::kNotConnected;
  }
  EXPECT_EQ(Accepted(platform::kServiceRunning), seen.start == Start::kRuns);
  for (const auto& r : sim->service.Reports()) {
    EXPECT_TRUE(r.status.dwCurrentState >= platform::kServiceStopped &&
                r.status.dwCurrentState <= platform::kServiceRunning);
  }
  const std::vector<std::uint32_t> delivered = sim->service.DeliveredControls();
  const auto status = sim->service.CurrentStatus();
  if (std::find(delivered.begin(), delivered.end(), kControlStopService) != delivered.end()) {
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(status->dwCurrentState, platform::kServiceStopped) << "stopped, yet not reported";
  } else if (seen.start == Start::kRuns && status &&
             status->dwCurrentState == platform::kServiceStopped) {
    seen.notes.push_back("stopped by a failed report");
  }

  // Start-up flags: those of the State text exactly when it was decrypted, else both clear.
  bool decrypted = false;
  for (const std::string& line : sim->core.JournalOf("CryptDecrypt ")) {
    decrypted = decrypted || line.ends_with(" -> 1");
  }
  EXPECT_EQ(seen.flags, decrypted ? 0x01 : 0x00);
  // The logs say what happened: the key container's outcome, a policy file that would not open.
  EXPECT_EQ(Count("\n(VexService) Success registry encryption client!") == 1,
            sim->crypto.KeyStore().signatureKey);
  std::string stopEvent;
  for (const std::string& line : sim->core.JournalOf("CreateEventW ")) {
    if (!line.ends_with("-> null")) stopEvent = line.substr(line.rfind(' ') + 1);
  }
  EXPECT_EQ(Count("\n(VexService) Close Handle") == 1,
            !stopEvent.empty() && JournalCount("CloseHandle " + stopEvent + " -> 1") == 1)
      << "the log says the stop event was closed exactly when it was";
  int failedOpens = 0;
  for (const std::string& line : sim->core.JournalOf("CreateFileW C:")) {
    failedOpens += line.find("-> INVALID_HANDLE_VALUE") != std::string::npos ? 1 : 0;
  }
  EXPECT_EQ(Count("\n(VexService) Internal open fail!"), failedOpens);

  // Handles: the guard's held volumes, the timer queue and its timer; ServiceMain's stop event
  // and worker handle only when ServiceMain ended before its clean-up (a failed start step after
  // the event, or a stop it never saw); and what the machine refused to release.
  std::set<Handle> slots;
  for (const Handle* table : {g.removableHandles, g.opticalHandles}) {
    for (int i = 0; i < guard::kDriveCount; ++i) {
      if (table[i] == platform::kNullHandle || table[i] == platform::kInvalidHandleValue) continue;
      EXPECT_TRUE(slots.insert(table[i]).second) << "a handle held twice";
      const platform::sim::HandleEntry* entry = sim->core.Find(table[i]);
      EXPECT_TRUE(entry != nullptr && entry->kind == "volume") << "a slot holds a closed handle";
    }
  }
  const bool serviceMainWaits = ServiceMainStarted() && !sim->service.ServiceMainReturned();
  const bool serviceMainKept = serviceMainWaits || seen.line == "UpdateServiceStatus Fail_2!!" ||
                               seen.line == "StartServiceThread Fail!!" ||
                               seen.line == "UpdateServiceStatus Fail_3!!";
  std::map<std::string, int> kinds;
  std::map<std::string, int> extra;
  for (const auto& [h, entry] : sim->core.OpenHandles()) {
    const int n = ++kinds[entry.kind];
    if (entry.kind == "volume" && slots.contains(h)) continue;
    if ((entry.kind == "timerqueue" || entry.kind == "timer") && n == 1) continue;
    if ((entry.kind == "event" || entry.kind == "thread") && serviceMainKept && n == 1) continue;
    ++extra[entry.kind];
  }
  int leftover = 0;
  for (const auto& [kind, n] : extra) {
    leftover += n;
    auto releases = row == nullptr ? kReleases.end() : kReleases.find(row->call);
    EXPECT_TRUE(releases != kReleases.end() && releases->second.contains(kind))
        << n << " " << kind << " handle(s) left open";
  }
  EXPECT_LE(leftover, seen.faults);
  if (leftover > 0) seen.notes.push_back(std::to_string(leftover) + " left open (release refused)");
  if (serviceMainKept && kinds["event"] > 0) seen.notes.push_back("stop event kept");
  if (serviceMainWaits) seen.notes.push_back("ServiceMain still waiting");
  EXPECT_EQ(sim->volumes.LiveBlocks(), 0u);

  // Locks agree with the flags: a volume is locked only through a slot of a kind whose flag is
  // set, or through a handle the machine refused to close.
  EXPECT_LE(g.removableCount, guard::kDriveCount);
  EXPECT_LE(g.opticalCount, guard::kDriveCount);
  EXPECT_GE(g.removableCount, 0);
  EXPECT_GE(g.opticalCount, 0);
  for (char letter : std::string(kLetters)) {
    const Handle by = sim->volumes.Drive(letter).lockedBy;
    if (by == platform::kNullHandle) continue;
    seen.locked += letter;
    const auto held = [by](const Handle* table) {
      return std::find(table, table + guard::kDriveCount, by) != table + guard::kDriveCount;
    };
    if (held(g.removableHandles)) {
      EXPECT_EQ(guard::VolumeGuard::RemovableLock, 1) << letter << " locked, flag clear";
    } else if (held(g.opticalHandles)) {
      EXPECT_EQ(guard::VolumeGuard::OpticalLock, 1) << letter << " locked, flag clear";
    } else {
      EXPECT_TRUE(row != nullptr && row->call == Fault::kCloseHandle)
          << letter << " locked by a handle the guard does not hold";
    }
  }

  auto value = sim->registry.Value(platform::kHkeyLocalMachine, kWpKey, u"WriteProtect");
  if (value && value->data.size() == 4) std::memcpy(&seen.writeProtect, value->data.data(), 4);
  for (const auto& device : sim->devices.AllDevices()) {
    seen.devices += device.problem == platform::kCmProbDisabled ? 'd' : 'e';
  }
}

std::string ServiceText(const Observed& o) {
  switch (o.start) {
    case Start::kRuns:
      return "runs";
    case Start::kNotConnected:
      return "not connected";
    case Start::kFails:
      return "start fails: " + o.line;
  }
  return "";
}

// Each fault point, failed always and only once, against the standard run's expected outcome.
TEST_F(FaultInjectionTest, EveryPlatformCallFailsInTurn) {
  struct Line {
    std::string call, mode, outcome;
    int faults;
  };
  std::vector<Line> table;
  auto describe = [](const Observed& o) {
    char flags[8];
    std::snprintf(flags, sizeof flags, "%c%c", (o.flags & 1) ? 'R' : '-',
                  (o.flags & 2) ? 'O' : '-');
    std::string text = ServiceText(o) + "; flags " + flags + "; locked " +
                       (o.locked.empty() ? "none" : o.locked) + "; WP " +
                       std::to_string(o.writeProtect) + "; WPD " + o.devices;
    if (!o.window) text += "; no window";
    for (const std::string& note : o.notes) text += "; " + note;
    return text;
  };

  const auto start = std::chrono::steady_clock::now();
  const Observed baseline = Run(nullptr);
  EXPECT_EQ(describe(baseline), "runs; flags R-; locked F; WP 1; WPD dd")
      << "the standard run itself";
  table.push_back({"(none)", "-", describe(baseline), 0});

  int failed = 0;
  for (const Row& row : kRows) {
    const std::string mode = row.mode == Mode::kAlways  ? "always"
                             : row.mode == Mode::kFirst ? "first"
                                                        : "#" + std::to_string(row.skip + 1);
    SCOPED_TRACE(std::string(FaultName(row.call)) + " " + mode);
    NewMachine();
    const auto rowStart = std::chrono::steady_clock::now();
    Observed seen = Run(&row);
    EXPECT_LT(std::chrono::steady_clock::now() - rowStart, std::chrono::seconds(20));
    EXPECT_GE(seen.faults, 1) << "the run never made the call";
    if (row.mode != Mode::kAlways) {
      EXPECT_EQ(seen.faults, 1);
    }
    const Expect& e = row.expect;
    EXPECT_EQ(seen.start, e.start);
    EXPECT_EQ(seen.line, e.line);
    EXPECT_EQ(seen.flags, e.flags);
    EXPECT_EQ(seen.window, e.window);
    EXPECT_EQ(seen.locked, e.locked);
    EXPECT_EQ(seen.writeProtect, e.writeProtect);
    EXPECT_EQ(seen.devices, e.devices);
    failed += seen.faults;
    table.push_back({std::string(FaultName(row.call)), mode, describe(seen), seen.faults});
  }
  const auto real = std::chrono::steady_clock::now() - start;

  std::printf("\n%-29s %-6s %6s  %s\n", "failed call", "mode", "failed", "outcome");
  for (const Line& l : table) {
    std::printf("%-29s %-6s %6d  %s\n", l.call.c_str(), l.mode.c_str(), l.faults,
                l.outcome.c_str());
  }
  std::printf(
      "%zu fault rows, %d failed calls checked, %lld ms real time\n", kRows.size(), failed,
      static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(real).count()));
}

}  // namespace
}  // namespace service::test

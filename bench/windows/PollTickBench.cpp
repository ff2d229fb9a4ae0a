// The poll tick's own work on real Windows (run here under wine64): the CPU time of one
// PollPolicy tick without its fifty 1 ms sleeps, of the sleeps alone, and of whole ticks.
//
// Method: the tick runs through the real Win32 platform, except that Sleep is counted instead
// of slept. Per-thread CPU time comes from GetThreadTimes (user + kernel); Wine reads it from
// the kernel's per-thread clock-tick counters, so each phase runs long enough (about a second
// of CPU or more) for the tick's 10 ms granularity not to matter. Wall time comes from
// QueryPerformanceCounter. The fifty sleeps are measured apart, as 50 real Sleep(1) calls in a
// row, and whole ticks with their real sleeps are timed as a cross-check of the sum; then the
// tick's three parts are timed apart (tag file, registry value, device pass). When the
// wineserver's pid is given, its CPU time over each phase is read from its /proc entry through
// Wine's Z: drive: registry and file calls are requests to the server, and their cost shows
// there rather than in the calling thread.
//
// Usage: PollTickBench [WINESERVER_PID [CLOCK_TICKS_PER_SECOND]]
// Prints one "name value" line per figure, in microseconds per tick or per part.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "enforcement/DwordReg.h"
#include "enforcement/PolicyPoll.h"
#include "enforcement/PortableDevices.h"
#include "guard/VolumeGuard.h"
#include "platform/Delegating.h"
#include "platform/SystemDir.h"
#include "platform/win32/Win32Platform.h"
#include "platform/win32/WindowsSupport.h"

namespace {

// The real threads area, with Sleep counted instead of slept.
class CountedSleeps final : public platform::Delegating<platform::Threads> {
 public:
  using Delegating::Delegating;
  void Sleep(std::uint32_t /*milliseconds*/) override { ++sleeps; }

  long long sleeps = 0;
};

struct Sample {
  double wallUs = 0;
  double cpuUs = 0;
  double serverUs = -1;  // -1: unknown
};

unsigned long serverPid = 0;
double clockTicksPerSecond = 100;

double ThreadCpuUs() {
  FILETIME created, exited, kernel, user;
  GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
  auto us = [](const FILETIME& t) {
    return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) |
                               t.dwLowDateTime) /
           10.0;
  };
  return us(kernel) + us(user);
}

double WallUs() {
  static LARGE_INTEGER frequency{};
  if (frequency.QuadPart == 0) QueryPerformanceFrequency(&frequency);
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) * 1e6 / static_cast<double>(frequency.QuadPart);
}

// utime + stime of the wineserver, from field 14 and 15 of /proc/PID/stat; -1 when unreadable.
double ServerCpuUs() {
  if (serverPid == 0) return -1;
  std::wstring path = L"Z:\\proc\\" + std::to_wstring(serverPid) + L"\\stat";
  HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return -1;
  char text[1024] = {};
  DWORD got = 0;
  BOOL ok = ReadFile(f, text, sizeof text - 1, &got, nullptr);
  CloseHandle(f);
  if (!ok || got == 0) return -1;
  // The command name in parentheses may hold spaces; the fields count from its closing one.
  const char* p = std::strrchr(text, ')');
  if (p == nullptr) return -1;
  int field = 2;
  unsigned long long utime = 0, stime = 0;
  for (; *p != 0; ++p) {
    if (*p != ' ') continue;
    ++field;
    if (field == 14) utime = std::strtoull(p + 1, nullptr, 10);
    if (field == 15) {
      stime = std::strtoull(p + 1, nullptr, 10);
      break;
    }
  }
  return static_cast<double>(utime + stime) * 1e6 / clockTicksPerSecond;
}

template <typename Body>
Sample Measure(long long rounds, Body body) {
  const double server0 = ServerCpuUs();
  const double cpu0 = ThreadCpuUs();
  const double wall0 = WallUs();
  for (long long i = 0; i < rounds; ++i) body();
  Sample s;
  s.wallUs = (WallUs() - wall0) / static_cast<double>(rounds);
  s.cpuUs = (ThreadCpuUs() - cpu0) / static_cast<double>(rounds);
  const double server1 = ServerCpuUs();
  if (server0 >= 0 && server1 >= 0) s.serverUs = (server1 - server0) / static_cast<double>(rounds);
  return s;
}

void Print(const char* name, const Sample& s) {
  std::printf("%s_wall_us %.2f\n", name, s.wallUs);
  std::printf("%s_cpu_us %.2f\n", name, s.cpuUs);
  if (s.serverUs >= 0) std::printf("%s_server_us %.2f\n", name, s.serverUs);
}

// The steady state of an installed machine: the tag asks for 0 and the value is 0.
bool PrepareSteadyMachine() {
  char16_t dir[platform::kMaxPath];
  platform::SystemDirPath(dir);
  std::wstring path = std::wstring(platform::win32::W(dir)) + L"ReadTag.ini";
  HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  const char text[] = "[State]\r\nkey=0\r\n";
  DWORD written = 0;
  WriteFile(f, text, sizeof text - 1, &written, nullptr);
  CloseHandle(f);
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE,
                      L"SYSTEM\\CurrentControlSet\\Control\\StorageDevicePolicies\\", 0, nullptr, 0,
                      KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  DWORD zero = 0;
  RegSetValueExW(key, L"WriteProtect", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&zero),
                 sizeof zero);
  RegCloseKey(key);
  return written == sizeof text - 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) serverPid = std::strtoul(argv[1], nullptr, 10);
  if (argc > 2) clockTicksPerSecond = std::strtod(argv[2], nullptr);

  static platform::win32::Win32Platform windows;
  CountedSleeps counted(windows.threads);
  windows.Install();
  if (!PrepareSteadyMachine()) {
    std::printf("error cannot prepare the tag file and the registry value\n");
    return 1;
  }
  auto tick = [] { enforcement::PollPolicy(&guard::TheVolumeGuard(), true); };
  tick();  // the first tick settles the value, if anything was off

  // Ticks with their sleeps counted, not slept.
  windows.platform().threads = &counted;
  for (int i = 0; i < 50; ++i) tick();  // warm caches
  counted.sleeps = 0;
  constexpr long long kTicks = 5000;
  const Sample own = Measure(kTicks, tick);
  const double sleepsPerTick = static_cast<double>(counted.sleeps) / kTicks;
  windows.platform().threads = &windows.threads;

  // The fifty mandated sleeps alone.
  constexpr long long kSleepRounds = 150;
  const Sample sleeps = Measure(kSleepRounds, [] {
    for (int i = 0; i < 50; ++i) Sleep(1);
  });

  // Whole ticks, sleeps and all.
  constexpr long long kWholeTicks = 60;
  const Sample whole = Measure(kWholeTicks, tick);

  // The tick's parts, each on its own: the tag file read, the registry read, the device pass
  // (a prefix has no "WPD" class, so that is the class lookup alone).
  constexpr long long kPartRounds = 3000;
  const Sample tag = Measure(kPartRounds, [] { enforcement::ReadTagFile(); });
  const Sample registry = Measure(kPartRounds, [] {
    enforcement::DwordReg accessor(platform::kHkeyLocalMachine, enforcement::kWriteProtectKey,
                                   enforcement::kWriteProtectValue);
    accessor.Read();
  });
  const Sample devices = Measure(kPartRounds, [] { enforcement::SwitchPortableDevices(true); });
  // The once-a-second lock check with both locks on, in its steady state: nothing to take, the
  // letters asked for their type, the volumes listed, the internal disks remembered.
  guard::VolumeGuard::RemovableLock = 1;
  guard::VolumeGuard::OpticalLock = 1;
  guard::TheVolumeGuard().KeepLocked();
  const Sample keepLocked = Measure(kPartRounds, [] { guard::TheVolumeGuard().KeepLocked(); });
  guard::VolumeGuard::RemovableLock = 0;
  guard::VolumeGuard::OpticalLock = 0;

  std::printf("ticks %lld\n", kTicks);
  std::printf("sleeps_per_tick %.1f\n", sleepsPerTick);
  Print("tick_own", own);
  Print("sleeps50", sleeps);
  Print("tick_whole", whole);
  Print("part_tag", tag);
  Print("part_registry", registry);
  Print("part_devices", devices);
  Print("part_keeplocked", keepLocked);
  std::printf("write_protect %d\n", static_cast<int>(enforcement::CurrentWriteProtect));
  return enforcement::CurrentWriteProtect == 0 ? 0 : 1;
}

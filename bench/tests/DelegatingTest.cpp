// The delegating areas: every call reaches the inner area with its own arguments, gives back
// the inner area's result, and runs inside exactly one scope.
#include "platform/Delegating.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "bench/sim/BenchMachine.h"

namespace bench {
namespace {

using platform::Handle;
using platform::sim::SimMachine;

// Counts the scopes made and how many are alive.
struct CountingScope {
  CountingScope() {
    ++made;
    ++alive;
  }
  ~CountingScope() { --alive; }
  CountingScope(const CountingScope&) = delete;
  CountingScope& operator=(const CountingScope&) = delete;
  static inline int made = 0;
  static inline int alive = 0;
};

// Calls of one area on a fresh bench machine: run makes `calls` calls on `area` (setup goes to
// the machine's own areas) and appends what each gave back, as text, to `r`.
template <typename Area>
struct Case {
  const char* what;
  int calls;
  std::function<void(Area& area, SimMachine& m, std::string& r)> run;
};

struct Outcome {
  std::string results;
  std::vector<std::string> journal;
};

template <typename Area, typename SimArea>
Outcome Run(SimArea SimMachine::*member, const Case<Area>& c, bool delegated) {
  BenchMachine m(Drives::kDesktop);
  Outcome o;
  if (!delegated) {
    c.run(m.sim.*member, m.sim, o.results);
  } else {
    platform::Delegating<Area, CountingScope> delegating(m.sim.*member);
    CountingScope::made = 0;
    c.run(delegating, m.sim, o.results);
    EXPECT_EQ(CountingScope::made, c.calls);
    EXPECT_EQ(CountingScope::alive, 0);
  }
  o.journal = m.sim.core.Journal();
  return o;
}

// Each case leaves, through the delegating area, the journal and results that the same calls
// leave when made on the machine's own area.
template <typename Area, typename SimArea>
void ExpectForwarded(SimArea SimMachine::*member, const std::vector<Case<Area>>& cases) {
  for (const Case<Area>& c : cases) {
    SCOPED_TRACE(c.what);
    const Outcome direct = Run(member, c, false);
    const Outcome delegated = Run(member, c, true);
    EXPECT_FALSE(direct.journal.empty() && direct.results.empty()) << "the case shows nothing";
    EXPECT_EQ(delegated.journal, direct.journal);
    EXPECT_EQ(delegated.results, direct.results);
  }
}

std::string N(std::uint64_t v) {
  return std::to_string(v) + " ";
}
std::string S(const char16_t* text) {
  std::string s;
  for (; *text != 0; ++text) s += static_cast<char>(*text);
  return s + " ";
}

TEST(DelegatingTest, VolumesAndThreads) {
  ExpectForwarded<platform::Volumes>(
      &SimMachine::volumes,
      {{"open, drive type, letters in use, storage query, lock", 5,
        [](platform::Volumes& v, SimMachine&, std::string& r) {
          const Handle h = v.CreateFileW(
              u"\\\\.\\E:", platform::kGenericRead | platform::kGenericWrite,
              platform::kFileShareRead | platform::kFileShareWrite, platform::kOpenExisting, 0);
          r += N(h);
          r += N(v.GetDriveTypeW(u"E:"));
          r += N(v.GetLogicalDrives());
          std::uint8_t query[platform::kStoragePropertyQuerySize] = {};
          std::uint8_t out[platform::kStorageDeviceDescriptorSize] = {};
          std::uint32_t got = 0;
          r += N(v.DeviceIoControl(h, platform::kIoctlStorageQueryProperty, query, sizeof query,
                                   out, sizeof out - 4, &got));
          r += N(got) + N(out[platform::kStorageDeviceBusTypeOffset]);
          r += N(v.DeviceIoControl(h, platform::kFsctlLockVolume, nullptr, 0, nullptr, 0, &got));
        }},
       {"global memory", 2, [](platform::Volumes& v, SimMachine&, std::string& r) {
          void* block = v.GlobalAlloc(platform::kGmemZeroInit, 48);
          r += N(block != nullptr);
          r += N(v.GlobalFree(block) == nullptr);
        }}});
  ExpectForwarded<platform::Threads>(
      &SimMachine::threads,
      {{"an event, a sleep, the last error set", 7,
        [](platform::Threads& t, SimMachine& m, std::string& r) {
          const Handle e = t.CreateEventW(true, false);
          r += N(e);
          r += N(t.WaitForSingleObject(e, 0));
          r += N(t.SetEvent(e));
          r += N(t.WaitForSingleObject(e, 20));
          r += N(t.CloseHandle(e));
          t.Sleep(250);
          r += N(m.core.NowMs());
          t.SetLastError(1234);
          r += N(m.threads.GetLastError());
        }},
       {"the last error read", 1,
        [](platform::Threads& t, SimMachine& m, std::string& r) {
          m.threads.SetLastError(4321);
          r += N(t.GetLastError());
        }},
       {"a timer queue and its timer", 2,
        [](platform::Threads& t, SimMachine&, std::string& r) {
          Handle timer = 0;
          const Handle queue = t.CreateTimerQueue();
          r += N(queue);
          r += N(t.CreateTimerQueueTimer(
              &timer, queue, [](void*, bool) {}, nullptr, 1000, 500, platform::kWtExecuteDefault));
          r += N(timer);
        }},
       {"a thread", 1, [](platform::Threads& t, SimMachine& m, std::string& r) {
          r += N(t.CreateThread([](void*) -> std::uint32_t { return 0; }, nullptr));
          m.threads.JoinThreads();
        }}});
}

TEST(DelegatingTest, FilesRegistryDevicesAndDebug) {
  ExpectForwarded<platform::Files>(
      &SimMachine::files,
      {{"the tag file's path and text", 8, [](platform::Files& f, SimMachine&, std::string& r) {
          char16_t path[platform::kMaxPath] = {};
          r += N(f.SHGetSpecialFolderPathW(0, path, platform::kCsidlSystem, 0));
          r += N(f.PathRemoveFileSpecW(path));
          r += N(f.PathAddBackslashW(path) - path);
          r += N(f.PathAppendW(path, u"system32\\ReadTag.ini"));
          r += S(path);
          r += N(f.PathFileExistsW(path));
          char16_t value[16] = {};
          r += N(f.GetPrivateProfileStringW(u"State", u"key", u"9", value, 16, path));
          r += S(value);
          const Handle h = f.CreateFileW(path, platform::kGenericRead, platform::kFileShareRead,
                                         platform::kOpenExisting, platform::kFileAttributeNormal);
          r += N(h);
          std::uint8_t bytes[8] = {};
          std::uint32_t got = 0;
          r += N(f.ReadFile(h, bytes, sizeof bytes - 1, &got));
          r += N(got) + N(bytes[2]);
        }}});
  ExpectForwarded<platform::Registry>(
      &SimMachine::registry,
      {{"create, set, open, read back", 6, [](platform::Registry& g, SimMachine&, std::string& r) {
          const char16_t key[] = u"SOFTWARE\\Tarvel";
          platform::Hkey k = 0;
          std::uint32_t disposition = 0;
          r += N(g.RegCreateKeyExW(platform::kHkeyLocalMachine, key, 0, platform::kKeyWrite, &k,
                                   &disposition));
          r += N(k) + N(disposition);
          const std::uint32_t value = 7;
          r += N(g.RegSetValueExW(k, u"Level", platform::kRegDword,
                                  reinterpret_cast<const std::uint8_t*>(&value), sizeof value));
          r += N(g.RegCloseKey(k));
          r += N(g.RegOpenKeyExW(platform::kHkeyLocalMachine, key, 0, platform::kKeyRead, &k));
          std::uint32_t type = 0;
          std::uint32_t read = 0;
          std::uint32_t size = sizeof read;
          r += N(g.RegQueryValueExW(k, u"Level", &type, reinterpret_cast<std::uint8_t*>(&read),
                                    &size));
          r += N(type) + N(size) + N(read);
          r += N(g.RegCloseKey(k));
        }}});
  ExpectForwarded<platform::Devices>(
      &SimMachine::devices,
      {{"a portable device off and on", 7, [](platform::Devices& d, SimMachine&, std::string& r) {
          platform::Guid guid;
          std::uint32_t required = 0;
          r += N(d.SetupDiClassGuidsFromNameW(u"WPD", &guid, 1, &required));
          r += N(required) + N(guid.data1);
          const Handle set = d.SetupDiGetClassDevsW(&guid, nullptr, 0, platform::kDigcfPresent);
          r += N(set);
          platform::SpDevinfoData info{};
          info.cbSize = sizeof info;
          r += N(d.SetupDiEnumDeviceInfo(set, 1, &info));
          r += N(info.devInst);
          r += N(d.CM_Disable_DevNode(info.devInst, 0));
          std::uint32_t status = 0;
          std::uint32_t problem = 0;
          r += N(d.CM_Get_DevNode_Status(&status, &problem, info.devInst, 0));
          r += N(status) + N(problem);
          r += N(d.CM_Enable_DevNode(info.devInst, 0));
          r += N(d.SetupDiDestroyDeviceInfoList(set));
        }}});
  ExpectForwarded<platform::Debug>(
      &SimMachine::debug,
      {{"both kinds of line", 2, [](platform::Debug& d, SimMachine&, std::string&) {
          d.OutputDebugStringA("narrow");
          d.OutputDebugStringW(u"wide");
        }}});
}

TEST(DelegatingTest, CryptoProcessServiceAndWindowing) {
  ExpectForwarded<platform::Crypto>(
      &SimMachine::crypto,
      {{"a key pair, a derived key, a round trip", 12,
        [](platform::Crypto& c, SimMachine&, std::string& r) {
          platform::CryptHandle provider = 0;
          platform::CryptHandle pair = 0;
          platform::CryptHandle user = 0;
          platform::CryptHandle hash = 0;
          platform::CryptHandle key = 0;
          r += N(c.CryptAcquireContextW(&provider, nullptr, nullptr, platform::kProvRsaFull, 0));
          r += N(c.CryptGenKey(provider, platform::kAtSignature, 0, &pair));
          r += N(c.CryptGetUserKey(provider, platform::kAtSignature, &user));
          r += N(pair) + N(user);
          r += N(c.CryptCreateHash(provider, platform::kCalgMd5, 0, 0, &hash));
          std::uint8_t data[8] = {'s', 'e', 'c', 'r', 'e', 't'};
          std::uint32_t length = 6;
          r += N(c.CryptHashData(hash, data, length, 0));
          r += N(c.CryptDeriveKey(provider, platform::kCalgRc4, hash, platform::kCryptExportable,
                                  &key));
          r += N(c.CryptEncrypt(key, 0, 1, 0, data, &length, sizeof data));
          r += N(length) + N(data[0]);
          r += N(c.CryptDecrypt(key, 0, 1, 0, data, &length));
          r += N(length) + N(data[0]);
          r += N(c.CryptDestroyHash(hash));
          r += N(c.CryptDestroyKey(key));
          r += N(c.CryptDestroyKey(user));
          r += N(c.CryptReleaseContext(provider, 0));
        }}});
  ExpectForwarded<platform::Process>(
      &SimMachine::process,
      {{"the WOW64 question", 4, [](platform::Process& p, SimMachine&, std::string& r) {
          const Handle kernel32 = p.GetModuleHandleW(u"kernel32");
          platform::ProcAddress routine = p.GetProcAddress(kernel32, "IsWow64Process");
          r += N(kernel32) + N(routine != nullptr);
          const Handle self = p.GetCurrentProcess();
          platform::Bool wow64 = 7;
          r += N(p.CallIsWow64Process(routine, self, &wow64));
          r += N(self) + N(wow64);
        }}});
  ExpectForwarded<platform::ServiceControl>(
      &SimMachine::service,
      {{"refused outside the services manager", 3,
        [](platform::ServiceControl& s, SimMachine&, std::string& r) {
          const platform::ServiceTableEntry table[] = {{u"Tarvel Service", nullptr},
                                                       {nullptr, nullptr}};
          r += N(s.StartServiceCtrlDispatcherW(table));
          r += N(s.RegisterServiceCtrlHandlerW(u"Tarvel Service", [](std::uint32_t) {}));
          const platform::ServiceStatus status{
              platform::kServiceWin32OwnProcess, platform::kServiceRunning, 0, 0, 0, 0, 0};
          r += N(s.SetServiceStatus(0x40, &status));
        }}});
  ExpectForwarded<platform::Windowing>(
      &SimMachine::windowing,
      {{"the hidden window", 9, [](platform::Windowing& w, SimMachine&, std::string& r) {
          platform::WndClass wc{};
          wc.lpfnWndProc = [](Handle, std::uint32_t, std::uintptr_t, std::intptr_t) {
            return std::intptr_t{1};
          };
          wc.hIcon = w.LoadIconW(0, platform::kIdiApplication);
          wc.hCursor = w.LoadCursorW(0, platform::kIdcArrow);
          wc.hbrBackground = w.GetStockObject(platform::kWhiteBrush);
          wc.lpszClassName = u"MainWndClass";
          r += N(w.RegisterClassW(&wc));
          const Handle h =
              w.CreateWindowExW(0, u"MainWndClass", u"Tarvel Service",
                                platform::kWsOverlappedWindow, 1, 2, 3, 4, 0, 0, 0, nullptr);
          r += N(h);
          r += N(w.ShowWindow(h, static_cast<std::int32_t>(platform::kSwHide)));
          platform::Msg msg{};
          r += N(w.PeekMessageW(&msg, 0, 0, 0, platform::kPmRemove));
          r += N(static_cast<std::uint64_t>(w.DefWindowProcW(h, platform::kWmUser, 5, 6)));
          r += N(static_cast<std::uint64_t>(w.DefWindowProcW(h, platform::kWmClose, 0, 0)));
        }}});
}

}  // namespace
}  // namespace bench

// The real poll under Wine: the prefix's system directory, a real ReadTag.ini and the real
// registry, read back with RegQueryValueExW and with `reg query`.
#include <cstdio>
#include <string>

#include "enforcement/PolicyPoll.h"
#include "platform/Registry.h"
#include "platform/ServiceNames.h"
#include "platform/SystemDir.h"
#include "platform/Text.h"
#include "platform/win32/Win32Platform.h"
#include "platform/win32/WindowsSupport.h"
#include "tests/wine/WineCheck.h"

using winecheck::Check;
using winecheck::CheckEq;

namespace {

std::u16string TagPath() {
  char16_t dir[platform::kMaxPath];
  platform::SystemDirPath(dir);
  return std::u16string(dir) + platform::kTagFileName;
}

#if defined(_WIN64)
constexpr int kUnderWow64 = 0;
#else
// Every 32-bit program here runs on a 64-bit system (Wine's WOW64, as 64-bit Windows).
constexpr int kUnderWow64 = 1;
#endif

// What kernel32 itself names the service's directory: GetSystemDirectoryW for a 64-bit
// process, GetSystemWow64DirectoryW under WOW64; with one backslash.
std::u16string ExpectedSystemDir() {
  wchar_t system[MAX_PATH] = {};
  if (kUnderWow64) {
    ::GetSystemWow64DirectoryW(system, MAX_PATH);
  } else {
    ::GetSystemDirectoryW(system, MAX_PATH);
  }
  return std::u16string(reinterpret_cast<const char16_t*>(system)) + u"\\";
}

bool WriteFileText(const std::wstring& path, const std::string& key) {
  std::string text = "[State]\r\nkey=" + key + "\r\n";
  HANDLE f = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = ::WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  ::CloseHandle(f);
  return ok && written == text.size();
}

bool WriteTag(const std::string& key) {
  return WriteFileText(platform::win32::W(TagPath().c_str()), key);
}

// Under WOW64: ReadTag.ini in the real System32, written with file-system redirection off.
bool WriteDecoyTag(const std::string& key) {
  wchar_t system[MAX_PATH] = {};
  ::GetSystemDirectoryW(system, MAX_PATH);
  PVOID redirection = nullptr;
  if (!::Wow64DisableWow64FsRedirection(&redirection)) return false;
  bool ok = WriteFileText(std::wstring(system) + L"\\ReadTag.ini", key);
  ::Wow64RevertWow64FsRedirection(redirection);
  return ok;
}

// The value through advapi32 in the given registry view (0: the process's own): -1 when it
// cannot be read, -2 when it is not a 4-byte REG_DWORD.
long long QueryValue(REGSAM view = 0) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, platform::win32::W(platform::kWriteProtectKey), 0,
                      KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS) {
    return -1;
  }
  DWORD type = 0;
  DWORD value = 0;
  DWORD size = sizeof value;
  LSTATUS status = ::RegQueryValueExW(key, platform::win32::W(platform::kWriteProtectValue),
                                      nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  ::RegCloseKey(key);
  if (status != ERROR_SUCCESS) return -1;
  if (type != REG_DWORD || size != 4) return -2;
  return value;
}

// The value as `reg query` prints it ("0x1"), or "missing" when reg exits non-zero.
std::string RegQuery() {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!::CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return "no pipe";
  ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = writeEnd;
  si.hStdError = writeEnd;
  si.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  std::wstring command =
      L"reg.exe query \"HKLM\\SYSTEM\\CurrentControlSet\\Control\\StorageDevicePolicies\" /v "
      L"WriteProtect";
  PROCESS_INFORMATION pi{};
  BOOL started = ::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                  nullptr, &si, &pi);
  ::CloseHandle(writeEnd);
  if (!started) {
    ::CloseHandle(readEnd);
    return "reg did not start";
  }
  std::string out;
  char buf[512];
  DWORD got = 0;
  while (::ReadFile(readEnd, buf, sizeof buf, &got, nullptr) && got > 0) out.append(buf, got);
  ::CloseHandle(readEnd);
  ::WaitForSingleObject(pi.hProcess, 30000);
  DWORD code = 1;
  ::GetExitCodeProcess(pi.hProcess, &code);
  ::CloseHandle(pi.hProcess);
  ::CloseHandle(pi.hThread);
  if (code != 0) return "missing";
  std::size_t at = out.find("REG_DWORD");
  if (at == std::string::npos) return "unparsed: " + out;
  at = out.find_first_not_of(" \t", at + 9);
  std::size_t end = out.find_first_of(" \t\r\n", at);
  return out.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

void Tick() {
  enforcement::PollPolicy(nullptr, true);
}

void ExpectValue(long long value, const std::string& shown, const std::string& when) {
  CheckEq(QueryValue(), value, "RegQueryValueExW reads " + shown + " " + when);
  // HKLM\SYSTEM is shared, not redirected: the 64-bit view holds what a 32-bit service wrote.
  CheckEq(QueryValue(KEY_WOW64_64KEY), value,
          "the 64-bit registry view reads " + shown + " " + when);
  std::string seen = RegQuery();
  Check(seen == shown, "reg query shows " + shown + " " + when, "got " + seen);
}

}  // namespace

int main() {
  platform::win32::Win32Platform real;
  real.Install();

  // The system directory: the shell's system folder for a 64-bit process; under WOW64 (the
  // shipped i686 build on 64-bit Windows) SysWOW64 beside it, as the real kernel32 reports.
  platform::ResolveIsWow64ProcessPtr();
  Check(platform::IsWow64ProcessPtr != nullptr, "kernel32 exports IsWow64Process");
  platform::DetectWow64();
  CheckEq(
      platform::IsWow64, kUnderWow64,
      kUnderWow64 ? "an i686 process runs under WOW64" : "an x86_64 process is not under WOW64");
  char16_t dir[platform::kMaxPath];
  platform::SystemDirPath(dir);
  std::u16string expected = ExpectedSystemDir();
  Check(platform::CompareIgnoringAsciiCase(dir, expected.c_str()) == 0,
        kUnderWow64 ? "SystemDirPath is SysWOW64 with a backslash"
                    : "SystemDirPath is the system directory with a backslash",
        platform::ToUtf8(dir) + " vs " + platform::ToUtf8(expected));
  std::u16string d(dir);
  Check(d.size() > 2 && d.back() == u'\\' && d[d.size() - 2] != u'\\',
        "SystemDirPath ends in exactly one backslash", platform::ToUtf8(dir));
  if (kUnderWow64) {
    // A tag file that says 1 in the real System32 is not the service's: the value stays
    // missing while the service's own directory has none.
    Check(WriteDecoyTag("1"), "a decoy ReadTag.ini with key 1 in the real System32");
    Tick();
    ExpectValue(-1, "missing", "after a tick with only the decoy");
  }

  // No tag file and no value: a tick writes nothing.
  ExpectValue(-1, "missing", "before any tick");
  Tick();
  ExpectValue(-1, "missing", "after a tick without a tag file");
  Check(WriteTag("0"), "ReadTag.ini written with key 0");
  Tick();
  ExpectValue(-1, "missing", "after a tick with key 0");

  // The value follows the tag file from 0 to 1 and back.
  Check(WriteTag("1"), "ReadTag.ini written with key 1");
  Tick();
  ExpectValue(1, "0x1", "after a tick with key 1");
  Check(WriteTag("0"), "ReadTag.ini written with key 0 again");
  Tick();
  ExpectValue(0, "0x0", "after a tick with key 0 again");

  // Driven by a real timer-queue timer on pool threads, faster than a tick lasts: the
  // overlapping ticks are skipped and the value still follows the tag.
  Check(WriteTag("1"), "ReadTag.ini written with key 1 for the timer");
  platform::Handle timer = platform::kNullHandle;
  Check(real.threads.CreateTimerQueueTimer(&timer, platform::kNullHandle, enforcement::PollPolicy,
                                           nullptr, 50, 50, platform::kWtExecuteDefault) != 0,
        "CreateTimerQueueTimer takes PollPolicy as its callback");
  long long seen = -1;
  for (int i = 0; i < 100 && seen != 1; ++i) {
    ::Sleep(100);
    seen = QueryValue();
  }
  // Waits for a running tick to finish before the timer goes.
  ::DeleteTimerQueueTimer(nullptr, platform::win32::H(timer), INVALID_HANDLE_VALUE);
  ExpectValue(1, "0x1", "after timer ticks with key 1");
  return winecheck::Finish();
}

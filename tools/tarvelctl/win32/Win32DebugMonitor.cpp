// The tool's debug-output monitor on Windows: the DBWIN shared buffer and its two events.
#include "tools/tarvelctl/win32/Win32DebugMonitor.h"

#include <sddl.h>

#include <atomic>
#include <cstring>
#include <string>

namespace tarvelctl::win32 {

namespace {

// The buffer: the writer's process id, then its NUL-terminated narrow text.
constexpr DWORD kBufferSize = 4096;
// A writer takes the buffer-ready event, writes, then signals data-ready. One ended between the
// two (a process that exits while another of its threads is logging) leaves the buffer taken for
// good: every later writer waits 10 s for it and gives up, its line lost, and a service that logs
// at start-up misses its start timeout. After this long without a message the buffers are made
// ready again; a writer that is merely slow has long finished by then.
constexpr ULONGLONG kRearmAfterMs = 1000;

std::atomic<bool> interrupted{false};

BOOL WINAPI OnConsoleControl(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
  interrupted = true;
  return TRUE;
}

platform::Handle FromH(HANDLE h) {
  return reinterpret_cast<platform::Handle>(h);
}

}  // namespace

Win32DebugMonitor::Win32DebugMonitor() {
  ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
  // In session 0 the session's names are the global ones.
  DWORD session = 1;
  globalIsLocal_ = ::ProcessIdToSessionId(::GetCurrentProcessId(), &session) && session == 0;
}

Win32DebugMonitor::~Win32DebugMonitor() {
  for (Buffer& b : buffers_) {
    if (b.view != nullptr) ::UnmapViewOfFile(b.view);
  }
  ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
}

std::uint32_t Win32DebugMonitor::Open(DebugScope scope) {
  if (scope == DebugScope::kLocal && globalIsLocal_ && !buffers_.empty()) return 0;
  const std::wstring prefix = scope == DebugScope::kGlobal ? L"Global\\" : L"";

  // Services (SYSTEM, LocalService, NetworkService) must be able to open the global objects
  // to write into them; the session's objects keep the default security.
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (scope == DebugScope::kGlobal && !::ConvertStringSecurityDescriptorToSecurityDescriptorW(
                                          L"D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;GA;;;LS)(A;;GA;;;NS)",
                                          SDDL_REVISION_1, &descriptor, nullptr)) {
    return ::GetLastError();
  }
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  SECURITY_ATTRIBUTES* sa = descriptor ? &attributes : nullptr;

  Buffer b;
  DWORD error = 0;
  // A name that exists already belongs to another monitor: the objects are not shared.
  auto create = [&](platform::UniqueKernelHandle& slot, auto call) {
    if (error != 0) return;
    ::SetLastError(0);
    slot.reset(FromH(call()));
    if (!slot.valid()) {
      error = ::GetLastError();
    } else if (::GetLastError() == ERROR_ALREADY_EXISTS) {
      error = ERROR_ALREADY_EXISTS;
    }
  };
  const std::wstring mapping = prefix + L"DBWIN_BUFFER";
  const std::wstring bufferReady = prefix + L"DBWIN_BUFFER_READY";
  const std::wstring dataReady = prefix + L"DBWIN_DATA_READY";
  create(b.mapping, [&] {
    return ::CreateFileMappingW(INVALID_HANDLE_VALUE, sa, PAGE_READWRITE, 0, kBufferSize,
                                mapping.c_str());
  });
  create(b.bufferReady, [&] { return ::CreateEventW(sa, FALSE, FALSE, bufferReady.c_str()); });
  create(b.dataReady, [&] { return ::CreateEventW(sa, FALSE, FALSE, dataReady.c_str()); });
  if (descriptor != nullptr) ::LocalFree(descriptor);
  if (error != 0) return error;

  b.view = static_cast<const char*>(
      ::MapViewOfFile(platform::win32::H(b.mapping.get()), FILE_MAP_READ, 0, 0, kBufferSize));
  if (b.view == nullptr) return ::GetLastError();
  // Writers wait for this before they write.
  ::SetEvent(platform::win32::H(b.bufferReady.get()));
  buffers_.push_back(std::move(b));
  lastReadyMs_ = ::GetTickCount64();
  return 0;
}

bool Win32DebugMonitor::Next(std::uint32_t timeoutMs, DebugMessage* message) {
  if (buffers_.empty()) {
    ::Sleep(timeoutMs);
    return false;
  }
  HANDLE events[2];
  for (std::size_t i = 0; i < buffers_.size(); ++i) {
    events[i] = platform::win32::H(buffers_[i].dataReady.get());
  }
  DWORD wait =
      ::WaitForMultipleObjects(static_cast<DWORD>(buffers_.size()), events, FALSE, timeoutMs);
  if (wait >= WAIT_OBJECT_0 + buffers_.size()) {
    const ULONGLONG now = ::GetTickCount64();
    if (wait == WAIT_TIMEOUT && now - lastReadyMs_ >= kRearmAfterMs) {
      for (Buffer& quiet : buffers_) ::SetEvent(platform::win32::H(quiet.bufferReady.get()));
      lastReadyMs_ = now;
    }
    return false;
  }
  Buffer& b = buffers_[wait - WAIT_OBJECT_0];
  lastReadyMs_ = ::GetTickCount64();
  DWORD processId = 0;
  std::memcpy(&processId, b.view, sizeof processId);
  const char* text = b.view + sizeof processId;
  message->processId = processId;
  message->text.assign(text, strnlen(text, kBufferSize - sizeof processId));
  ::SetEvent(platform::win32::H(b.bufferReady.get()));
  return true;
}

bool Win32DebugMonitor::Interrupted() {
  return interrupted;
}

std::string Win32DebugMonitor::ErrorText(std::uint32_t code) {
  return WindowsErrorText(code);
}

std::uint64_t Win32DebugMonitor::NowMs() {
  return ::GetTickCount64();
}

}  // namespace tarvelctl::win32

// Threads, events, sleeps and timer queues on real Windows.
#include "platform/win32/Win32Threads.h"

#include <memory>

#include "platform/win32/WindowsSupport.h"

namespace platform::win32 {

namespace {

struct ThreadBinding {
  ThreadRoutine routine;
  void* parameter;
};

DWORD WINAPI ThreadTrampoline(LPVOID raw) {
  std::unique_ptr<ThreadBinding> binding(static_cast<ThreadBinding*>(raw));
  return binding->routine(binding->parameter);
}

VOID CALLBACK TimerTrampoline(PVOID raw, BOOLEAN fired) {
  auto* binding = static_cast<Win32Threads::TimerBinding*>(raw);
  binding->callback(binding->parameter, fired != FALSE);
}

}  // namespace

void Win32Threads::Sleep(std::uint32_t milliseconds) {
  ::Sleep(milliseconds);
}

Bool Win32Threads::CloseHandle(Handle object) {
  return ::CloseHandle(H(object));
}

Handle Win32Threads::CreateThread(ThreadRoutine routine, void* parameter) {
  auto binding = std::make_unique<ThreadBinding>(ThreadBinding{routine, parameter});
  HANDLE h = ::CreateThread(nullptr, 0, ThreadTrampoline, binding.get(), 0, nullptr);
  if (h != nullptr) binding.release();  // the thread owns it now
  return FromH(h);
}

Handle Win32Threads::CreateEventW(bool manualReset, bool initialState) {
  return FromH(
      ::CreateEventW(nullptr, manualReset ? TRUE : FALSE, initialState ? TRUE : FALSE, nullptr));
}

Bool Win32Threads::SetEvent(Handle event) {
  return ::SetEvent(H(event));
}

std::uint32_t Win32Threads::WaitForSingleObject(Handle object, std::uint32_t milliseconds) {
  return ::WaitForSingleObject(H(object), milliseconds);
}

Handle Win32Threads::CreateTimerQueue() {
  return FromH(::CreateTimerQueue());
}

Bool Win32Threads::CreateTimerQueueTimer(Handle* timer, Handle queue, TimerCallback callback,
                                         void* parameter, std::uint32_t dueTime,
                                         std::uint32_t period, std::uint32_t flags) {
  TimerBinding* binding = nullptr;
  {
    std::lock_guard lock(mutex_);
    binding = &timers_.emplace_back(TimerBinding{callback, parameter});
  }
  HANDLE h = nullptr;
  BOOL ok = ::CreateTimerQueueTimer(&h, H(queue), TimerTrampoline, binding, dueTime, period, flags);
  if (timer != nullptr) *timer = FromH(h);
  return ok;
}

std::uint32_t Win32Threads::GetLastError() {
  return ::GetLastError();
}

void Win32Threads::SetLastError(std::uint32_t error) {
  ::SetLastError(error);
}

}  // namespace platform::win32

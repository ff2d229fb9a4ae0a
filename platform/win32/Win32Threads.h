// Threads, events, sleeps and timer queues on real Windows.
#pragma once

#include <list>
#include <mutex>

#include "platform/Threads.h"

namespace platform::win32 {

class Win32Threads final : public Threads {
 public:
  void Sleep(std::uint32_t milliseconds) override;
  Bool CloseHandle(Handle object) override;
  Handle CreateThread(ThreadRoutine routine, void* parameter) override;
  Handle CreateEventW(bool manualReset, bool initialState) override;
  Bool SetEvent(Handle event) override;
  std::uint32_t WaitForSingleObject(Handle object, std::uint32_t milliseconds) override;
  Handle CreateTimerQueue() override;
  Bool CreateTimerQueueTimer(Handle* timer, Handle queue, TimerCallback callback, void* parameter,
                             std::uint32_t dueTime, std::uint32_t period,
                             std::uint32_t flags) override;
  std::uint32_t GetLastError() override;
  void SetLastError(std::uint32_t error) override;

  /// A seam callback with its parameter, handed to Win32 through a trampoline of Win32's
  /// calling convention.
  struct TimerBinding {
    TimerCallback callback;
    void* parameter;
  };

 private:
  std::mutex mutex_;
  /// Timers are never deleted in this system, so their bindings live as long as this object.
  std::list<TimerBinding> timers_;
};

}  // namespace platform::win32

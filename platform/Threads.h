// Threads, events, sleeps, timer queues and the calling thread's last error.
#pragma once

#include <cstdint>

#include "platform/Types.h"

namespace platform {

inline constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;
inline constexpr std::uint32_t kWaitObject0 = 0;
inline constexpr std::uint32_t kWaitTimeout = 258;
inline constexpr std::uint32_t kWaitFailed = 0xFFFFFFFFu;
inline constexpr std::uint32_t kWtExecuteDefault = 0;

/// A thread's start routine (LPTHREAD_START_ROUTINE without the calling convention).
using ThreadRoutine = std::uint32_t (*)(void* parameter);
/// A timer-queue callback (WAITORTIMERCALLBACK without the calling convention).
using TimerCallback = void (*)(void* parameter, bool timerOrWaitFired);

class Threads {
 public:
  virtual ~Threads() = default;
  virtual void Sleep(std::uint32_t milliseconds) = 0;
  /// CloseHandle on any kernel handle: volume, file, event or thread.
  virtual Bool CloseHandle(Handle object) = 0;
  /// CreateThread with default security and stack size, no flags; returns null on failure.
  virtual Handle CreateThread(ThreadRoutine routine, void* parameter) = 0;
  /// CreateEventW with no security attributes and no name; returns null on failure.
  virtual Handle CreateEventW(bool manualReset, bool initialState) = 0;
  virtual Bool SetEvent(Handle event) = 0;
  virtual std::uint32_t WaitForSingleObject(Handle object, std::uint32_t milliseconds) = 0;
  /// CreateTimerQueue; returns null on failure.
  virtual Handle CreateTimerQueue() = 0;
  /// CreateTimerQueueTimer; the timer handle goes to *timer.
  virtual Bool CreateTimerQueueTimer(Handle* timer, Handle queue, TimerCallback callback,
                                     void* parameter, std::uint32_t dueTime, std::uint32_t period,
                                     std::uint32_t flags) = 0;
  /// The calling thread's last error, as set by the most recent failing call of any area.
  virtual std::uint32_t GetLastError() = 0;
  /// Sets the calling thread's last error.
  virtual void SetLastError(std::uint32_t error) = 0;
};

}  // namespace platform

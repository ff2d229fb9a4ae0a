// The simulated machine's shared core: journal, handle table, virtual clock, faults, last error.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/Types.h"
#include "platform/sim/SimFaults.h"

namespace platform::sim {

/// One debug-output line as the debugger would see it.
struct DebugLine {
  bool wide = false;
  std::u16string text;
  std::uint64_t timeMs = 0;
};

/// One open kernel object in the handle table.
struct HandleEntry {
  std::string kind;  ///< "volume", "file", "event", "thread", "devinfo", ...
  std::string name;  ///< what was opened, for journals and leak reports
};

class SimCall;

/// State shared by every simulated area. All members are safe to call from any thread.
class SimCore {
 public:
  /// Appends the line that make() formats to the journal ("DeviceIoControl E: 0x90018 -> 1");
  /// it is formatted only while recording is on.
  template <typename Make>
  requires std::is_invocable_v<Make&>
  void Record(Make&& make) {
    calls_.fetch_add(1, std::memory_order_relaxed);
    if (Recording()) Append(std::string(make()));
  }
  /// How many journal lines have been asked for, recorded or not: what the journal's length
  /// would be had it been on and never cleared.
  [[nodiscard]] std::uint64_t CallCount() const { return calls_.load(std::memory_order_relaxed); }
  [[nodiscard]] std::vector<std::string> Journal() const;
  /// The journal with the virtual time of each line.
  [[nodiscard]] std::vector<std::pair<std::uint64_t, std::string>> TimedJournal() const;
  /// The journal lines that start with prefix.
  [[nodiscard]] std::vector<std::string> JournalOf(const std::string& prefix) const;
  void ClearJournal();
  /// Switches the machine's records on (the default) or off: the journal, and the sleeps and
  /// volume controls that the areas keep for tests. Off, every call behaves as before and keeps
  /// no record, so that a benchmark's figures show less of the machine's bookkeeping and a long
  /// run does not grow. Journal lines are not even formatted then.
  void SetRecording(bool on) { recording_.store(on); }
  [[nodiscard]] bool Recording() const { return recording_.load(std::memory_order_relaxed); }

  /// Makes the calls that reach the fault point fail with error: after skip calls pass, the
  /// next count calls fail (count < 0: every call from then on). Replaces the point's last rule.
  void FailCall(Fault fault, std::uint32_t error, int skip = 0, int count = -1);
  /// Lifts every rule; the counts of FaultsTaken stay.
  void ClearFaults();
  /// How many calls that point has made fail so far.
  [[nodiscard]] int FaultsTaken(Fault fault) const;

  /// The start of a simulated platform call: takes the core's lock for the call's scope and
  /// consumes one call of the fault point. Every simulated call starts here.
  [[nodiscard]] SimCall Enter(Fault fault);
  /// The same for a call with no fault point of its own, or one it reaches only after its own
  /// checks (SimCall::Consult).
  [[nodiscard]] SimCall Enter();

  /// Adds an object to the handle table; onClose runs when it is closed.
  Handle OpenHandle(HandleEntry entry, std::function<void(Handle)> onClose = {});
  /// Closes a handle of the table; false (and error 6) for anything else.
  bool CloseHandle(Handle h);
  [[nodiscard]] bool IsOpen(Handle h) const;
  [[nodiscard]] const HandleEntry* Find(Handle h) const;
  [[nodiscard]] std::map<Handle, HandleEntry> OpenHandles() const;
  [[nodiscard]] std::size_t OpenHandleCount(const std::string& kind = "") const;
  /// The open handles of one kind, in the order they were opened.
  [[nodiscard]] std::vector<Handle> OpenHandlesOf(const std::string& kind) const;

  /// The virtual clock, in milliseconds since the machine started. Read without the core's lock.
  [[nodiscard]] std::uint64_t NowMs() const;
  /// Moves the clock forward by ms and runs the clock listener (unscheduled mode).
  void AdvanceMs(std::uint64_t ms);
  /// Sets the clock to ms if that is later; the scheduler's step. Runs no listener.
  void AdvanceTo(std::uint64_t ms);
  /// Runs after every AdvanceMs, outside the core's lock; a test can use it to act at a virtual
  /// time on the thread that moves the clock. The scheduled mode's steps do not run it.
  void SetClockListener(std::function<void(std::uint64_t)> listener);

  void AddDebugLine(bool wide, std::u16string text);
  [[nodiscard]] std::vector<DebugLine> DebugLines() const;
  [[nodiscard]] std::size_t DebugLineCount() const;
  /// The debug lines from the one at index first on (none when there are no more).
  [[nodiscard]] std::vector<DebugLine> DebugLinesFrom(std::size_t first) const;
  /// The debug lines as UTF-8, without their time.
  [[nodiscard]] std::vector<std::string> DebugTexts() const;

  static void SetLastError(std::uint32_t error);
  static std::uint32_t GetLastError();

  /// The lock that every simulated area takes around its own state.
  std::recursive_mutex& Mutex() const { return mutex_; }

 private:
  friend class SimCall;

  // A point with no rule has count 0: it never fails.
  struct FaultRule {
    std::uint32_t error = 0;
    int skip = 0;
    int count = 0;
  };

  void Append(std::string line);
  // Consumes one call of the point under the held lock; true when it is to fail, with *error set.
  bool TakeFault(Fault fault, std::uint32_t* error);

  mutable std::recursive_mutex mutex_;
  std::atomic<std::uint64_t> calls_{0};
  std::vector<std::string> journal_;
  std::vector<std::uint64_t> journalTimes_;
  std::array<FaultRule, kFaultCount> faults_{};
  std::array<int, kFaultCount> faultsTaken_{};
  struct OpenObject {
    HandleEntry entry;
    std::function<void(Handle)> onClose;
  };
  std::map<Handle, OpenObject> handles_;
  Handle nextHandle_ = 0x100;
  std::atomic<std::uint64_t> nowMs_{0};
  std::atomic<bool> recording_{true};
  std::function<void(std::uint64_t)> clockListener_;
  std::vector<DebugLine> debug_;
};

/// One simulated platform call in progress, from SimCore::Enter to the end of its scope: it holds
/// the core's lock, knows whether an injected fault fails the call, and journals the call.
///
///   SimCall call = core_.Enter(Fault::kPathAppendW);
///   call.Describe([&] { return "PathAppendW " + Show(path) + " " + Show(more); });
///   if (call.failed()) {
///     call.Record([] { return " -> 0"; });  // "PathAppendW C:\Windows system32 -> 0"
///     return 0;
///   }
class SimCall {
 public:
  SimCall(const SimCall&) = delete;
  SimCall& operator=(const SimCall&) = delete;
  SimCall(SimCall&&) = delete;
  SimCall& operator=(SimCall&&) = delete;
  ~SimCall() = default;

  /// Whether an injected fault fails the call.
  [[nodiscard]] bool failed() const { return failed_; }
  /// The injected error; 0 when no fault fails the call.
  [[nodiscard]] std::uint32_t error() const { return error_; }

  /// Consumes one call of a further fault point, unless one has already failed the call: the use
  /// a call narrows to ("CreateFileW volume"), or a point a call reaches only after its own
  /// checks. Returns failed().
  bool Consult(Fault fault) {
    if (!failed_) failed_ = core_.TakeFault(fault, &error_);
    return failed_;
  }

  /// Keeps the start of the call's journal line ("PathAppendW C:\Windows system32"), formatted now,
  /// while the arguments are as the caller passed them, and only while recording is on.
  template <typename Make>
  requires std::is_invocable_v<Make&>
  void Describe(Make&& make) {
    if (core_.Recording()) what_ = make();
  }

  /// Journals one line: the start Describe kept followed by what make() returns. make() runs
  /// only while recording is on; the line counts in CallCount either way.
  template <typename Make>
  requires std::is_invocable_v<Make&>
  void Record(Make&& make) {
    core_.Record([&] { return what_ + make(); });
  }

 private:
  friend class SimCore;

  explicit SimCall(SimCore& core) : core_(core), lock_(core.mutex_) {}
  SimCall(SimCore& core, Fault fault) : SimCall(core) { failed_ = core_.TakeFault(fault, &error_); }

  SimCore& core_;
  std::lock_guard<std::recursive_mutex> lock_;
  bool failed_ = false;
  std::uint32_t error_ = 0;
  std::string what_;
};

inline SimCall SimCore::Enter(Fault fault) {
  return SimCall(*this, fault);
}

inline SimCall SimCore::Enter() {
  return SimCall(*this);
}

/// Formats a handle the way journals show it ("0x104").
std::string HandleText(Handle h);

/// Formats a number the way journals show codes, flags and sizes ("0x90018"): in hex, at the
/// width of its own type (a 32-bit -1 is "0xffffffff").
template <typename T>
requires std::is_integral_v<T> std::string HexText(T value) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%llx",
                static_cast<unsigned long long>(static_cast<std::make_unsigned_t<T>>(value)));
  return buf;
}

}  // namespace platform::sim

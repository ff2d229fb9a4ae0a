// `log`: follows debug output live, as a debugger-output monitor does.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/tarvelctl/ToolContext.h"

namespace tarvelctl {

/// Which DBWIN buffer to serve: services write to the global one ("Global\DBWIN_BUFFER",
/// the session-0 names), programs of the tool's own session to the session's ("DBWIN_BUFFER").
enum class DebugScope { kGlobal, kLocal };

/// One OutputDebugString call: the writer's process id and its text.
struct DebugMessage {
  std::uint32_t processId = 0;
  std::string text;
};

/// The monitor side of the DBWIN protocol: it owns the shared buffer and its two events,
/// signals "buffer ready", waits for "data ready", reads the message and signals again.
class DebugMonitor {
 public:
  virtual ~DebugMonitor() = default;
  /// Creates the buffer and events of scope; returns the Win32 error code (183,
  /// ERROR_ALREADY_EXISTS, when another monitor holds them).
  virtual std::uint32_t Open(DebugScope scope) = 0;
  /// Waits up to timeoutMs for the next message from any opened scope.
  virtual bool Next(std::uint32_t timeoutMs, DebugMessage* message) = 0;
  /// Ctrl+C or Ctrl+Break has been pressed.
  virtual bool Interrupted() = 0;
  virtual std::string ErrorText(std::uint32_t code) = 0;
  virtual std::uint64_t NowMs() = 0;
};

/// What `log` is asked for.
struct LogRequest {
  bool global = true;
  bool local = true;
  /// Whether the scopes were named on the command line (then each must open).
  bool explicitScopes = false;
  /// Stop after this many seconds; 0 runs until Ctrl+C.
  std::uint32_t seconds = 0;
};

/// The printed lines of a message: "[pid] line" for each of its lines, with the line feeds
/// that lead and end the message dropped (the service starts every line with one).
std::vector<std::string> FormatDebugMessage(const DebugMessage& message);

/// Runs `log`; returns the exit code.
int RunLog(const LogRequest& request, DebugMonitor& monitor, ToolContext& ctx);

}  // namespace tarvelctl

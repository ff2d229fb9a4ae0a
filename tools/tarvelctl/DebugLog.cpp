// `log`: follows debug output live, as a debugger-output monitor does.
#include "tools/tarvelctl/DebugLog.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>

namespace tarvelctl {

namespace {

constexpr std::uint32_t kErrorAlreadyExists = 183;
constexpr std::uint32_t kAccessDenied = 5;

std::string ClockText() {
  auto now = std::chrono::system_clock::now();
  std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &seconds);
#else
  localtime_r(&seconds, &local);
#endif
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                static_cast<int>(ms.count()));
  return text;
}

const char* ScopeName(DebugScope scope) {
  return scope == DebugScope::kGlobal ? "Global\\DBWIN_BUFFER" : "DBWIN_BUFFER";
}

std::string OpenProblem(DebugScope scope, std::uint32_t error, DebugMonitor& monitor) {
  std::string text = std::string("cannot watch ") + ScopeName(scope) + ": ";
  if (error == kErrorAlreadyExists) {
    text += "another debug-output monitor (DebugView, a debugger) already holds it";
  } else {
    text += monitor.ErrorText(error) + " (" + std::to_string(error) + ")";
    if (error == kAccessDenied && scope == DebugScope::kGlobal) {
      text += "; services' output needs an elevated prompt";
    }
  }
  return text;
}

}  // namespace

std::vector<std::string> FormatDebugMessage(const DebugMessage& message) {
  std::string_view text = message.text;
  while (!text.empty() && (text.front() == '\n' || text.front() == '\r')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
  // Appended piece by piece: gcc 12 at -O3 warns falsely (-Wrestrict) on "[" + std::string.
  std::string prefix = "[";
  prefix += std::to_string(message.processId);
  prefix += "] ";
  std::vector<std::string> lines;
  for (;;) {
    std::size_t nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(prefix + std::string(line));
    if (nl == std::string_view::npos) break;
    text.remove_prefix(nl + 1);
  }
  return lines;
}

int RunLog(const LogRequest& request, DebugMonitor& monitor, ToolContext& ctx) {
  int opened = 0;
  for (DebugScope scope : {DebugScope::kGlobal, DebugScope::kLocal}) {
    if (!(scope == DebugScope::kGlobal ? request.global : request.local)) continue;
    std::uint32_t error = monitor.Open(scope);
    if (error == 0) {
      ++opened;
      continue;
    }
    ctx.err << "tarvelctl: " << OpenProblem(scope, error, monitor) << "\n";
    if (request.explicitScopes) return error == kAccessDenied ? kExitAccessDenied : kExitFailed;
  }
  if (opened == 0) return kExitFailed;
  ctx.err << "tarvelctl: watching debug output"
          << (request.seconds ? " for " + std::to_string(request.seconds) + " s" : "")
          << "; Ctrl+C ends\n";

  const std::uint64_t end = monitor.NowMs() + std::uint64_t{request.seconds} * 1000;
  DebugMessage message;
  while (!monitor.Interrupted() && (request.seconds == 0 || monitor.NowMs() < end)) {
    if (!monitor.Next(200, &message)) continue;
    std::string clock = ClockText();
    for (const std::string& line : FormatDebugMessage(message)) {
      ctx.out << clock << " " << line << "\n";
    }
    ctx.out.flush();
  }
  return kExitOk;
}

}  // namespace tarvelctl

// How the tool names service states and controls, and reads or writes service command lines.
#include "tools/tarvelctl/ServiceText.h"

#include <cstdio>
#include <iterator>

namespace tarvelctl {

namespace {

constexpr const char* kStateNames[] = {"STOPPED", "START_PENDING",    "STOP_PENDING",
                                       "RUNNING", "CONTINUE_PENDING", "PAUSE_PENDING",
                                       "PAUSED"};

constexpr const char* kAcceptNames[] = {"STOP",        "PAUSE_CONTINUE", "SHUTDOWN",
                                        "PARAMCHANGE", "NETBINDCHANGE",  "HARDWAREPROFILECHANGE",
                                        "POWEREVENT",  "SESSIONCHANGE",  "PRESHUTDOWN",
                                        "TIMECHANGE",  "TRIGGEREVENT",   "USERMODEREBOOT"};

char16_t Lower(char16_t c) {
  return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

bool EndsWithExe(const std::u16string& text, std::size_t end) {
  static constexpr char16_t kExe[] = u".exe";
  if (end < 4) return false;
  for (std::size_t i = 0; i < 4; ++i) {
    if (Lower(text[end - 4 + i]) != kExe[i]) return false;
  }
  return true;
}

}  // namespace

std::string StateName(std::uint32_t state) {
  if (state >= 1 && state <= std::size(kStateNames)) return kStateNames[state - 1];
  return "state " + std::to_string(state);
}

std::string AcceptedControlsText(std::uint32_t accepted) {
  std::string text;
  for (std::size_t bit = 0; bit < std::size(kAcceptNames); ++bit) {
    if ((accepted & (1u << bit)) == 0) continue;
    if (!text.empty()) text += " | ";
    text += kAcceptNames[bit];
  }
  std::uint32_t unknown = accepted & ~((1u << std::size(kAcceptNames)) - 1);
  if (unknown != 0) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%X", unknown);
    if (!text.empty()) text += " | ";
    text += hex;
  }
  return text.empty() ? "none" : text;
}

std::string FormatStatus(const ServiceStatusInfo& status) {
  std::string text;
  text += "  state:             " + StateName(status.state) + "\n";
  text += "  accepted controls: " + AcceptedControlsText(status.controlsAccepted) + "\n";
  text += "  check point:       " + std::to_string(status.checkPoint) + "\n";
  text += "  wait hint:         " + std::to_string(status.waitHint) + " ms\n";
  if (status.processId != 0) {
    text += "  process id:        " + std::to_string(status.processId) + "\n";
  }
  if (status.win32ExitCode != 0) {
    text += "  exit code:         " + std::to_string(status.win32ExitCode);
    if (status.serviceExitCode != 0) {
      text += " (service-specific " + std::to_string(status.serviceExitCode) + ")";
    }
    text += "\n";
  }
  return text;
}

std::u16string QuoteCommandLine(const std::u16string& executable) {
  return u"\"" + executable + u"\"";
}

std::u16string ExecutableFromCommandLine(const std::u16string& commandLine) {
  std::size_t start = commandLine.find_first_not_of(u' ');
  if (start == std::u16string::npos) return {};
  if (commandLine[start] == u'"') {
    std::size_t close = commandLine.find(u'"', start + 1);
    return commandLine.substr(
        start + 1, close == std::u16string::npos ? std::u16string::npos : close - start - 1);
  }
  for (std::size_t blank = commandLine.find(u' ', start); blank != std::u16string::npos;
       blank = commandLine.find(u' ', blank + 1)) {
    if (EndsWithExe(commandLine, blank)) return commandLine.substr(start, blank - start);
  }
  std::size_t end = commandLine.find_last_not_of(u' ');
  return commandLine.substr(start, end - start + 1);
}

}  // namespace tarvelctl

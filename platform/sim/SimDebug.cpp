// The simulated machine's debugger.
#include "platform/sim/SimDebug.h"

#include <string>

#include "platform/Text.h"

namespace platform::sim {

namespace {
// Journals show the line feed as \n so that one call stays one journal line.
std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}
}  // namespace

void SimDebug::OutputDebugStringA(const char* text) {
  SimCall call = core_.Enter();
  std::string narrow = text == nullptr ? std::string() : std::string(text);
  core_.AddDebugLine(false, FromUtf8(narrow));
  call.Record([&] { return "OutputDebugStringA \"" + Escaped(narrow) + "\""; });
}

void SimDebug::OutputDebugStringW(const char16_t* text) {
  SimCall call = core_.Enter();
  std::u16string wide = text == nullptr ? std::u16string() : std::u16string(text);
  core_.AddDebugLine(true, wide);
  call.Record([&] { return "OutputDebugStringW \"" + Escaped(ToUtf8(wide)) + "\""; });
}

}  // namespace platform::sim

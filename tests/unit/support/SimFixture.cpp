// Shared set-up for unit tests.
#include "tests/unit/support/SimFixture.h"

namespace testsupport {

std::vector<std::string> VolumeCalls(const platform::sim::SimCore& core) {
  std::vector<std::string> out;
  for (const std::string& line : core.Journal()) {
    if (line.starts_with("CreateFileW \\\\.\\")) {
      out.emplace_back("open");
    } else if (line.starts_with("CloseHandle")) {
      out.emplace_back("close");
    } else if (line == "Sleep 100") {
      out.emplace_back("sleep100");
    } else if (line.starts_with("DeviceIoControl")) {
      if (line.find(" 0x7c088 ") != std::string::npos) out.emplace_back("probe");
      if (line.find(" 0x2d1400 ") != std::string::npos) out.emplace_back("query");
      if (line.find(" 0x2d0c14 ") != std::string::npos) out.emplace_back("hotplug");
      if (line.find(" 0x2d1080 ") != std::string::npos) out.emplace_back("number");
      if (line.find(" 0x90020 ") != std::string::npos) out.emplace_back("dismount");
      if (line.find(" 0x90018 ") != std::string::npos) out.emplace_back("lock");
      if (line.find(" 0x9001c ") != std::string::npos) out.emplace_back("unlock");
    }
  }
  return out;
}

}  // namespace testsupport

// The parts of a test's Service Control Manager that no tarvelctl test scripts: environment
// strings pass through, processes have ended, errors have a placeholder text, time stands still.
#pragma once

#include <cstdint>
#include <string>

#include "tools/tarvelctl/ServiceManager.h"

namespace tarvelctl {

class StillServiceManager : public ServiceManager {
 public:
  std::u16string ExpandEnvironment(const std::u16string& text) override { return text; }
  std::uint32_t WaitForProcessExit(std::uint32_t, std::uint32_t) override { return 0; }
  std::string ErrorText(std::uint32_t code) override { return "text of " + std::to_string(code); }
  std::uint64_t NowMs() override { return 0; }
  void SleepMs(std::uint32_t) override {}
};

}  // namespace tarvelctl

// The tool's host on Windows: the real Win32 layer.
#include "platform/Text.h"
#include "platform/win32/Win32Platform.h"
#include "tools/tarvelctl/Host.h"

namespace tarvelctl {

namespace {

class Win32Host final : public Host {
 public:
  Win32Host() { platform_.Install(); }
  std::u16string Stage(const std::string& path,
                       const std::vector<std::uint8_t>& /*bytes*/) override {
    return platform::FromUtf8(path);
  }

 private:
  platform::win32::Win32Platform platform_;
};

}  // namespace

std::unique_ptr<Host> CreateHost() {
  return std::make_unique<Win32Host>();
}

}  // namespace tarvelctl

// The tool's host on Linux: a simulated machine whose cipher is libgcrypt.
#include "platform/Text.h"
#include "platform/sim/SimMachine.h"
#include "tools/tarvelctl/Host.h"

namespace tarvelctl {

namespace {

class SimHost final : public Host {
 public:
  SimHost() { machine_.Install(); }
  std::u16string Stage(const std::string& path, const std::vector<std::uint8_t>& bytes) override {
    std::u16string staged = platform::FromUtf8(path);
    machine_.files.SetFile(staged, bytes);
    return staged;
  }

 private:
  platform::sim::SimMachine machine_;
};

}  // namespace

std::unique_ptr<Host> CreateHost() {
  return std::make_unique<SimHost>();
}

}  // namespace tarvelctl

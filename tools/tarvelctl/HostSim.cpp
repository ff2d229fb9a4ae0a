// The tool's host on Linux: a simulated machine whose cipher is libgcrypt.
#include "platform/Text.h"
#include "platform/sim/SimMachine.h"
#include "tools/tarvelctl/Host.h"
#include "tools/tarvelctl/sim/SimFileSecurity.h"

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
  FileSecurityCalls& FileSecurity() override { return security_; }

 private:
  platform::sim::SimMachine machine_;
  sim::SimFileSecurity security_{machine_.files};
};

}  // namespace

std::unique_ptr<Host> CreateHost() {
  return std::make_unique<SimHost>();
}

}  // namespace tarvelctl

// The tool's debug-output monitor on Windows: the DBWIN shared buffer and its two events.
#pragma once

#include <vector>

#include "tools/tarvelctl/DebugLog.h"
#include "tools/tarvelctl/win32/Win32Handles.h"

namespace tarvelctl::win32 {

/// Serves the global buffer, the session's buffer or both; Ctrl+C ends the wait.
class Win32DebugMonitor final : public DebugMonitor {
 public:
  Win32DebugMonitor();
  ~Win32DebugMonitor() override;
  std::uint32_t Open(DebugScope scope) override;
  bool Next(std::uint32_t timeoutMs, DebugMessage* message) override;
  bool Interrupted() override;
  std::string ErrorText(std::uint32_t code) override;
  std::uint64_t NowMs() override;

 private:
  struct Buffer {
    platform::UniqueKernelHandle mapping;
    platform::UniqueKernelHandle bufferReady;
    platform::UniqueKernelHandle dataReady;
    const char* view = nullptr;
  };
  std::vector<Buffer> buffers_;
  bool globalIsLocal_ = false;
  /// When a message last came, or the buffers were last made ready again after a quiet time.
  std::uint64_t lastReadyMs_ = 0;
};

}  // namespace tarvelctl::win32

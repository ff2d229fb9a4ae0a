// The simulated machine's debugger: every debug-output line, in order, with its virtual time.
#pragma once

#include "platform/Debug.h"
#include "platform/sim/SimCore.h"

namespace platform::sim {

class SimDebug final : public Debug {
 public:
  explicit SimDebug(SimCore& core) : core_(core) {}
  void OutputDebugStringA(const char* text) override;
  void OutputDebugStringW(const char16_t* text) override;

 private:
  SimCore& core_;
};

}  // namespace platform::sim

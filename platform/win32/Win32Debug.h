// Debug output on real Windows.
#pragma once

#include "platform/Debug.h"

namespace platform::win32 {

class Win32Debug final : public Debug {
 public:
  void OutputDebugStringA(const char* text) override;
  void OutputDebugStringW(const char16_t* text) override;
};

}  // namespace platform::win32

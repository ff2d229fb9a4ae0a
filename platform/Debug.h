// Debug output: the service's only diagnostic channel.
#pragma once

namespace platform {

/// OutputDebugStringA/W. Each call is one line as the debugger sees it.
class Debug {
 public:
  virtual ~Debug() = default;
  virtual void OutputDebugStringA(const char* text) = 0;
  virtual void OutputDebugStringW(const char16_t* text) = 0;
};

/// Writes one narrow line through the installed platform.
void LogA(const char* text);
/// Writes one wide line through the installed platform.
void LogW(const char16_t* text);

}  // namespace platform

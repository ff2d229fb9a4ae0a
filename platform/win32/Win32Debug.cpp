// Debug output on real Windows.
#include "platform/win32/Win32Debug.h"

#include "platform/win32/WindowsSupport.h"

namespace platform::win32 {

void Win32Debug::OutputDebugStringA(const char* text) {
  ::OutputDebugStringA(text);
}
void Win32Debug::OutputDebugStringW(const char16_t* text) {
  ::OutputDebugStringW(W(text));
}

}  // namespace platform::win32

// The one place that includes <windows.h>, with the conversions between seam and Win32 types.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "platform/Types.h"

namespace platform::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "WCHAR is UTF-16 on Windows");

inline const wchar_t* W(const char16_t* s) {
  return reinterpret_cast<const wchar_t*>(s);
}
inline wchar_t* W(char16_t* s) {
  return reinterpret_cast<wchar_t*>(s);
}
inline HANDLE H(Handle h) {
  return reinterpret_cast<HANDLE>(h);
}
inline Handle FromH(HANDLE h) {
  return reinterpret_cast<Handle>(h);
}

}  // namespace platform::win32

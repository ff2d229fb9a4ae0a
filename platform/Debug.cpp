// Shorthands for the installed platform's debug output.
#include "platform/Debug.h"

#include "platform/Platform.h"

namespace platform {

void LogA(const char* text) {
  Current().debug->OutputDebugStringA(text);
}
void LogW(const char16_t* text) {
  Current().debug->OutputDebugStringW(text);
}

}  // namespace platform

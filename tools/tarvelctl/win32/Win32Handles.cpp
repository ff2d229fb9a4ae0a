// Ownership of the tool's Windows handles, and the text of Windows error codes.
#include "tools/tarvelctl/win32/Win32Handles.h"

#include "platform/Text.h"

namespace tarvelctl::win32 {

std::string WindowsErrorText(DWORD code) {
  wchar_t* text = nullptr;
  DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  if (length == 0 || text == nullptr) return "Windows error " + std::to_string(code);
  std::u16string wide(reinterpret_cast<const char16_t*>(text), length);
  ::LocalFree(text);
  while (!wide.empty() && (wide.back() == u'\n' || wide.back() == u'\r' || wide.back() == u' ' ||
                           wide.back() == u'.')) {
    wide.pop_back();
  }
  return platform::ToUtf8(wide);
}

}  // namespace tarvelctl::win32

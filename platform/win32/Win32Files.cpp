// Paths and files on real Windows: thin calls of shell32, shlwapi and kernel32.
#include "platform/win32/Win32Files.h"

#include "platform/win32/WindowsSupport.h"

// WindowsSupport.h keeps windows.h lean; the shell headers come after it.
#include <shlobj.h>
#include <shlwapi.h>

namespace platform::win32 {

Bool Win32Files::SHGetSpecialFolderPathW(Handle owner, char16_t* path, std::int32_t csidl,
                                         Bool create) {
  return ::SHGetSpecialFolderPathW(reinterpret_cast<HWND>(owner), W(path), csidl, create);
}

Bool Win32Files::PathRemoveFileSpecW(char16_t* path) {
  return ::PathRemoveFileSpecW(W(path));
}

char16_t* Win32Files::PathAddBackslashW(char16_t* path) {
  return reinterpret_cast<char16_t*>(::PathAddBackslashW(W(path)));
}

Bool Win32Files::PathAppendW(char16_t* path, const char16_t* more) {
  return ::PathAppendW(W(path), W(more));
}

Bool Win32Files::PathFileExistsW(const char16_t* path) {
  return ::PathFileExistsW(W(path));
}

Handle Win32Files::CreateFileW(const char16_t* path, std::uint32_t access, std::uint32_t share,
                               std::uint32_t disposition, std::uint32_t flagsAndAttributes) {
  return FromH(
      ::CreateFileW(W(path), access, share, nullptr, disposition, flagsAndAttributes, nullptr));
}

Bool Win32Files::ReadFile(Handle file, void* buffer, std::uint32_t toRead,
                          std::uint32_t* bytesRead) {
  DWORD read = 0;
  BOOL ok = ::ReadFile(H(file), buffer, toRead, &read, nullptr);
  if (bytesRead != nullptr) *bytesRead = read;
  return ok;
}

std::uint32_t Win32Files::GetPrivateProfileStringW(const char16_t* section, const char16_t* key,
                                                   const char16_t* defaultText, char16_t* out,
                                                   std::uint32_t size, const char16_t* fileName) {
  return ::GetPrivateProfileStringW(W(section), W(key), W(defaultText), W(out), size, W(fileName));
}

}  // namespace platform::win32

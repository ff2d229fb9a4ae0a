// The file-security calls of the Windows build.
#include "tools/tarvelctl/win32/Win32FileSecurity.h"

#include <algorithm>
#include <memory>

#include "platform/win32/WindowsSupport.h"
// WindowsSupport.h first: these need <windows.h>.
#include <aclapi.h>
#include <sddl.h>

#include "tools/tarvelctl/win32/Win32Handles.h"

namespace tarvelctl::win32 {

namespace {

using platform::win32::FromH;
using platform::win32::H;
using platform::win32::W;
using LocalMemory = std::unique_ptr<void, LocalFreeDeleter>;

// The binary descriptor of sddl; null with the last error set.
LocalMemory Descriptor(const std::u16string& sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(W(sddl.c_str()), SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
    return nullptr;
  }
  return LocalMemory(descriptor);
}

}  // namespace

std::uint32_t Win32FileSecurity::CreateWithSecurity(const std::u16string& path,
                                                    const std::u16string& sddl,
                                                    const std::vector<std::uint8_t>& bytes) {
  LocalMemory descriptor = Descriptor(sddl);
  if (!descriptor) return ::GetLastError();
  // The descriptor is given at creation, so the file never exists with the folder's entries.
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
  platform::UniqueFileHandle file(FromH(::CreateFileW(
      W(path.c_str()), GENERIC_WRITE, 0, &attributes, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr)));
  if (!file.valid()) return ::GetLastError();
  std::size_t done = 0;
  while (done < bytes.size()) {
    DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
    DWORD written = 0;
    if (!::WriteFile(H(file.get()), bytes.data() + done, chunk, &written, nullptr)) {
      return ::GetLastError();
    }
    done += written;
  }
  return ::FlushFileBuffers(H(file.get())) ? 0 : ::GetLastError();
}

std::uint32_t Win32FileSecurity::MoveReplacing(const std::u16string& from,
                                               const std::u16string& to) {
  // A rename, not ReplaceFileW: ReplaceFileW would give the new file the old one's DACL.
  return ::MoveFileExW(W(from.c_str()), W(to.c_str()),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
             ? 0
             : ::GetLastError();
}

std::uint32_t Win32FileSecurity::Delete(const std::u16string& path) {
  if (::DeleteFileW(W(path.c_str()))) return 0;
  DWORD error = ::GetLastError();
  return error == ERROR_FILE_NOT_FOUND ? 0 : error;
}

std::uint32_t Win32FileSecurity::SetDacl(const std::u16string& path, const std::u16string& sddl) {
  LocalMemory descriptor = Descriptor(sddl);
  if (!descriptor) return ::GetLastError();
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (!::GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted) ||
      !::GetSecurityDescriptorControl(descriptor.get(), &control, &revision)) {
    return ::GetLastError();
  }
  SECURITY_INFORMATION what = DACL_SECURITY_INFORMATION;
  what |= (control & SE_DACL_PROTECTED) != 0 ? PROTECTED_DACL_SECURITY_INFORMATION
                                             : UNPROTECTED_DACL_SECURITY_INFORMATION;
  std::u16string name = path;
  return ::SetNamedSecurityInfoW(W(name.data()), SE_FILE_OBJECT, what, nullptr, nullptr, dacl,
                                 nullptr);
}

std::uint32_t Win32FileSecurity::GetSecurity(const std::u16string& path, std::u16string* sddl) {
  constexpr SECURITY_INFORMATION kWhat = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  PSECURITY_DESCRIPTOR raw = nullptr;
  DWORD error = ::GetNamedSecurityInfoW(W(path.c_str()), SE_FILE_OBJECT, kWhat, nullptr, nullptr,
                                        nullptr, nullptr, &raw);
  if (error != ERROR_SUCCESS) return error;
  LocalMemory descriptor(raw);
  wchar_t* text = nullptr;
  if (!::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor.get(), SDDL_REVISION_1,
                                                              kWhat, &text, nullptr)) {
    return ::GetLastError();
  }
  LocalMemory owned(text);
  *sddl = reinterpret_cast<const char16_t*>(text);
  return 0;
}

std::string Win32FileSecurity::ErrorText(std::uint32_t code) {
  return WindowsErrorText(code);
}

}  // namespace tarvelctl::win32

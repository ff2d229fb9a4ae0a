// Test support under Wine: drive letters defined through Wine's mount manager.
#include "platform/win32/WineDrives.h"

#include <cstring>
#include <vector>

#include "platform/win32/WindowsSupport.h"

namespace platform::win32 {

namespace {

// IOCTL_MOUNTMGR_DEFINE_UNIX_DRIVE and Wine's struct mountmgr_unix_drive.
constexpr DWORD kDefineUnixDrive = 0x6DC080;

#pragma pack(push, 1)
struct UnixDrive {
  ULONG size;
  ULONG type;
  ULONG fsType;
  DWORD serial;
  ULONGLONG unixDev;
  WCHAR letter;
  USHORT mountPointOffset;
  USHORT deviceOffset;
  USHORT labelOffset;
};
#pragma pack(pop)

}  // namespace

std::uint32_t DefineWineDrive(char letter, std::uint32_t type, const std::string& unixDir) {
  HANDLE mgr =
      ::CreateFileW(L"\\\\.\\MountPointManager", GENERIC_READ | GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (mgr == INVALID_HANDLE_VALUE) return ::GetLastError();
  std::vector<char> buf(sizeof(UnixDrive) + unixDir.size() + 1, 0);
  UnixDrive head{};
  head.size = static_cast<ULONG>(buf.size());
  head.type = type;
  head.fsType = 0;
  head.letter = static_cast<WCHAR>(letter - 'A' + 'a');
  head.mountPointOffset = type == 1 ? 0 : static_cast<USHORT>(sizeof(UnixDrive));
  std::memcpy(buf.data(), &head, sizeof head);
  std::memcpy(buf.data() + sizeof head, unixDir.c_str(), unixDir.size() + 1);
  DWORD returned = 0;
  BOOL ok = ::DeviceIoControl(mgr, kDefineUnixDrive, buf.data(), static_cast<DWORD>(buf.size()),
                              nullptr, 0, &returned, nullptr);
  DWORD error = ok ? 0 : ::GetLastError();
  ::CloseHandle(mgr);
  return error;
}

}  // namespace platform::win32

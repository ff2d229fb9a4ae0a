// The file-security calls of the Linux build over the simulated machine's file store.
#include "tools/tarvelctl/sim/SimFileSecurity.h"

#include "platform/Text.h"
#include "tools/tarvelctl/LocalFiles.h"

namespace tarvelctl::sim {

namespace {

constexpr std::uint32_t kErrorFileNotFound = 2;
constexpr std::uint32_t kErrorAccessDenied = 5;
constexpr std::uint32_t kErrorFileExists = 80;
constexpr std::uint32_t kErrorInvalidSecurityDescr = 1338;

std::string Local(const std::u16string& path) {
  return platform::ToUtf8(path);
}

}  // namespace

bool SimFileSecurity::Mirror(const std::u16string& path) {
  std::string error;
  if (!LocalFileExists(Local(path))) return false;
  if (files_.FileExists(path)) return true;
  std::optional<std::vector<std::uint8_t>> bytes = ReadLocalFile(Local(path), &error);
  if (!bytes) return false;
  files_.SetFile(path, std::move(*bytes));
  return true;
}

std::uint32_t SimFileSecurity::CreateWithSecurity(const std::u16string& path,
                                                  const std::u16string& sddl,
                                                  const std::vector<std::uint8_t>& bytes) {
  std::string error;
  if (LocalFileExists(Local(path))) return kErrorFileExists;
  if (!platform::ParseSecurityText(platform::ToUtf8(sddl))) return kErrorInvalidSecurityDescr;
  if (!WriteLocalFile(Local(path), bytes, &error)) return kErrorAccessDenied;
  files_.SetFile(path, bytes);
  files_.SetFileSecurity(path, platform::ToUtf8(sddl));
  return 0;
}

std::uint32_t SimFileSecurity::MoveReplacing(const std::u16string& from, const std::u16string& to) {
  std::string error;
  if (!Mirror(from)) return kErrorFileNotFound;
  if (!MoveLocalFile(Local(from), Local(to), &error)) return kErrorAccessDenied;
  files_.RenameFile(from, to);
  return 0;
}

std::uint32_t SimFileSecurity::Delete(const std::u16string& path) {
  files_.RemoveFile(path);
  return RemoveLocalFile(Local(path)) ? 0 : kErrorAccessDenied;
}

std::uint32_t SimFileSecurity::SetDacl(const std::u16string& path, const std::u16string& sddl) {
  if (!Mirror(path)) return kErrorFileNotFound;
  return files_.SetFileSecurity(path, platform::ToUtf8(sddl)) ? 0 : kErrorInvalidSecurityDescr;
}

std::uint32_t SimFileSecurity::GetSecurity(const std::u16string& path, std::u16string* sddl) {
  if (!Mirror(path)) return kErrorFileNotFound;
  *sddl = platform::FromUtf8(files_.FileSecurity(path));
  return 0;
}

std::string SimFileSecurity::ErrorText(std::uint32_t code) {
  switch (code) {
    case kErrorFileNotFound:
      return "The system cannot find the file specified";
    case kErrorAccessDenied:
      return "Access is denied";
    case kErrorFileExists:
      return "The file exists";
    case kErrorInvalidSecurityDescr:
      return "The security descriptor structure is invalid";
    default:
      return "Windows error " + std::to_string(code);
  }
}

}  // namespace tarvelctl::sim

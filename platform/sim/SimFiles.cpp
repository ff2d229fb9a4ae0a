// The simulated machine's file store.
#include "platform/sim/SimFiles.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/Text.h"
#include "platform/Volumes.h"
#include "platform/sim/ProfileText.h"
#include "platform/sim/ShellPaths.h"

namespace platform::sim {

namespace {

constexpr std::uint32_t kGenericAll = 0x10000000u;
constexpr std::uint32_t kFileReadData = 0x1;
constexpr std::uint32_t kFileWriteData = 0x2;
constexpr std::uint32_t kFileAppendData = 0x4;

bool Reads(std::uint32_t access) {
  return (access & (kGenericRead | kGenericAll | kFileReadData)) != 0;
}
bool Writes(std::uint32_t access) {
  return (access & (kGenericWrite | kGenericAll | kFileWriteData | kFileAppendData)) != 0;
}

// The store's key for a path: separators unified, "." and ".." resolved, A to Z folded.
std::u16string KeyOf(std::u16string_view path) {
  std::u16string key;
  std::size_t parts = 0;
  while (!path.empty()) {
    const std::size_t end = path.find_first_of(u"\\/");
    const std::u16string_view part = path.substr(0, end);
    path = end == std::u16string_view::npos ? std::u16string_view() : path.substr(end + 1);
    if (part == u"..") {
      // Up one level, but never above the drive.
      if (parts > 1) {
        key.resize(key.rfind(u'\\'));
        --parts;
      }
    } else if (!part.empty() && part != u".") {
      if (parts++ > 0) key += u'\\';
      for (char16_t c : part) key += (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c;
    }
  }
  return key;
}

std::u16string ParentOf(const std::u16string& key) {
  std::size_t cut = key.rfind(u'\\');
  return cut == std::u16string::npos ? std::u16string() : key.substr(0, cut);
}

std::string Show(const char16_t* text) {
  return text == nullptr ? "(null)" : ToUtf8(text);
}

}  // namespace

const std::vector<std::string>& SimFiles::LocalSystemToken() {
  static const std::vector<std::string> token = {"SY", "BA", "WD", "AU"};
  return token;
}

const std::vector<std::string>& SimFiles::StandardUserToken() {
  static const std::vector<std::string> token = {"S-1-5-21-1004336348-1177238915-682003330-1001",
                                                 "BU", "WD", "AU", "IU"};
  return token;
}

const SecurityText& SimFiles::InheritedSecurity() {
  static const SecurityText security = *ParseSecurityText(kInheritedFileSecurity);
  return security;
}

SimFiles::SimFiles(SimCore& core) : core_(core) {
  SetSystemFolder(u"C:\\Windows\\system32");
}

void SimFiles::MakeParents(const std::u16string& key) {
  for (std::u16string dir = ParentOf(key); !dir.empty(); dir = ParentOf(dir)) {
    Node& node = nodes_[dir];
    node.directory = true;
    node.bytes.reset();
  }
}

const SimFiles::Node* SimFiles::NodeOf(const std::u16string& key) const {
  auto it = nodes_.find(key);
  return it == nodes_.end() ? nullptr : &it->second;
}

void SimFiles::SetFile(std::u16string_view path, std::vector<std::uint8_t> bytes) {
  std::lock_guard lock(core_.Mutex());
  std::u16string key = KeyOf(path);
  if (key.empty()) return;
  MakeParents(key);
  Node& node = nodes_[key];
  node.directory = false;
  if (node.bytes) {
    *node.bytes = std::move(bytes);  // handles already open read the new content
  } else {
    node.bytes = std::make_shared<std::vector<std::uint8_t>>(std::move(bytes));
  }
}

void SimFiles::SetTextFileUtf16(std::u16string_view path, std::u16string_view text, bool bom) {
  std::vector<std::uint8_t> bytes;
  if (bom) bytes = {0xFF, 0xFE};
  for (char16_t c : text) {
    bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  SetFile(path, std::move(bytes));
}

void SimFiles::SetTextFileUtf8(std::u16string_view path, std::string_view text, bool bom) {
  std::vector<std::uint8_t> bytes;
  if (bom) bytes = {0xEF, 0xBB, 0xBF};
  bytes.insert(bytes.end(), text.begin(), text.end());
  SetFile(path, std::move(bytes));
}

void SimFiles::RemoveFile(std::u16string_view path) {
  std::lock_guard lock(core_.Mutex());
  nodes_.erase(KeyOf(path));
}

void SimFiles::MakeDirectory(std::u16string_view path) {
  std::lock_guard lock(core_.Mutex());
  std::u16string key = KeyOf(path);
  if (key.empty()) return;
  MakeParents(key);
  Node& node = nodes_[key];
  node.directory = true;
  node.bytes.reset();
}

void SimFiles::SetSystemFolder(std::u16string_view path) {
  std::lock_guard lock(core_.Mutex());
  systemFolder_ = std::u16string(path);
  MakeDirectory(path);
}

void SimFiles::FailReadsAt(std::u16string_view path, std::uint64_t offset, std::uint32_t error) {
  std::lock_guard lock(core_.Mutex());
  auto it = nodes_.find(KeyOf(path));
  if (it == nodes_.end()) return;
  it->second.failAt = offset;
  it->second.failError = error;
}

bool SimFiles::FileExists(std::u16string_view path) const {
  std::lock_guard lock(core_.Mutex());
  const Node* node = NodeOf(KeyOf(path));
  return node != nullptr && !node->directory;
}

bool SimFiles::SetFileSecurity(std::u16string_view path, std::string_view sddl) {
  std::lock_guard lock(core_.Mutex());
  auto it = nodes_.find(KeyOf(path));
  std::optional<SecurityText> parsed = ParseSecurityText(sddl);
  if (it == nodes_.end() || it->second.directory || !parsed) return false;
  Node& node = it->second;
  if (!parsed->owner.empty()) node.security.owner = parsed->owner;
  std::size_t dacl = sddl.find("D:");
  if (dacl != std::string_view::npos) {
    std::size_t end = sddl.find("S:", dacl);
    node.dacl = std::string(sddl.substr(dacl, end == std::string_view::npos ? end : end - dacl));
    node.security.hasDacl = parsed->hasDacl;
    node.security.protectedDacl = parsed->protectedDacl;
    node.security.aces = parsed->aces;
  }
  return true;
}

std::string SimFiles::FileSecurity(std::u16string_view path) const {
  std::lock_guard lock(core_.Mutex());
  const Node* node = NodeOf(KeyOf(path));
  if (node == nullptr || node->directory) return {};
  std::string_view inherited = kInheritedFileSecurity;
  std::string dacl =
      node->dacl.empty() ? std::string(inherited.substr(inherited.find("D:"))) : node->dacl;
  return "O:" + node->security.owner + dacl;
}

bool SimFiles::RenameFile(std::u16string_view from, std::u16string_view to) {
  std::lock_guard lock(core_.Mutex());
  std::u16string fromKey = KeyOf(from);
  std::u16string toKey = KeyOf(to);
  auto it = nodes_.find(fromKey);
  if (it == nodes_.end() || it->second.directory || toKey.empty()) return false;
  if (fromKey == toKey) return true;
  Node moved = std::move(it->second);
  nodes_.erase(it);
  MakeParents(toKey);
  nodes_[toKey] = std::move(moved);
  return true;
}

std::vector<Handle> SimFiles::HandlesOn(std::u16string_view path) const {
  std::lock_guard lock(core_.Mutex());
  std::u16string key = KeyOf(path);
  std::vector<Handle> out;
  for (const auto& [h, open] : opens_) {
    if (open.key == key) out.push_back(h);
  }
  return out;
}

Bool SimFiles::SHGetSpecialFolderPathW(Handle /*owner*/, char16_t* path, std::int32_t csidl,
                                       Bool /*create*/) {
  SimCall call = core_.Enter(Fault::kSHGetSpecialFolderPathW);
  call.Describe([&] { return "SHGetSpecialFolderPathW " + std::to_string(csidl); });
  if (call.failed() || path == nullptr || csidl != kCsidlSystem) {
    SimCore::SetLastError(call.error() != 0 ? call.error() : kErrorFileNotFound);
    call.Record([] { return " -> 0"; });
    return 0;
  }
  StrCopy(path, kMaxPath, systemFolder_.c_str());
  call.Record([&] { return " -> 1 " + ToUtf8(path); });
  return 1;
}

Bool SimFiles::PathRemoveFileSpecW(char16_t* path) {
  SimCall call = core_.Enter(Fault::kPathRemoveFileSpecW);
  call.Describe([&] { return "PathRemoveFileSpecW " + Show(path); });
  if (call.failed()) {
    call.Record([] { return " -> 0"; });
    return 0;
  }
  bool ok = RemoveFileSpec(path);
  call.Record([&] { return std::string(ok ? " -> 1 " : " -> 0 ") + Show(path); });
  return ok ? 1 : 0;
}

char16_t* SimFiles::PathAddBackslashW(char16_t* path) {
  SimCall call = core_.Enter(Fault::kPathAddBackslashW);
  call.Describe([&] { return "PathAddBackslashW " + Show(path); });
  char16_t* end = call.failed() ? nullptr : AddBackslash(path);
  call.Record([&] { return " -> " + (end == nullptr ? "null" : Show(path)); });
  return end;
}

Bool SimFiles::PathAppendW(char16_t* path, const char16_t* more) {
  SimCall call = core_.Enter(Fault::kPathAppendW);
  call.Describe([&] { return "PathAppendW " + Show(path) + " " + Show(more); });
  if (call.failed()) {
    call.Record([] { return " -> 0"; });
    return 0;
  }
  bool ok = Append(path, more);
  call.Record([&] { return std::string(ok ? " -> 1 " : " -> 0 ") + Show(path); });
  return ok ? 1 : 0;
}

Bool SimFiles::PathFileExistsW(const char16_t* path) {
  SimCall call = core_.Enter(Fault::kPathFileExistsW);
  bool exists = false;
  if (call.failed()) {
    SimCore::SetLastError(call.error());
  } else if (path != nullptr) {
    std::u16string key = KeyOf(path);
    exists = !key.empty() && NodeOf(key) != nullptr;
    if (!exists) SimCore::SetLastError(kErrorFileNotFound);
  }
  call.Record([&] { return "PathFileExistsW " + Show(path) + " -> " + (exists ? "1" : "0"); });
  return exists ? 1 : 0;
}

bool SimFiles::SharingAllows(const std::u16string& key, std::uint32_t access,
                             std::uint32_t share) const {
  for (const auto& [h, open] : opens_) {
    if (open.key != key) continue;
    // Each side's access must be allowed by the other side's share mode.
    if (Reads(access) && (open.share & kFileShareRead) == 0) return false;
    if (Writes(access) && (open.share & kFileShareWrite) == 0) return false;
    if (Reads(open.access) && (share & kFileShareRead) == 0) return false;
    if (Writes(open.access) && (share & kFileShareWrite) == 0) return false;
  }
  return true;
}

Handle SimFiles::CreateFileW(const char16_t* path, std::uint32_t access, std::uint32_t share,
                             std::uint32_t disposition, std::uint32_t flagsAndAttributes) {
  SimCall call = core_.Enter(Fault::kCreateFileW);
  call.Describe([&] {
    return "CreateFileW " + Show(path) + " " + HexText(access) + " " + std::to_string(share) + " " +
           std::to_string(disposition) + " " + std::to_string(flagsAndAttributes);
  });
  if (call.Consult(Fault::kCreateFileWFile)) {
    SimCore::SetLastError(call.error());
    call.Record([&] { return " -> INVALID_HANDLE_VALUE " + std::to_string(call.error()); });
    return kInvalidHandleValue;
  }
  return Open(call, LocalSystemToken(), path, access, share, disposition);
}

Handle SimFiles::OpenFileAs(const std::vector<std::string>& token, std::u16string_view path,
                            std::uint32_t access, std::uint32_t share) {
  SimCall call = core_.Enter();
  std::u16string text(path);
  call.Describe([&] {
    return "OpenFileAs " + ToUtf8(text) + " " + HexText(access) + " " + std::to_string(share);
  });
  return Open(call, token, text.c_str(), access, share, kOpenExisting);
}

Handle SimFiles::Open(SimCall& call, const std::vector<std::string>& token, const char16_t* path,
                      std::uint32_t access, std::uint32_t share, std::uint32_t disposition) {
  auto fail = [&](std::uint32_t error) {
    SimCore::SetLastError(error);
    call.Record([&] { return " -> INVALID_HANDLE_VALUE " + std::to_string(error); });
    return kInvalidHandleValue;
  };
  std::u16string key = path == nullptr ? std::u16string() : KeyOf(path);
  const Node* node = key.empty() ? nullptr : NodeOf(key);
  if (node == nullptr) {
    const Node* parent = NodeOf(ParentOf(key));
    bool parentIsDir = parent != nullptr && parent->directory;
    // Only existing files are opened: the simulated disk does not model writing.
    if (disposition != kOpenExisting) return fail(kErrorAccessDenied);
    return fail(parentIsDir ? kErrorFileNotFound : kErrorPathNotFound);
  }
  if (node->directory) return fail(kErrorAccessDenied);
  if (disposition != kOpenExisting || Writes(access)) return fail(kErrorAccessDenied);
  if (!AccessGranted(node->security, token, access)) return fail(kErrorAccessDenied);
  if (!SharingAllows(key, access, share)) return fail(kErrorSharingViolation);
  Handle h = core_.OpenHandle(HandleEntry{"file", ToUtf8(path)},
                              [this](Handle closed) { opens_.erase(closed); });
  opens_[h] = OpenFile{key, access, share, 0, node->bytes};
  call.Record([&] { return " -> " + HandleText(h); });
  return h;
}

Bool SimFiles::ReadFile(Handle file, void* buffer, std::uint32_t toRead, std::uint32_t* bytesRead) {
  // The fault point comes after the checks of the handle and the buffer.
  SimCall call = core_.Enter();
  call.Describe([&] { return "ReadFile " + HandleText(file) + " " + std::to_string(toRead); });
  if (bytesRead != nullptr) *bytesRead = 0;
  auto fail = [&](std::uint32_t error) {
    SimCore::SetLastError(error);
    call.Record([&] { return " -> 0 " + std::to_string(error); });
    return 0;
  };
  auto it = opens_.find(file);
  if (it == opens_.end()) return fail(kErrorInvalidHandle);
  OpenFile& open = it->second;
  if (!Reads(open.access)) return fail(kErrorAccessDenied);
  if (buffer == nullptr && toRead > 0) return fail(kErrorInvalidParameter);
  if (call.Consult(Fault::kReadFile)) return fail(call.error());
  const std::vector<std::uint8_t>& bytes = *open.bytes;
  std::uint64_t size = bytes.size();
  std::uint64_t n =
      open.position < size ? std::min<std::uint64_t>(toRead, size - open.position) : 0;
  const Node* node = NodeOf(open.key);
  if (node != nullptr && node->bytes == open.bytes && n > 0) {
    if (open.position >= node->failAt) return fail(node->failError);
    n = std::min<std::uint64_t>(n, node->failAt - open.position);
  }
  if (n > 0) std::memcpy(buffer, bytes.data() + open.position, n);
  open.position += n;
  if (bytesRead != nullptr) *bytesRead = static_cast<std::uint32_t>(n);
  call.Record([&] { return " -> 1 " + std::to_string(n); });
  return 1;
}

std::u16string SimFiles::ProfileKey(const char16_t* fileName) const {
  std::u16string_view name(fileName);
  // A bare file name is looked for in the Windows directory, as the profile reader does.
  if (name.find_first_of(u"\\/:") == std::u16string_view::npos) {
    return KeyOf(ParentOf(KeyOf(systemFolder_)) + u"\\" + std::u16string(name));
  }
  return KeyOf(name);
}

std::uint32_t SimFiles::GetPrivateProfileStringW(const char16_t* section, const char16_t* key,
                                                 const char16_t* defaultText, char16_t* out,
                                                 std::uint32_t size, const char16_t* fileName) {
  SimCall call = core_.Enter(Fault::kGetPrivateProfileStringW);
  call.Describe([&] {
    return "GetPrivateProfileStringW " + Show(section) + " " + Show(key) + " " + Show(defaultText) +
           " " + std::to_string(size) + " " + Show(fileName);
  });
  // The default loses its trailing blanks.
  std::u16string_view fallback = defaultText == nullptr ? u"" : defaultText;
  while (!fallback.empty() && fallback.back() == u' ') fallback.remove_suffix(1);
  auto finish = [&](std::uint32_t n) {
    call.Record([&] {
      std::u16string shown = out != nullptr && size > 0 ? std::u16string(out, n) : u"";
      std::replace(shown.begin(), shown.end(), u'\0', u'|');  // the NULs between listed names
      return " -> " + std::to_string(n) + " \"" + ToUtf8(shown) + "\"";
    });
    return n;
  };
  auto useDefault = [&](std::uint32_t error) {
    SimCore::SetLastError(error);
    return finish(CopyProfileText(fallback, out, size));
  };
  if (call.failed()) return useDefault(call.error());
  if (fileName == nullptr) return useDefault(kErrorFileNotFound);
  std::u16string fileKey = ProfileKey(fileName);
  const Node* node = NodeOf(fileKey);
  if (node == nullptr || node->directory) return useDefault(kErrorFileNotFound);
  if (!AccessGranted(node->security, LocalSystemToken(), kGenericRead)) {
    return useDefault(kErrorAccessDenied);
  }
  if (!SharingAllows(fileKey, kGenericRead, kFileShareRead | kFileShareWrite)) {
    return useDefault(kErrorSharingViolation);
  }
  std::vector<ProfileSection> sections = ParseProfile(DecodeProfileBytes(*node->bytes));
  if (section == nullptr) {
    std::vector<std::u16string> names;
    for (const auto& s : sections) names.push_back(s.name);
    return finish(CopyProfileList(names, out, size));
  }
  if (key == nullptr) {
    std::vector<std::u16string> names;
    for (const auto& s : sections) {
      if (CompareIgnoringAsciiCase(s.name.c_str(), section) != 0) continue;
      for (const auto& e : s.entries) names.push_back(e.key);
      break;
    }
    return finish(CopyProfileList(names, out, size));
  }
  std::optional<std::u16string> value = FindProfileValue(sections, section, key);
  if (!value) return useDefault(kErrorFileNotFound);
  SimCore::SetLastError(0);
  return finish(CopyProfileText(*value, out, size));
}

}  // namespace platform::sim

// Path editing as shlwapi does it, in portable code over MAX_PATH buffers.
#include "platform/sim/ShellPaths.h"

#include <string>
#include <vector>

#include "platform/Files.h"
#include "platform/Text.h"

namespace platform::sim {

namespace {

bool IsUnc(const char16_t* path) {
  return path[0] == u'\\' && path[1] == u'\\';
}

bool IsRelative(const char16_t* path) {
  return path[0] != u'\\' && !(path[0] != 0 && path[1] == u':');
}

// PathStripToRootW for the one case PathCombineW needs it: a drive letter or a lone backslash.
void StripToRoot(std::u16string& dir) {
  if (dir.size() >= 2 && dir[1] == u':') {
    dir.resize(dir.size() >= 3 && dir[2] == u'\\' ? 3 : 2);
  } else if (!dir.empty() && dir[0] == u'\\') {
    dir.resize(IsUnc(dir.c_str()) ? 2 : 1);
  } else {
    dir.clear();
  }
}

void CopyBounded(std::u16string& to, const char16_t* from) {
  to.assign(from);
  if (to.size() >= kMaxPath) to.resize(kMaxPath - 1);
}

// PathCanonicalizeW: drops "." components and resolves ".." ones without climbing above the
// root; out must hold MAX_PATH units (the result is never longer than path).
bool Canonicalize(char16_t* out, const char16_t* path) {
  if (out == nullptr) return false;
  out[0] = 0;
  if (path == nullptr) return false;
  std::u16string src(path);
  if (src.empty()) {
    out[0] = u'\\';
    out[1] = 0;
    return true;
  }
  std::u16string root;
  std::size_t pos = 0;
  if (IsUnc(path)) {
    root = u"\\\\";
    pos = 2;
  } else if (src[0] == u'\\') {
    root = u"\\";
    pos = 1;
  } else if (src.size() >= 2 && src[1] == u':') {
    root = src.substr(0, 2);
    pos = 2;
    if (src.size() > 2 && src[2] == u'\\') {
      root += u'\\';
      pos = 3;
    }
  }
  std::vector<std::u16string> parts;
  bool trailing = false;
  while (pos < src.size()) {
    std::size_t end = src.find(u'\\', pos);
    trailing = end != std::u16string::npos;
    std::u16string part = src.substr(pos, trailing ? end - pos : std::u16string::npos);
    pos = trailing ? end + 1 : src.size();
    if (part == u".") {
      trailing = false;
    } else if (part == u"..") {
      if (!parts.empty()) parts.pop_back();
      trailing = false;
    } else {
      parts.push_back(std::move(part));
    }
  }
  std::u16string result = root;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) result += u'\\';
    result += parts[i];
  }
  if (trailing && !parts.empty()) result += u'\\';
  // A naked drive becomes the drive's root.
  if (result.size() == 2 && result[1] == u':') result += u'\\';
  if (result.size() >= kMaxPath) result.resize(kMaxPath - 1);
  for (std::size_t i = 0; i <= result.size(); ++i) out[i] = i < result.size() ? result[i] : 0;
  return true;
}

}  // namespace

bool RemoveFileSpec(char16_t* path) {
  if (path == nullptr) return false;
  char16_t* p = path;
  char16_t* spec = path;
  // A leading backslash, or the two of a UNC name, are never cut.
  if (*p == u'\\') spec = ++p;
  if (*p == u'\\') spec = ++p;
  while (*p != 0) {
    if (*p == u'\\') {
      spec = p;
    } else if (*p == u':') {
      spec = ++p;  // keep the drive, and the root backslash after it
      if (*p == u'\\') ++spec;
      if (*p == 0) break;
    }
    ++p;
  }
  if (*spec == 0) return false;
  *spec = 0;
  return true;
}

char16_t* AddBackslash(char16_t* path) {
  if (path == nullptr) return nullptr;
  std::size_t len = StrLen(path);
  if (len >= kMaxPath) return nullptr;
  if (len == 0 || path[len - 1] == u'\\') return path + len;
  // The backslash and the terminator must both fit in the MAX_PATH buffer.
  if (len + 1 >= kMaxPath) return nullptr;
  path[len] = u'\\';
  path[len + 1] = 0;
  return path + len + 1;
}

bool Append(char16_t* path, const char16_t* more) {
  if (path == nullptr || more == nullptr) return false;
  if (!IsUnc(more)) {
    while (*more == u'\\') ++more;
  }
  std::u16string dir;
  CopyBounded(dir, path);
  std::u16string joined;
  bool useBoth = false;
  if (*more == 0) {
    joined = dir;
  } else if (dir.empty() || !IsRelative(more)) {
    if (dir.empty() || more[0] != u'\\' || IsUnc(more)) {
      CopyBounded(joined, more);
    } else {
      // A rooted name replaces everything of the directory but its root.
      StripToRoot(dir);
      ++more;
      useBoth = true;
    }
  } else {
    useBoth = true;
  }
  if (useBoth) {
    joined = dir;
    if (!joined.empty() && joined.back() != u'\\') joined += u'\\';
    if (joined.size() + StrLen(more) >= kMaxPath) {
      path[0] = 0;
      return false;
    }
    joined += more;
  }
  return Canonicalize(path, joined.c_str());
}

}  // namespace platform::sim

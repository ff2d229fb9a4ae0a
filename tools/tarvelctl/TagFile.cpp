// The tag file "ReadTag.ini": where the installed service reads it and how its [State] key is set.
#include "tools/tarvelctl/TagFile.h"

#include <vector>

namespace tarvelctl {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

std::string_view Trim(std::string_view s) {
  std::size_t start = s.find_first_not_of(" \t\r");
  if (start == std::string_view::npos) return {};
  std::size_t end = s.find_last_not_of(" \t\r");
  return s.substr(start, end - start + 1);
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// Whether line is a section header; if so, *name is the section it names.
bool SectionName(std::string_view line, std::string_view* name) {
  std::string_view t = Trim(line);
  if (t.empty() || t.front() != '[') return false;
  std::size_t close = t.find(']');
  *name = Trim(t.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
  return true;
}

bool IsKeyLine(std::string_view line, std::string_view key) {
  std::size_t eq = line.find('=');
  return eq != std::string_view::npos && SameIgnoringCase(Trim(line.substr(0, eq)), key);
}

}  // namespace

std::string TagFolderName(bool service32Bit, bool windows64Bit, bool toolUnderWow64) {
  if (service32Bit && windows64Bit) return "SysWOW64";
  return toolUnderWow64 ? "Sysnative" : "System32";
}

TagText UpdateTagText(std::string_view existing, std::string_view value) {
  constexpr std::string_view kSection = "State";
  constexpr std::string_view kKey = "key";
  const std::string keyLine = std::string(kKey) + "=" + std::string(value);

  bool utf16 = existing.size() >= 2 && ((existing[0] == '\xFF' && existing[1] == '\xFE') ||
                                        (existing[0] == '\xFE' && existing[1] == '\xFF'));
  if (utf16) return {"[State]\r\n" + keyLine + "\r\n", true};

  std::string bom;
  if (existing.substr(0, kUtf8Bom.size()) == kUtf8Bom) {
    bom = kUtf8Bom;
    existing.remove_prefix(kUtf8Bom.size());
  }
  // New lines take the file's line ends; a file without any gets Windows' CR LF.
  const bool lfOnly = existing.find('\n') != std::string_view::npos &&
                      existing.find("\r\n") == std::string_view::npos;
  const std::string eol = lfOnly ? "\n" : "\r\n";

  // Split into lines, each keeping its own line end.
  std::vector<std::string_view> lines;
  for (std::size_t pos = 0; pos < existing.size();) {
    std::size_t nl = existing.find('\n', pos);
    std::size_t end = nl == std::string_view::npos ? existing.size() : nl + 1;
    lines.push_back(existing.substr(pos, end - pos));
    pos = end;
  }

  std::string out = bom;
  bool inState = false;
  bool done = false;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string_view line = lines[i];
    std::string_view name;
    bool header = SectionName(line, &name);
    if (!done && header && inState) {
      // The [State] section ended without the key: give it one before the next section.
      out += keyLine + eol;
      done = true;
    }
    if (header) inState = !done && SameIgnoringCase(name, kSection);
    if (!done && inState && !header && IsKeyLine(line, kKey)) {
      std::size_t body = line.find_last_not_of("\r\n");
      out += keyLine;
      out += line.substr(body + 1);
      done = true;
      continue;
    }
    out += line;
    if (!done && header && inState && line.back() != '\n') out += eol;
  }
  if (!done) {
    if (!out.empty() && out.back() != '\n' && out.size() > bom.size()) out += eol;
    if (!inState) out += "[State]" + eol;
    out += keyLine + eol;
  }
  return {out, false};
}

}  // namespace tarvelctl

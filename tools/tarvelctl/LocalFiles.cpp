// The tool's own reads and writes of local files.
#include "tools/tarvelctl/LocalFiles.h"

#include <filesystem>
#include <fstream>
#include <iterator>

namespace tarvelctl {

namespace {

std::filesystem::path PathOf(const std::string& utf8) {
  return std::filesystem::path(
      std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

std::string Utf8Of(const std::filesystem::path& path) {
  std::u8string text = path.u8string();
  return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

}  // namespace

std::optional<std::vector<std::uint8_t>> ReadLocalFile(const std::string& path,
                                                       std::string* error) {
  std::error_code ec;
  if (std::filesystem::is_directory(PathOf(path), ec)) {
    *error = "cannot read " + path + ": it is a directory";
    return std::nullopt;
  }
  std::ifstream in(PathOf(path), std::ios::binary);
  if (!in) {
    *error = "cannot open " + path;
    return std::nullopt;
  }
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
  if (in.bad()) {
    *error = "cannot read " + path;
    return std::nullopt;
  }
  return bytes;
}

bool WriteLocalFile(const std::string& path, const std::vector<std::uint8_t>& bytes,
                    std::string* error) {
  std::ofstream out(PathOf(path), std::ios::binary | std::ios::trunc);
  if (out) {
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
  }
  if (!out) {
    *error = "cannot write " + path;
    return false;
  }
  return true;
}

std::optional<std::vector<std::uint8_t>> ReadLocalFilePrefix(const std::string& path,
                                                             std::size_t maxBytes,
                                                             std::string* error) {
  std::error_code ec;
  if (std::filesystem::is_directory(PathOf(path), ec)) {
    *error = "cannot read " + path + ": it is a directory";
    return std::nullopt;
  }
  std::ifstream in(PathOf(path), std::ios::binary);
  if (!in) {
    *error = "cannot open " + path;
    return std::nullopt;
  }
  std::vector<std::uint8_t> bytes(maxBytes);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(maxBytes));
  if (in.bad()) {
    *error = "cannot read " + path;
    return std::nullopt;
  }
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  return bytes;
}

bool ReplaceLocalFile(const std::string& path, const std::vector<std::uint8_t>& bytes,
                      std::string* error) {
  const std::string temporary = path + ".new";
  if (!WriteLocalFile(temporary, bytes, error)) return false;
  std::error_code ec;
  std::filesystem::rename(PathOf(temporary), PathOf(path), ec);
  if (ec) {
    std::filesystem::remove(PathOf(temporary), ec);
    *error = "cannot replace " + path;
    return false;
  }
  return true;
}

bool MoveLocalFile(const std::string& from, const std::string& to, std::string* error) {
  std::error_code ec;
  std::filesystem::rename(PathOf(from), PathOf(to), ec);
  if (ec) *error = "cannot rename " + from + " to " + to + ": " + ec.message();
  return !ec;
}

bool RemoveLocalFile(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove(PathOf(path), ec);
  return !ec;
}

bool LocalFileExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(PathOf(path), ec);
}

std::string AbsoluteLocalPath(const std::string& path) {
  std::error_code ec;
  std::filesystem::path absolute = std::filesystem::absolute(PathOf(path), ec);
  return ec ? path : Utf8Of(absolute.lexically_normal());
}

std::string JoinLocalPath(const std::string& dir, const std::string& name) {
  return Utf8Of(PathOf(dir) / PathOf(name));
}

}  // namespace tarvelctl

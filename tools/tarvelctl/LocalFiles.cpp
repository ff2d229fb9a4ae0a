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

}  // namespace tarvelctl

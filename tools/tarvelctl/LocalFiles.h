// The tool's own reads and writes of local files (the service never writes one).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarvelctl {

/// The whole file at path (UTF-8), or nullopt with *error set.
std::optional<std::vector<std::uint8_t>> ReadLocalFile(const std::string& path, std::string* error);

/// Creates or replaces the file at path (UTF-8) with bytes; false with *error set.
bool WriteLocalFile(const std::string& path, const std::vector<std::uint8_t>& bytes,
                    std::string* error);

}  // namespace tarvelctl

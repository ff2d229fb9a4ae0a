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

/// At most maxBytes from the start of the file at path, or nullopt with *error set.
std::optional<std::vector<std::uint8_t>> ReadLocalFilePrefix(const std::string& path,
                                                             std::size_t maxBytes,
                                                             std::string* error);

/// Replaces the file at path with bytes in one step: they are written to a new file beside it,
/// which then takes its name, so that a reader never sees a half-written file.
bool ReplaceLocalFile(const std::string& path, const std::vector<std::uint8_t>& bytes,
                      std::string* error);

/// Gives the file at from the name to, replacing a file there; false with *error set.
bool MoveLocalFile(const std::string& from, const std::string& to, std::string* error);

/// Removes the file at path; true also when there was none.
bool RemoveLocalFile(const std::string& path);

/// Whether something exists at path.
bool LocalFileExists(const std::string& path);

/// path made absolute against the current directory.
std::string AbsoluteLocalPath(const std::string& path);

/// dir followed by name, with the platform's separator.
std::string JoinLocalPath(const std::string& dir, const std::string& name);

}  // namespace tarvelctl

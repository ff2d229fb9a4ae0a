// The platform the tool runs on, and how the files it is given reach that platform.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tarvelctl {

/// Chosen by the build: on Windows the real Win32 layer; on Linux a simulated machine (its
/// cipher is libgcrypt), into which the files the tool reads are copied.
class Host {
 public:
  virtual ~Host() = default;
  /// Makes the local file at path (UTF-8, as given on the command line), whose content is
  /// bytes, readable through the installed platform; returns its path in the platform's terms.
  virtual std::u16string Stage(const std::string& path, const std::vector<std::uint8_t>& bytes) = 0;
};

/// Creates the host of this build and installs its platform.
std::unique_ptr<Host> CreateHost();

}  // namespace tarvelctl

// `write-protect`: sets the tag file's [State] key where the installed service reads it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "tools/tarvelctl/ServiceManager.h"
#include "tools/tarvelctl/ToolContext.h"

namespace tarvelctl {

/// What `write-protect` is asked for.
struct WriteProtectRequest {
  /// The digit 0 to 9 the service copies into the WriteProtect value (1 protects).
  int value = 0;
  /// The folder to write ReadTag.ini in; when absent, the one the installed service reads.
  std::optional<std::string> directory;
};

/// Where the installed service keeps its files, told from its registered executable.
struct ServiceFolder {
  std::string executable;                ///< the registered executable, environment expanded
  std::optional<std::uint16_t> machine;  ///< its machine type, when its header could be read
  std::optional<std::string> directory;  ///< the system folder it reads, in the tool's terms
  std::string problem;                   ///< why directory is absent
};

/// The folder of the service registered with commandLine: the machine type in its executable's
/// header picks SysWOW64 (a 32-bit service on 64-bit Windows) or the native system folder.
ServiceFolder LocateServiceFolder(const std::u16string& commandLine, ServiceManager& services,
                                  const WindowsLayout& layout);

/// The folder the installed service reads its policy and tag files from, told by the machine
/// type of its registered executable; nullopt with *problem (why it cannot be told) and
/// *exitCode set.
std::optional<std::string> ServiceFileDirectory(ToolContext& ctx, std::string* problem,
                                                int* exitCode);

/// ServiceFileDirectory, printing the problem with a hint at --dir.
std::optional<std::string> ServiceTagDirectory(ToolContext& ctx, int* exitCode);

/// Runs `write-protect`; returns the exit code.
int RunWriteProtect(const WriteProtectRequest& request, ToolContext& ctx);

}  // namespace tarvelctl

// `write-protect`: sets the tag file's [State] key where the installed service reads it.
#include "tools/tarvelctl/TagCommands.h"

#include <cstdio>
#include <memory>

#include "platform/Text.h"
#include "tools/tarvelctl/FileSecurity.h"
#include "tools/tarvelctl/LocalFiles.h"
#include "tools/tarvelctl/PeImage.h"
#include "tools/tarvelctl/ServiceCommands.h"
#include "tools/tarvelctl/ServiceText.h"
#include "tools/tarvelctl/TagFile.h"

namespace tarvelctl {

ServiceFolder LocateServiceFolder(const std::u16string& commandLine, ServiceManager& services,
                                  const WindowsLayout& layout) {
  ServiceFolder folder;
  folder.executable =
      platform::ToUtf8(services.ExpandEnvironment(ExecutableFromCommandLine(commandLine)));
  const std::string& exe = folder.executable;
  auto head = ReadLocalFilePrefix(exe, kPeHeaderBytes, &folder.problem);
  folder.machine = head ? PeMachine(*head) : std::nullopt;
  std::optional<bool> is32 = folder.machine ? Is32BitMachine(*folder.machine) : std::nullopt;
  if (!is32) {
    if (head && !folder.machine) folder.problem = exe + " is not a Windows program";
    if (folder.machine) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "0x%04X", *folder.machine);
      folder.problem =
          exe + " is built for machine type " + hex + ", which tarvelctl does not know";
    }
    return folder;
  }
  folder.directory = JoinLocalPath(
      layout.windowsDirectory, TagFolderName(*is32, layout.windows64Bit, layout.toolUnderWow64));
  return folder;
}

std::optional<std::string> ServiceFileDirectory(ToolContext& ctx, std::string* problem,
                                                int* exitCode) {
  ServiceManager* services = ctx.host.Services();
  std::optional<WindowsLayout> layout = ctx.host.Layout();
  if (services == nullptr || !layout) {
    *problem = "there is no installed service to ask on this system";
    *exitCode = kExitFailed;
    return std::nullopt;
  }
  std::u16string commandLine;
  std::uint32_t error = services->QueryCommandLine(&commandLine);
  if (error != 0) {
    *problem = "cannot read the configuration of " + platform::ToUtf8(kServiceName) + ": " +
               services->ErrorText(error) + " (" + std::to_string(error) + ")";
    *exitCode = ExitCodeFor(error);
    return std::nullopt;
  }
  ServiceFolder folder = LocateServiceFolder(commandLine, *services, *layout);
  if (!folder.directory) {
    *problem = "cannot tell where the service reads its files: " + folder.problem;
    *exitCode = kExitFailed;
  }
  return folder.directory;
}

std::optional<std::string> ServiceTagDirectory(ToolContext& ctx, int* exitCode) {
  std::string problem;
  std::optional<std::string> dir = ServiceFileDirectory(ctx, &problem, exitCode);
  if (!dir) ctx.err << "tarvelctl: " << problem << "; give the folder with --dir\n";
  return dir;
}

int RunWriteProtect(const WriteProtectRequest& request, ToolContext& ctx) {
  int exitCode = kExitOk;
  std::optional<std::string> dir = request.directory;
  if (!dir) dir = ServiceTagDirectory(ctx, &exitCode);
  if (!dir) return exitCode;

  std::string path = JoinLocalPath(*dir, platform::ToUtf8(kTagFileName));
  std::string error;
  std::string existing;
  if (LocalFileExists(path)) {
    auto bytes = ReadLocalFile(path, &error);
    if (!bytes) {
      ctx.err << "tarvelctl: " << error << "\n";
      return kExitFailed;
    }
    existing.assign(bytes->begin(), bytes->end());
  }
  TagText tag = UpdateTagText(existing, std::to_string(request.value));
  if (!WriteTrustedFile(ctx.host.FileSecurity(), path,
                        std::vector<std::uint8_t>(tag.text.begin(), tag.text.end()), &error)) {
    ctx.err << "tarvelctl: " << error
            << (request.directory ? "" : " (writing in the system folder needs an elevated prompt)")
            << "\n";
    return kExitFailed;
  }
  if (tag.replacedUtf16) {
    ctx.err << "tarvelctl: note: " << path
            << " was UTF-16 text; it is now ANSI with [State] alone\n";
  }
  ctx.out << "Wrote " << path << ": [State] key=" << request.value
          << "; the service applies it to WriteProtect within a second.\n"
          << "  DACL " << platform::ToUtf8(kTrustedFileSddl)
          << ": only SYSTEM and Administrators may open it.\n";
  return kExitOk;
}

}  // namespace tarvelctl

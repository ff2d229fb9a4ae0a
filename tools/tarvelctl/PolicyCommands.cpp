// The `policy` command group.
#include "tools/tarvelctl/PolicyCommands.h"

#include <memory>

#include "platform/Text.h"
#include "tools/tarvelctl/FileSecurity.h"
#include "tools/tarvelctl/LocalFiles.h"
#include "tools/tarvelctl/PolicyInspector.h"

namespace tarvelctl {

namespace {

std::string Utf8(const std::u16string& text) {
  return platform::ToUtf8(text);
}

}  // namespace

int RunPolicyWrite(const PolicyWriteRequest& request, const std::string& output, ToolContext& ctx) {
  std::string error;
  std::optional<PolicyFileImage> image = BuildPolicyFile(request, &error);
  if (!image) {
    ctx.err << "tarvelctl: " << error << "\n";
    return kExitFailed;
  }
  if (!WriteTrustedFile(ctx.host.FileSecurity(), output, image->bytes, &error)) {
    ctx.err << "tarvelctl: " << error << "\n";
    return kExitFailed;
  }
  ctx.out << "Wrote " << output << ": State \"" << Utf8(image->state) << "\" (removable "
          << (request.removable ? "on" : "off") << ", optical " << (request.optical ? "on" : "off")
          << "), Counter \"" << Utf8(image->counter) << "\", Description \""
          << Utf8(image->description) << "\"\n"
          << "  DACL " << Utf8(kTrustedFileSddl)
          << ": only SYSTEM and Administrators may open it.\n";
  return kExitOk;
}

int RunPolicyShow(const std::string& file, ToolContext& ctx) {
  std::string error;
  std::optional<std::vector<std::uint8_t>> bytes = ReadLocalFile(file, &error);
  if (!bytes) {
    ctx.err << "tarvelctl: " << error << "\n";
    return kExitFailed;
  }
  std::u16string path = ctx.host.Stage(file, *bytes);
  PolicyReport report = InspectPolicyFile(path, *bytes);
  PrintPolicyReport(report, file, ctx.out);
  return report.problems.empty() ? kExitOk : kExitProblems;
}

}  // namespace tarvelctl

// The `policy` command group.
#include "tools/tarvelctl/PolicyCommands.h"

#include <memory>

#include "platform/Text.h"
#include "tools/tarvelctl/FileSecurity.h"
#include "tools/tarvelctl/LocalFiles.h"
#include "tools/tarvelctl/PolicyInspector.h"

namespace tarvelctl {

namespace {

struct WriteArguments {
  std::string removable;
  std::string optical;
  std::string counter;
  std::string description;
  std::string output;
};

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

void AddPolicyCommands(CLI::App& app, ToolContext& ctx, int* exitCode) {
  CLI::App* policy = app.add_subcommand("policy", "Write or check the encrypted policy file");
  policy->require_subcommand(1);

  auto args = std::make_shared<WriteArguments>();
  CLI::App* write =
      policy->add_subcommand("write", "Write a policy file (DevState.ini or SysSecurity.ini)");
  write->add_option("--removable", args->removable, "Lock removable volumes")
      ->required()
      ->check(CLI::IsMember({"on", "off"}));
  write->add_option("--optical", args->optical, "Lock optical volumes")
      ->required()
      ->check(CLI::IsMember({"on", "off"}));
  CLI::Option* counter =
      write->add_option("--counter", args->counter, "Counter text (default: a number)");
  CLI::Option* description = write->add_option(
      "--description", args->description,
      "Description text (default: \"" + Utf8(std::u16string(kDefaultDescription)) + "\")");
  write->add_option("-o,--output", args->output, "The file to write")->required();
  write->callback([args, counter, description, &ctx, exitCode] {
    PolicyWriteRequest request;
    request.removable = args->removable == "on";
    request.optical = args->optical == "on";
    if (counter->count() > 0) request.counter = platform::FromUtf8(args->counter);
    if (description->count() > 0) request.description = platform::FromUtf8(args->description);
    request.counterStart = ctx.now;
    *exitCode = RunPolicyWrite(request, args->output, ctx);
  });

  auto file = std::make_shared<std::string>();
  CLI::App* show = policy->add_subcommand(
      "show", "Show what the service reads from a policy file, and any problem in it");
  show->add_option("file", *file, "The policy file")->required();
  show->callback([file, &ctx, exitCode] { *exitCode = RunPolicyShow(*file, ctx); });
}

}  // namespace tarvelctl

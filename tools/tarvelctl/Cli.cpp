// The tool's command line: one CLI11 subcommand per command group.
#include "tools/tarvelctl/Cli.h"

#include <CLI/CLI.hpp>

#include "TarvelVersion.h"

#include "tools/tarvelctl/CheckCommand.h"
#include "tools/tarvelctl/DebugLog.h"
#include "tools/tarvelctl/PolicyCommands.h"
#include "tools/tarvelctl/ServiceCommands.h"
#include "tools/tarvelctl/TagCommands.h"

namespace tarvelctl {

int RunTarvelctl(const std::vector<std::string>& args, ToolContext& ctx) {
  CLI::App app("Controls the Tarvel Service and its policy files", "tarvelctl");
  app.require_subcommand(1);
  app.set_version_flag("--version", "tarvelctl " TARVEL_VERSION);
  int exitCode = kExitOk;
  app.footer(
      "Exit codes: 0 done, 1 failed, 2 problems found (policy show), 3 service not installed, "
      "4 access denied, 5 timed out, 6 service not running; check: 0 compliant, 1 drift, 2 "
      "cannot tell; usage errors 100 and above.");
  AddServiceCommands(app, ctx, &exitCode);
  AddTagCommands(app, ctx, &exitCode);
  AddLogCommand(app, ctx, &exitCode);
  AddPolicyCommands(app, ctx, &exitCode);
  AddCheckCommand(app, ctx, &exitCode);

  std::vector<const char*> argv = {"tarvelctl"};
  for (const auto& a : args) argv.push_back(a.c_str());
  try {
    app.parse(static_cast<int>(argv.size()), argv.data());
  } catch (const CLI::ParseError& e) {
    return app.exit(e, ctx.out, ctx.err);
  }
  return exitCode;
}

}  // namespace tarvelctl

// `repair`: mends what can be mended of the machine's enforcement, then checks again.
#include "tools/tarvelctl/RepairCommand.h"

#include <string>
#include <vector>

#include "tools/tarvelctl/CheckCommand.h"
#include "tools/tarvelctl/MachineCheck.h"
#include "tools/tarvelctl/ServiceCommands.h"
#include "tools/tarvelctl/ServiceManager.h"
#include "tools/tarvelctl/ServiceText.h"

namespace tarvelctl {

namespace {

// The items whose drift a repair cannot mend without the administrators: the service is not
// there to mend, or the policy file that says what to bring the flags back to is missing or
// unreadable. The tool never writes that file.
std::vector<const CheckItem*> Unmendable(const CheckReport& report) {
  std::vector<const CheckItem*> found;
  for (const CheckItem& item : report.items) {
    const bool blocks = item.id == "administrator" || item.id == "service.installed" ||
                        item.id == "service.executable" || item.id == "policy.file" ||
                        item.id == "policy.decrypts";
    if (blocks && item.result != CheckResult::kOk) found.push_back(&item);
  }
  return found;
}

}  // namespace

int RunRepair(const RepairRequest& request, ToolContext& ctx) {
  CheckOptions options;
  options.serials = request.serials;
  CheckReport before = CheckMachine(ctx.host, options);
  std::vector<const CheckItem*> blockers = Unmendable(before);
  ServiceManager* services = ctx.host.Services();
  if (!blockers.empty() || services == nullptr || !before.startupFlags) {
    ctx.out << "Repair: nothing changed; this needs an administrator's hand:\n";
    for (const CheckItem* item : blockers)
      ctx.out << "  " << item->id << ": " << item->text << "\n";
    ctx.out << "\n";
    PrintCheckReport(before, ctx.out);
    return before.exitCode;
  }

  bool failed = false;
  InstallRequest configure;
  configure.configureOnly = true;
  failed |= RunInstall(configure, *services, ctx) != kExitOk;
  if (!before.serviceRunning) {
    // A service that starts reads its policy file and sets both flags from it.
    failed |= RunStart(request.timeoutMs, *services, ctx) != kExitOk;
  } else {
    // The live flags cannot be read; a code for the flag the service already has changes nothing.
    const LockOutcome& flags = *before.startupFlags;
    for (std::uint32_t code : {flags.removable ? kControlRemovableLockOn : kControlRemovableLockOff,
                               flags.optical ? kControlOpticalLockOn : kControlOpticalLockOff}) {
      failed |= RunLockControl(code, *services, ctx) != kExitOk;
    }
  }
  if (failed) ctx.err << "tarvelctl: repair: a step failed (above); the check says what remains\n";
  ctx.out << "\n";
  CheckReport after = CheckMachine(ctx.host, options);
  PrintCheckReport(after, ctx.out);
  return after.exitCode;
}

}  // namespace tarvelctl

// `repair`: mends what can be mended of the machine's enforcement, then checks again.
#pragma once

#include <cstdint>

#include "tools/tarvelctl/ToolContext.h"

namespace tarvelctl {

/// What `repair` is asked for.
struct RepairRequest {
  std::uint32_t timeoutMs = 30000;  ///< how long a start may take
  bool serials = true;              ///< false: --no-serials, for the check that follows
};

/// Checks the machine; when nothing that cannot be mended is found (no service, no readable
/// service executable, no policy file, a State that does not decrypt, no administrator's
/// rights), applies the recovery options, the service's descriptor and the trusted files' DACLs
/// again, starts a stopped service or sends a running one the control codes for the flags the
/// policy file gives, and checks again. Otherwise it names what it cannot mend and changes
/// nothing. Never writes the policy file. Returns `check`'s exit code for the last check.
int RunRepair(const RepairRequest& request, ToolContext& ctx);

}  // namespace tarvelctl

// The simulated Windows machine: every platform area over one shared core.
#pragma once

#include "platform/Platform.h"
#include "platform/sim/SimCore.h"
#include "platform/sim/SimCrypto.h"
#include "platform/sim/SimDebug.h"
#include "platform/sim/SimDevices.h"
#include "platform/sim/SimFiles.h"
#include "platform/sim/SimProcess.h"
#include "platform/sim/SimRegistry.h"
#include "platform/sim/SimService.h"
#include "platform/sim/SimThreads.h"
#include "platform/sim/SimVolumes.h"
#include "platform/sim/SimWindowing.h"

namespace platform::sim {

/// A whole machine. Construct one per test (or per simulator run) and Install() it.
class SimMachine {
 public:
  SimMachine();
  ~SimMachine();
  SimMachine(const SimMachine&) = delete;
  SimMachine& operator=(const SimMachine&) = delete;

  /// Installs this machine as the process-wide platform; the destructor uninstalls it.
  void Install();
  Platform& platform() { return platform_; }

  SimCore core;
  SimVolumes volumes{core};
  SimThreads threads{core};
  SimDebug debug{core};
  SimRegistry registry{core};
  SimProcess process{core};
  SimFiles files{core};
  SimDevices devices{core};
  SimCrypto crypto{core, threads.scheduler()};
  SimService service{core, threads};
  SimWindowing windowing{core, threads};

 private:
  Platform platform_;
};

}  // namespace platform::sim

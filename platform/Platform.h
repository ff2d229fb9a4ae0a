// The process-wide platform: one object per area of the Windows interfaces, installed by main.
#pragma once

namespace platform {

class Crypto;
class Debug;
class Devices;
class Files;
class Process;
class Registry;
class ServiceControl;
class Threads;
class Volumes;
class Windowing;

/// The areas of the platform the subsystems reach. A program's main (or a test) fills it with
/// one implementation, the real Win32 one or the simulated machine, and installs it.
struct Platform {
  Volumes* volumes = nullptr;
  Threads* threads = nullptr;
  Debug* debug = nullptr;
  Crypto* crypto = nullptr;
  Registry* registry = nullptr;
  Devices* devices = nullptr;
  Files* files = nullptr;
  Process* process = nullptr;
  ServiceControl* service = nullptr;
  Windowing* windowing = nullptr;
};

/// Makes p the process-wide platform; nullptr uninstalls. Not thread-safe: call before any
/// thread that uses the platform starts.
void Install(Platform* p);

/// The installed platform. Aborts with a message when none is installed.
Platform& Current();

/// The installed platform, or nullptr.
Platform* Installed();

}  // namespace platform

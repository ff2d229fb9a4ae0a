// The real Windows platform.
#include "platform/win32/Win32Platform.h"

namespace platform::win32 {

Win32Platform::Win32Platform() {
  platform_.volumes = &volumes;
  platform_.threads = &threads;
  platform_.debug = &debug;
  platform_.registry = &registry;
  platform_.process = &process;
  platform_.files = &files;
  platform_.devices = &devices;
  platform_.crypto = &crypto;
  platform_.service = &service;
  platform_.windowing = &windowing;
}

}  // namespace platform::win32

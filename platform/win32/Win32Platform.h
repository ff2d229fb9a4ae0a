// The real Windows platform: one object per area.
#pragma once

#include "platform/Platform.h"
#include "platform/win32/Win32Crypto.h"
#include "platform/win32/Win32Debug.h"
#include "platform/win32/Win32Devices.h"
#include "platform/win32/Win32Files.h"
#include "platform/win32/Win32Process.h"
#include "platform/win32/Win32Registry.h"
#include "platform/win32/Win32Service.h"
#include "platform/win32/Win32Threads.h"
#include "platform/win32/Win32Volumes.h"
#include "platform/win32/Win32Windowing.h"

namespace platform::win32 {

/// The whole real platform. A program's main creates one and installs it.
class Win32Platform {
 public:
  Win32Platform();
  void Install() { platform::Install(&platform_); }
  Platform& platform() { return platform_; }

  Win32Volumes volumes;
  Win32Threads threads;
  Win32Debug debug;
  Win32Registry registry;
  Win32Process process;
  Win32Files files;
  Win32Devices devices;
  Win32Crypto crypto;
  Win32Service service;
  Win32Windowing windowing;

 private:
  Platform platform_;
};

}  // namespace platform::win32

// The system directory rule and the WOW64 detection it depends on: where the service, its poll
// and its tools find the files the service reads. Every layer may include it.
#pragma once

#include "platform/Files.h"
#include "platform/Process.h"
#include "platform/Types.h"

namespace platform {

/// kernel32's IsWow64Process, or null where kernel32 does not export it. Set once by
/// ResolveIsWow64ProcessPtr before the entry routine runs.
extern ProcAddress IsWow64ProcessPtr;

/// Non-zero when this 32-bit process runs under WOW64. 0 until DetectWow64 has run; set once,
/// before the poll timer exists, and only read afterwards.
extern Bool IsWow64;

/// Looks IsWow64Process up in kernel32 by its narrow name. Part of process-wide initialisation.
void ResolveIsWow64ProcessPtr();

/// Clears IsWow64, then lets IsWow64Process set it when the routine exists. Its result is not
/// examined: a failing call leaves the flag as the routine left it.
void DetectWow64();

/// Fills path with the system directory and one trailing backslash: the folder the shell
/// reports as CSIDL_SYSTEM, or its sibling SysWOW64 when IsWow64 is set. A shell failure is not
/// detected; the path then names no folder. Uses nothing but path and IsWow64, so any thread
/// may call it.
void SystemDirPath(char16_t (&path)[kMaxPath]);

/// IsWow64 as a new process has it (clear). IsWow64ProcessPtr is kept: it names a routine of
/// the installed platform, resolved once per process.
void ResetProcessState();

}  // namespace platform

// System facts: read-only answers about the operating system and the machine.
// Text answers are UTF-8 copied into the caller's buffer (emptied first, cut
// to fit); a failure is 0 with an empty buffer, and nothing is logged.
//
// On Linux the system version file is os-release ("/etc/os-release", else
// "/usr/lib/os-release"): NAME is the system's name and VERSION_ID its
// version. The version is read once and cached for the life of the process.
#pragma once

#include "core/types.h"

RUNTIME_EXTERN_C_BEGIN

int32 Platform_GetName(char *Buffer, int32 Length);
int32 Platform_GetVersion(char *Buffer, int32 Length);
// 64 when the kernel's machine type is "x86_64" (without case), else 32;
// 0 (and *Bitness 0) when the kernel query fails.
int32 Platform_GetSystemBitness(int32 *Bitness);
// Adds 0x40004 to *Flags and answers 1 when a debug modifier key is held at
// start. No keyboard state is readable here, so it always answers 0.
int32 Platform_GetDebugFlagsFromKey(uint32 *Flags);

RUNTIME_EXTERN_C_END

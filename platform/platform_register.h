// What the platform services hand to the runtime below them, at start-up:
// their script classes in the core family ("TQX.Process", "TQX.Pipe",
// "TQX.Platform", "TQX.FileSystem", "TQX.Registry"), the registry's macro
// keys and the registry authorisation that the script bridge hands to every
// class family ("Registry_Authorize"). The program and the tests call it
// before they start the runtime; calling it again changes nothing.
#pragma once

#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

int32 PlatformServices_Register(void);

RUNTIME_EXTERN_C_END

// The process-wide authentication switch: whether files, libraries, registry
// paths and script classes are checked at all. It is on from the start, so
// nothing is allowed unchecked before start-up has decided; the host or the
// workflow application may switch it off. A loaded class family installs
// the host's answer with Authenticate_EnabledOverride, so one process has
// one switch.
#pragma once

#include "core/types.h"

RUNTIME_EXTERN_C_BEGIN

typedef int32 (*Authenticate_EnabledFunc)(void);

// 1 while authentication is on; an installed override answers instead.
int32 Authenticate_Enabled(void);
int32 Authenticate_SetEnabled(int32 Enabled);
// Stores a replacement for Authenticate_Enabled; null removes it. Always 1.
int32 Authenticate_EnabledOverride(Authenticate_EnabledFunc Function);

RUNTIME_EXTERN_C_END

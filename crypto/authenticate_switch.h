// The authentication switch: the one flag that every refusal of something
// unsigned asks, from the RSA signature check up to the trust registry. On
// at start, and again whenever the trust registry starts or stops
// (authenticate.h), so that nothing unsigned slips through before the host
// has chosen. Its override (installed by interop libraries to ask their host)
// answers in its place while set. Any thread may read and set it.
#pragma once

#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

typedef int32 (*Authenticate_EnabledFunc)(void);

int32 Authenticate_SetEnabled(uint32 Flag);
int32 Authenticate_Enabled(void);
int32 Authenticate_EnabledOverride(Authenticate_EnabledFunc Function);

RUNTIME_EXTERN_C_END

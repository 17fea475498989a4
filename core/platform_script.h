// "TQX.Platform": system facts, environment, process and window look-ups,
// power and shell functions for pages and workflows. Stateless: the
// dispatcher Platform_Invoke (log name "Platform") acts on process-wide
// services only.
//
// Certificate checks are not available in this build: "authenticateX509"
// answers false, as for a file that does not validate.
#pragma once

#include "core/dictionary.h"
#include "core/types.h"

RUNTIME_EXTERN_C_BEGIN

int32 Platform_Invoke(void *User, Dictionary *Request, Dictionary *Result);

RUNTIME_EXTERN_C_END

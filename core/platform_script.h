// "TQX.Platform": system facts, environment, credentials, process and window
// look-ups, power and shell functions, and the data store stamped into an
// executable, for pages and workflows. Stateless: the dispatcher
// Platform_Invoke (log name "Platform") acts on process-wide services only.
// Credential reads always answer "username" and "password" beside
// "returnValue" (empty when nothing was found); a data store answers as
// Base64, or Null when there is none.
// "authenticateX509" decides a DER certificate file against a named store.
#pragma once

#include "core/dictionary.h"
#include "core/types.h"

RUNTIME_EXTERN_C_BEGIN

int32 Platform_Invoke(void *User, Dictionary *Request, Dictionary *Result);

RUNTIME_EXTERN_C_END

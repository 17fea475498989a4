// "TQX.Platform": system facts, environment, credentials, process and window
// look-ups, power and shell functions, and the data store stamped into an
// executable, for pages and workflows. Stateless: the dispatcher
// Platform_Invoke (log name "Platform") acts on process-wide services only.
// Credential reads always answer "username" and "password" beside
// "returnValue" (empty when nothing was found); a data store answers as
// Base64, or Null when there is none.
// "authenticateX509" decides a DER certificate file against a named store.
#pragma once

#include "runtime/containers/dictionary.h"
#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

int32 Platform_Invoke(void *User, Dictionary *Request, Dictionary *Result);
// The data store of a file (null Path: the running program) is read by the
// executable module, which sits above this one and hands its reader and
// release down at start-up (Executable_GetDataStore and
// Executable_ReleaseDataStore); until then no file has a store.
typedef int32 (*Platform_DataStoreFunc)(const char *Path, char **Text, int32 *Length);
int32 Platform_SetDataStoreReader(Platform_DataStoreFunc Read, Platform_DataStoreFunc Release);

RUNTIME_EXTERN_C_END

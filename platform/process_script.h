// "TQX.Process": one Process per script instance (made and ticked by the core
// family). Process_Invoke is the bridge's invoke function (log name
// "Process"); User is the instance's Process. The page follows a run through
// the notifications "Start", "Ready" and "Complete" for its instance id.
#pragma once

#include "runtime/containers/dictionary.h"
#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

int32 Process_Invoke(void *User, Dictionary *Request, Dictionary *Result);

RUNTIME_EXTERN_C_END

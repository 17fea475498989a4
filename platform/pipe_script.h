// "TQX.Pipe": one Pipe per script instance (made and ticked by the core
// family). Pipe_Invoke is the bridge's invoke function (log name "Pipe");
// User is the instance's Pipe. Arriving bytes reach the page as the
// notification ("Pipe", "Read") for the pipe's instance id.
#pragma once

#include "runtime/containers/dictionary.h"
#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

int32 Pipe_Invoke(void *User, Dictionary *Request, Dictionary *Result);

RUNTIME_EXTERN_C_END

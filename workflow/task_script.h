// "TQX.Task": a page script's handle on one running Task. The instance holds
// a reference on the task (taken by the workflow family's class factory);
// Task_Invoke (log name "Task") runs the method named by the request's
// selector and answers under "returnValue". Script messages are always text,
// never print formats.
#pragma once

#include "runtime/containers/dictionary.h"
#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

int32 Task_Invoke(void *User, Dictionary *Request, Dictionary *Result);

RUNTIME_EXTERN_C_END

// The size of a directory tree for pages, counted on a thread of its own.
#pragma once

#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

// Starts counting the allocated size of the tree under Path on a thread of
// its own and answers 1 at once. The page's callback (its id CallbackId)
// receives {"successful": ..., "result": bytes} on the main thread; a request
// while a count runs answers "successful" false at once.
int32 Path_GetDirectorySize(const char *Path, const char *CallbackId);
int32 Path_Init(void);
// Stops a running count at its next check and joins its thread.
int32 Path_Remove(void);

RUNTIME_EXTERN_C_END

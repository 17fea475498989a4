// The core class family (CoreInterop): the first family the host registers
// with the script bridge, making the script classes of the runtime core under
// the namespace "TQX.". Class names compare exactly (with case).
//
// Made here: "TQX.Process" and "TQX.Pipe" (one native object per instance,
// named by the object's own instance id, ticked at every process step and
// released with the instance), "TQX.NotificationCenter" (the page becomes a
// batch registration of the bridge; the instance holds one share of it), and
// the stateless "TQX.FileSystem", "TQX.Platform", "TQX.Registry", "TQX.WebGet"
// and "TQX.Analytics". Other names go on to the next family.
//
// The runtime makes "TQX.NotificationCenter" itself; the other classes sit in
// modules above it, which add them at start-up (CoreInterop_AddClass) before
// the family is registered with the bridge.
//
// The family shares the host's own facilities, so its load, unload, option
// and hand-over functions do nothing and answer 1.
#pragma once

#include "runtime/script/interop.h"
#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

int32 CoreInterop_CreateInstance(const char *ClassName, char *IdBuffer, int32 IdSize, void *ExecuteUser,
                                 Interop_ExecuteFunc ExecuteFunction, Interop_InvokeFunc *Invoke,
                                 Interop_ReleaseFunc *Release, Interop_ProcessFunc *Process, void **User);
// Adds a class of the family: Create (null for a stateless class) makes the
// native object of each instance, named by the object's own id, which Process
// ticks and Release releases. A name already added stays as it is. 0 when the
// table is full.
int32 CoreInterop_AddClass(const char *ClassName, Interop_InvokeFunc Invoke, Interop_ReleaseFunc Release,
                           Interop_ProcessFunc Process, void *(*Create)(void));
int32 CoreInterop_SetOverride(const char *Name, void *Function);
int32 CoreInterop_SetOption(const char *Name, const char *Value);
int32 CoreInterop_Init(void);
int32 CoreInterop_Remove(void);

RUNTIME_EXTERN_C_END

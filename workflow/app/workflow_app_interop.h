// The workflow family of script classes and the interop libraries the
// application loads for scripts.
//
// Family (registered by WorkflowApp_InitInterop after the core family, under
// the program's own path): "TQX.Workflow" and "TQX.Task" name an existing
// workflow or task by the instance id the script gives and hold one
// reference on it; "TQX.ScriptTaskHandler" has no object;
// "TQX.WorkflowManager", "TQX.WorkflowApp" and "TQX.App" write the manager's
// or the application's own instance id into the caller's buffer. Class names
// compare with case; other names go on to the next family.
//
// Interop libraries: LoadInterop logs the library and its file version,
// starts an authentication of the file against the interop certificate store
// and answers 1; on a later tick, when the authentication has ended, the
// library is loaded through the script bridge when it passed, and
// "Interop"/"Load" fires under the application's instance with
// {"successful", "name", "path"}. The tick frees one finished authentication
// per pass, the first one from the head.
#pragma once

#include "runtime/containers/dictionary.h"
#include "runtime/script/interop.h"
#include "runtime/types.h"

#define WORKFLOWAPP_PENDING_CLASSID 0x7ed64f45u

RUNTIME_EXTERN_C_BEGIN

int32 WorkflowInterop_CreateInstance(const char *ClassName, char *IdBuffer, int32 IdSize, void *ExecuteUser,
                                     Interop_ExecuteFunc ExecuteFunction, Interop_InvokeFunc *Invoke,
                                     Interop_ReleaseFunc *Release, Interop_ProcessFunc *Process, void **User);
int32 WorkflowInterop_Init(void);
int32 WorkflowInterop_Remove(void);
int32 WorkflowInterop_SetOverride(const char *Name, void *Function);
int32 WorkflowInterop_SetOption(const char *Name, const char *Value);

// Registers the core and the workflow families under the program's path.
int32 WorkflowApp_InitInterop(void);

int32 WorkflowApp_LoadInterop(const char *Name, const char *Path);
// Frees the library registered under the path and fires "Interop"/"Unload".
int32 WorkflowApp_UnloadInterop(const char *Name, const char *Path);
// The tick's step and the removal of every pending authentication.
int32 WorkflowApp_ProcessInterop(void);
int32 WorkflowApp_RemoveInterop(void);
int32 WorkflowApp_GetPendingInteropCount(int32 *Count);

// The dispatcher of "TQX.WorkflowApp" and "TQX.App" (log name "WorkflowApp").
int32 WorkflowApp_Invoke(void *User, Dictionary *Request, Dictionary *Result);

RUNTIME_EXTERN_C_END

// "TQX.Workflow" and "TQX.WorkflowManager": page scripts drive one workflow
// (the instance holds a reference on it) and the manager singleton. Each
// dispatcher (log names "Workflow" and "WorkflowManager") runs the method its
// request's selector names and answers under "returnValue"; a missing
// parameter answers false (or empty text) and 0, and does nothing else.
//
// Beside them, the workflow and manager operations whose arguments come as
// script text: instance ids and macros as JSON. A workflow id that no longer
// resolves answers 0.
#pragma once

#include "runtime/containers/dictionary.h"
#include "runtime/types.h"
#include "workflow/workflow.h"

RUNTIME_EXTERN_C_BEGIN

int32 Workflow_Invoke(void *User, Dictionary *Request, Dictionary *Result);
int32 WorkflowManager_Invoke(void *User, Dictionary *Request, Dictionary *Result);

// The task belongs to this workflow; the same, also through the workflow
// this one mirrors in the other process; the workflow is this one or its
// mirror. All ask the application's task and workflow tables.
int32 Workflow_HasTask(Workflow *Handle, const char *TaskId);
int32 Workflow_HasRemoteTask(Workflow *Handle, const char *TaskId);
int32 Workflow_HasRemoteWorkflow(Workflow *Handle, const char *WorkflowId);
// Run or queue an event with macros given as JSON text (empty: none); 0 when
// the text does not parse.
int32 Workflow_RunTaskWithMacrosInterop(Workflow *Handle, const char *Name, const char *MacrosJson);
int32 Workflow_QueueTaskWithMacrosInterop(Workflow *Handle, const char *Name, const char *MacrosJson);

// Unloads every workflow; the script callback registered under the id is
// raised once the last one has gone. 0 while an unload is already running.
int32 WorkflowManager_UnloadInterop(const char *CallbackId);
int32 WorkflowManager_RunTaskInterop(const char *WorkflowId, const char *Name);
int32 WorkflowManager_RunTaskWithMacrosInterop(const char *WorkflowId, const char *Name, const char *MacrosJson);
int32 WorkflowManager_QueueTaskWithMacrosInterop(const char *WorkflowId, const char *Names, const char *MacrosJson);
int32 WorkflowManager_SetTaskAvailabilityInterop(const char *WorkflowId, const char *Name, uint32 Available);
int32 WorkflowManager_ClearTaskAvailabilityInterop(const char *WorkflowId);
int32 WorkflowManager_SetProgressInterop(const char *WorkflowId, const char *Name, float64 Progress);

RUNTIME_EXTERN_C_END

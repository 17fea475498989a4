// WorkflowEvent: one run of a named entry point of a workflow ("load",
// "start", "unload" or any task name). A queued event waits until the
// workflow is idle and its name heads the workflow's event queue: it looks
// once a second, and again as soon as the workflow comes to rest (a waiting
// "unload" cancels the running leaf tasks once a second meanwhile); a run
// event starts at once. Each step is a "WorkflowEvent" notification fired
// after 0 ms ("Wait", "Ready", "Start", "Complete"), so steps never run
// inside the step that fired them. The event deletes itself when complete;
// the application's end deletes those still waiting or running. Once an
// "unload" is made for a workflow, or the application shuts down, no event
// made after it starts but "unload" (in a shutdown, a run inside an "unload"
// still runs whole): it completes at once, failed, with "dropped" true and
// the reason as its error.
#pragma once

#include "runtime/containers/dictionary.h"
#include "workflow/workflow.h"

#define WORKFLOWEVENT_CLASSID 0x28615826u
#define WORKFLOWEVENT_NAME_SIZE 120

RUNTIME_EXTERN_C_BEGIN

typedef struct WorkflowEvent WorkflowEvent;
// (workflow, user, result): the task's completion Dictionary.
typedef int32 (*WorkflowEvent_CompleteFunc)(Workflow *Handle, void *User, Dictionary *Result);

int32 WorkflowEvent_Create(WorkflowEvent **Handle);
int32 WorkflowEvent_Delete(WorkflowEvent **Handle);
CLASS_DECLARE_REFERENCE(WorkflowEvent, WorkflowEvent)
int32 WorkflowEvent_SetWorkflowHandle(WorkflowEvent *Handle, Workflow *Owner);
// Copies the macros (below a single root); null clears them.
int32 WorkflowEvent_SetMacroDictionary(WorkflowEvent *Handle, Dictionary *Macros);
// Takes a reference on Macros instead of copying.
int32 WorkflowEvent_SetMacroDictionaryHandle(WorkflowEvent *Handle, Dictionary *Macros);
int32 WorkflowEvent_SetParentTaskHandle(WorkflowEvent *Handle, Task *Parent);
int32 WorkflowEvent_SetQueued(WorkflowEvent *Handle, uint32 Flag);
int32 WorkflowEvent_SetCompleteCallback(WorkflowEvent *Handle, void *User, WorkflowEvent_CompleteFunc Function);
int32 WorkflowEvent_Start(WorkflowEvent *Handle, const char *Name);
// Why an event of a workflow that unloads (or a run whose entry never
// ran) ended without running: "the workflow was unloaded before "start"
// ran", or "shut down" while the application shuts down.
int32 WorkflowEvent_NotRunText(const char *Name, char *Output, int32 Size);
// Whether Text is such a reason.
int32 WorkflowEvent_IsNotRunText(const char *Text);
// The engine's end: deletes every event still waiting or running, without
// completing it, and with it the references it holds on its workflow and
// task.
int32 WorkflowEvent_RemoveAll(void);

// Workflow entry points built on events.
int32 Workflow_RunTask(Workflow *Handle, const char *Name, void *User, WorkflowEvent_CompleteFunc Function);
int32 Workflow_RunTaskWithMacros(Workflow *Handle, const char *Name, Dictionary *Macros, Task *Parent, void *User,
                                 WorkflowEvent_CompleteFunc Function);
int32 Workflow_QueueTask(Workflow *Handle, const char *Name, void *User, WorkflowEvent_CompleteFunc Function);
int32 Workflow_QueueTaskWithMacros(Workflow *Handle, const char *Name, Dictionary *Macros, Task *Parent, void *User,
                                   WorkflowEvent_CompleteFunc Function);

RUNTIME_EXTERN_C_END

// WorkflowManager: the process-wide scheduler of workflows. Each added
// workflow starts as a "global" workflow run; the flow chains its entry
// points ("load", then "state" or "start", then "unload"; after a "load"
// that failed, "unload" alone); the state tasks
// ("state", "start", "install", "uninstall", "update", "repair") of all
// loaded workflows go through a priority queue within limits on how many run
// at once. Around that it keeps which state tasks each workflow offers
// (availability), dependencies between workflows, a record of every task's
// events relayed as "WorkflowManager"/"Task..." notifications, the overall
// progress and the "WorkflowManager"/"Status" notification.
//
// The manager holds a reference on every loaded workflow until its "unload"
// completes. In the worker process only the flow runs. Main thread only.
#pragma once

#include "runtime/containers/dictionary.h"
#include "runtime/types.h"
#include "workflow/workflow.h"

#define WORKFLOWMANAGER_CLASSID 0xa36e5270u
#define WORKFLOWMANAGER_CALLBACK_ID_SIZE 40

RUNTIME_EXTERN_C_BEGIN

// An add or unload callback: {"callbackId", "type", "sender", "info"}.
typedef int32 (*WorkflowManager_CallbackFunc)(void *User, Dictionary *Payload);
// Called with the URL of each added workflow before its run starts.
typedef int32 (*WorkflowManager_WillLoadFunc)(void *User, const char *Url);

int32 WorkflowManager_Init(void);
int32 WorkflowManager_Remove(void);
int32 WorkflowManager_IsInitialized(void);

// ---- Adding and unloading ----
// An add whose "id" is in use by another run of the process (or is no
// text) is refused: 0, with a log line. So is every add while the manager
// unloads or once its additions are closed.
int32 WorkflowManager_Add(const char *Url, void *User, WorkflowManager_CallbackFunc Function);
int32 WorkflowManager_AddDictionary(Dictionary *Request, void *User, WorkflowManager_CallbackFunc Function);
int32 WorkflowManager_AddJSON(const char *JsonText, void *User, WorkflowManager_CallbackFunc Function);
// A script's addition: answered on its callback id.
int32 WorkflowManager_AddInterop(const char *JsonText, const char *CallbackId);
int32 WorkflowManager_SetWillLoadCallback(void *User, WorkflowManager_WillLoadFunc Function);
int32 WorkflowManager_Unload(void *User, WorkflowManager_CallbackFunc Function);
int32 WorkflowManager_IsUnloading(void);
// From now on every add is refused (0, with a log line), as one is while the
// manager unloads: its owner is ending, and a run added now would be
// abandoned rather than run.
int32 WorkflowManager_CloseAdditions(void);
// Nonzero when nothing added to the manager is still under way: no addition
// waits for its run to start, and every loaded workflow has completed "load"
// (or its run has ended) and has no event running, ready or queued, in it or
// in the manager's queues. A host that unloads only then lets every run it
// was given, or that a page added, end as it would.
int32 WorkflowManager_IsSettled(void);

// ---- Running and queuing ----
int32 WorkflowManager_RunTask(Workflow *Handle, const char *Name);
int32 WorkflowManager_RunTaskWithMacros(Workflow *Handle, const char *Name, Dictionary *Macros);
// Names: comma-separated; the first one the workflow defines is taken.
int32 WorkflowManager_QueueTask(Workflow *Handle, const char *Names);
int32 WorkflowManager_QueueTaskWithMacros(Workflow *Handle, const char *Names, Dictionary *Macros);
int32 WorkflowManager_QueueTaskInterop(const char *WorkflowId, const char *Names, const char *MacrosJson);

// ---- Availability, dependencies, progress ----
int32 WorkflowManager_SetTaskAvailability(Workflow *Handle, const char *Name, uint32 Available);
int32 WorkflowManager_ClearTaskAvailability(Workflow *Handle);
// 1 when the workflow offers the task now.
int32 WorkflowManager_IsTaskAvailable(const char *WorkflowId, const char *Name);
int32 WorkflowManager_QueueAvailableTasks(const char *Name);
int32 WorkflowManager_QueueAvailableTasksByWorkflow(const char *Name, const char *WorkflowId);
int32 WorkflowManager_AddDependency(const char *Id, const char *DependencyId);
int32 WorkflowManager_SetProgress(Workflow *Handle, const char *Name, float64 Progress);

// ---- Settings ----
int32 WorkflowManager_SetMaximumActiveTasks(int32 Count);
int32 WorkflowManager_GetMaximumActiveTasks(int32 *Count);
int32 WorkflowManager_SetMaximumActiveStateTasks(int32 Count);
int32 WorkflowManager_GetMaximumActiveStateTasks(int32 *Count);
int32 WorkflowManager_SetStateInterval(int32 Seconds);
int32 WorkflowManager_GetStateInterval(int32 *Seconds);
int32 WorkflowManager_SetQueueTaskNames(const char *Names);
int32 WorkflowManager_SetProgressTaskNames(const char *Names);
int32 WorkflowManager_SetDependencyTaskNames(const char *Names);
int32 WorkflowManager_SetFlowControl(uint32 Flag);
int32 WorkflowManager_GetFlowControl(uint32 *Flag);
int32 WorkflowManager_SetHardDependency(uint32 Flag);
int32 WorkflowManager_GetHardDependency(uint32 *Flag);
int32 WorkflowManager_SetAutoUnload(uint32 Flag);
int32 WorkflowManager_GetAutoUnload(uint32 *Flag);
int32 WorkflowManager_SetVerbose(uint32 Level);
int32 WorkflowManager_GetVerbose(void);
int32 WorkflowManager_GetQueuedTaskCount(int32 *Count);
int32 WorkflowManager_GetLoadedCount(int32 *Count);
int32 WorkflowManager_GetInstanceId(char *Buffer, int32 Size);

// Cancels every task whose start was relayed and that has not completed
// (a process that must end now); answers how many took the cancel.
int32 WorkflowManager_CancelRunningTasks(void);

// ---- The periodic step ----
int32 WorkflowManager_Process(void);
int32 WorkflowManager_PrintState(void);

RUNTIME_EXTERN_C_END

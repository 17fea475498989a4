// The workflow application's life beyond its minimal start: the bookkeeping
// of running tasks, the shutdown handshake, and what the host reads at exit
// (exit code, restart request, implode path), and log expiry.
//
// Shutdown handshake: the first "WorkflowApp"/"Shutdown" sets the
// shutting-down flag and takes its "exitCode"; without "force" the
// application waits on the notification center's tick until no task other
// than those named "global" runs, then fires "WorkflowApp"/"Shutdown" again
// under the same instance with "force" true. Main thread only.
#pragma once

#include "runtime/types.h"

#define WORKFLOWAPP_PATH_SIZE 320
#define WORKFLOWAPP_ARGUMENTS_SIZE 4096

RUNTIME_EXTERN_C_BEGIN

// Called by WorkflowApp_Init and WorkflowApp_Remove.
int32 WorkflowApp_InitLife(void);
int32 WorkflowApp_RemoveLife(void);

// The "wfworker" and "wfselfupdate" switches of the command line at start.
// A worker's shutdown handshake acts only on a request that is not remote
// and carries "canRemote" false; others just set the shutting-down flag.
int32 WorkflowApp_IsWorker(void);
int32 WorkflowApp_IsSelfUpdate(void);
// 1 when a task whose name is not "global" runs.
int32 WorkflowApp_IsBusy(void);
int32 WorkflowApp_GetRunningTaskCount(int32 *Count);
// Forgets the running tasks that the other process relayed (its end point
// has disconnected, so their completion will not come).
int32 WorkflowApp_DropRemoteTasks(void);
// The workflow a running task belongs to (tracked from "Task"/"Start" until
// an event of that workflow completes); with Recursive, the outermost
// workflow through the runs that started it ("WorkflowRun"/"Run"). 0 when
// the task is not tracked.
int32 WorkflowApp_GetWorkflowByTaskId(const char *TaskId, uint32 Recursive, char *Buffer, int32 Size);
// Whether the task belongs to the workflow; with Recursive, also through the
// tasks that run the workflows in between. 0 when a link is missing.
int32 WorkflowApp_IsTaskInWorkflow(const char *TaskId, const char *WorkflowId, uint32 Recursive);
// Whether a "WorkflowRun"/"Run" named the workflow.
int32 WorkflowApp_IsWorkflowRemote(const char *WorkflowId);
// Inner equals outer, or walking up from inner (the task that runs it, then
// that task's workflow) reaches outer.
int32 WorkflowApp_IsWorkflowInWorkflow(const char *InnerId, const char *OuterId);
// The outermost workflow above the workflow; one that no task runs is its
// own root (1).
int32 WorkflowApp_GetRootWorkflow(const char *WorkflowId, char *Buffer, int32 Size);
// The workflow that the last task of the workflow runs; 0 when any step fails.
int32 WorkflowApp_GetRemoteWorkflow(const char *WorkflowId, char *Buffer, int32 Size);

int32 WorkflowApp_SetExitCode(int32 Code);
int32 WorkflowApp_GetExitCode(int32 *Code);
int32 WorkflowApp_SetRestart(uint32 Flag);
int32 WorkflowApp_GetRestart(uint32 *Flag);
int32 WorkflowApp_SetRestartElevated(uint32 Flag);
int32 WorkflowApp_GetRestartElevated(uint32 *Flag);
int32 WorkflowApp_SetRestartPath(const char *Path);
int32 WorkflowApp_GetRestartPath(char *Buffer, int32 Size);
int32 WorkflowApp_SetRestartArguments(const char *Text);
int32 WorkflowApp_GetRestartArguments(char *Buffer, int32 Size);
int32 WorkflowApp_AppendRestartArguments(const char *Text);
// Records the program's own executable as the implode path (1 when it exists).
int32 WorkflowApp_Implode(void);
int32 WorkflowApp_SetImplodePath(const char *Path);
int32 WorkflowApp_GetImplodePath(char *Buffer, int32 Size);

// With per-day log files and a "maxdays" switch: deletes the log files
// beside the current one (its name without extension, then "*.log") whose
// creation time lies more than maxdays days and a second in the past.
int32 WorkflowApp_ExpireLogs(void);
// The walk itself, for a given log file, day count and calendar time
// (seconds since 1970); birth times where the file system keeps them, else
// modification times.
int32 WorkflowApp_ExpireLogsIn(const char *LogFile, int32 MaxDays, int64 Now);

RUNTIME_EXTERN_C_END

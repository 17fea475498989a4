// The workflow application's tick and what it publishes: the status of the
// local and remote meters once a second ("WorkflowApp"/"Status", fired only
// when something changed), one analytics event per completed task that is
// not private, and whether runs are active. Started and removed with the application.
// Main thread only.
#pragma once

#include "runtime/containers/dictionary.h"
#include "runtime/streams/meter.h"
#include "runtime/types.h"

#include "workflow/app/workflow_app_web.h"

RUNTIME_EXTERN_C_BEGIN

// The application in its minimal form (WorkflowApp_Init) with the host's
// request handlers (both or neither); the command line is the process's.
int32 WorkflowApp_InitMinimal(const char *CommandLine, WorkflowApp_WebRequestFunc RequestAdd,
                              WorkflowApp_WebRequestFunc RequestRemove);
int32 WorkflowApp_RemoveMinimal(void);
// Fires "WorkflowRun"/"Start" with {"url": Url} after 0 ms.
int32 WorkflowApp_Add(const char *Url);
// Ends the process through the fatal-stop path ("Crashing").
int32 WorkflowApp_Crash(void);

// Called by WorkflowApp_Init and WorkflowApp_Remove.
int32 WorkflowApp_InitTick(void);
int32 WorkflowApp_RemoveTick(void);

// One tick: status (at most once a second), the main event queue, the
// notification center, analytics. Always 1.
int32 WorkflowApp_Process(void);
// True while at least one workflow run is running.
int32 WorkflowApp_IsActive(void);
// True while analytics events wait or a batch is on its way.
int32 WorkflowApp_IsAnalyticsPending(void);
// The worker's loop ends on it; true before the application exists.
int32 WorkflowApp_IsDisconnected(void);
// The connection to the worker's parent dropped before the run it asked
// for had completed (or before any came): the worker's parent is gone.
int32 WorkflowApp_IsRunInterrupted(void);
int32 WorkflowApp_GetStatusDictionaryHandle(Dictionary **Status);
int32 WorkflowApp_GetLocalMeterRWHandle(MeterRW **Handle);
int32 WorkflowApp_GetRemoteMeterRWHandle(MeterRW **Handle);
int32 WorkflowApp_GetInstanceId(char *Buffer, int32 Size);
int32 WorkflowApp_GetStartTime(float64 *Seconds);
int32 WorkflowApp_GetRunningTime(float64 *Seconds);

RUNTIME_EXTERN_C_END

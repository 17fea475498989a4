// WorkflowRun: the task type that fetches a workflow document, prepares it
// (macros, the "load" entry point, entry points chosen by arguments, progress
// identifiers), loads it into a new Workflow and runs its "load" event; the
// manager's flow carries it on to "unload", whose completion completes the
// run. "WorkflowRun"/"Start" requests (the manager's additions) become runs
// in a private task named "global"; its completion is reported as
// "WorkflowRun"/"Stop" and then "WorkflowRun"/"Complete".
//
// A run asking for elevation in a process that is not elevated is handed to
// an elevated worker through the notification end point; without an end
// point that can give a peer URL it fails with "Launch_Error_RunElevated".
// A workflow worker never hands a run on: one that is not elevated fails an
// elevated run at its start with "Launch_Error_RunElevated" and the text
// below. A run the other process asked for ends when that process cancels
// its workflow, whatever the workflow is doing.
//
// A run cancelled while its document is being fetched never loads it: the
// fetch result of a completed run task is dropped. Main thread only, except
// the running count.
#pragma once

#include "runtime/types.h"
#include "workflow/task.h"

#define WORKFLOWRUN_CLASSID 0x42682e29u
#define GLOBALWORKFLOWRUN_CLASSID 0x792e92f8u
#define WORKFLOWRUN_URL_SIZE 4096
// Workflows run inside each other's runs at most this many deep: a document
// that runs itself would otherwise nest without end. A run task inside that
// many workflows fails at its start with the identifier below and a line
// naming it and the limit.
#define WORKFLOWRUN_NESTING_LIMIT 32
#define WORKFLOWRUN_ERROR_TOO_DEEP "WorkflowRun_Error_TooDeep"
// A run whose document lacks the entry its workflow is given ("start", or
// "apply" in a self-update run) fails with one of these.
#define WORKFLOWRUN_TEXT_NO_START "the workflow has no \"start\" task"
#define WORKFLOWRUN_TEXT_NO_APPLY "the workflow has no \"apply\" task"
// The same of a document a run runs: its URL, then the entry's name.
#define WORKFLOWRUN_TEXT_CHILD_LACKS "the workflow %s has no \"%s\" task"
#define WORKFLOWRUN_TEXT_NOT_ELEVATED \
    "the elevated run cannot start: the workflow worker is not elevated (the elevator did not grant administrator rights)"
// Nor does it bound breadth: a process starts at most this many workflow
// runs in its life (each holds a whole document and workflow while it
// lives); a run task past it fails at its start with the identifier below
// and a line naming the limit. No "ignoreError" hides either identifier.
#define WORKFLOWRUN_START_LIMIT 1000
#define WORKFLOWRUN_ERROR_TOO_MANY "WorkflowRun_Error_TooMany"
// An event whose outcome is the run's ("load", "start", "apply", an
// "unload" the document has) that failed without naming an error (a task
// completed through a notification that says no more) fails the run with
// this text, the event's name and the document's URL after it.
#define WORKFLOWRUN_TEXT_UNEXPLAINED "failed without naming an error:"

RUNTIME_EXTERN_C_BEGIN

typedef struct WorkflowRun WorkflowRun;

extern const TaskInterface WorkflowRun_INTERFACE;

// Observes "WorkflowRun"/"Start" and "Stop"; a second Init is a fatal stop.
int32 WorkflowRun_Init(void);
// Releases the "global" tasks still held.
int32 WorkflowRun_Remove(void);
int32 WorkflowRun_IsInitialized(void);
int32 WorkflowRun_GetRunningCount(void);
// The "global" runs asked for so far (completed or not).
int32 WorkflowRun_GetStartedCount(void);
// Run ids: an id names one run in the life of the process. Claim takes
// an id for a run about to be asked for: 0 when it is in use (a start that
// carries it is refused). Keep, before the run is asked for, has the run
// task of that id held for the caller once it exists (0 when the id is
// taken already); GetKept gives it (no reference of its own), ReleaseKept
// lets it go. The requester knows its run by that task, never by what it
// hears.
int32 WorkflowRun_ClaimId(const char *Id);
// 1 when one more run, beside Asked runs asked for and not yet started, can
// still start within WORKFLOWRUN_START_LIMIT.
int32 WorkflowRun_HasRoomFor(int32 Asked);
int32 WorkflowRun_Keep(const char *Id);
int32 WorkflowRun_GetKept(const char *Id, Task **Run);
int32 WorkflowRun_ReleaseKept(const char *Id);
// The workflow a run task runs (null until its document is loaded).
int32 WorkflowRun_GetWorkflowHandle(Task *Run, Workflow **Flow);
// The end point that hands elevated runs over (unset: elevated runs fail).
int32 WorkflowRun_SetNotificationEndPointHandle(void *EndPoint);

int32 WorkflowRun_Create(void **Handle, Task *Owner);
void *WorkflowRun_AddRef(void *Handle);
int32 WorkflowRun_Release(void **Handle);
int32 WorkflowRun_Delete(WorkflowRun **Handle);

// Whether this process runs elevated (root); tests may override the fact.
int32 WorkflowRun_IsElevated(void);
int32 WorkflowRun_SetElevatedOverride(int32 Value); // -1: ask the system

// Switches that the launch line of an elevated worker carries besides the
// worker protocol's own: the host's, so that the worker decides trust as
// this process does. Null or "" for none.
int32 WorkflowRun_SetWorkerSwitches(const char *Text);
// The exit code of a worker that refused its command line or its
// configuration before it started: the host's usage error.
#define WORKFLOWRUN_WORKER_EXIT_REFUSED 2

RUNTIME_EXTERN_C_END

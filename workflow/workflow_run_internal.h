// The WorkflowRun record, shared by the run modules (workflow_run*.cpp).
#pragma once

#include "platform/process.h"
#include "runtime/containers/dictionary.h"
#include "workflow/workflow.h"
#include "workflow/workflow_run.h"

struct WorkflowRun {
    ClassStruct Class;
    Task *Owner;
    Workflow *Flow;
    Dictionary *Document;
    char Url[WORKFLOWRUN_URL_SIZE];
    uint32 Busy;
    uint32 StartCount;
    uint32 Fetching;  // the fetch step is waiting on the process tick
    uint32 Observing; // WorkflowEvent/Complete of its workflow
    // The last fetch failed (its errors may have gone to warnings under
    // "ignoreError"): the run waits for a retry and runs nothing.
    uint32 FetchFailed;
    // Hand-over to the elevated worker.
    Process *Worker;
    uint32 HandedOver;
    uint32 StartSent;
    char RemoteWorkflow[40]; // the worker's workflow, for a cancel
    uint32 WatchingCancel;   // a run of the other process: its "Workflow"/"Cancel"
    // The URL handed to the worker and the owner-only file that carries it,
    // while its token may still serve (until the run or the worker ends).
    char SecretUrl[128];
    struct HandOverFile *Secret;
    uint32 DeadlineSet; // the worker has been started: the hand-over is bounded
    // The hand-over has ended (failed, or its run reported): its watch and
    // deadline stop, though the run task may still run a "failure" step.
    uint32 HandOverDone;
};

inline const char *RunId(WorkflowRun *Self) { return Self->Class.InstanceId; }
inline const char *TaskId(Task *Owner) { return ((ClassStruct *)Owner)->InstanceId; }
inline const char *FlowId(Workflow *Flow) { return ((ClassStruct *)Flow)->InstanceId; }

// Starts the fetch of Self->Url; the result arrives on a later tick through
// WorkflowRunInt_DocumentArrived (never inside this call).
int32 WorkflowRunInt_Fetch(WorkflowRun *Self);
int32 WorkflowRunInt_CancelFetch(WorkflowRun *Self);
// Error codes E1, E2 (0, 0 on success) and the parsed document (its root
// item holds the tasks), or null on failure.
int32 WorkflowRunInt_DocumentArrived(WorkflowRun *Self, int32 Error, int32 SubCode, Dictionary *Parsed);
// Steps that shape a fetched document before it is loaded; returns 1 when
// the run is local (else it must be handed over). *Refused: the macros it
// inherits would pass the memory budget, and it fails (the task says why).
int32 WorkflowRunInt_Prepare(WorkflowRun *Self, Dictionary *Document, bool *Refused);

// The end point of the application (null when there is none).
void *WorkflowRunInt_GetEndPoint(void);
// Hands the run to an elevated worker (launching it when none is connected).
int32 WorkflowRunInt_HandOver(WorkflowRun *Self);
// Drops the hand-over's observers (the run task has completed).
int32 WorkflowRunInt_EndHandOver(WorkflowRun *Self);
// A cancel of a handed-over run goes to the worker's workflow.
int32 WorkflowRunInt_CancelHandOver(WorkflowRun *Self);
int32 WorkflowRunInt_ReleaseWorker(WorkflowRun *Self);

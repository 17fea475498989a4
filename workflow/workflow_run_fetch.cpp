// The run's fetch of its document through the task's document request: the
// parser follows the content type (then the extension), "http://" through
// the connection pool and "file://" from disk. The result never arrives
// inside the start that asked for it; when the run task completes first, the
// request goes with it and nothing is loaded.
#include "workflow/task_request.h"
#include "workflow/workflow_run_internal.h"

namespace {

int32 OnDocument(Task *, void *User, Dictionary *Document, int32 Error, int32 SubCode) {
    WorkflowRun *Self = static_cast<WorkflowRun *>(User);
    Self->Fetching = FALSE;
    // The run may go with its task while the document is handled.
    WorkflowRun_AddRef(Self);
    WorkflowRunInt_DocumentArrived(Self, Error, SubCode, Error == 0 ? Document : nullptr);
    void *Handle = Self;
    WorkflowRun_Release(&Handle);
    return TRUE;
}

} // namespace

int32 WorkflowRunInt_Fetch(WorkflowRun *Self) {
    Self->Fetching = TRUE;
    if (Task_RequestAuto(Self->Owner, Self->Url, Self, OnDocument)) return TRUE;
    Self->Fetching = FALSE;
    return WorkflowRunInt_DocumentArrived(Self, 950, 0, nullptr);
}

int32 WorkflowRunInt_CancelFetch(WorkflowRun *Self) {
    if (!Self->Fetching) return TRUE;
    Self->Fetching = FALSE;
    return Task_RequestDelete(Self->Owner, FALSE);
}

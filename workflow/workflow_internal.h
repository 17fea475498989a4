// The Workflow record, shared by the workflow modules (workflow*.cpp).
#pragma once

#include <stdarg.h>

#include <unordered_map>

#include "runtime/callback.h"
#include "workflow/workflow.h"

// One created task and the record of the task that started it.
struct WorkflowTaskRecord {
    Task *Owned;
    WorkflowTaskRecord *Parent;
    WorkflowTaskRecord *Prev;
    WorkflowTaskRecord *Next;
    // Records whose parent is this one: a removal walks the list to unlink
    // them only when there are any.
    int32 ChildCount;
    // 1 for a task made without a parent, else the parent's plus one; kept
    // when the parent's record goes.
    int32 Depth;
    // What its definition weighs in the process's argument budget.
    int64 Weight;
};

struct Workflow {
    ClassStruct Class;
    ClassPrintStruct Print;
    char RemoteInstanceId[WORKFLOW_REMOTE_ID_SIZE];
    uint32 UseDefaultTaskTypes;
    uint32 Cancelling;
    // An "unload" was made for it: no event made from then on starts.
    uint32 Unloading;
    uint32 PageReferenceHeld; // the reference pages hold through the bridge
    Dictionary *Document;
    TaskTypeList *Types;
    uint32 ActiveEventCount;
    uint32 ReadyEventCount;
    WorkflowTaskRecord *First;
    WorkflowTaskRecord *Last;
    int32 TaskCount;
    // Each task's record, for the look-ups a new task or an expansion makes
    // (a walk of the list made large workflows quadratic).
    std::unordered_map<const Task *, WorkflowTaskRecord *> *Records;
    CertStoreTable *CertStores;
    Dictionary *EventQueue;
    Dictionary *Status;
    Dictionary *Macros;
    Dictionary *Analytics;
    Task *Owner;
    uint32 Global;
    uint32 PastBudget;
    CallbackStruct ExpandString;
    // Why the last task that could not be made was refused, for the user,
    // and whether the memory budget refused it.
    char CreateError[WORKFLOW_CREATE_ERROR_SIZE];
    uint32 CreatePastBudget;
};

WorkflowTaskRecord *WorkflowInt_FindRecord(Workflow *Handle, Task *Owned);
// One finished line (a task's, say) through the workflow's print callback.
// Nonzero while the workflow's lines go to the log and nowhere else.
int32 WorkflowInt_PrintsOnlyToLog(void *User);
int32 WorkflowInt_VPrintLine(Workflow *Handle, const char *Format, va_list Arguments);

// Workflow runs: the "global" runs of start requests and the run task type
// (see workflow_run.h). Document preparation is in workflow_run_prepare.cpp,
// the fetch in workflow_run_fetch.cpp.
#include <string.h>
#include <unistd.h>

#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "net/async_http.h"
#include "runtime/memory.h"
#include "runtime/notification/notification_center.h"
#include "runtime/posix/platform.h"
#include "runtime/text/string.h"
#include "runtime/text/string_print.h"
#include "workflow/notification_end_point.h"
#include "workflow/workflow_application.h"
#include "workflow/workflow_event.h"
#include "workflow/task_arguments.h"
#include "workflow/task_request.h"
#include "workflow/workflow_run_internal.h"

namespace {

struct GlobalRunState {
    ClassStruct Class;
    void *EndPoint;
    int32 RunningCount; // atomic: the worker's loop reads it
    uint32 StartCount;
    std::vector<Task *> Live;      // "global" tasks started and not yet stopped
    std::vector<Task *> Completed; // released once their stop has been handled
    // Stops fired for completed runs and not yet handled: a "Stop" beyond
    // them (a document's Notification task can fire one) reports no run.
    uint32 StopsOwed;
    // Every run id taken in this process: an id names one run, for good.
    std::unordered_set<std::string> Ids;
    // The runs whose requester holds them by their task (a reference each),
    // and the ids it waits for.
    std::unordered_map<std::string, Task *> Kept;
};

GlobalRunState *GlobalWorkflowRun = nullptr;
int32 ElevatedOverride = -1;

int32 OnGlobalComplete(void *, const char *, const char *, const char *Instance, Dictionary *Info);

std::string EndPointId() {
    char Id[40] = "";
    if (GlobalWorkflowRun->EndPoint != nullptr)
        NotificationEndPoint_GetInstanceId(static_cast<NotificationEndPoint *>(GlobalWorkflowRun->EndPoint), Id,
                                           (int32)sizeof(Id));
    return Id;
}

// A run the other process asked for ends when that process goes away.
int32 OnRequesterGone(void *User, const char *, const char *, const char *, Dictionary *) {
    Task *Run = static_cast<Task *>(User);
    if (!Task_IsCompleted(Run)) Task_Cancel(Run);
    return TRUE;
}

void WatchRequester(Task *Run, bool Watch) {
    std::string Point = EndPointId();
    if (Point.empty()) return;
    if (Watch)
        NotificationCenter_AddInstanceObserver("NotificationEndPoint", "Disconnected", Point.c_str(), Run,
                                               OnRequesterGone);
    else
        NotificationCenter_RemoveInstanceObserver("NotificationEndPoint", "Disconnected", Point.c_str(), Run,
                                                  OnRequesterGone);
}

// The text From holds under Key, copied into To under Name with its length.
void CopyText(Dictionary *From, const char *Key, Dictionary *To, const char *Name) {
    const char *Text = nullptr;
    int32 Length = 0, Type = DICTIONARY_TYPE_UNKNOWN;
    DictionaryItem *Item = nullptr;
    if (!Dictionary_GetTypeByKey(From, Key, &Type) || Type != DICTIONARY_TYPE_STRING ||
        !Dictionary_GetBufferPtrByKey(From, Key, &Text, &Length) || Text == nullptr ||
        !Dictionary_SetStringByKey(To, Name, "") || !Dictionary_ItemFindByKey(To, Name, nullptr, &Item) ||
        Item == nullptr)
        return;
    Dictionary_ItemSetBuffer(To, Item, Text, Length);
}

int32 OnStartRequest(void *, const char *, const char *, const char *Sender, Dictionary *Info) {
    if (Info == nullptr) return TRUE;
    uint32 Flag = 0;
    Dictionary *Remote = nullptr;
    if (Dictionary_GetBooleanByKey(Info, "isRemote", &Flag) && Flag) {
        if (!Dictionary_GetDictionaryByKey(Info, "_remote", &Remote) || Remote == nullptr) return TRUE;
    } else if (Dictionary_GetBooleanByKey(Info, "canLocal", &Flag) && !Flag) {
        return TRUE;
    } else {
        Dictionary_GetDictionaryByKey(Info, "_remote", &Remote);
    }
    // The manager took the id of its own start requests when it was asked;
    // any other start (a document's Notification task, a page's fire) takes
    // its id here, and one in use starts nothing: its completion would speak
    // for another run.
    const char *Text = nullptr;
    int32 Length = 0;
    // An id is a name, whole: one that holds a NUL would be claimed, and
    // answered, as the id its first bytes make.
    if (Dictionary_GetBufferPtrByKey(Info, "id", &Text, &Length) && Text != nullptr && strlen(Text) != (size_t)Length) {
        Log_Warning("WorkflowRun - start refused: the run id holds a NUL byte\n");
        return TRUE;
    }
    // Once the application shuts down a run started from outside (a page's
    // or a document's fire) could not run: its "load" would be dropped.
    if (!NotificationCenter_IsOwnFire() && WorkflowApplication_IsShuttingDown()) {
        Log_Warning("WorkflowRun - start refused: the application is shutting down, so the run would not run\n");
        return TRUE;
    }
    if (!NotificationCenter_IsOwnFire() && Dictionary_GetStringPtrByKey(Info, "id", &Text) && Text != nullptr &&
        !WorkflowRun_ClaimId(Text)) {
        Log_Warning("WorkflowRun - start refused: the run id %s is in use\n", Text);
        return TRUE;
    }
    __atomic_add_fetch(&GlobalWorkflowRun->RunningCount, 1, __ATOMIC_SEQ_CST);
    GlobalWorkflowRun->StartCount++;

    Dictionary *Document = nullptr, *Definition = nullptr;
    Dictionary_Create(&Document);
    Dictionary_AddDictionary(Document, "global", &Definition, nullptr);
    if (Remote != nullptr) Dictionary_Merge(Definition, Remote, DICTIONARY_MERGE_OVERWRITE);
    Dictionary_Merge(Definition, Info, DICTIONARY_MERGE_OVERWRITE);
    Dictionary_RemoveByKey(Definition, "_remote");
    Dictionary_SetStringByKey(Definition, "workflow", Sender != nullptr ? Sender : "");
    // The request's texts as sent, byte for byte ("url" came with the
    // merge): the run's check judges them whole, and one read up to a NUL
    // would be another value than the one it refuses.
    CopyText(Info, "callbackId", Definition, "#callbackId");
    CopyText(Info, "id", Definition, "#id");
    int32 Priority = 0;
    if (Dictionary_GetInt32ByKey(Info, "priority", &Priority)) Dictionary_SetInt32ByKey(Definition, "#priority", Priority);
    Dictionary_Merge(Definition, Info, 0);

    Task *Run = nullptr;
    Task_Create(&Run);
    Task_LoadFromDictionary(Run, Document, "global");
    Dictionary_Release(&Document);
    Task_SetPrivate(Run, TRUE);
    Task_SetPrintIdentifier(Run, "global");
    Task_SetInterface(Run, &WorkflowRun_INTERFACE);
    Task_Print(Run, "Trigger workflow with parameters\n");
    Dictionary *Own = nullptr;
    Task_GetDictionaryHandle(Run, &Own);
    Dictionary_Dump(Own);
    GlobalWorkflowRun->Live.push_back(Run);
    if (Dictionary_GetStringPtrByKey(Info, "id", &Text) && Text != nullptr) {
        auto Wanted = GlobalWorkflowRun->Kept.find(Text);
        if (Wanted != GlobalWorkflowRun->Kept.end() && Wanted->second == nullptr) Wanted->second = Task_AddRef(Run);
    }
    NotificationCenter_AddInstanceObserver("Task", "Complete", TaskId(Run), GlobalWorkflowRun, OnGlobalComplete);
    if (Remote != nullptr && Dictionary_GetBooleanByKey(Info, "isRemote", &Flag) && Flag) WatchRequester(Run, true);
    Task_Start(Run);
    return TRUE;
}

int32 OnGlobalComplete(void *, const char *, const char *, const char *Instance, Dictionary *Info) {
    // Only the program's own completion counts: a page or a document's
    // Notification task may fire the same names with any sender and words.
    if (!NotificationCenter_IsOwnFire()) return TRUE;
    NotificationCenter_RemoveInstanceObserver("Task", "Complete", Instance, GlobalWorkflowRun, OnGlobalComplete);
    Task *Done = nullptr;
    for (auto Each = GlobalWorkflowRun->Live.begin(); Each != GlobalWorkflowRun->Live.end(); ++Each) {
        if (String_Compare(TaskId(*Each), Instance)) {
            Done = *Each;
            GlobalWorkflowRun->Live.erase(Each);
            break;
        }
    }
    if (Done == nullptr) return TRUE;
    WatchRequester(Done, false);
    GlobalWorkflowRun->Completed.push_back(Done);
    Dictionary *Payload = nullptr;
    Dictionary_Create(&Payload);
    Dictionary_SetBooleanByKey(Payload, "canRemote", FALSE);
    if (Info != nullptr) Dictionary_Merge(Payload, Info, DICTIONARY_MERGE_OVERWRITE);
    Task_CopyErrors(Done, Payload);
    Task_CopyWarnings(Done, Payload);
    // The id of the request the run was started for tells its requester
    // which of its runs ended.
    const char *RunId = nullptr;
    if (!Dictionary_ContainsKey(Payload, "id") && Task_GetArgumentPtr(Done, "id", &RunId) && RunId != nullptr)
        Dictionary_SetStringByKey(Payload, "id", RunId);
    char Sender[WORKFLOW_REMOTE_ID_SIZE] = "";
    Task_GetStringArgument(Done, "workflow", Sender, (int32)sizeof(Sender));
    GlobalWorkflowRun->StopsOwed++;
    NotificationCenter_FireAfterDelayOwn("WorkflowRun", "Stop", Sender, 0, Payload);
    Dictionary_Release(&Payload);
    return TRUE;
}

int32 OnStop(void *, const char *, const char *, const char *Sender, Dictionary *Info) {
    if (GlobalWorkflowRun->StopsOwed == 0 || !NotificationCenter_IsOwnFire()) return TRUE;
    GlobalWorkflowRun->StopsOwed--;
    Dictionary *Payload = nullptr;
    Dictionary_Create(&Payload);
    if (Info != nullptr) Dictionary_Merge(Payload, Info, DICTIONARY_MERGE_OVERWRITE);
    Dictionary_RemoveByKey(Payload, "canRemote");
    char Workflow[WORKFLOW_REMOTE_ID_SIZE] = "";
    if (!Dictionary_GetStringByKey(Payload, "workflow", Workflow, (int32)sizeof(Workflow)) || Workflow[0] == 0)
        String_CopyLength(Workflow, Sender != nullptr ? Sender : "", (int32)sizeof(Workflow));
    NotificationCenter_FireOwn("WorkflowRun", "Complete", Workflow, Payload);
    Dictionary_Release(&Payload);
    __atomic_sub_fetch(&GlobalWorkflowRun->RunningCount, 1, __ATOMIC_SEQ_CST);
    // The completion has been reported: the run task, its run and its
    // workflow go now (nobody else holds them).
    std::vector<Task *> Done;
    Done.swap(GlobalWorkflowRun->Completed);
    for (Task *Each : Done) Task_Release(&Each);
    return TRUE;
}

// ---- The run task ----

// The run's outcome is its workflow's: a failed "load", "apply" or "unload"
// fails it as a failed "start" does, with the event's errors, and an event that
// failed without naming one (a task completed through its completion
// notification) fails it with a text that says so. A "load" or "unload"
// that succeeded keeps its notes to itself. "ignoreError" holds for these
// errors as for any other.
void NoteOutcome(WorkflowRun *Self, Dictionary *Info) {
    const char *Flow = nullptr, *Name = nullptr;
    uint32 Successful = TRUE, Exists = TRUE;
    if (Self->Flow == nullptr || Info == nullptr || !Dictionary_GetStringPtrByKey(Info, "workflow", &Flow) ||
        Flow == nullptr || !String_Compare(Flow, FlowId(Self->Flow)) ||
        !Dictionary_GetStringPtrByKey(Info, "name", &Name) || Name == nullptr ||
        !Dictionary_GetBooleanByKey(Info, "successful", &Successful) || Successful)
        return;
    Dictionary_GetBooleanByKey(Info, "exists", &Exists);
    bool Unload = String_CompareWithoutCase(Name, "unload");
    // "apply" stands in for "start" in a self-update run.
    if (String_CompareWithoutCase(Name, "load") || String_CompareWithoutCase(Name, "apply") || (Unload && Exists)) {
        Task_AddErrorFromDictionary(Self->Owner, Info);
        Task_AddWarningFromDictionary(Self->Owner, Info);
    }
    // An entry the document lacks is said as such where the event is read.
    if (!Exists || (!Unload && !String_CompareWithoutCase(Name, "load") && !String_CompareWithoutCase(Name, "start") &&
                    !String_CompareWithoutCase(Name, "apply")))
        return;
    Dictionary *Errors = nullptr;
    int32 Count = 0;
    if (Dictionary_GetListByKey(Info, "errors", &Errors) && Errors != nullptr) Dictionary_ItemGetCount(Errors, &Count);
    if (Count > 0) return;
    char Text[WORKFLOWRUN_URL_SIZE + 160];
    String_Print(Text, (int32)sizeof(Text), "%s \"%s\" of %s", WORKFLOWRUN_TEXT_UNEXPLAINED, Name, Self->Url);
    Task_AddError(Self->Owner, "%s", Text);
}

int32 OnEventComplete(void *User, const char *, const char *, const char *, Dictionary *Info) {
    WorkflowRun *Self = static_cast<WorkflowRun *>(User);
    // Only the program's own completion counts: a page or a document's
    // Notification task may fire the same names with any sender and words.
    if (!NotificationCenter_IsOwnFire()) return TRUE;
    NoteOutcome(Self, Info);
    const char *Flow = nullptr, *Name = nullptr;
    if (Self->Flow == nullptr || Info == nullptr || !Dictionary_GetStringPtrByKey(Info, "workflow", &Flow) ||
        Flow == nullptr || !String_Compare(Flow, FlowId(Self->Flow)) ||
        !Dictionary_GetStringPtrByKey(Info, "name", &Name) || Name == nullptr)
        return TRUE;
    uint32 Dropped = FALSE;
    // "apply" is the entry in place of "start" in a self-update run.
    if (String_CompareWithoutCase(Name, "start") || String_CompareWithoutCase(Name, "apply")) {
        Task_AddErrorFromDictionary(Self->Owner, Info);
        Task_AddWarningFromDictionary(Self->Owner, Info);
        // A document without the entry ran nothing of what was asked.
        // A child a task of another workflow runs is named by its URL: the
        // bare words would read as the fault of the document the user gave.
        uint32 Exists = TRUE;
        Workflow *Parent = nullptr;
        if (Dictionary_GetBooleanByKey(Info, "exists", &Exists) && !Exists) {
            const bool Start = String_CompareWithoutCase(Name, "start") != 0;
            char Text[WORKFLOWRUN_URL_SIZE + 64];
            if (Task_GetWorkflowHandle(Self->Owner, &Parent) && Parent != nullptr)
                String_Print(Text, (int32)sizeof(Text), WORKFLOWRUN_TEXT_CHILD_LACKS, Self->Url, Start ? "start" : "apply");
            else
                String_Copy(Text, Start ? WORKFLOWRUN_TEXT_NO_START : WORKFLOWRUN_TEXT_NO_APPLY);
            Task_AddErrorAlways(Self->Owner, Text);
        }
    } else if (String_CompareWithoutCase(Name, "load") && Dictionary_GetBooleanByKey(Info, "dropped", &Dropped) &&
               Dropped && !Workflow_IsTaskQueued(Self->Flow, "unload") && !Workflow_IsTaskRunning(Self->Flow, "unload")) {
        // A "load" dropped as the application shuts down moves its workflow
        // on no further (no "unload" follows): the run ends here, failed with
        // the drop's words, or whatever waits on it would wait for ever.
        Task_Print(Self->Owner, "Completed from dropped load event\n");
        Task_Complete(Self->Owner, nullptr);
    } else if (String_CompareWithoutCase(Name, "unload")) {
        Task_Print(Self->Owner, "Completed from unload event\n");
        Task_Complete(Self->Owner, nullptr);
    }
    return TRUE;
}

// Whether the run task runs inside a "load" or "unload": of the workflow
// it belongs to, or of one further up whose run runs that workflow. Neither
// can be cancelled, so nothing would ever end a run there that waits to be
// retried.
bool InsideLoadOrUnload(Task *Run) {
    Workflow *Parent = nullptr;
    int32 Depth = 0;
    for (Task *Walk = Run; Depth < WORKFLOWRUN_NESTING_LIMIT + 1 && Walk != nullptr &&
                           Task_GetWorkflowHandle(Walk, &Parent) && Parent != nullptr;
         Workflow_GetTaskHandle(Parent, &Walk), Depth++) {
        Task *Root = nullptr;
        if (!Workflow_GetRootTaskHandle(Parent, Walk, &Root) || Root == nullptr) Root = Walk;
        const char *Name = Task_GetNamePtr(Root);
        if (Name != nullptr && (String_CompareWithoutCase(Name, "load") || String_CompareWithoutCase(Name, "unload")))
            return true;
    }
    return false;
}

// The other process cancels the run it asked for: the whole run ends, at
// any moment, also while its document is on the way or "load" runs (when
// the workflow has no task to cancel).
int32 OnRequesterCancel(void *User, const char *, const char *, const char *, Dictionary *Info) {
    WorkflowRun *Self = static_cast<WorkflowRun *>(User);
    uint32 Remote = FALSE;
    if (Info != nullptr && Dictionary_GetBooleanByKey(Info, "isRemote", &Remote) && Remote &&
        !Task_IsCompleted(Self->Owner))
        Task_Cancel(Self->Owner);
    return TRUE;
}

void WatchRequesterCancel(WorkflowRun *Self, bool Watch) {
    if (Self->Flow == nullptr || (Self->WatchingCancel != 0) == Watch) return;
    Self->WatchingCancel = Watch;
    if (Watch)
        NotificationCenter_AddInstanceObserver("Workflow", "Cancel", FlowId(Self->Flow), Self, OnRequesterCancel);
    else
        NotificationCenter_RemoveInstanceObserver("Workflow", "Cancel", FlowId(Self->Flow), Self, OnRequesterCancel);
}

void FireRunStart(WorkflowRun *Self) {
    Dictionary *Payload = nullptr, *Arguments = nullptr, *Definition = nullptr;
    Dictionary_Create(&Payload);
    Dictionary_SetStringByKey(Payload, "task", TaskId(Self->Owner));
    Dictionary_SetStringByKey(Payload, "workflow", FlowId(Self->Flow));
    Dictionary_SetStringByKey(Payload, "url", Self->Url);
    Dictionary_AddDictionary(Payload, "arguments", &Arguments, nullptr);
    Task_GetDictionaryHandle(Self->Owner, &Definition);
    Dictionary_Merge(Arguments, Definition, DICTIONARY_MERGE_OVERWRITE);
    NotificationCenter_Fire("WorkflowRun", "RunStart", TaskId(Self->Owner), Payload);
    Dictionary_Release(&Payload);
}

void FireWorkflowStatus(WorkflowRun *Self, bool Loading, bool CanRetry) {
    // Own: whoever ends a run that waits for a retry takes it from here only.
    Dictionary *Payload = nullptr;
    Dictionary_Create(&Payload);
    Dictionary_SetBooleanByKey(Payload, "isLoading", Loading ? TRUE : FALSE);
    Dictionary_SetBooleanByKey(Payload, "canRetry", CanRetry ? TRUE : FALSE);
    NotificationCenter_FireOwn("Workflow", "Status", FlowId(Self->Flow), Payload);
    Dictionary_Release(&Payload);
}

// The runs this process has started (on the main thread only).
int32 RunsStarted = 0;

// How many workflows the run task stands in: its own, the one whose run made
// that, and so on (counted up to the limit).
int32 NestingOf(Task *Run) {
    int32 Count = 0;
    Workflow *Flow = nullptr;
    for (Task *Walk = Run; Count < WORKFLOWRUN_NESTING_LIMIT && Walk != nullptr &&
                           Task_GetWorkflowHandle(Walk, &Flow) && Flow != nullptr;
         Workflow_GetTaskHandle(Flow, &Walk))
        Count++;
    return Count;
}

int32 OnRunTaskStart(void *User, const char *, const char *, const char *, Dictionary *) {
    WorkflowRun *Self = static_cast<WorkflowRun *>(User);
    if (Task_IsCompleted(Self->Owner)) return TRUE;
    if (!Self->Busy && !TaskInt_CheckArguments(Self->Owner)) return TRUE;
    if (!Task_HasArgument(Self->Owner, "url")) {
        Task_Print(Self->Owner, "\"url\" argument not defined\n");
        Task_AddMissingArgumentError(Self->Owner, "\"url\"");
        return Task_Complete(Self->Owner, nullptr);
    }
    if (Self->Busy) return TRUE;
    Self->Busy = TRUE;
    Self->FetchFailed = FALSE;
    Self->StartCount++;
    if (Self->Flow == nullptr) {
        // A URL that does not fit, or holds a NUL, is refused by the getter
        // (the task then carries why); no cut URL is fetched.
        if (!Task_GetStringArgument(Self->Owner, "url", Self->Url, (int32)sizeof(Self->Url)) &&
            Task_IsArgumentRefused(Self->Owner)) {
            Self->Busy = FALSE;
            return Task_Complete(Self->Owner, nullptr);
        }
        if (NestingOf(Self->Owner) >= WORKFLOWRUN_NESTING_LIMIT) {
            char Text[TASK_NAME_SIZE + 96];
            String_Print(Text, (int32)sizeof(Text), "workflow run \"%s\" not started: runs nest at most %d deep",
                         Task_GetNamePtr(Self->Owner), WORKFLOWRUN_NESTING_LIMIT);
            Task_AddErrorAlways(Self->Owner, WORKFLOWRUN_ERROR_TOO_DEEP);
            Task_AddErrorAlways(Self->Owner, Text);
            Self->Busy = FALSE;
            return Task_Complete(Self->Owner, nullptr);
        }
        if (RunsStarted >= WORKFLOWRUN_START_LIMIT) {
            char Text[TASK_NAME_SIZE + 96];
            String_Print(Text, (int32)sizeof(Text), "workflow run \"%s\" not started: a process starts at most %d runs",
                         Task_GetNamePtr(Self->Owner), WORKFLOWRUN_START_LIMIT);
            Task_AddErrorAlways(Self->Owner, WORKFLOWRUN_ERROR_TOO_MANY);
            Task_AddErrorAlways(Self->Owner, Text);
            Self->Busy = FALSE;
            return Task_Complete(Self->Owner, nullptr);
        }
        RunsStarted++;
        Workflow_Create(&Self->Flow);
        Workflow_SetTaskHandle(Self->Flow, Self->Owner);
        Workflow_RegisterCustomTasks(Self->Flow);
        if (String_CompareWithoutCase(Task_GetNamePtr(Self->Owner), "global")) Workflow_SetGlobal(Self->Flow, TRUE);
        Task_Print(Self->Owner, "Created workflow - %s\n", FlowId(Self->Flow));
        NotificationCenter_AddObserver("WorkflowEvent", "Complete", Self, OnEventComplete);
        Self->Observing = TRUE;
        uint32 Remote = FALSE;
        if (Task_GetBooleanArgument(Self->Owner, "isRemote", &Remote) && Remote) WatchRequesterCancel(Self, true);
        FireRunStart(Self);
    }
    FireWorkflowStatus(Self, true, false);
    Workflow_ClearErrors(Self->Flow);
    if (!Task_HasArgument(Self->Owner, "cache")) Task_SetStatusString(Self->Owner, "#cache", "workflow");
    uint32 Elevated = FALSE;
    Task_GetBooleanArgument(Self->Owner, "elevated", &Elevated);
    if (Elevated && !WorkflowRun_IsElevated() && WorkflowApplication_IsWorker()) {
        // The elevator ran the worker without elevating it: handing the run
        // on would only start another worker like this one.
        Task_Print(Self->Owner, "Elevation required to run workflow, but this worker is not elevated\n");
        Task_AddErrorAlways(Self->Owner, "Launch_Error_RunElevated");
        Task_AddErrorAlways(Self->Owner, WORKFLOWRUN_TEXT_NOT_ELEVATED);
        Self->Busy = FALSE;
        return Task_Complete(Self->Owner, nullptr);
    }
    if (Elevated && !WorkflowRun_IsElevated()) Task_Print(Self->Owner, "Elevation %s to run workflow\n", "required");
    else Task_VerboseLog(Self->Owner, 1, "Elevation %s to run workflow\n", "not required");
    return WorkflowRunInt_Fetch(Self);
}

int32 OnRunTaskCancel(void *User, const char *, const char *, const char *, Dictionary *) {
    WorkflowRun *Self = static_cast<WorkflowRun *>(User);
    if (Task_IsCompleted(Self->Owner)) return TRUE;
    // A run whose document could not be fetched runs nothing: the cancel
    // only ends its wait for a retry, and it ends as the failure it is.
    bool FetchFailed = !Self->Busy && !Self->Fetching && !Self->HandedOver && Self->FetchFailed;
    if (!FetchFailed) Task_AddErrorAlways(Self->Owner, TASK_ERROR_CANCELLED);
    if (Self->HandedOver) return WorkflowRunInt_CancelHandOver(Self);
    if (Self->Flow != nullptr) {
        if (!Workflow_IsTaskQueued(Self->Flow, "unload")) Workflow_QueueTask(Self->Flow, "unload", nullptr, nullptr);
        return TRUE;
    }
    return Task_Complete(Self->Owner, nullptr);
}

// A child run's task stays with its parent's workflow until that ends (a
// Queue of runs keeps every one it ran), and the child's workflow with it:
// what its parent reads of it afterwards is the task's outcome and errors,
// never the child's definitions or macros. Holding those (and their charge
// to the memory budget) would make memory grow with the number of runs in a
// row, so they go when the child has nothing left running. A run of no
// parent (the program's own) keeps its document: the program still asks it
// which entries it has.
void DropChildDocument(WorkflowRun *Self) {
    Workflow *Parent = nullptr;
    int32 Count = 0;
    if (Self->Flow == nullptr || !Task_GetWorkflowHandle(Self->Owner, &Parent) || Parent == nullptr ||
        !Workflow_GetTaskCount(Self->Flow, &Count) || Count != 0 || Workflow_HasQueuedEvent(Self->Flow) ||
        Workflow_IsActivated(Self->Flow))
        return;
    Dictionary *Held = nullptr;
    if (Workflow_GetDictionaryHandle(Self->Flow, &Held) && Held != nullptr) Dictionary_Reset(Held);
    Held = nullptr;
    if (Workflow_GetMacroDictionaryHandle(Self->Flow, &Held) && Held != nullptr) Dictionary_Reset(Held);
}

int32 OnRunTaskComplete(void *User, const char *, const char *, const char *, Dictionary *) {
    WorkflowRun *Self = static_cast<WorkflowRun *>(User);
    // Only the program's own completion counts: a page or a document's
    // Notification task may fire the same names with any sender and words.
    if (!NotificationCenter_IsOwnFire()) return TRUE;
    // A fetch still under way is dropped with its result.
    WorkflowRunInt_CancelFetch(Self);
    WorkflowRunInt_EndHandOver(Self);
    DropChildDocument(Self);
    Self->Busy = FALSE;
    return TRUE;
}

const char *const TaskObserved[] = {"Start", "Retry", "Cancel", "Complete"};
const NotificationCenter_ObserverFunc TaskObservers[] = {OnRunTaskStart, OnRunTaskStart, OnRunTaskCancel,
                                                         OnRunTaskComplete};

int32 DeleteObject(void *HandleAddress) { return WorkflowRun_Delete(static_cast<WorkflowRun **>(HandleAddress)); }

} // namespace

const TaskInterface WorkflowRun_INTERFACE = {"WorkflowRun", WorkflowRun_Create, WorkflowRun_AddRef,
                                             WorkflowRun_Release};

int32 WorkflowRun_Init(void) {
    Debug_Assert(GlobalWorkflowRun == NULL, "WorkflowRun already initialized");
    GlobalWorkflowRun = new GlobalRunState();
    GlobalWorkflowRun->Class.ClassId = GLOBALWORKFLOWRUN_CLASSID;
    NotificationCenter_AddObserver("WorkflowRun", "Start", GlobalWorkflowRun, OnStartRequest);
    NotificationCenter_AddObserver("WorkflowRun", "Stop", GlobalWorkflowRun, OnStop);
    return TRUE;
}

int32 WorkflowRun_Remove(void) {
    if (GlobalWorkflowRun == nullptr) return TRUE;
    NotificationCenter_RemoveObserver("WorkflowRun", "Start", GlobalWorkflowRun, OnStartRequest);
    NotificationCenter_RemoveObserver("WorkflowRun", "Stop", GlobalWorkflowRun, OnStop);
    for (Task *Each : GlobalWorkflowRun->Live) {
        NotificationCenter_RemoveInstanceObserver("Task", "Complete", TaskId(Each), GlobalWorkflowRun, OnGlobalComplete);
        WatchRequester(Each, false);
        Task_Release(&Each);
    }
    for (Task *Each : GlobalWorkflowRun->Completed) Task_Release(&Each);
    for (auto &[Id, Each] : GlobalWorkflowRun->Kept)
        if (Each != nullptr) Task_Release(&Each);
    delete GlobalWorkflowRun;
    GlobalWorkflowRun = nullptr;
    return TRUE;
}

void *WorkflowRunInt_GetEndPoint(void) { return GlobalWorkflowRun != nullptr ? GlobalWorkflowRun->EndPoint : nullptr; }

int32 WorkflowRun_IsInitialized(void) { return GlobalWorkflowRun != nullptr; }

int32 WorkflowRun_GetRunningCount(void) {
    return GlobalWorkflowRun != nullptr ? __atomic_load_n(&GlobalWorkflowRun->RunningCount, __ATOMIC_SEQ_CST) : 0;
}

int32 WorkflowRun_HasRoomFor(int32 Asked) {
    if (GlobalWorkflowRun == nullptr) return TRUE;
    // A run asked for and not yet started takes its place in the limit now:
    // one that would be refused at its start is refused when it is asked.
    int64 Waiting = Asked;
    for (Task *Each : GlobalWorkflowRun->Live) {
        Workflow *Flow = nullptr;
        if (!Task_IsCompleted(Each) && !WorkflowRun_GetWorkflowHandle(Each, &Flow)) Waiting++;
    }
    return RunsStarted + Waiting < WORKFLOWRUN_START_LIMIT ? TRUE : FALSE;
}

int32 WorkflowRun_ClaimId(const char *Id) {
    Debug_CheckPointer(Id);
    // Without the runs' module nothing starts a run that could share it.
    if (GlobalWorkflowRun == nullptr) return TRUE;
    return GlobalWorkflowRun->Ids.emplace(Id).second ? TRUE : FALSE;
}

int32 WorkflowRun_Keep(const char *Id) {
    Debug_CheckPointer(Id);
    if (GlobalWorkflowRun == nullptr || GlobalWorkflowRun->Ids.count(Id) != 0) return FALSE;
    return GlobalWorkflowRun->Kept.emplace(Id, nullptr).second ? TRUE : FALSE;
}

int32 WorkflowRun_GetKept(const char *Id, Task **Run) {
    Debug_CheckPointer(Id);
    Debug_CheckPointer(Run);
    *Run = nullptr;
    if (GlobalWorkflowRun == nullptr) return FALSE;
    auto Found = GlobalWorkflowRun->Kept.find(Id);
    if (Found == GlobalWorkflowRun->Kept.end() || Found->second == nullptr) return FALSE;
    *Run = Found->second;
    return TRUE;
}

int32 WorkflowRun_ReleaseKept(const char *Id) {
    Debug_CheckPointer(Id);
    if (GlobalWorkflowRun == nullptr) return FALSE;
    auto Found = GlobalWorkflowRun->Kept.find(Id);
    if (Found == GlobalWorkflowRun->Kept.end()) return FALSE;
    Task *Run = Found->second;
    GlobalWorkflowRun->Kept.erase(Found);
    if (Run != nullptr) Task_Release(&Run);
    return TRUE;
}

int32 WorkflowRun_GetWorkflowHandle(Task *Run, Workflow **Flow) {
    Class_CheckHandle(Run, TASK_CLASSID);
    Debug_CheckPointer(Flow);
    *Flow = nullptr;
    const TaskInterface *Record = nullptr;
    void *Object = nullptr;
    if (!Task_GetInterface(Run, &Record) || Record->Create != WorkflowRun_Create || !Task_GetInterfaceHandle(Run, &Object) ||
        Object == nullptr)
        return FALSE;
    *Flow = static_cast<WorkflowRun *>(Object)->Flow;
    return *Flow != nullptr;
}

int32 WorkflowRun_GetStartedCount(void) { return GlobalWorkflowRun != nullptr ? (int32)GlobalWorkflowRun->StartCount : 0; }

int32 WorkflowRun_SetNotificationEndPointHandle(void *EndPoint) {
    if (GlobalWorkflowRun == nullptr) return FALSE;
    GlobalWorkflowRun->EndPoint = EndPoint;
    return TRUE;
}

int32 WorkflowRun_IsElevated(void) {
    if (ElevatedOverride >= 0) return ElevatedOverride;
    int32 Elevated = 0;
    Platform_IsElevated(&Elevated);
    return Elevated;
}

int32 WorkflowRun_SetElevatedOverride(int32 Value) {
    ElevatedOverride = Value < 0 ? -1 : (Value != 0);
    return TRUE;
}

int32 WorkflowRun_Create(void **Handle, Task *Owner) {
    Debug_CheckPointer(Handle);
    Class_CheckHandle(Owner, TASK_CLASSID);
    WorkflowRun *Self = Memory_New(WorkflowRun);
    Class_InitHeader(Self, WORKFLOWRUN_CLASSID, DeleteObject);
    Class_GenerateInstanceId(Self);
    Class_TrackInstance(Self, Self->Class.InstanceId);
    Self->Owner = Owner;
    Dictionary_Create(&Self->Document);
    Task_SetDelayedCancel(Owner, TRUE);
    for (int32 Index = 0; Index < 4; Index++)
        NotificationCenter_AddInstanceObserver("Task", TaskObserved[Index], TaskId(Owner), Self, TaskObservers[Index]);
    *Handle = Self;
    return TRUE;
}

void *WorkflowRun_AddRef(void *Handle) {
    Class_CheckHandle(Handle, WORKFLOWRUN_CLASSID);
    return Class_AddRef(Handle);
}

int32 WorkflowRun_Release(void **Handle) {
    Debug_CheckPointer(Handle);
    Class_CheckHandle(*Handle, WORKFLOWRUN_CLASSID);
    return Class_Release(Handle);
}

int32 WorkflowRun_Delete(WorkflowRun **Handle) {
    Debug_CheckPointer(Handle);
    WorkflowRun *Self = *Handle;
    Class_CheckHandle(Self, WORKFLOWRUN_CLASSID);
    WorkflowRunInt_CancelFetch(Self);
    WorkflowRunInt_EndHandOver(Self);
    WorkflowRunInt_ReleaseWorker(Self);
    for (int32 Index = 0; Index < 4; Index++)
        NotificationCenter_RemoveInstanceObserver("Task", TaskObserved[Index], TaskId(Self->Owner), Self,
                                                  TaskObservers[Index]);
    if (Self->Observing) NotificationCenter_RemoveObserver("WorkflowEvent", "Complete", Self, OnEventComplete);
    WatchRequesterCancel(Self, false);
    if (Self->Flow != nullptr) {
        Workflow_UnregisterCustomTasks(Self->Flow);
        Workflow_UnregisterDefaultTasks(Self->Flow);
        Workflow_SetTaskHandle(Self->Flow, nullptr);
        Workflow_Release(&Self->Flow);
    }
    Dictionary_Release(&Self->Document);
    Class_UntrackInstance(Self->Class.InstanceId);
    Memory_Delete(Self);
    *Handle = nullptr;
    return TRUE;
}

// ---- The document's arrival ----

namespace {

// A workflow document is an object whose keys name tasks; anything else
// (an empty document, a list, a lone value) is said as what it is rather
// than taken for a workflow without tasks. Null for an object.
const char *NotAnObject(Dictionary *Parsed) {
    Dictionary *Inner = Parsed;
    Dictionary_SkipRoot(Parsed, &Inner);
    DictionaryItem *Item = nullptr;
    Dictionary_ItemGetFirst(Parsed, &Item);
    if (Item == nullptr) return ASYNCHTTP_TEXT_EMPTY;
    if (Inner != Parsed) return nullptr;
    for (; Item != nullptr; Dictionary_ItemGetNext(Parsed, Item, &Item)) {
        const char *Key = nullptr;
        int32 Type = DICTIONARY_TYPE_UNKNOWN;
        if (Dictionary_ItemGetKeyPtr(Parsed, Item, &Key) && Key != nullptr) continue;
        Dictionary_ItemGetType(Parsed, Item, &Type);
        switch (Type) {
        case DICTIONARY_TYPE_LIST: return "the workflow document is not an object: it is a list";
        case DICTIONARY_TYPE_STRING: return "the workflow document is not an object: it is a text";
        case DICTIONARY_TYPE_NULL: return "the workflow document is not an object: it is null";
        default: return "the workflow document is not an object: it is a single value";
        }
    }
    return nullptr;
}

// The merge a lift declined is a copy: charged to the memory budget, or
// refused, with why, before it is made.
bool MergeCharged(WorkflowRun *Self, Dictionary *Parsed) {
    Dictionary *Inner = Parsed;
    Dictionary_SkipRoot(Parsed, &Inner);
    int64 Cost = 0;
    if (Inner != nullptr) Dictionary_GetCost(Inner, &Cost);
    if (!MemoryBudget_Take(Cost)) {
        char Why[256];
        String_Print(Why, (int32)sizeof(Why),
                     "the document's copy (%lld KiB) passes the memory budget of %d MiB that a process's documents "
                     "and task arguments share",
                     (long long)(Cost >> 10), (int32)(MemoryBudget_GetLimit() >> 20));
        Task_Print(Self->Owner, "%s\n", Why);
        Task_AddErrorAlways(Self->Owner, TASK_ERROR_TOO_MANY);
        Task_AddErrorAlways(Self->Owner, Why);
        return false;
    }
    if (Inner != nullptr) Dictionary_Merge(Self->Document, Inner, DICTIONARY_MERGE_OVERWRITE);
    Dictionary_HoldCharge(Self->Document, Cost);
    return true;
}

} // namespace

int32 WorkflowRunInt_DocumentArrived(WorkflowRun *Self, int32 Error, int32 SubCode, Dictionary *Parsed) {
    // A run cancelled or otherwise completed while fetching stays ended.
    // So does one whose workflow is being unloaded: its "load" never runs.
    if (Task_IsCompleted(Self->Owner) || Self->Flow == nullptr || Workflow_IsTaskQueued(Self->Flow, "unload") ||
        Workflow_IsTaskRunning(Self->Flow, "unload")) {
        Task_Print(Self->Owner, "Document dropped: the run is ending\n");
        Self->Busy = FALSE;
        return TRUE;
    }
    if (const char *Refused = Error == 0 && Parsed != nullptr ? NotAnObject(Parsed) : nullptr) {
        Task_Print(Self->Owner, "%s\n", Refused);
        Task_AddError(Self->Owner, "%s", Refused);
        Task_RequestTellRefused(Self->Owner, Self->Url, Refused);
        Parsed = nullptr;
    }
    if (Error == 0 && Parsed != nullptr) {
        // Taken whole, never copied: the tasks are lifted from under the
        // reader's unnamed root. Only a document the lift declines (one
        // that repeats a key, which the merge folds) is merged.
        int32 Count = 0;
        if (Dictionary_ItemGetCount(Self->Document, &Count) && Count == 0 && Dictionary_LiftRoot(Parsed)) {
            Dictionary_Release(&Self->Document);
            Self->Document = Dictionary_AddRef(Parsed);
        } else if (!MergeCharged(Self, Parsed)) {
            Parsed = nullptr;
        }
        bool Refused = false;
        if (Parsed != nullptr && !WorkflowRunInt_Prepare(Self, Self->Document, &Refused)) {
            Self->Busy = FALSE;
            return TRUE;
        }
        if (Refused) Parsed = nullptr;
        if (WorkflowApplication_GetVerbose() > 1) Dictionary_Dump(Self->Document);
    }
    Dictionary *Payload = nullptr, *Arguments = nullptr, *Definition = nullptr, *Status = nullptr;
    if (Error != 0 || Parsed == nullptr) {
        Task_Print(Self->Owner, "Failed to load workflow json (Err: %d/%d)\n", Error, SubCode);
        Task_AddError(Self->Owner, "WorkflowRun_Error_Request");
        Self->FetchFailed = TRUE;
    }
    Dictionary_Create(&Payload);
    Dictionary_SetStringByKey(Payload, "task", TaskId(Self->Owner));
    Dictionary_SetStringByKey(Payload, "workflow", FlowId(Self->Flow));
    Dictionary_SetStringByKey(Payload, "url", Self->Url);
    Dictionary_AddDictionary(Payload, "arguments", &Arguments, nullptr);
    Task_GetDictionaryHandle(Self->Owner, &Definition);
    Task_GetStatusDictionaryHandle(Self->Owner, &Status);
    Dictionary_Merge(Arguments, Definition, DICTIONARY_MERGE_OVERWRITE);
    if (Status != nullptr) Dictionary_Merge(Arguments, Status, 0);
    // Every attempt clears the errors to an empty list, which is no error.
    Dictionary *Errors = nullptr;
    int32 ErrorCount = 0;
    if (Status != nullptr && Dictionary_GetListByKey(Status, "errors", &Errors) && Errors != nullptr)
        Dictionary_ItemGetCount(Errors, &ErrorCount);
    Dictionary_SetBooleanByKey(Payload, "successful", ErrorCount == 0);
    NotificationCenter_FireOwn("WorkflowRun", "Run", TaskId(Self->Owner), Payload);
    Dictionary_Release(&Payload);
    if (Error != 0 || Parsed == nullptr) {
        // A run inside "load" or "unload" has failed for good: it completes,
        // and its workflow goes on as after any failed task there.
        bool Final = InsideLoadOrUnload(Self->Owner);
        FireWorkflowStatus(Self, false, !Final);
        char Text[512];
        for (int32 Index = 0; Task_GetError(Self->Owner, Index, Text, (int32)sizeof(Text)); Index++)
            Workflow_AddError(Self->Flow, "%s", Text);
        if (Final) {
            Self->Busy = FALSE;
            return Task_Complete(Self->Owner, nullptr);
        }
    } else {
        FireWorkflowStatus(Self, false, false);
        Workflow_TakeDictionary(Self->Flow, Self->Document);
        Dictionary_Release(&Self->Document);
        Dictionary_Create(&Self->Document);
        Workflow_RunTask(Self->Flow, "load", nullptr, nullptr);
    }
    Self->Busy = FALSE;
    return TRUE;
}

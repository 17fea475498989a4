// Workflow events (see workflow_event.h).
#include "workflow/workflow_event.h"

#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "runtime/log.h"
#include "runtime/memory.h"
#include "runtime/notification/notification_center.h"
#include "runtime/text/string.h"
#include "runtime/time.h"
#include "workflow/workflow_application.h"
#include "workflow/workflow_internal.h"
#include "workflow/workflow_run.h"

struct WorkflowEvent {
    ClassStruct Class;
    Workflow *Owner; // referenced from Start to completion
    Dictionary *Macros;
    char Name[WORKFLOWEVENT_NAME_SIZE];
    uint32 Queued;
    uint32 Waiting;
    uint32 Dropped;  // ended without running: its workflow unloads
    uint32 Finished; // its own "Complete" is fired
    float64 StartTime;
    float64 CompleteTime;
    Task *Parent;
    Task *Running; // referenced while it runs
    void *User;
    WorkflowEvent_CompleteFunc Callback;
};

namespace {

constexpr int32 CancelRetryMilliseconds = 1000;

// Events not yet deleted. Nothing but the notification center's observers
// leads to an event that waits or runs, so the engine's end finds them here.
std::vector<WorkflowEvent *> Live;

const char *Id(WorkflowEvent *Self) { return Self->Class.InstanceId; }
const char *FlowId(Workflow *Flow) { return ((ClassStruct *)Flow)->InstanceId; }

int32 OnReady(void *, const char *, const char *, const char *, Dictionary *);
int32 OnStart(void *, const char *, const char *, const char *, Dictionary *);
int32 OnComplete(void *, const char *, const char *, const char *, Dictionary *);
int32 OnTaskComplete(void *, const char *, const char *, const char *, Dictionary *);

void FireNamed(WorkflowEvent *Self, const char *Step) {
    Dictionary *Payload = nullptr;
    Dictionary_Create(&Payload);
    Dictionary_SetStringByKey(Payload, "name", Self->Name);
    Dictionary_SetStringByKey(Payload, "workflow", FlowId(Self->Owner));
    NotificationCenter_FireAfterDelay("WorkflowEvent", Step, Id(Self), 0, Payload);
    Dictionary_Release(&Payload);
}

// A waiting event's look at its queue, the loop's own: a page that hears it
// and nothing else has nothing to do.
void FireWait(WorkflowEvent *Self, int32 Delay) {
    Dictionary *Payload = nullptr;
    Dictionary_Create(&Payload);
    Dictionary_SetStringByKey(Payload, "name", Self->Name);
    Dictionary_SetBooleanByKey(Payload, "canRemote", FALSE);
    NotificationCenter_FireAfterDelayOwn("WorkflowEvent", "Wait", Id(Self), Delay, Payload);
    Dictionary_Release(&Payload);
}

void GoReady(WorkflowEvent *Self) {
    Self->Owner->ReadyEventCount++;
    Workflow_Print(Self->Owner, "Event %s ready\n", Self->Name);
    FireNamed(Self, "Ready");
}

void FireActivation(Workflow *Flow, const char *Name) {
    char Remote[WORKFLOW_REMOTE_ID_SIZE] = "";
    Workflow_GetRemoteInstanceId(Flow, Remote, (int32)sizeof(Remote));
    Dictionary *Payload = nullptr;
    Dictionary_Create(&Payload);
    Dictionary_SetStringByKey(Payload, "sender", Remote);
    NotificationCenter_Fire("Workflow", Name, FlowId(Flow), Payload);
    Dictionary_Release(&Payload);
}

// The queue is read by its values, the names as given: a key does not keep
// every name as it is (".a" is kept as "a"), and an event that never found
// its name at the head would hold every later one, "unload" too, for ever.
int32 HeadOfQueue(Workflow *Flow, const char **Name) {
    DictionaryItem *First = nullptr;
    *Name = nullptr;
    if (!Dictionary_ItemGetFirst(Flow->EventQueue, &First) || First == nullptr) return FALSE;
    return Dictionary_ItemGetStringPtr(Flow->EventQueue, First, Name);
}

int32 OnWait(void *, const char *, const char *, const char *, Dictionary *);
int32 OnIdle(void *, const char *, const char *, const char *, Dictionary *);

// Leaves the queue and goes ready when the workflow is idle and the event
// heads its queue; false while it must wait on.
bool LeaveQueue(WorkflowEvent *Self) {
    Workflow *Flow = Self->Owner;
    const char *Head = nullptr;
    int32 HasHead = HeadOfQueue(Flow, &Head);
    if (Workflow_IsActivated(Flow) || (HasHead && Head != nullptr && !String_Compare(Head, Self->Name))) return false;
    Flow->Cancelling = FALSE;
    Self->Waiting = FALSE;
    NotificationCenter_RemoveInstanceObserver("WorkflowEvent", "Wait", Id(Self), Self, OnWait);
    NotificationCenter_RemoveInstanceObserver("Workflow", "Deactivate", FlowId(Flow), Self, OnIdle);
    DictionaryItem *Item = nullptr;
    for (Dictionary_ItemGetFirst(Flow->EventQueue, &Item); Item != nullptr;
         Dictionary_ItemGetNext(Flow->EventQueue, Item, &Item)) {
        const char *Queued = nullptr;
        if (Dictionary_ItemGetStringPtr(Flow->EventQueue, Item, &Queued) && Queued != nullptr &&
            String_Compare(Queued, Self->Name)) {
            Dictionary_Remove(Flow->EventQueue, &Item);
            break;
        }
    }
    GoReady(Self);
    return true;
}

int32 OnWait(void *User, const char *, const char *, const char *, Dictionary *) {
    WorkflowEvent *Self = static_cast<WorkflowEvent *>(User);
    if (!Self->Waiting || LeaveQueue(Self)) return TRUE;
    if (String_CompareWithoutCase(Self->Name, "unload")) {
        // Cancel again past the flag: leaves started after the first
        // cancel must be cancelled too.
        Self->Owner->Cancelling = FALSE;
        Workflow_CancelTasks(Self->Owner);
    }
    FireWait(Self, CancelRetryMilliseconds);
    return TRUE;
}

// The workflow came to rest: the event at the head of the queue starts now
// rather than at its next look a second later. An "unload" of runs nested
// in each other's would otherwise take a second for every level.
int32 OnIdle(void *User, const char *, const char *, const char *, Dictionary *) {
    WorkflowEvent *Self = static_cast<WorkflowEvent *>(User);
    if (Self->Waiting) LeaveQueue(Self);
    return TRUE;
}

int32 OnReady(void *User, const char *, const char *, const char *, Dictionary *) {
    WorkflowEvent *Self = static_cast<WorkflowEvent *>(User);
    NotificationCenter_RemoveInstanceObserver("WorkflowEvent", "Ready", Id(Self), Self, OnReady);
    NotificationCenter_AddInstanceObserver("WorkflowEvent", "Start", Id(Self), Self, OnStart);
    NotificationCenter_AddInstanceObserver("WorkflowEvent", "Complete", Id(Self), Self, OnComplete);
    Self->StartTime = Time_GetCurrent();
    FireNamed(Self, "Start");
    return TRUE;
}

void Finish(WorkflowEvent *Self, Dictionary *Result) {
    Self->CompleteTime = Time_GetCurrent();
    if (Self->Callback != nullptr) Self->Callback(Self->Owner, Self->User, Result);
    Dictionary_SetStringByKey(Result, "name", Self->Name);
    Dictionary_SetStringByKey(Result, "workflow", FlowId(Self->Owner));
    Dictionary_SetBooleanByKey(Result, "exists", Workflow_CanCreateTask(Self->Owner, Self->Name) ? TRUE : FALSE);
    Dictionary_SetBooleanByKey(Result, "global", Workflow_IsGlobal(Self->Owner) ? TRUE : FALSE);
    char Duration[64] = "";
    Time_DurationString(TIME_DURATION_LOG, Duration, (int32)sizeof(Duration), Self->CompleteTime - Self->StartTime);
    if (Duration[0] == 0) String_CopyLength(Duration, "0s", (int32)sizeof(Duration));
    uint32 Successful = FALSE;
    Dictionary_GetBooleanByKey(Result, "successful", &Successful);
    Workflow_Print(Self->Owner, "Event %s completed in %s (%d)\n", Self->Name, Duration, Successful ? 1 : 0);
    Self->Finished = TRUE;
    NotificationCenter_FireAfterDelayOwn("WorkflowEvent", "Complete", Id(Self), 0, Result);
}

// Whether a run in an "unload" of a workflow above runs this one: it runs
// whole while the application shuts down, as that unload's sub-tasks do.
bool RunsForUnload(Workflow *Flow) {
    Task *Run = nullptr;
    for (int32 Depth = 0; Depth <= WORKFLOWRUN_NESTING_LIMIT && Workflow_GetTaskHandle(Flow, &Run) && Run != nullptr &&
                          Task_GetWorkflowHandle(Run, &Flow) && Flow != nullptr;
         Depth++) {
        Task *Root = nullptr;
        if (!Workflow_GetRootTaskHandle(Flow, Run, &Root) || Root == nullptr) Root = Run;
        const char *Name = Task_GetNamePtr(Root);
        if (Name != nullptr && String_CompareWithoutCase(Name, "unload")) return true;
    }
    return false;
}

// Once the application shuts down nothing of a workflow starts but its
// "unload" (and what a run inside an "unload" runs): a "launch" queued while
// a shutdown waited would otherwise run after the shutdown had cancelled the
// rest.
bool ShutDownDrops(WorkflowEvent *Self) {
    return WorkflowApplication_IsShuttingDown() && !String_CompareWithoutCase(Self->Name, "unload") &&
           !RunsForUnload(Self->Owner);
}

// Completes the event at once, failed, without running, saying why.
void Drop(WorkflowEvent *Self) {
    Self->Dropped = TRUE;
    Self->StartTime = Time_GetCurrent();
    char Why[WORKFLOWEVENT_NAME_SIZE + 64];
    WorkflowEvent_NotRunText(Self->Name, Why, (int32)sizeof(Why));
    Workflow_Print(Self->Owner, "Event %s dropped: %s\n", Self->Name, Why);
    Dictionary *Result = nullptr, *Errors = nullptr;
    Dictionary_Create(&Result);
    Dictionary_SetBooleanByKey(Result, "successful", FALSE);
    Dictionary_SetBooleanByKey(Result, "dropped", TRUE);
    Dictionary_AddList(Result, "errors", &Errors, nullptr);
    Dictionary_AddString(Errors, nullptr, Why, nullptr);
    Finish(Self, Result);
    Dictionary_Release(&Result);
}

int32 OnTaskStart(void *User, const char *, const char *, const char *Instance, Dictionary *) {
    NotificationCenter_RemoveInstanceObserver("Task", "Start", Instance, User, OnTaskStart);
    return TRUE;
}

int32 OnStart(void *User, const char *, const char *, const char *, Dictionary *) {
    WorkflowEvent *Self = static_cast<WorkflowEvent *>(User);
    Workflow *Flow = Self->Owner;
    NotificationCenter_RemoveInstanceObserver("WorkflowEvent", "Start", Id(Self), Self, OnStart);
    // Made before a shutdown that came while it waited: it starts nothing
    // either, and the unload made after it does not wait on it.
    if (ShutDownDrops(Self)) {
        if (Flow->ReadyEventCount > 0) Flow->ReadyEventCount--;
        Drop(Self);
        return TRUE;
    }
    if (Flow->ActiveEventCount == 0) FireActivation(Flow, "Activate");
    Flow->ActiveEventCount++;
    if (Flow->ReadyEventCount > 0) Flow->ReadyEventCount--;
    Task *Created = nullptr;
    if (!Workflow_CreateTaskWithMacros(Flow, Self->Name, nullptr, Self->Macros, Self->Parent, &Created)) {
        Dictionary *Result = nullptr, *Errors = nullptr;
        Dictionary_Create(&Result);
        Dictionary_SetBooleanByKey(Result, "successful", FALSE);
        // Whoever watches the event learns why a task the document names
        // could not be made ("unload" and the state tasks may be absent).
        char Why[WORKFLOW_CREATE_ERROR_SIZE];
        if (Workflow_CanCreateTask(Flow, Self->Name) && Workflow_GetCreateTaskError(Flow, Why, (int32)sizeof(Why)) &&
            Dictionary_AddList(Result, "errors", &Errors, nullptr)) {
            if (Flow->CreatePastBudget) Dictionary_AddString(Errors, nullptr, TASK_ERROR_TOO_MANY, nullptr);
            Dictionary_AddString(Errors, nullptr, Why, nullptr);
        }
        Finish(Self, Result);
        Dictionary_Release(&Result);
        return TRUE;
    }
    Self->Running = Task_AddRef(Created);
    const char *TaskId = ((ClassStruct *)Created)->InstanceId;
    NotificationCenter_AddInstanceObserver("Task", "Start", TaskId, Self, OnTaskStart);
    NotificationCenter_AddInstanceObserver("Task", "Complete", TaskId, Self, OnTaskComplete);
    Task_Start(Created);
    return TRUE;
}

int32 OnTaskComplete(void *User, const char *, const char *, const char *Instance, Dictionary *Info) {
    WorkflowEvent *Self = static_cast<WorkflowEvent *>(User);
    if (!NotificationCenter_IsOwnFire()) {
        Log_Warning("WorkflowEvent - %s - a completion of its task not fired by the task refused\n", Self->Name);
        return TRUE;
    }
    NotificationCenter_RemoveInstanceObserver("Task", "Complete", Instance, Self, OnTaskComplete);
    NotificationCenter_RemoveInstanceObserver("Task", "Start", Instance, Self, OnTaskStart);
    Dictionary *Result = nullptr;
    Dictionary_Create(&Result);
    if (Info != nullptr) Dictionary_Merge(Result, Info, DICTIONARY_MERGE_OVERWRITE);
    // A completion fired by a document or a script may leave the outcome
    // out; whoever carries the workflow on needs one, and one that does not
    // say it succeeded did not.
    uint32 Successful = FALSE;
    if (!Dictionary_GetBooleanByKey(Result, "successful", &Successful))
        Dictionary_SetBooleanByKey(Result, "successful", FALSE);
    if (WorkflowApplication_IsShuttingDown()) Dictionary_SetBooleanByKey(Result, "shutdown", TRUE);
    Finish(Self, Result);
    Dictionary_Release(&Result);
    Task *Done = Self->Running;
    Self->Running = nullptr;
    Workflow_ClearTasksByHandle(Self->Owner, Done);
    Task_Release(&Done);
    return TRUE;
}

int32 OnComplete(void *User, const char *, const char *, const char *, Dictionary *) {
    WorkflowEvent *Self = static_cast<WorkflowEvent *>(User);
    // Anyone may fire this with the event's id (a document's Notification
    // task, a page): one fired before the event finished would free it
    // under its running task, whose completion then reached no one.
    if (!Self->Finished || !NotificationCenter_IsOwnFire()) {
        Log_Warning("WorkflowEvent - %s - completion refused: the event is still running\n", Self->Name);
        return TRUE;
    }
    NotificationCenter_RemoveInstanceObserver("WorkflowEvent", "Complete", Id(Self), Self, OnComplete);
    Workflow *Flow = Self->Owner;
    if (!Self->Dropped && Flow->ActiveEventCount > 0 && --Flow->ActiveEventCount == 0)
        FireActivation(Flow, "Deactivate");
    WorkflowEvent_Release(&Self);
    return TRUE;
}

// Once an "unload" is made for a workflow, or the application shuts down
// (ShutDownDrops), no event made after it starts but "unload": it completes
// at once, failed, without running, saying why. Events made before an unload
// keep their turn in the queue, ahead of it, which cancels what still runs;
// before a shutdown, they are dropped as they would start. The gate every
// event passes as it is made.
bool DropIfUnloading(WorkflowEvent *Self) {
    Workflow *Flow = Self->Owner;
    if (String_CompareWithoutCase(Self->Name, "unload")) Flow->Unloading = TRUE;
    if ((!Flow->Unloading && !ShutDownDrops(Self)) || String_CompareWithoutCase(Self->Name, "unload")) return false;
    NotificationCenter_RemoveInstanceObserver("WorkflowEvent", "Ready", Id(Self), Self, OnReady);
    NotificationCenter_AddInstanceObserver("WorkflowEvent", "Complete", Id(Self), Self, OnComplete);
    Drop(Self);
    return true;
}

int32 DeleteObject(void *HandleAddress) { return WorkflowEvent_Delete(static_cast<WorkflowEvent **>(HandleAddress)); }

int32 MakeEvent(Workflow *Handle, const char *Name, Dictionary *Macros, Task *Parent, uint32 Queued, void *User,
                WorkflowEvent_CompleteFunc Function) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    Debug_CheckPointer(Name);
    WorkflowEvent *Event = nullptr;
    WorkflowEvent_Create(&Event);
    WorkflowEvent_SetWorkflowHandle(Event, Handle);
    if (Macros != nullptr) WorkflowEvent_SetMacroDictionary(Event, Macros);
    WorkflowEvent_SetParentTaskHandle(Event, Parent);
    WorkflowEvent_SetQueued(Event, Queued);
    WorkflowEvent_SetCompleteCallback(Event, User, Function);
    return WorkflowEvent_Start(Event, Name);
}

} // namespace

int32 WorkflowEvent_Create(WorkflowEvent **Handle) {
    Debug_CheckPointer(Handle);
    WorkflowEvent *Self = Memory_New(WorkflowEvent);
    Class_InitHeader(Self, WORKFLOWEVENT_CLASSID, DeleteObject);
    Class_GenerateInstanceId(Self);
    Class_TrackInstance(Self, Self->Class.InstanceId);
    Live.push_back(Self);
    *Handle = Self;
    return TRUE;
}

int32 WorkflowEvent_Delete(WorkflowEvent **Handle) {
    Debug_CheckPointer(Handle);
    WorkflowEvent *Self = *Handle;
    Class_CheckHandle(Self, WORKFLOWEVENT_CLASSID);
    NotificationCenter_RemoveInstanceObserver("WorkflowEvent", "Wait", Id(Self), Self, OnWait);
    if (Self->Waiting && Self->Owner != nullptr)
        NotificationCenter_RemoveInstanceObserver("Workflow", "Deactivate", FlowId(Self->Owner), Self, OnIdle);
    NotificationCenter_RemoveInstanceObserver("WorkflowEvent", "Ready", Id(Self), Self, OnReady);
    NotificationCenter_RemoveInstanceObserver("WorkflowEvent", "Start", Id(Self), Self, OnStart);
    NotificationCenter_RemoveInstanceObserver("WorkflowEvent", "Complete", Id(Self), Self, OnComplete);
    if (Self->Running != nullptr) {
        const char *TaskId = ((ClassStruct *)Self->Running)->InstanceId;
        NotificationCenter_RemoveInstanceObserver("Task", "Start", TaskId, Self, OnTaskStart);
        NotificationCenter_RemoveInstanceObserver("Task", "Complete", TaskId, Self, OnTaskComplete);
        Task_Release(&Self->Running);
    }
    if (Self->Macros != nullptr) Dictionary_Release(&Self->Macros);
    if (Self->Owner != nullptr) Workflow_Release(&Self->Owner);
    Live.erase(std::remove(Live.begin(), Live.end(), Self), Live.end());
    Class_UntrackInstance(Self->Class.InstanceId);
    Memory_Delete(Self);
    *Handle = nullptr;
    return TRUE;
}

CLASS_DEFINE_REFERENCE(WorkflowEvent, WorkflowEvent, WORKFLOWEVENT_CLASSID)

int32 WorkflowEvent_IsNotRunText(const char *Text) {
    char Shut[WORKFLOWEVENT_NAME_SIZE + 64], Unloaded[WORKFLOWEVENT_NAME_SIZE + 64];
    if (Text == nullptr) return FALSE;
    const char *Quote = strchr(Text, '"');
    std::string Name = Quote != nullptr ? std::string(Quote + 1, strcspn(Quote + 1, "\"")) : "";
    if (Name.size() >= WORKFLOWEVENT_NAME_SIZE) return FALSE;
    String_Print(Shut, (int32)sizeof(Shut), "the workflow was shut down before \"%s\" ran", Name.c_str());
    String_Print(Unloaded, (int32)sizeof(Unloaded), "the workflow was unloaded before \"%s\" ran", Name.c_str());
    return String_Compare(Text, Shut) || String_Compare(Text, Unloaded);
}

int32 WorkflowEvent_NotRunText(const char *Name, char *Output, int32 Size) {
    Debug_CheckPointer(Name);
    String_Print(Output, Size, "the workflow was %s before \"%s\" ran",
                 WorkflowApplication_IsShuttingDown() ? "shut down" : "unloaded", Name);
    return TRUE;
}

int32 WorkflowEvent_RemoveAll(void) {
    // Deleting one releases its workflow, whose end deletes no event.
    while (!Live.empty()) {
        WorkflowEvent *Each = Live.back();
        WorkflowEvent_Delete(&Each);
    }
    return TRUE;
}

int32 WorkflowEvent_SetWorkflowHandle(WorkflowEvent *Handle, Workflow *Owner) {
    Class_CheckHandle(Handle, WORKFLOWEVENT_CLASSID);
    Class_CheckHandle(Owner, WORKFLOW_CLASSID);
    Handle->Owner = Owner; // referenced in Start
    return TRUE;
}

int32 WorkflowEvent_SetMacroDictionary(WorkflowEvent *Handle, Dictionary *Macros) {
    Class_CheckHandle(Handle, WORKFLOWEVENT_CLASSID);
    if (Handle->Macros != nullptr) Dictionary_Release(&Handle->Macros);
    if (Macros == nullptr) return TRUE;
    Dictionary *Inner = nullptr;
    if (!Dictionary_SkipRoot(Macros, &Inner) || Inner == nullptr) Inner = Macros;
    Dictionary_Create(&Handle->Macros);
    return Dictionary_Merge(Handle->Macros, Inner, DICTIONARY_MERGE_OVERWRITE);
}

int32 WorkflowEvent_SetMacroDictionaryHandle(WorkflowEvent *Handle, Dictionary *Macros) {
    Class_CheckHandle(Handle, WORKFLOWEVENT_CLASSID);
    if (Handle->Macros != nullptr) Dictionary_Release(&Handle->Macros);
    Handle->Macros = Macros != nullptr ? Dictionary_AddRef(Macros) : nullptr;
    return TRUE;
}

int32 WorkflowEvent_SetParentTaskHandle(WorkflowEvent *Handle, Task *Parent) {
    Class_CheckHandle(Handle, WORKFLOWEVENT_CLASSID);
    Handle->Parent = Parent;
    return TRUE;
}

int32 WorkflowEvent_SetQueued(WorkflowEvent *Handle, uint32 Flag) {
    Class_CheckHandle(Handle, WORKFLOWEVENT_CLASSID);
    Handle->Queued = Flag;
    return TRUE;
}

int32 WorkflowEvent_SetCompleteCallback(WorkflowEvent *Handle, void *User, WorkflowEvent_CompleteFunc Function) {
    Class_CheckHandle(Handle, WORKFLOWEVENT_CLASSID);
    Handle->User = User;
    Handle->Callback = Function;
    return TRUE;
}

int32 WorkflowEvent_Start(WorkflowEvent *Handle, const char *Name) {
    Class_CheckHandle(Handle, WORKFLOWEVENT_CLASSID);
    Debug_CheckPointer(Name);
    Class_CheckHandle(Handle->Owner, WORKFLOW_CLASSID);
    String_CopyLength(Handle->Name, Name, (int32)sizeof(Handle->Name));
    NotificationCenter_AddInstanceObserver("WorkflowEvent", "Ready", Id(Handle), Handle, OnReady);
    Workflow_AddRef(Handle->Owner);
    if (DropIfUnloading(Handle)) return TRUE;
    if (!Handle->Queued) {
        GoReady(Handle);
        return TRUE;
    }
    Workflow_Print(Handle->Owner, "Event %s waiting\n", Handle->Name);
    Dictionary_AddString(Handle->Owner->EventQueue, Handle->Name, Handle->Name, nullptr);
    Handle->Waiting = TRUE;
    NotificationCenter_AddInstanceObserver("WorkflowEvent", "Wait", Id(Handle), Handle, OnWait);
    NotificationCenter_AddInstanceObserver("Workflow", "Deactivate", FlowId(Handle->Owner), Handle, OnIdle);
    FireWait(Handle, 0);
    return TRUE;
}

int32 Workflow_RunTask(Workflow *Handle, const char *Name, void *User, WorkflowEvent_CompleteFunc Function) {
    return MakeEvent(Handle, Name, nullptr, nullptr, FALSE, User, Function);
}

int32 Workflow_RunTaskWithMacros(Workflow *Handle, const char *Name, Dictionary *Macros, Task *Parent, void *User,
                                 WorkflowEvent_CompleteFunc Function) {
    return MakeEvent(Handle, Name, Macros, Parent, FALSE, User, Function);
}

int32 Workflow_QueueTask(Workflow *Handle, const char *Name, void *User, WorkflowEvent_CompleteFunc Function) {
    return MakeEvent(Handle, Name, nullptr, nullptr, TRUE, User, Function);
}

int32 Workflow_QueueTaskWithMacros(Workflow *Handle, const char *Name, Dictionary *Macros, Task *Parent, void *User,
                                   WorkflowEvent_CompleteFunc Function) {
    return MakeEvent(Handle, Name, Macros, Parent, TRUE, User, Function);
}

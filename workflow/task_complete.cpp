// A task's life: start, cancel, sub-actions and sub-tasks, and the
// completion protocol every task type ends with. Every step of a chain runs
// on a later notification step (workflow/task_event.h).
//
// A cancel is always recorded, whatever "ignoreError" says, and decides the
// outcome: a cancelled task is never successful and runs no "success" or
// "failure" step. A "complete" sub-action may turn a success into a failure
// but never a failed task into a success.
#include <string.h>

#include <iterator>

#include "runtime/documents/json.h"
#include "runtime/log.h"
#include "runtime/memory.h"
#include "runtime/notification/notification_center.h"
#include "runtime/script/interop.h"
#include "runtime/text/string.h"
#include "runtime/text/string_print.h"
#include "runtime/time.h"
#include "workflow/task_event.h"
#include "workflow/task_arguments.h"
#include "workflow/task_internal.h"
#include "workflow/workflow.h"
#include "workflow/app/workflow_app.h"

namespace {

constexpr int32 ExpandedTextSize = 1024;
constexpr int32 SubTaskNameSize = 512;

// The state a completion carries through its "success"/"failure" and
// "complete" steps.
struct Completion {
    TaskEvent *Event;
    Dictionary *Result;
};

// A sub-task run: the event it completes and the task it waits for.
struct SubTaskRun {
    TaskEvent *Event;
    Task *Child;
};

// The first element of a "status" List, the second, or a "status" String,
// read as an argument is: a text that does not fit, once expanded, or holds
// a NUL is refused, not shown cut.
bool ReadStatusText(Task *Handle, int32 Index, char *Output, int32 Size) {
    int32 Type = DICTIONARY_TYPE_UNKNOWN;
    if (!Task_GetArgumentType(Handle, "status", &Type)) return false;
    const char *Text = nullptr;
    int32 Length = 0;
    if (Type == DICTIONARY_TYPE_LIST) {
        Dictionary *List = nullptr;
        Dictionary_GetListByKey(Handle->Definition, "status", &List);
        DictionaryItem *Item = nullptr;
        if (!Dictionary_ItemFindByIndex(List, Index, nullptr, &Item) || Dictionary_ItemIsContainer(List, Item) ||
            !Dictionary_ItemGetBufferPtr(List, Item, &Text, &Length))
            return false;
    } else if (Type == DICTIONARY_TYPE_STRING && Index == 0) {
        Dictionary_GetBufferPtrByKey(Handle->Definition, "status", &Text, &Length);
    }
    if (Text == nullptr) return false;
    const char *What = Type == DICTIONARY_TYPE_LIST ? "an element of \"status\"" : "\"status\"";
    return TaskInt_ReadText(Handle, What, Text, Length, Output, Size);
}

TaskKeptPairs &KeptResults() {
    static TaskKeptPairs Each("successful", "cancelled", DICTIONARY_TYPE_BOOLEAN);
    return Each;
}

bool HasAncestorNamedUnload(Task *Handle) {
    for (Task *Walk = Handle; Walk != nullptr; Walk = TaskInt_GetParent(Walk))
        if (String_CompareWithoutCase(Walk->Name, "unload")) return true;
    return false;
}

// A step that ran into a depth or budget limit fails the task whose step it
// was, and so on up the chain: a chain of "success" steps that ran away ends
// as a failure that says why, though a step's result is otherwise not the
// task's.
void AdoptLimit(Task *Handle, Dictionary *Result) {
    if (!TaskInt_ResultHitLimit(Result)) return;
    Dictionary *Errors = nullptr;
    Dictionary_GetListByKey(Result, "errors", &Errors);
    DictionaryItem *Item = nullptr;
    const char *Text = nullptr;
    for (Dictionary_ItemGetFirst(Errors, &Item); Item != nullptr; Dictionary_ItemGetNext(Errors, Item, &Item))
        if (Dictionary_ItemGetStringPtr(Errors, Item, &Text) && Text != nullptr && !Task_HasError(Handle, Text))
            Task_AddErrorAlways(Handle, Text);
}

bool HitLimit(Task *Handle) {
    const char *Text = nullptr;
    for (int32 Index = 0; Task_GetErrorPtr(Handle, Index, &Text); Index++)
        if (TaskInt_IsLimitError(Text)) return true;
    return false;
}

// Each text of From that To lacks, in order.
void AppendMissing(Dictionary *To, Dictionary *From) {
    DictionaryItem *Item = nullptr, *Other = nullptr;
    const char *Text = nullptr, *Held = nullptr;
    for (Dictionary_ItemGetFirst(From, &Item); Item != nullptr; Dictionary_ItemGetNext(From, Item, &Item)) {
        if (!Dictionary_ItemGetStringPtr(From, Item, &Text) || Text == nullptr) continue;
        bool Found = false;
        for (Dictionary_ItemGetFirst(To, &Other); Other != nullptr && !Found; Dictionary_ItemGetNext(To, Other, &Other))
            Found = Dictionary_ItemGetStringPtr(To, Other, &Held) && Held != nullptr && String_Compare(Held, Text);
        if (!Found) Dictionary_AddString(To, nullptr, Text, nullptr);
    }
}

void FinishCompletion(Task *Handle, Completion *State, Dictionary *CompleteResult) {
    Handle->EndTime = Time_GetCurrent();
    Handle->Completed = TRUE;
    Handle->Completing = FALSE;
    // The "complete" step may only make things worse for a task with errors.
    if (CompleteResult != nullptr && !Task_HasError(Handle, nullptr)) {
        uint32 Flag = 0;
        if (Dictionary_GetBooleanByKey(CompleteResult, "successful", &Flag))
            Dictionary_SetBooleanByKey(State->Result, "successful", Flag);
        if (Dictionary_GetBooleanByKey(CompleteResult, "cancelled", &Flag))
            Dictionary_SetBooleanByKey(State->Result, "cancelled", Flag);
        // A task that fails only through its step fails for the step's
        // reasons: without them nobody could tell why (a "load" runs the
        // document's own "load" as its step).
        Dictionary *Errors = nullptr, *Kept = nullptr;
        if (Dictionary_GetBooleanByKey(CompleteResult, "successful", &Flag) && !Flag &&
            Dictionary_GetListByKey(CompleteResult, "errors", &Errors) && Errors != nullptr &&
            (Dictionary_GetListByKey(State->Result, "errors", &Kept) ||
             Dictionary_AddList(State->Result, "errors", &Kept, nullptr)) &&
            Kept != nullptr)
            AppendMissing(Kept, Errors);
    } else if (CompleteResult != nullptr) {
        uint32 Flag = 1;
        if (Dictionary_GetBooleanByKey(CompleteResult, "successful", &Flag) && !Flag)
            Dictionary_SetBooleanByKey(State->Result, "successful", FALSE);
    }
    // Its own step was refused, or a step's step: the chain did not run.
    if (HitLimit(Handle)) Dictionary_SetBooleanByKey(State->Result, "successful", FALSE);
    Task_CopyErrors(Handle, State->Result);
    Task_CopyWarnings(Handle, State->Result);
    Handle->FinalResult = State->Result;
    NotificationCenter_FireOwn("Task", "Complete", Handle->Class.InstanceId, State->Result);
    Handle->FinalResult = nullptr;
    if (Handle->StatusObserved) {
        NotificationCenter_RemoveInstanceObserver("Task", "Status", Handle->Class.InstanceId, Handle,
                                                  TaskInt_StatusObserver);
        Handle->StatusObserved = FALSE;
        TaskInt_Budget().Running--;
    }
    // The completion event has no callback: nothing reads its result.
    TaskEvent_Complete(State->Event, nullptr);
    KeptResults().Keep(&State->Result);
    Memory_Delete(State);
}

int32 AfterCompleteStep(Task *Handle, void *User, Dictionary *Result) {
    AdoptLimit(Handle, Result);
    FinishCompletion(Handle, static_cast<Completion *>(User), Result);
    return TRUE;
}

// A completion step, unless its own value was refused (or not reached) by
// the check of the arguments: then an event that completes at once stands
// in for it, and the chain goes on.
int32 RunStep(Task *Handle, const char *Key, void *User, Task_SubActionFunc Callback);

int32 AfterOutcomeStep(Task *Handle, void *User, Dictionary *Result) {
    AdoptLimit(Handle, Result);
    return RunStep(Handle, "complete", User, AfterCompleteStep);
}

// Whether a new sub-task of Handle would pass one of the process's budgets;
// if so, Why says which, for the summary. Needed: what the copy of its
// definition would cost.
bool OverBudget(Task *Handle, int64 Needed, char *Why, int32 Size) {
    TaskBudget &Budget = TaskInt_Budget();
    if (Budget.Live.load() >= Budget.LiveLimit)
        String_Print(Why, Size, "a process holds at most %d live tasks", (int32)Budget.LiveLimit);
    else if (Budget.Running.load() >= Budget.RunningLimit)
        String_Print(Why, Size, "a process runs at most %d tasks at once", (int32)Budget.RunningLimit);
    else if (Budget.Started.load() >= Budget.StartLimit)
        String_Print(Why, Size, "a process starts at most %d tasks", (int32)Budget.StartLimit);
    else if (MemoryBudget_GetUsed() + Needed > MemoryBudget_GetLimit())
        TaskInt_BudgetWords(Why, Size, Needed);
    else if (Workflow_IsPastBudget(Handle->Owner) && !HasAncestorNamedUnload(Handle))
        String_Print(Why, Size, "its workflow ran past a task budget");
    else
        return false;
    Workflow_SetPastBudget(Handle->Owner);
    return true;
}

int32 OnChildComplete(void *User, const char *, const char *, const char *Instance, Dictionary *Info) {
    SubTaskRun *Run = static_cast<SubTaskRun *>(User);
    // Only the program's own completion counts: a page or a document's
    // Notification task may fire the same names with any sender and words.
    if (!NotificationCenter_IsOwnFire()) return TRUE;
    NotificationCenter_RemoveInstanceObserver("Task", "Complete", Instance, Run, OnChildComplete);
    if (Info != nullptr && Info == Run->Child->FinalResult) TaskEventInt_CompleteWithFinalResult(Run->Event, Info);
    else TaskEvent_Complete(Run->Event, Info);
    Task_Release(&Run->Child);
    Memory_Delete(Run);
    return TRUE;
}

int32 RaiseScriptCallback(Task *Handle, void *User, Dictionary *Result) {
    InteropCallback *Callback = static_cast<InteropCallback *>(User);
    Dictionary *Item = nullptr;
    Dictionary_Create(&Item);
    Dictionary_SetStringByKey(Item, "callbackId", Interop_GetCallbackId(Callback));
    Dictionary_SetStringByKey(Item, "type", "Task");
    Dictionary_SetStringByKey(Item, "sender", Handle->Class.InstanceId);
    Dictionary *Info = nullptr;
    Dictionary_AddDictionary(Item, "info", &Info, nullptr);
    if (Result != nullptr) Dictionary_Merge(Info, Result, DICTIONARY_MERGE_OVERWRITE);
    Interop_RaiseCallback(Callback, Item);
    Dictionary_Release(&Item);
    Interop_ReleaseCallback(&Callback);
    return TRUE;
}

} // namespace

int32 Task_Start(Task *Handle) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    TaskInt_Budget().Started++;
    Handle->Starts++;
    Handle->StartTime = Time_GetCurrent();
    Handle->EndTime = 0;
    Handle->Completed = FALSE;
    Handle->RefusedArgument = FALSE;
    Handle->StepsRefused = 0;
    if (!Handle->StatusObserved) {
        NotificationCenter_AddInstanceObserver("Task", "Status", Handle->Class.InstanceId, Handle,
                                               TaskInt_StatusObserver);
        Handle->StatusObserved = TRUE;
        TaskInt_Budget().Running++;
    }
    // The start notice carries a copy of the definition: charged to the
    // memory budget while the notice lives. One the budget cannot hold is
    // never made, and the task fails.
    int64 Cost = 0;
    Dictionary_GetCost(Handle->Definition, &Cost);
    if (!MemoryBudget_Take(Cost)) {
        char Why[224], Text[TASK_NAME_SIZE + 256];
        TaskInt_BudgetWords(Why, (int32)sizeof(Why), Cost);
        String_Print(Text, (int32)sizeof(Text), "task \"%s\" not started: %s", Handle->Name, Why);
        Task_AddErrorAlways(Handle, TASK_ERROR_TOO_MANY);
        Task_AddErrorAlways(Handle, Text);
        return Task_Complete(Handle, nullptr);
    }
    Dictionary *Payload = nullptr;
    Dictionary_Create(&Payload);
    Dictionary_HoldCharge(Payload, Cost);
    Dictionary *Copy = nullptr;
    Dictionary_AddDictionary(Payload, Handle->Name, &Copy, nullptr);
    Dictionary_Merge(Copy, Handle->Definition, DICTIONARY_MERGE_OVERWRITE);
    // The keys below differ from each other; only the task's name may
    // already stand among them.
    auto Set = [&](const char *Key, const char *Value) {
        if (String_CompareWithoutCase(Handle->Name, Key)) Dictionary_SetStringByKey(Payload, Key, Value);
        else Dictionary_AddString(Payload, Key, Value, nullptr);
    };
    if (Handle->Interface != nullptr) Set("type", Handle->Interface->Name);
    Set("name", Handle->Name);
    const char *WorkflowText = nullptr;
    if (Dictionary_GetStringPtrByKey(Handle->Definition, "workflow", &WorkflowText) && WorkflowText != nullptr)
        Set("workflow", WorkflowText);
    else if (Handle->Owner != nullptr)
        Set("workflow", ((ClassStruct *)Handle->Owner)->InstanceId);
    char Text[ExpandedTextSize];
    if (Task_GetStringArgument(Handle, "title", Text, (int32)sizeof(Text))) Set("title", Text);
    if (ReadStatusText(Handle, 0, Text, (int32)sizeof(Text))) Set("status", Text);
    // Made for this fire alone and let go at once: the fire shares it.
    NotificationCenter_FireAfterDelayShared("Task", "Start", Handle->Class.InstanceId, 0, Payload);
    Dictionary_Release(&Payload);
    return TRUE;
}

int32 Task_TakeStart(Task *Handle) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    if (Handle->StartsTaken == Handle->Starts) {
        Task_Print(Handle, "Start refused: the task was not started again\n");
        return FALSE;
    }
    Handle->StartsTaken = Handle->Starts;
    // A task cancelled (or otherwise ended) between its start and its type's
    // turn does nothing: its completion has run already.
    if (Handle->Completing || Handle->Completed) {
        Task_Print(Handle, "Start refused: the task ended before it began\n");
        return FALSE;
    }
    // The type's start runs only on a definition the check passed: a task
    // with a refused or missing argument acts on nothing (the check has
    // completed it).
    return TaskInt_CheckArguments(Handle) ? TRUE : FALSE;
}

int32 Task_Complete(Task *Handle, Dictionary *Result) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    if (Handle->Completing || Handle->Completed) return FALSE;
    // Whoever hears the completion has heard the errors it reports.
    TaskInt_FlushLists(Handle);
    Handle->Completing = TRUE;
    const bool CancelError = Task_IsCancelled(Handle) != 0;
    uint32 Cancelled = CancelError ? 1 : 0;
    bool HasErrors = CancelError || Task_HasError(Handle, nullptr) != 0;
    uint32 Successful = HasErrors ? 0 : 1;
    if (Result != nullptr) {
        uint32 Flag = 0;
        if (!HasErrors && Dictionary_GetBooleanByKey(Result, "successful", &Flag)) Successful = Flag;
        if (!Cancelled && Dictionary_GetBooleanByKey(Result, "cancelled", &Flag)) Cancelled = Flag;
    }
    const char *Key = "failure";
    // Only an observer of the status set here could add a cancel from now on.
    bool CancelledNow = CancelError;
    if (Successful && !Cancelled) {
        Key = "success";
        char Status[ExpandedTextSize];
        if (ReadStatusText(Handle, 1, Status, (int32)sizeof(Status))) {
            Task_SetStatus(Handle, Status);
            CancelledNow = Task_IsCancelled(Handle) != 0;
        } else if (Task_IsArgumentRefused(Handle) && Task_HasError(Handle, nullptr)) {
            // The refusal is an error of this task, unless "ignoreError"
            // ignored it: it is no success.
            Successful = 0;
            Key = "failure";
        }
    }

    Completion *State = Memory_New(Completion);
    // The outcome decided above stands over what the caller's result claimed.
    const uint32 Outcome = Successful && !CancelledNow ? 1 : 0;
    if (Result != nullptr) {
        Dictionary_Create(&State->Result);
        Dictionary_Merge(State->Result, Result, DICTIONARY_MERGE_OVERWRITE);
        Dictionary_SetBooleanByKey(State->Result, "successful", Outcome);
        Dictionary_SetBooleanByKey(State->Result, "cancelled", Cancelled);
    } else {
        // Nearly every task completes without a result of its own.
        State->Result = KeptResults().Make(Outcome, Cancelled);
    }
    TaskEvent_Create(&State->Event);
    TaskEvent_SetTaskHandle(State->Event, Handle);
    TaskEvent_Start(State->Event, Handle->Name);

    if (CancelledNow) {
        Task_VerboseLog(Handle, 1, "Cancelled\n");
        FinishCompletion(Handle, State, nullptr);
        return TRUE;
    }
    Task_VerboseLog(Handle, 1, "Completed\n");
    // A refused task acts on nothing but its own steps (where it cleans up
    // or recovers), and of those not on one that was the refused value.
    return RunStep(Handle, Key, State, AfterOutcomeStep);
}

void TaskInt_DropStep(Task_SubActionFunc Function, void *User) {
    // A completion's own steps carry its state; other callers' users belong
    // to their tasks.
    if (User == nullptr || (Function != AfterOutcomeStep && Function != AfterCompleteStep)) return;
    Completion *State = static_cast<Completion *>(User);
    TaskEvent_Release(&State->Event);
    if (State->Result != nullptr) Dictionary_Release(&State->Result);
    Memory_Delete(State);
}

// A page's completion: the text must be a JSON object; "successful" and
// "cancelled", when given, must be true or false. Refused text leaves the
// task running and says why; a flag of another kind is no outcome the page
// can claim, so the task fails with the reason rather than pass on a guess.
int32 Task_CompleteInterop(Task *Handle, const char *JsonText) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    Debug_CheckPointer(JsonText);
    // A second completion changes nothing: its caller hears so.
    if (Handle->Completing || Handle->Completed) {
        Log_Warning("Task %s - complete refused: the task has completed already\n", Handle->Name);
        return FALSE;
    }
    Dictionary *Parsed = nullptr;
    Dictionary_Create(&Parsed);
    // A page's text: charged while it lives, refused past the memory budget.
    int32 Refused = FALSE;
    int32 Loaded = JSON_LoadTextCharged(Parsed, JsonText, &Refused);
    DictionaryItem *Top = nullptr, *After = nullptr;
    Dictionary *Result = nullptr;
    if (Loaded && Dictionary_ItemGetFirst(Parsed, &Top) && Top != nullptr &&
        Dictionary_ItemCompareType(Parsed, Top, DICTIONARY_TYPE_DICTIONARY) &&
        !(Dictionary_ItemGetNext(Parsed, Top, &After) && After != nullptr))
        Dictionary_ItemGetDictionaryHandle(Parsed, Top, &Result);
    if (Result == nullptr) {
        const char *Why = Loaded ? "is not a JSON object" : "does not parse as JSON";
        Log_Error("Task %s - complete refused: its json %s\n", Handle->Name, Why);
        Task_AddWarning(Handle, "complete refused: its json %s", Why);
        Dictionary_Release(&Parsed);
        return FALSE;
    }
    for (const char *Flag : {"successful", "cancelled"}) {
        DictionaryItem *Item = nullptr;
        if (!Dictionary_ItemFindByKey(Result, Flag, nullptr, &Item) || Item == nullptr ||
            Dictionary_ItemCompareType(Result, Item, DICTIONARY_TYPE_BOOLEAN))
            continue;
        char Why[96];
        String_Print(Why, (int32)sizeof(Why), "complete: \"%s\" is not true or false", Flag);
        Task_AddErrorAlways(Handle, Why);
    }
    Task_Complete(Handle, Result);
    Dictionary_Release(&Parsed);
    return TRUE;
}

int32 Task_Cancel(Task *Handle) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    if (Task_IsCompleted(Handle) || Task_IsCancelled(Handle) || Handle->DelayedCancelFired) return FALSE;
    if (Handle->DelayedCancel) {
        Task_Print(Handle, "Cancel delayed\n");
        Handle->DelayedCancelFired = TRUE;
        NotificationCenter_Fire("Task", "Cancel", Handle->Class.InstanceId, nullptr);
        return TRUE;
    }
    Task_Print(Handle, "Cancel\n");
    // A task cancelled before its start must still record the cancel, or it
    // would complete as a success.
    if (!Handle->StatusObserved) {
        NotificationCenter_AddInstanceObserver("Task", "Status", Handle->Class.InstanceId, Handle,
                                               TaskInt_StatusObserver);
        Handle->StatusObserved = TRUE;
        TaskInt_Budget().Running++;
    }
    Task_AddErrorAlways(Handle, TASK_ERROR_CANCELLED);
    Task_Complete(Handle, nullptr);
    return TRUE;
}

int32 Task_SetDelayedCancel(Task *Handle, uint32 Flag) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    Handle->DelayedCancel = Flag;
    return TRUE;
}

int32 Task_GetDelayedCancel(Task *Handle, uint32 *Flag) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    Debug_CheckPointer(Flag);
    *Flag = Handle->DelayedCancel;
    return TRUE;
}

int32 Task_GetDelayedCancelFired(Task *Handle, uint32 *Flag) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    Debug_CheckPointer(Flag);
    *Flag = Handle->DelayedCancelFired;
    return TRUE;
}

void TaskInt_ForgetCompletionResults(void) {
    KeptResults().Forget();
}

int32 Task_IsCompleted(Task *Handle) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    return Handle->Completed != 0;
}

int32 Task_IsCancelled(Task *Handle) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    return Task_HasError(Handle, TASK_ERROR_CANCELLED);
}

int32 Task_GetTimeElapsed(Task *Handle, float64 *Seconds) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    Debug_CheckPointer(Seconds);
    float64 End = Handle->Completed ? Handle->EndTime : Time_GetCurrent();
    *Seconds = End - Handle->StartTime;
    return TRUE;
}

// ---- Sub-actions ----

namespace {

// A sub-task whose name was refused (TaskInt_ReadText said why) runs
// nothing: its event completes at once, the refusal being the task's error.
int32 SubTaskRefused(Task *Handle, void *User, Task_SubActionFunc Callback) {
    TaskEvent *Event = nullptr;
    TaskEvent_Create(&Event);
    TaskEvent_SetTaskHandle(Event, Handle);
    TaskEvent_SetCompleteCallback(Event, User, Callback);
    TaskEvent_Start(Event, "");
    return TaskEvent_Complete(Event, nullptr);
}

int32 RunStep(Task *Handle, const char *Key, void *User, Task_SubActionFunc Callback) {
    // The steps in the order of their bits in Task::StepsRefused.
    constexpr const char *Steps[] = {"success", "failure", "complete"};
    for (size_t Index = 0; Index < std::size(Steps); Index++)
        if (strcmp(Key, Steps[Index]) == 0 && (Handle->StepsRefused & (1u << Index)) != 0)
            return SubTaskRefused(Handle, User, Callback);
    return Task_RunSubAction(Handle, Key, User, Callback);
}

} // namespace

int32 Task_RunSubActionNext(Task *Handle, const char *Key, Dictionary *NextResult, void *User,
                            Task_SubActionFunc Callback) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    Debug_CheckPointer(Key);
    DictionaryItem *Item = nullptr;
    if (Dictionary_ItemFindByKey(Handle->Definition, Key, nullptr, &Item)) {
        const char *Name = nullptr;
        int32 Length = 0;
        if (Dictionary_ItemCompareType(Handle->Definition, Item, DICTIONARY_TYPE_STRING) &&
            Dictionary_ItemGetBufferPtr(Handle->Definition, Item, &Name, &Length) && Name != nullptr) {
            char Copy[SubTaskNameSize], What[SubTaskNameSize];
            String_Print(What, (int32)sizeof(What), "\"%s\"", Key);
            if (!TaskInt_ReadText(Handle, What, Name, Length, Copy, (int32)sizeof(Copy), false))
                return SubTaskRefused(Handle, User, Callback);
            return Task_RunSubTask(Handle, Copy, nullptr, User, Callback);
        }
        Dictionary *Action = nullptr;
        int32 Type = DICTIONARY_TYPE_UNKNOWN;
        if (Dictionary_ItemCompareType(Handle->Definition, Item, DICTIONARY_TYPE_DICTIONARY) &&
            Dictionary_ItemGetDictionaryHandle(Handle->Definition, Item, &Action) &&
            Dictionary_GetTypeByKey(Action, "action", &Type) && Type == DICTIONARY_TYPE_STRING) {
            const char *ActionName = nullptr;
            int32 Length = 0;
            DictionaryItem *ActionItem = nullptr;
            if (Dictionary_ItemFindByKey(Action, "action", nullptr, &ActionItem) &&
                Dictionary_ItemGetBufferPtr(Action, ActionItem, &ActionName, &Length) && ActionName != nullptr) {
                char Copy[SubTaskNameSize];
                if (!TaskInt_ReadText(Handle, "\"action\"", ActionName, Length, Copy, (int32)sizeof(Copy), false))
                    return SubTaskRefused(Handle, User, Callback);
                Dictionary *Arguments = nullptr;
                Dictionary_Create(&Arguments);
                Dictionary_Merge(Arguments, Action, DICTIONARY_MERGE_OVERWRITE);
                Dictionary_RemoveByKey(Arguments, "action");
                int32 Result = Task_RunSubTask(Handle, Copy, Arguments, User, Callback);
                Dictionary_Release(&Arguments);
                return Result;
            }
        }
    }
    TaskEvent *Event = nullptr;
    TaskEvent_Create(&Event);
    TaskEvent_SetTaskHandle(Event, Handle);
    TaskEvent_SetCompleteCallback(Event, User, Callback);
    TaskEvent_Start(Event, Key);
    TaskEvent_Complete(Event, NextResult);
    return TRUE;
}

int32 Task_RunSubAction(Task *Handle, const char *Key, void *User, Task_SubActionFunc Callback) {
    return Task_RunSubActionNext(Handle, Key, nullptr, User, Callback);
}

int32 Task_RunSubTask(Task *Handle, const char *Name, Dictionary *Arguments, void *User, Task_SubActionFunc Callback) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    Debug_CheckPointer(Name);
    char Expanded[SubTaskNameSize];
    if (!TaskInt_ReadText(Handle, "a sub-task name", Name, (int32)strlen(Name), Expanded, (int32)sizeof(Expanded)))
        return SubTaskRefused(Handle, User, Callback);
    Task_Print(Handle, "Running subtask %s\n", Expanded);
    TaskEvent *Event = nullptr;
    TaskEvent_Create(&Event);
    TaskEvent_SetTaskHandle(Event, Handle);
    TaskEvent_SetCompleteCallback(Event, User, Callback);
    TaskEvent_Start(Event, Expanded);

    if (Task_IsCancelled(Handle)) {
        Task_Print(Handle, "Cancelled subtask %s\n", Expanded);
        return TaskEvent_Complete(Event, nullptr);
    }
    if (WorkflowApp_IsShuttingDown() && !HasAncestorNamedUnload(Handle)) {
        Task_Print(Handle, "Shutdown prevented subtask from running (%s)\n", Expanded);
        Task_AddErrorAlways(Handle, TASK_ERROR_CANCELLED);
        return TaskEvent_Complete(Event, nullptr);
    }
    int32 Depth = 0;
    if (Handle->Owner != nullptr && Workflow_GetTaskDepth(Handle->Owner, Handle, &Depth) && Depth >= TASK_DEPTH_LIMIT) {
        char Text[SubTaskNameSize + 96];
        String_Print(Text, (int32)sizeof(Text), "task \"%s\" not run: tasks nest at most %d levels deep", Expanded,
                     TASK_DEPTH_LIMIT);
        Task_AddErrorAlways(Handle, TASK_ERROR_TOO_DEEP);
        Task_AddErrorAlways(Handle, Text);
        return TaskEvent_Complete(Event, nullptr);
    }
    if (char Limit[224]; Handle->Owner != nullptr &&
                         OverBudget(Handle, TaskInt_DefinitionCost(Handle->Owner, Expanded, Arguments), Limit,
                                    (int32)sizeof(Limit))) {
        char Text[SubTaskNameSize + 256];
        String_Print(Text, (int32)sizeof(Text), "task \"%s\" not run: %s", Expanded, Limit);
        Task_AddErrorAlways(Handle, TASK_ERROR_TOO_MANY);
        Task_AddErrorAlways(Handle, Text);
        return TaskEvent_Complete(Event, nullptr);
    }
    Task *Child = nullptr;
    if (Handle->Owner == nullptr || !Workflow_CreateTask(Handle->Owner, Expanded, Arguments, Handle, &Child)) {
        Task_AddError(Handle, "%s", "Task_Error_MissingSubTask");
        char Why[WORKFLOW_CREATE_ERROR_SIZE];
        if (Handle->Owner != nullptr && Workflow_GetCreateTaskError(Handle->Owner, Why, (int32)sizeof(Why)))
            Task_AddError(Handle, "%s", Why);
        return TaskEvent_Complete(Event, nullptr);
    }
    SubTaskRun *Run = Memory_New(SubTaskRun);
    Run->Event = Event;
    Run->Child = Task_AddRef(Child);
    NotificationCenter_AddInstanceObserver("Task", "Complete", Child->Class.InstanceId, Run, OnChildComplete);
    return Task_Start(Child);
}

int32 Task_RunSubActionInterop(Task *Handle, const char *Key, const char *CallbackId) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    Debug_CheckPointer(Key);
    Debug_CheckPointer(CallbackId);
    InteropCallback *Callback = nullptr;
    if (!Interop_AddCallback(CallbackId, nullptr, Interop_Execute, &Callback)) return FALSE;
    return Task_RunSubAction(Handle, Key, Callback, RaiseScriptCallback);
}

int32 Task_SubAction_Complete(Task *Handle, void *, Dictionary *Result) { return Task_Complete(Handle, Result); }

int32 Task_SubAction_Null(Task *, void *, Dictionary *) { return TRUE; }

// The Progress task (see progress_task.h).
#include "workflow/tasks/progress_task.h"

#include <string.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "runtime/memory.h"
#include "runtime/notification/notification_center.h"
#include "runtime/text/string.h"
#include "runtime/text/string_print.h"
#include "runtime/time.h"
#include "workflow/workflow.h"

struct Progress {
    ClassStruct Class;
    ClassPrintStruct Print;
    Task *Owner;
    Queue *Actions;
    Dictionary *Bounds;     // progress id -> bound, in chain order
    Dictionary *Incomplete; // task name -> progress id
    Dictionary *Timed;      // task id -> progress id, while timed progress runs
    float64 MaxPercentage;
    float64 MaxChainDepth;
    uint32 WaitPaused;
    float64 WaitInterval;
    float64 LastWaitTime;
    float64 LastOverall;
    uint32 Manual;
    uint32 TickObserved;
};

CLASSPRINT_DEFINE(Progress, Progress, PROGRESS_CLASSID, "Progress", Print)

namespace {

constexpr int32 NameSize = 512;
constexpr int32 IdSize = 64;
// The most task visits one chain walk makes (see Progress_BuildTaskChain).
constexpr int32 MaxChainVisits = 100000;

const char *Id(Progress *Self) { return Self->Class.InstanceId; }
const char *OwnerId(Progress *Self) { return ((ClassStruct *)Self->Owner)->InstanceId; }

Dictionary *Document(Progress *Self) {
    Workflow *Flow = nullptr;
    Dictionary *Doc = nullptr;
    if (!Task_GetWorkflowHandle(Self->Owner, &Flow) || Flow == nullptr) return nullptr;
    Workflow_GetDictionaryHandle(Flow, &Doc);
    return Doc;
}

Dictionary *Definition(Progress *Self, const char *Name) {
    Dictionary *Doc = Document(Self), *Def = nullptr;
    // A name longer than any task's names none (its first bytes would find
    // another task).
    if (Doc == nullptr || strlen(Name) > DICTIONARY_MAX_KEY_LENGTH || !Dictionary_GetDictionaryByKey(Doc, Name, &Def))
        return nullptr;
    return Def;
}

// The private keys read back under either spelling, as the Dictionary
// stores them with or without private-key handling.
int32 GetPrivateText(Dictionary *Def, const char *Key, char *Buffer, int32 Size) {
    char Hashed[64];
    String_CopyLength(Hashed, "#", (int32)sizeof(Hashed));
    String_CatLength(Hashed, Key, (int32)sizeof(Hashed));
    return Dictionary_GetStringByKey(Def, Key, Buffer, Size) || Dictionary_GetStringByKey(Def, Hashed, Buffer, Size);
}

void RemovePrivate(Dictionary *Def, const char *Key) {
    char Hashed[64];
    String_CopyLength(Hashed, "#", (int32)sizeof(Hashed));
    String_CatLength(Hashed, Key, (int32)sizeof(Hashed));
    Dictionary_RemoveByKey(Def, Hashed);
    Dictionary_RemoveByKey(Def, Key);
}

Dictionary *Bound(Progress *Self, const char *BoundId, bool Create) {
    Dictionary *Found = nullptr;
    if (Dictionary_GetDictionaryByKey(Self->Bounds, BoundId, &Found) && Found != nullptr) return Found;
    if (!Create) return nullptr;
    Dictionary_AddDictionary(Self->Bounds, BoundId, &Found, nullptr);
    return Found;
}

float64 Number(Dictionary *Source, const char *Key, float64 Default) {
    float64 Value = Default;
    if (!Dictionary_GetFloat64ByKey(Source, Key, &Value)) Value = Default;
    return Value;
}

bool InOurWorkflow(Progress *Self, const char *TaskId) {
    Workflow *Flow = nullptr;
    Task *Found = nullptr;
    return Task_GetWorkflowHandle(Self->Owner, &Flow) && Flow != nullptr &&
           Workflow_FindTaskByInstanceId(Flow, TaskId, &Found);
}

int32 OnTick(void *User, const char *, const char *, const char *, Dictionary *);

void StopTimed(Progress *Self, const char *TaskId) {
    Dictionary_RemoveByKey(Self->Timed, TaskId);
    int32 Count = 0;
    Dictionary_ItemGetCount(Self->Timed, &Count);
    if (Count == 0 && Self->TickObserved) {
        NotificationCenter_RemoveProcessObserver(Id(Self), Self, OnTick);
        Self->TickObserved = FALSE;
    }
}

int32 OnTick(void *User, const char *, const char *, const char *, Dictionary *) {
    Progress *Self = static_cast<Progress *>(User);
    float64 Now = Time_GetCurrent();
    if (Self->WaitPaused || Now - Self->LastWaitTime < Self->WaitInterval) return TRUE;
    Self->LastWaitTime = Now;
    Progress_AddRef(Self);
    DictionaryItem *Item = nullptr;
    Dictionary_ItemGetFirst(Self->Timed, &Item);
    while (Item != nullptr) {
        DictionaryItem *Next = nullptr;
        Dictionary_ItemGetNext(Self->Timed, Item, &Next);
        const char *TaskId = nullptr, *BoundId = nullptr;
        Dictionary_ItemGetKeyPtr(Self->Timed, Item, &TaskId);
        Dictionary_ItemGetStringPtr(Self->Timed, Item, &BoundId);
        Dictionary *Entry = BoundId != nullptr ? Bound(Self, BoundId, false) : nullptr;
        if (Entry != nullptr && TaskId != nullptr) {
            float64 Time = Number(Entry, "progressWaitTime", 0), Limit = Number(Entry, "progressWaitLimit", 1.0);
            float64 Percent = Number(Entry, "percent", 0);
            if (Percent >= Limit || Time <= 0) {
                char Key[IdSize];
                String_CopyLength(Key, TaskId, (int32)sizeof(Key));
                StopTimed(Self, Key);
            } else {
                float64 Step = Percent + Limit * Self->WaitInterval / Time;
                char Key[IdSize];
                String_CopyLength(Key, BoundId, (int32)sizeof(Key));
                Progress_SetBoundsProgress(Self, Key, Step < 1.0 ? Step : 1.0);
            }
        }
        Item = Next;
    }
    Progress_Release(reinterpret_cast<void **>(&Self));
    return TRUE;
}

int32 OnAnyTaskStart(void *User, const char *, const char *, const char *Instance, Dictionary *Info) {
    Progress *Self = static_cast<Progress *>(User);
    if (Info == nullptr || Instance == nullptr || String_CompareWithoutCase(Instance, OwnerId(Self))) return TRUE;
    DictionaryItem *Item = nullptr;
    Dictionary *Def = nullptr;
    for (Dictionary_ItemGetFirst(Info, &Item); Item != nullptr; Dictionary_ItemGetNext(Info, Item, &Item))
        if (Dictionary_ItemCompareType(Info, Item, DICTIONARY_TYPE_DICTIONARY)) {
            Dictionary_ItemGetDictionaryHandle(Info, Item, &Def);
            break;
        }
    char BoundId[IdSize];
    if (Def == nullptr || !GetPrivateText(Def, "progressId", BoundId, (int32)sizeof(BoundId))) return TRUE;
    Dictionary *Entry = Bound(Self, BoundId, false);
    if (Entry == nullptr || !InOurWorkflow(Self, Instance)) return TRUE;
    Dictionary_SetStringByKey(Entry, "progressTask", Instance);
    if (Number(Entry, "progressWeight", 0) > 0 && Number(Entry, "progressWaitTime", 0) > 0) {
        Self->LastWaitTime = Time_GetCurrent();
        float64 Interval = Number(Entry, "progressWaitInterval", 0);
        Self->WaitInterval = Interval > 0 ? Interval : 1.0;
        uint32 Paused = FALSE;
        Dictionary_GetBooleanByKey(Entry, "progressWaitPaused", &Paused);
        Self->WaitPaused = Paused;
        Dictionary_SetStringByKey(Self->Timed, Instance, BoundId);
        if (!Self->TickObserved) {
            NotificationCenter_AddProcessObserver(Id(Self), Self, OnTick);
            Self->TickObserved = TRUE;
        }
    }
    return TRUE;
}

int32 OnAnyTaskStatus(void *User, const char *, const char *, const char *Instance, Dictionary *Info) {
    Progress *Self = static_cast<Progress *>(User);
    if (Info == nullptr || Instance == nullptr || !NotificationCenter_IsOwnFire() ||
        Dictionary_ContainsKey(Info, "overallProgress"))
        return TRUE;
    float64 Value = 0;
    if (!Dictionary_GetFloat64ByKey(Info, "progress", &Value)) return TRUE;
    char BoundId[IdSize];
    if (!Progress_GetBoundsIdByTask(Self, Instance, BoundId, (int32)sizeof(BoundId))) return TRUE;
    float64 Wait = 0;
    Progress_GetBoundsNumber(Self, BoundId, "progressWaitTime", &Wait);
    if (Wait == 0) Progress_SetBoundsProgress(Self, BoundId, Value);
    return TRUE;
}

int32 OnAnyTaskComplete(void *User, const char *, const char *, const char *Instance, Dictionary *Info) {
    Progress *Self = static_cast<Progress *>(User);
    if (Instance == nullptr || !NotificationCenter_IsOwnFire()) return TRUE;
    uint32 Successful = FALSE;
    if (Info != nullptr) Dictionary_GetBooleanByKey(Info, "successful", &Successful);
    if (String_CompareWithoutCase(Instance, OwnerId(Self))) {
        DictionaryItem *Last = nullptr;
        if (Successful && Dictionary_ItemGetLast(Self->Bounds, &Last) && Last != nullptr) {
            const char *BoundId = nullptr;
            Dictionary *Entry = nullptr;
            Dictionary_ItemGetKeyPtr(Self->Bounds, Last, &BoundId);
            Dictionary_ItemGetDictionaryHandle(Self->Bounds, Last, &Entry);
            if (BoundId != nullptr && Entry != nullptr && !Dictionary_ContainsKey(Entry, "percent")) {
                char Key[IdSize];
                String_CopyLength(Key, BoundId, (int32)sizeof(Key));
                Progress_VerboseLog(Self, 1, "%s - Marking last bound as complete\n", Task_GetNamePtr(Self->Owner));
                Progress_SetBoundsProgress(Self, Key, 1.0);
            }
        }
        return TRUE;
    }
    char BoundId[IdSize];
    if (!Progress_GetBoundsIdByTask(Self, Instance, BoundId, (int32)sizeof(BoundId))) return TRUE;
    StopTimed(Self, Instance);
    Dictionary *Entry = Bound(Self, BoundId, false);
    char Name[NameSize] = "";
    Dictionary_GetStringByKey(Entry, "progressTaskName", Name, (int32)sizeof(Name));
    Dictionary_RemoveByKey(Self->Incomplete, Name);
    if (Successful) Progress_SetBoundsProgress(Self, BoundId, 1.0);
    if (Dictionary *Def = Definition(Self, Name)) {
        RemovePrivate(Def, "progressId");
        RemovePrivate(Def, "progressTaskName");
    }
    return TRUE;
}

int32 OnTogglePause(void *User, const char *, const char *, const char *, Dictionary *) {
    Progress *Self = static_cast<Progress *>(User);
    Self->WaitPaused = !Self->WaitPaused;
    return TRUE;
}

void ReadBound(Progress *Self, const char *Name, Dictionary *Def, float64 *Remaining, Dictionary *Unweighted) {
    char BoundId[IdSize];
    if (Def == nullptr || !GetPrivateText(Def, "progressId", BoundId, (int32)sizeof(BoundId))) {
        Task_AddError(Self->Owner, "Unknown task in chain: %s", Name);
        return;
    }
    Dictionary *Entry = Bound(Self, BoundId, true);
    float64 Weight = Number(Def, "progressWeight", -1.0);
    Dictionary_SetFloat64ByKey(Entry, "progressWeight", Weight);
    Dictionary_SetFloat64ByKey(Entry, "progressWaitTime", Number(Def, "progressWaitTime", 0));
    Dictionary_SetFloat64ByKey(Entry, "progressWaitInterval", Number(Def, "progressWaitInterval", 0));
    Dictionary_SetFloat64ByKey(Entry, "progressWaitLimit", Number(Def, "progressWaitLimit", 1.0));
    uint32 Flag = FALSE;
    Dictionary_GetBooleanByKey(Def, "progressWaitPaused", &Flag);
    Dictionary_SetBooleanByKey(Entry, "progressWaitPaused", Flag);
    Flag = FALSE;
    Dictionary_GetBooleanByKey(Def, "progressAggregate", &Flag);
    Dictionary_SetBooleanByKey(Entry, "progressAggregate", Flag);
    Dictionary_SetStringByKey(Entry, "progressTaskName", Name);
    if (Weight >= 0 && Weight <= 1) *Remaining -= Weight;
    else Dictionary_SetStringByKey(Unweighted, BoundId, Name);
    Dictionary_SetStringByKey(Self->Incomplete, Name, BoundId);
}

int32 OnOwnStart(void *User, const char *, const char *, const char *, Dictionary *) {
    Progress *Self = static_cast<Progress *>(User);
    if (!Task_TakeStart(Self->Owner)) return TRUE;
    // Read again now that the task runs and keeps its errors: a limit that
    // is no number ends it rather than fall back to the default unseen.
    if (!Task_GetNumberArgument(Self->Owner, "maxPercentage", &Self->MaxPercentage)) Self->MaxPercentage = 100.0;
    if (!Task_GetNumberArgument(Self->Owner, "maxChainDepth", &Self->MaxChainDepth)) Self->MaxChainDepth = 1000.0;
    if (Task_IsArgumentRefused(Self->Owner)) return Task_Complete(Self->Owner, nullptr);
    Dictionary_Reset(Self->Incomplete);
    Dictionary_Reset(Self->Bounds);
    Self->LastOverall = 0;
    Dictionary *Chain = nullptr, *Unweighted = nullptr;
    Dictionary_Create(&Chain);
    if (!Progress_BuildTaskChain(Self, nullptr, Chain, 0)) {
        Dictionary_Release(&Chain);
        return Task_Complete(Self->Owner, nullptr);
    }
    Dictionary_Create(&Unweighted);
    float64 Remaining = 1.0;
    DictionaryItem *Item = nullptr;
    for (Dictionary_ItemGetFirst(Chain, &Item); Item != nullptr; Dictionary_ItemGetNext(Chain, Item, &Item)) {
        const char *Name = nullptr;
        Dictionary_ItemGetKeyPtr(Chain, Item, &Name);
        if (Name != nullptr) ReadBound(Self, Name, Definition(Self, Name), &Remaining, Unweighted);
    }
    int32 Count = 0;
    Dictionary_ItemGetCount(Unweighted, &Count);
    for (Dictionary_ItemGetFirst(Unweighted, &Item); Item != nullptr; Dictionary_ItemGetNext(Unweighted, Item, &Item)) {
        const char *BoundId = nullptr;
        Dictionary_ItemGetKeyPtr(Unweighted, Item, &BoundId);
        Dictionary_SetFloat64ByKey(Bound(Self, BoundId, true), "progressWeight", Remaining > 0 ? Remaining / Count : 0);
    }
    if (Progress_IsVerboseLevel(Self, 2)) {
        Progress_Print(Self, "Task name chain:\n");
        Dictionary_Dump(Chain);
        Progress_Print(Self, "Unweighted tasks:\n");
        Dictionary_Dump(Unweighted);
        Progress_Print(Self, "Incomplete tasks:\n");
        Dictionary_Dump(Self->Incomplete);
        Progress_Print(Self, "Bounds:\n");
        Dictionary_Dump(Self->Bounds);
    }
    Dictionary_Release(&Chain);
    Dictionary_Release(&Unweighted);
    Queue_LoadActions(Self->Actions);
    return Queue_Start(Self->Actions);
}

int32 DeleteObject(void *HandleAddress) { return Progress_Delete(static_cast<Progress **>(HandleAddress)); }

Progress *Make(Task *Owner, uint32 Manual) {
    Class_CheckHandle(Owner, TASK_CLASSID);
    Progress *Self = Memory_New(Progress);
    Class_InitHeader(Self, PROGRESS_CLASSID, DeleteObject);
    Class_GenerateInstanceId(Self);
    Class_TrackInstance(Self, Self->Class.InstanceId);
    Self->Owner = Owner;
    Self->Manual = Manual;
    // A verbose task makes its progress bookkeeping verbose too.
    int32 Verbose = 0;
    Task_GetVerbose(Owner, &Verbose);
    Progress_SetVerbose(Self, Verbose);
    if (!Task_GetNumberArgument(Owner, "maxPercentage", &Self->MaxPercentage)) Self->MaxPercentage = 100.0;
    if (!Task_GetNumberArgument(Owner, "maxChainDepth", &Self->MaxChainDepth)) Self->MaxChainDepth = 1000.0;
    Dictionary *Def = nullptr;
    Task_GetDictionaryHandle(Owner, &Def);
    Dictionary_SetInt32ByKey(Def, "concurrentTasks", 1);
    for (Dictionary **Target : {&Self->Bounds, &Self->Incomplete, &Self->Timed}) Dictionary_Create(Target);
    Queue_CreateManual(&Self->Actions, Owner);
    if (!Manual) NotificationCenter_AddObserver("Task", "Start", Self, OnAnyTaskStart);
    NotificationCenter_AddObserver("Task", "Status", Self, OnAnyTaskStatus);
    NotificationCenter_AddObserver("Task", "Complete", Self, OnAnyTaskComplete);
    NotificationCenter_AddInstanceObserver("Task", "Start", OwnerId(Self), Self, OnOwnStart);
    NotificationCenter_AddInstanceObserver("Progress", "TogglePause", Id(Self), Self, OnTogglePause);
    return Self;
}

} // namespace

int32 Progress_Create(void **Handle, Task *Owner) {
    Debug_CheckPointer(Handle);
    *Handle = Make(Owner, FALSE);
    return TRUE;
}

int32 Progress_CreateManual(Progress **Handle, Task *Owner) {
    Debug_CheckPointer(Handle);
    *Handle = Make(Owner, TRUE);
    return TRUE;
}

int32 Progress_Delete(Progress **Handle) {
    Debug_CheckPointer(Handle);
    Progress *Self = *Handle;
    Class_CheckHandle(Self, PROGRESS_CLASSID);
    if (!Self->Manual) NotificationCenter_RemoveObserver("Task", "Start", Self, OnAnyTaskStart);
    NotificationCenter_RemoveObserver("Task", "Status", Self, OnAnyTaskStatus);
    NotificationCenter_RemoveObserver("Task", "Complete", Self, OnAnyTaskComplete);
    NotificationCenter_RemoveInstanceObserver("Task", "Start", OwnerId(Self), Self, OnOwnStart);
    NotificationCenter_RemoveInstanceObserver("Progress", "TogglePause", Id(Self), Self, OnTogglePause);
    if (Self->TickObserved) NotificationCenter_RemoveProcessObserver(Id(Self), Self, OnTick);
    Queue_Release(reinterpret_cast<void **>(&Self->Actions));
    for (Dictionary **Target : {&Self->Bounds, &Self->Incomplete, &Self->Timed}) Dictionary_Release(Target);
    Class_UntrackInstance(Self->Class.InstanceId);
    Memory_Delete(Self);
    *Handle = nullptr;
    return TRUE;
}

void *Progress_AddRef(void *Handle) {
    Class_CheckHandle(Handle, PROGRESS_CLASSID);
    return Class_AddRef(Handle);
}

int32 Progress_Release(void **Handle) {
    Debug_CheckPointer(Handle);
    Class_CheckHandle(*Handle, PROGRESS_CLASSID);
    return Class_Release(Handle);
}

int32 Progress_VerboseLog(Progress *Handle, int32 Level, const char *Format, ...) {
    Class_CheckHandle(Handle, PROGRESS_CLASSID);
    if (!Progress_IsVerboseLevel(Handle, Level)) return FALSE;
    va_list Arguments;
    va_start(Arguments, Format);
    const int32 Result = Progress_VPrint(Handle, 0, Format, Arguments);
    va_end(Arguments);
    return Result;
}

int32 Progress_GetQueueHandle(Progress *Handle, Queue **Found) {
    Class_CheckHandle(Handle, PROGRESS_CLASSID);
    Debug_CheckPointer(Found);
    *Found = Handle->Actions;
    return TRUE;
}

int32 Progress_BuildTaskChain(Progress *Handle, const char *Name, Dictionary *Chain, int32 Depth) {
    Class_CheckHandle(Handle, PROGRESS_CLASSID);
    Task *Owner = Handle->Owner;
    // The walk keeps its own stack: a document asks for the depth, and a
    // frame a level on the thread's stack ran out of it (8 MB, less on a
    // smaller thread or under the sanitizers) well below what it may ask.
    // Tasks the chain names more than once are walked each time, so the
    // visits are capped too: a few tasks that each name the next twice
    // would otherwise take 2^n steps.
    struct Step {
        std::string Name;
        int32 Depth;
        bool Own; // the Progress task itself, which the chain leaves out
    };
    std::vector<Step> Pending;
    Pending.push_back({Name != nullptr ? Name : "", Depth, Name == nullptr});
    int32 Visits = 0;
    while (!Pending.empty()) {
        Step Each = std::move(Pending.back());
        Pending.pop_back();
        const char *Here = Each.Own ? Task_GetNamePtr(Owner) : Each.Name.c_str();
        const bool Deep = Each.Depth > Handle->MaxChainDepth;
        if (Deep || ++Visits > MaxChainVisits) {
            if (Deep) Task_Print(Owner, "Task chain depth exceeds maximum (%.0f)\n", Handle->MaxChainDepth);
            else Task_Print(Owner, "Task chain visits more than %d tasks\n", MaxChainVisits);
            Task_AddError(Owner, "%s", "Task_Error_InvalidArg");
            // Mostly a task that names itself, or a loop of tasks: say where.
            char Where[NameSize + 96];
            if (Deep)
                String_Print(Where, (int32)sizeof(Where), "task chain deeper than %.0f levels at task \"%s\"",
                             Handle->MaxChainDepth, Here);
            else
                String_Print(Where, (int32)sizeof(Where), "task chain visits more than %d tasks at task \"%s\"",
                             MaxChainVisits, Here);
            Task_AddError(Owner, "%s", Where);
            return FALSE;
        }
        char Expanded[NameSize];
        String_CopyLength(Expanded, Here, (int32)sizeof(Expanded));
        Task_ExpandString(Owner, Expanded, (int32)sizeof(Expanded));
        Dictionary *Def = Definition(Handle, Expanded);
        if (Def == nullptr) {
            Task_Print(Owner, "Cannot find task %s\n", Expanded);
            Task_AddError(Owner, "%s", "Task_Error_MissingArg");
            return FALSE;
        }
        char Guid[IdSize];
        String_Guid(Guid, (int32)sizeof(Guid), FALSE);
        Dictionary_SetStringByKey(Def, "#progressId", Guid);
        Dictionary_SetStringByKey(Def, "#progressTaskName", Expanded);
        if (!Each.Own) {
            float64 Weight = 0;
            if (!Dictionary_GetFloat64ByKey(Def, "progressWeight", &Weight) || Weight > 0)
                Dictionary_SetStringByKey(Chain, Expanded, Expanded);
        }
        // The walk stops below a chain end; the tasks above it still count.
        uint32 End = FALSE;
        if (Dictionary_GetBooleanByKey(Def, "taskChainEnd", &End) && End) continue;
        // The tasks below, in the order the walk takes them: the actions,
        // the tasks the chain parameters name, the completion.
        std::vector<std::string> Next;
        Dictionary *List = nullptr;
        DictionaryItem *Item = nullptr;
        if (Dictionary_GetListByKey(Def, "actions", &List))
            for (Dictionary_ItemGetFirst(List, &Item); Item != nullptr; Dictionary_ItemGetNext(List, Item, &Item)) {
                const char *Text = nullptr;
                if (Dictionary_ItemCompareType(List, Item, DICTIONARY_TYPE_STRING) &&
                    Dictionary_ItemGetStringPtr(List, Item, &Text) && Text != nullptr) {
                    char Copy[NameSize];
                    String_CopyLength(Copy, Text, (int32)sizeof(Copy));
                    Next.emplace_back(Copy);
                }
            }
        Dictionary *Own = nullptr, *Parameters = nullptr;
        Task_GetDictionaryHandle(Owner, &Own);
        if (Dictionary_GetListByKey(Own, "taskChainParameter", &Parameters))
            for (Dictionary_ItemGetFirst(Parameters, &Item); Item != nullptr;
                 Dictionary_ItemGetNext(Parameters, Item, &Item)) {
                const char *Key = nullptr;
                char Named[NameSize];
                if (!Dictionary_ItemGetStringPtr(Parameters, Item, &Key) || Key == nullptr ||
                    String_Compare(Key, "actions") || !Dictionary_GetStringByKey(Def, Key, Named, (int32)sizeof(Named)))
                    continue;
                Next.emplace_back(Named);
            }
        char Complete[NameSize];
        if (Dictionary_GetStringByKey(Def, "complete", Complete, (int32)sizeof(Complete))) Next.emplace_back(Complete);
        for (auto Walk = Next.rbegin(); Walk != Next.rend(); ++Walk)
            Pending.push_back({std::move(*Walk), Each.Depth + 1, false});
    }
    return TRUE;
}

int32 Progress_GetBoundsIdByTask(Progress *Handle, const char *TaskId, char *Id, int32 Size) {
    Class_CheckHandle(Handle, PROGRESS_CLASSID);
    DictionaryItem *Item = nullptr;
    for (Dictionary_ItemGetFirst(Handle->Bounds, &Item); Item != nullptr;
         Dictionary_ItemGetNext(Handle->Bounds, Item, &Item)) {
        Dictionary *Entry = nullptr;
        const char *Runner = nullptr, *Key = nullptr;
        Dictionary_ItemGetDictionaryHandle(Handle->Bounds, Item, &Entry);
        if (Entry == nullptr || !Dictionary_GetStringPtrByKey(Entry, "progressTask", &Runner) || Runner == nullptr ||
            !String_CompareWithoutCase(Runner, TaskId))
            continue;
        Dictionary_ItemGetKeyPtr(Handle->Bounds, Item, &Key);
        String_CopyLength(Id, Key, Size);
        return TRUE;
    }
    return FALSE;
}

int32 Progress_GetBoundsNumber(Progress *Handle, const char *BoundId, const char *Key, float64 *Value) {
    Class_CheckHandle(Handle, PROGRESS_CLASSID);
    Debug_CheckPointer(Value);
    return Dictionary_GetFloat64ByKey(Bound(Handle, BoundId, true), Key, Value);
}

int32 Progress_GetBoundsBoolean(Progress *Handle, const char *BoundId, const char *Key, uint32 *Value) {
    Class_CheckHandle(Handle, PROGRESS_CLASSID);
    Debug_CheckPointer(Value);
    return Dictionary_GetBooleanByKey(Bound(Handle, BoundId, true), Key, Value);
}

int32 Progress_SetBoundsNumber(Progress *Handle, const char *BoundId, const char *Key, float64 Value) {
    Class_CheckHandle(Handle, PROGRESS_CLASSID);
    return Dictionary_SetFloat64ByKey(Bound(Handle, BoundId, true), Key, Value);
}

int32 Progress_SetBoundsProgress(Progress *Handle, const char *BoundId, float64 Value) {
    Class_CheckHandle(Handle, PROGRESS_CLASSID);
    Dictionary *Entry = Bound(Handle, BoundId, true);
    char Reporter[IdSize];
    if (!Dictionary_GetStringByKey(Entry, "progressTask", Reporter, (int32)sizeof(Reporter)))
        String_CopyLength(Reporter, OwnerId(Handle), (int32)sizeof(Reporter));
    float64 Current = 0;
    if (Dictionary_GetFloat64ByKey(Entry, "percent", &Current) && Current == Value) return TRUE;
    uint32 Aggregate = FALSE;
    if (Dictionary_GetBooleanByKey(Entry, "progressAggregate", &Aggregate) && Aggregate) {
        Progress_VerboseLog(Handle, 1, "Aggregate progress - %.2f\n", Value);
        Dictionary *Change = nullptr;
        Dictionary_Create(&Change);
        Dictionary_SetFloat64ByKey(Change, "#aggregateProgress", Value);
        NotificationCenter_FireOwn("Task", "Status", Reporter, Change);
        Dictionary_Release(&Change);
        return TRUE;
    }
    Dictionary_SetFloat64ByKey(Entry, "percent", Value);

    // Weights of bounds before this one that never reported go to this one
    // and the ones after it.
    int32 Count = 0, Before = 0;
    Dictionary_ItemGetCount(Handle->Bounds, &Count);
    float64 Unused = 0, Start = 0, Sum = 0, Weight = 0;
    DictionaryItem *Item = nullptr;
    bool Reached = false;
    for (Dictionary_ItemGetFirst(Handle->Bounds, &Item); Item != nullptr && !Reached;
         Dictionary_ItemGetNext(Handle->Bounds, Item, &Item)) {
        Dictionary *Each = nullptr;
        Dictionary_ItemGetDictionaryHandle(Handle->Bounds, Item, &Each);
        if (Each == Entry) {
            Reached = true;
            break;
        }
        if (!Dictionary_ContainsKey(Each, "percent")) {
            Unused += Number(Each, "progressWeight", 0);
            Dictionary_SetFloat64ByKey(Each, "progressWeight", 0);
        }
        Before++;
    }
    if (Unused > 0 && Count > Before) {
        float64 Share = Unused / (Count - Before);
        for (; Item != nullptr; Dictionary_ItemGetNext(Handle->Bounds, Item, &Item)) {
            Dictionary *Each = nullptr;
            Dictionary_ItemGetDictionaryHandle(Handle->Bounds, Item, &Each);
            float64 Old = Number(Each, "progressWeight", 0);
            Progress_VerboseLog(Handle, 1, "%s (%d/%d)- Redistributing weight (%.02f + %.02f -> %.02f)\n",
                                Task_GetNamePtr(Handle->Owner), Before + 1, Count, Old, Share, Old + Share);
            Dictionary_SetFloat64ByKey(Each, "progressWeight", Old + Share);
        }
    }
    Reached = false;
    for (Dictionary_ItemGetFirst(Handle->Bounds, &Item); Item != nullptr;
         Dictionary_ItemGetNext(Handle->Bounds, Item, &Item)) {
        Dictionary *Each = nullptr;
        Dictionary_ItemGetDictionaryHandle(Handle->Bounds, Item, &Each);
        float64 W = Number(Each, "progressWeight", 0);
        if (Each == Entry) Reached = true, Weight = W;
        else if (!Reached) Start += W;
        Sum += W;
    }
    Progress_VerboseLog(Handle, 1, "%s - Range (%.2f - %.2f / %.02f)\n", Task_GetNamePtr(Handle->Owner), Start,
                        Start + Weight, Sum);
    if (Weight <= 0 || Sum <= 0) return TRUE;
    // A bound past 1 (rounding) counts as complete and one below 0 as not
    // begun, so the overall figure never jumps to 0.
    float64 Fraction = Value < 0 ? 0 : Value > 1 ? 1 : Value;
    float64 Overall = Handle->MaxPercentage / 100.0 * (Start + Weight * Fraction) / Sum;
    float64 Ceiling = Handle->MaxPercentage / 100.0;
    if (Overall > Ceiling) Overall = Ceiling;
    // Redistribution and a task's own status may move one bound back; the
    // figure the user sees only moves forward.
    if (Overall < Handle->LastOverall) Overall = Handle->LastOverall;
    Handle->LastOverall = Overall;
    Progress_VerboseLog(Handle, 1, "Overall progress - %.2f\n", Overall);
    Dictionary *Change = nullptr, *Copy = nullptr;
    Dictionary_Create(&Change);
    Dictionary_SetFloat64ByKey(Change, "overallProgress", Overall);
    Dictionary_AddDictionary(Change, "#progressBounds", &Copy, nullptr);
    Dictionary_Merge(Copy, Handle->Bounds, DICTIONARY_MERGE_OVERWRITE);
    for (Dictionary_ItemGetFirst(Copy, &Item); Item != nullptr; Dictionary_ItemGetNext(Copy, Item, &Item)) {
        Dictionary *Each = nullptr;
        float64 Percent = 0;
        Dictionary_ItemGetDictionaryHandle(Copy, Item, &Each);
        if (Each != nullptr && Dictionary_GetFloat64ByKey(Each, "percent", &Percent))
            Dictionary_SetFloat64ByKey(Each, "percent", Percent * Ceiling);
    }
    NotificationCenter_FireOwn("Task", "Status", Reporter, Change);
    Dictionary_Release(&Change);
    return TRUE;
}

const TaskInterface Progress_INTERFACE = {"Progress", Progress_Create, Progress_AddRef, Progress_Release};

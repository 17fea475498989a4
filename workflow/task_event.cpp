// One step of a task's sub-action chain (see task_event.h).
#include "workflow/task_event.h"

#include "runtime/memory.h"
#include "runtime/notification/notification_center.h"
#include "runtime/notification/notification_names.h"
#include "runtime/text/string.h"
#include "workflow/task_internal.h"
#include "workflow/app/workflow_app.h"

#include <string.h>

#include <vector>

struct TaskEvent {
    ClassStruct Class;
    char Name[TASK_NAME_SIZE];
    Task *Owner;
    Dictionary *Payload; // made at the start
    Dictionary *Result;
    CallbackStruct Complete;
    uint32 Started;
    uint32 Completed;
    uint32 Observing; // the round of waiting it joined, 0 for none
    size_t WaitHash;  // of its id, kept while it waits
};

namespace {

// The events waiting for their own "TaskEvent"/"Complete", by instance id.
// One observer of that notification serves them all: one registered and
// removed per event cost more than the rest of the event. While the
// application lives it stays to the end of the round, also while none waits
// (a completion nobody waits for finds nothing and is let be), since the
// list empties between most tasks; the application's own observers need the
// same center. Without an application it goes when the list empties. A
// round ends when the application goes (TaskEventInt_Forget), with the
// notification center that served it: an event whose completion was not
// delivered goes then, with what its callback would have been handed; one
// not yet completed stays with whoever holds it, and waits for ever.
//
// The events are found through an open table of their own records, probed
// from a hash of the id's first twelve characters (random hex for every id we
// make): a map that allocated a node per waiting event cost as much as the
// rest of the bookkeeping of a step.
class WaitTable {
  public:
    TaskEvent *Find(const char *Id) const {
        if (Slots.empty()) return nullptr;
        const size_t Mask = Slots.size() - 1;
        for (size_t At = Hash(Id) & Mask; Slots[At].Event != nullptr; At = (At + 1) & Mask)
            if (strcmp(IdOf(Slots[At].Event), Id) == 0) return Slots[At].Event;
        return nullptr;
    }
    void Insert(TaskEvent *Event) {
        if ((Count + 1) * 2 > Slots.size()) Grow();
        Event->WaitHash = Hash(IdOf(Event));
        Place({Event, Event->WaitHash});
        Count++;
    }
    bool Erase(TaskEvent *Event) {
        if (Slots.empty()) return false;
        const size_t Mask = Slots.size() - 1;
        size_t Hole = Event->WaitHash & Mask;
        while (Slots[Hole].Event != Event) {
            if (Slots[Hole].Event == nullptr) return false;
            Hole = (Hole + 1) & Mask;
        }
        // Pull back every later entry of the run that may stand in the hole,
        // so that no probe stops short of it.
        for (size_t Next = (Hole + 1) & Mask; Slots[Next].Event != nullptr; Next = (Next + 1) & Mask) {
            const size_t Home = Slots[Next].Hash & Mask;
            const bool Between = Hole <= Next ? (Hole < Home && Home <= Next) : (Hole < Home || Home <= Next);
            if (Between) continue;
            Slots[Hole] = Slots[Next];
            Hole = Next;
        }
        Slots[Hole] = Slot{};
        Count--;
        return true;
    }
    bool Empty() const { return Count == 0; }
    std::vector<TaskEvent *> Completed() const {
        std::vector<TaskEvent *> Found;
        for (const Slot &Entry : Slots)
            if (Entry.Event != nullptr && Entry.Event->Completed) Found.push_back(Entry.Event);
        return Found;
    }
    void Clear() {
        Slots.clear();
        Count = 0;
    }

  private:
    struct Slot {
        TaskEvent *Event = nullptr;
        size_t Hash = 0;
    };
    std::vector<Slot> Slots;
    size_t Count = 0;

    static const char *IdOf(TaskEvent *Event) { return reinterpret_cast<ClassStruct *>(Event)->InstanceId; }
    static size_t Hash(const char *Id) {
        uint64 Value = 0xcbf29ce484222325ull;
        for (int Index = 0; Index < 12 && Id[Index] != 0; Index++) Value = (Value ^ (uint8)Id[Index]) * 0x100000001b3ull;
        return (size_t)(Value ^ (Value >> 29));
    }
    void Place(Slot Entry) {
        const size_t Mask = Slots.size() - 1;
        size_t At = Entry.Hash & Mask;
        while (Slots[At].Event != nullptr) At = (At + 1) & Mask;
        Slots[At] = Entry;
    }
    void Grow() {
        std::vector<Slot> Old;
        Old.swap(Slots);
        Slots.resize(Old.empty() ? 16 : Old.size() * 2);
        for (const Slot &Entry : Old)
            if (Entry.Event != nullptr) Place(Entry);
    }
};

struct Waiting {
    WaitTable Events;
    uint32 Round = 1;
    bool Observing = false;
};

Waiting &Waiters() {
    static Waiting Each;
    return Each;
}

int32 OnComplete(void *, const char *, const char *, const char *Instance, Dictionary *);

void StartWaiting(TaskEvent *Self) {
    Waiting &All = Waiters();
    if (!All.Observing) NotificationCenter_AddObserver("TaskEvent", "Complete", &All, OnComplete);
    All.Observing = true;
    All.Events.Insert(Self);
    Self->Observing = All.Round;
}

void StopWaiting(TaskEvent *Self) {
    Waiting &All = Waiters();
    if (Self->Observing == All.Round && All.Events.Erase(Self) && All.Events.Empty() &&
        WorkflowApp_GetTaskTypeListHandle() == nullptr) {
        NotificationCenter_RemoveObserver("TaskEvent", "Complete", &All, OnComplete);
        All.Observing = false;
    }
    Self->Observing = 0;
}

TaskKeptPairs &KeptPayloads() {
    static TaskKeptPairs Each("task", "name", DICTIONARY_TYPE_STRING);
    return Each;
}

// Constant names of the fires below, measured and placed in the center's
// name counts once: most of these fires are of names nobody observes, and
// the counts then answer them at once.
const NotificationConstNames SubActionStartNames = NotificationCenter_ConstNames("Task", "SubActionStart");
const NotificationConstNames SubActionCompleteNames = NotificationCenter_ConstNames("Task", "SubActionComplete");
const NotificationConstNames EventStartNames = NotificationCenter_ConstNames("TaskEvent", "Start");
const NotificationConstNames EventCompleteNames = NotificationCenter_ConstNames("TaskEvent", "Complete");

// Queues a fire of constant names that shares the event's payload: only the
// instance id is measured.
void FireShared(const NotificationConstNames &Names, const char *Instance, Dictionary *Payload) {
    NotificationCenter_FireAfterDelaySharedNames(Names.Under(Instance), 0, Payload);
}

int32 DeleteObject(void *HandleAddress) { return TaskEvent_Delete(static_cast<TaskEvent **>(HandleAddress)); }

int32 OnComplete(void *, const char *, const char *, const char *Instance, Dictionary *) {
    if (Instance == nullptr) return TRUE;
    Waiting &All = Waiters();
    TaskEvent *Self = All.Events.Find(Instance);
    if (Self == nullptr) return TRUE;
    StopWaiting(Self);
    void *CallbackUser = nullptr;
    Task_SubActionFunc Function = nullptr;
    CallbackBase_Get(&Self->Complete, &CallbackUser, &Function);
    if (Function != nullptr) Function(Self->Owner, CallbackUser, Self->Result);
    Task_VerboseLog(Self->Owner, 1, "Event %s completed\n", Self->Name);
    Task_Release(&Self->Owner);
    TaskEvent_Release(&Self);
    return TRUE;
}

} // namespace

bool TaskKeptPairs::IsPairItem(Dictionary *Handle, DictionaryItem *Item, const char *Key) const {
    const char *Stored = nullptr;
    return Item != nullptr && Dictionary_ItemGetKeyPtr(Handle, Item, &Stored) && Stored != nullptr &&
           strcmp(Stored, Key) == 0 && Dictionary_ItemCompareType(Handle, Item, Type);
}

Dictionary *TaskKeptPairs::Take(DictionaryItem **First, DictionaryItem **Second) {
    while (!Spare.empty() && TaskInt_HeldAlone(Spare.front())) {
        Dictionary *Handle = Spare.front();
        Spare.pop_front();
        int32 Count = 0;
        *First = *Second = nullptr;
        Dictionary_ItemGetCount(Handle, &Count);
        Dictionary_ItemGetFirst(Handle, First);
        if (*First != nullptr) Dictionary_ItemGetNext(Handle, *First, Second);
        if (Count == 2 && IsPairItem(Handle, *First, FirstKey) && IsPairItem(Handle, *Second, SecondKey)) return Handle;
        Dictionary_Release(&Handle);
    }
    return nullptr;
}

namespace {

void SetPairItem(Dictionary *Handle, DictionaryItem *Item, const char *Value) {
    Dictionary_ItemSetString(Handle, Item, Value);
}
void SetPairItem(Dictionary *Handle, DictionaryItem *Item, uint32 Value) {
    Dictionary_ItemSetBoolean(Handle, Item, Value);
}
void AddPairItem(Dictionary *Handle, const char *Key, const char *Value) {
    Dictionary_AddString(Handle, Key, Value, nullptr);
}
void AddPairItem(Dictionary *Handle, const char *Key, uint32 Value) {
    Dictionary_AddBoolean(Handle, Key, Value, nullptr);
}

} // namespace

template <typename Value> Dictionary *TaskKeptPairs::MakeOf(Value FirstValue, Value SecondValue) {
    DictionaryItem *First = nullptr, *Second = nullptr;
    if (Dictionary *Kept = Take(&First, &Second)) {
        SetPairItem(Kept, First, FirstValue);
        SetPairItem(Kept, Second, SecondValue);
        return Kept;
    }
    Dictionary *Made = nullptr;
    Dictionary_Create(&Made);
    // A new pair: the two keys go in without a search for them.
    AddPairItem(Made, FirstKey, FirstValue);
    AddPairItem(Made, SecondKey, SecondValue);
    return Made;
}

template Dictionary *TaskKeptPairs::MakeOf(const char *, const char *);
template Dictionary *TaskKeptPairs::MakeOf(uint32, uint32);

void TaskKeptPairs::Keep(Dictionary **Handle) {
    constexpr size_t MostKept = 64;
    int32 Count = 0;
    Dictionary_ItemGetCount(*Handle, &Count);
    if (Count == 2 && Spare.size() < MostKept && WorkflowApp_GetTaskTypeListHandle() != nullptr) {
        Spare.push_back(*Handle);
        *Handle = nullptr;
    } else {
        Dictionary_Release(Handle);
    }
}

void TaskKeptPairs::Forget() {
    for (Dictionary *Handle : Spare) Dictionary_Release(&Handle);
    Spare.clear();
}

void TaskEventInt_Forget(void) {
    Waiting &All = Waiters();
    // A completion not delivered yet holds the only reference on its event,
    // and its callback's state: nothing delivers it now.
    for (TaskEvent *Each : All.Events.Completed()) {
        StopWaiting(Each);
        void *User = nullptr;
        Task_SubActionFunc Function = nullptr;
        CallbackBase_Get(&Each->Complete, &User, &Function);
        TaskInt_DropStep(Function, User);
        TaskEvent_Release(&Each);
    }
    if (All.Observing) NotificationCenter_RemoveObserver("TaskEvent", "Complete", &All, OnComplete);
    All.Observing = false;
    All.Events.Clear();
    All.Round++;
    KeptPayloads().Forget();
    TaskInt_ForgetCompletionResults();
}

int32 TaskEvent_Create(TaskEvent **Handle) {
    Debug_CheckPointer(Handle);
    TaskEvent *Self = Memory_New(TaskEvent);
    Class_InitHeader(Self, TASKEVENT_CLASSID, DeleteObject);
    // The id names the event in its own notifications and finds it among the
    // waiting events; no script names an event, so it stays out of the
    // process's instance table: a task's four events would cost two table
    // entries' worth of work each for nothing.
    Class_GenerateInstanceId(Self);
    *Handle = Self;
    return TRUE;
}

int32 TaskEvent_Delete(TaskEvent **Handle) {
    Debug_CheckPointer(Handle);
    TaskEvent *Self = *Handle;
    Class_CheckHandle(Self, TASKEVENT_CLASSID);
    if (Self->Observing) StopWaiting(Self);
    if (Self->Owner != nullptr) Task_Release(&Self->Owner);
    if (Self->Payload != nullptr) KeptPayloads().Keep(&Self->Payload);
    if (Self->Result != nullptr) Dictionary_Release(&Self->Result);
    Memory_Delete(Self);
    *Handle = nullptr;
    return TRUE;
}

CLASS_DEFINE_REFERENCE(TaskEvent, TaskEvent, TASKEVENT_CLASSID)

int32 TaskEvent_SetCompleteCallback(TaskEvent *Handle, void *User, Task_SubActionFunc Function) {
    Class_CheckHandle(Handle, TASKEVENT_CLASSID);
    CallbackBase_Set(&Handle->Complete, User, Function);
    return TRUE;
}

int32 TaskEvent_SetTaskHandle(TaskEvent *Handle, Task *Owner) {
    Class_CheckHandle(Handle, TASKEVENT_CLASSID);
    Class_CheckHandle(Owner, TASK_CLASSID);
    Handle->Owner = Owner;
    return TRUE;
}

int32 TaskEvent_Start(TaskEvent *Handle, const char *Name) {
    Class_CheckHandle(Handle, TASKEVENT_CLASSID);
    Debug_CheckPointer(Name);
    Class_CheckHandle(Handle->Owner, TASK_CLASSID);
    if (Handle->Started) return FALSE;
    Handle->Started = TRUE;
    String_CopyLength(Handle->Name, Name, (int32)sizeof(Handle->Name));
    Task_AddRef(Handle->Owner);
    const char *TaskId = Handle->Owner->Class.InstanceId;
    Handle->Payload = KeptPayloads().Make(TaskId, Handle->Name);
    Task_VerboseLog(Handle->Owner, 1, "%s ready\n", Handle->Name);
    StartWaiting(Handle);
    // The payload is written here once and never after: its fires share it.
    FireShared(SubActionStartNames, TaskId, Handle->Payload);
    FireShared(EventStartNames, Handle->Class.InstanceId, Handle->Payload);
    return TRUE;
}

namespace {

int32 Complete(TaskEvent *Handle, Dictionary *Result, bool Final) {
    Class_CheckHandle(Handle, TASKEVENT_CLASSID);
    if (!Handle->Started || Handle->Completed) return FALSE;
    Handle->Completed = TRUE;
    if (Result != nullptr && Final && Handle->Result == nullptr) {
        Handle->Result = Dictionary_AddRef(Result);
    } else if (Result != nullptr) {
        if (Handle->Result == nullptr) Dictionary_Create(&Handle->Result);
        if (Result != Handle->Result) Dictionary_Merge(Handle->Result, Result, DICTIONARY_MERGE_OVERWRITE);
    }
    FireShared(EventCompleteNames, Handle->Class.InstanceId, Handle->Payload);
    // The payload's "task" is its task's id, held from the start.
    FireShared(SubActionCompleteNames, Handle->Owner->Class.InstanceId, Handle->Payload);
    return TRUE;
}

} // namespace

int32 TaskEvent_Complete(TaskEvent *Handle, Dictionary *Result) { return Complete(Handle, Result, false); }

int32 TaskEventInt_CompleteWithFinalResult(TaskEvent *Handle, Dictionary *Result) { return Complete(Handle, Result, true); }

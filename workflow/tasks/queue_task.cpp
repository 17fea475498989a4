// The Queue task and the queue object Aggregate and Progress share (see
// queue_task.h).
#include "workflow/tasks/queue_task.h"

#include <math.h>

#include "runtime/memory.h"
#include "runtime/notification/notification_center.h"
#include "runtime/text/string.h"
#include "runtime/text/string_print.h"
#include "workflow/task_internal.h"

#include <math.h>
#include <string.h>

// A queue holds one action per name of its "actions", thousands in a large
// one: each name takes only its own bytes, right behind the record.
struct QueueAction {
    ClassStruct Class;
    Dictionary *Arguments;
    QueueAction *Next;
    int64 Weight; // of Arguments, in the process's budget of arguments
    int32 NameLength;
};

struct Queue {
    ClassStruct Class;
    Task *Owner;
    int32 Concurrency;
    int32 NextIndex;
    int32 Running;
    int32 Complete;
    QueueAction *First;
    QueueAction *Last;
    int32 Count;
    uint32 Manual;
    Dictionary *Failure; // the first failed action's result, once one failed
    uint32 Failed;
    QueueAction *Cursor;
    int32 CursorIndex;
    Dictionary *Progress; // the last progress change, kept for the next one
};

namespace {

// An action names a task: no longer than a task's name.
constexpr int32 ActionTextSize = QUEUE_ACTION_NAME_SIZE;

char *NameOf(QueueAction *Action) { return reinterpret_cast<char *>(Action + 1); }
int32 ActionBytes(const QueueAction *Action) { return (int32)sizeof(QueueAction) + Action->NameLength + 1; }

int32 ErrorCount(Task *Owner) {
    int32 Count = 0;
    Task_GetErrorCount(Owner, &Count);
    return Count;
}

const char *Id(Queue *Self) { return Self->Class.InstanceId; }
const char *OwnerId(Queue *Self) { return ((ClassStruct *)Self->Owner)->InstanceId; }

// The figures every progress report carries, after the action's result.
constexpr int32 CountKeyCount = 4;
const char *const CountKeys[CountKeyCount] = {"runningActions", "completeActions", "totalActions", "progress"};

// Equal scalars (texts may hold bytes past a NUL and are not compared).
bool SameScalar(Dictionary *A, DictionaryItem *ItemA, Dictionary *B, DictionaryItem *ItemB) {
    int32 Type = DICTIONARY_TYPE_UNKNOWN, Other = DICTIONARY_TYPE_UNKNOWN;
    uint32 PrivateA = 0, PrivateB = 0;
    const char *KeyA = nullptr, *KeyB = nullptr;
    if (!Dictionary_ItemGetType(A, ItemA, &Type) || !Dictionary_ItemGetType(B, ItemB, &Other) || Type != Other ||
        !Dictionary_ItemGetKeyPtr(A, ItemA, &KeyA) || !Dictionary_ItemGetKeyPtr(B, ItemB, &KeyB) || KeyA == nullptr ||
        KeyB == nullptr || strcmp(KeyA, KeyB) != 0)
        return false;
    Dictionary_ItemGetPrivate(A, ItemA, &PrivateA);
    Dictionary_ItemGetPrivate(B, ItemB, &PrivateB);
    if (PrivateA != PrivateB) return false;
    switch (Type) {
        case DICTIONARY_TYPE_NULL: return true;
        case DICTIONARY_TYPE_BOOLEAN: {
            uint32 ValueA = 0, ValueB = 0;
            return Dictionary_ItemGetBoolean(A, ItemA, &ValueA) && Dictionary_ItemGetBoolean(B, ItemB, &ValueB) &&
                   ValueA == ValueB;
        }
        case DICTIONARY_TYPE_INT64: {
            int64 ValueA = 0, ValueB = 0;
            return Dictionary_ItemGetInt64(A, ItemA, &ValueA) && Dictionary_ItemGetInt64(B, ItemB, &ValueB) &&
                   ValueA == ValueB;
        }
        case DICTIONARY_TYPE_FLOAT64: {
            float64 ValueA = 0, ValueB = 0;
            return Dictionary_ItemGetFloat64(A, ItemA, &ValueA) && Dictionary_ItemGetFloat64(B, ItemB, &ValueB) &&
                   memcmp(&ValueA, &ValueB, sizeof(ValueA)) == 0;
        }
        default: return false;
    }
}

// Whether Kept holds what a new report for Result would hold before its
// figures are written: Result's items as they are (scalars only), then the
// figures' keys. Consecutive actions mostly end alike, with the same result.
bool HoldsResultAndCounts(Dictionary *Kept, Dictionary *Result) {
    int32 Count = 0, Expected = CountKeyCount;
    if (Result != nullptr && !Dictionary_ItemGetCount(Result, &Expected)) return false;
    if (Result != nullptr) Expected += CountKeyCount;
    if (!Dictionary_ItemGetCount(Kept, &Count) || Count != Expected) return false;
    DictionaryItem *Item = nullptr, *Source = nullptr;
    Dictionary_ItemGetFirst(Kept, &Item);
    if (Result != nullptr) Dictionary_ItemGetFirst(Result, &Source);
    for (; Source != nullptr; Dictionary_ItemGetNext(Result, Source, &Source)) {
        if (Item == nullptr || !SameScalar(Kept, Item, Result, Source)) return false;
        Dictionary_ItemGetNext(Kept, Item, &Item);
    }
    for (const char *Key : CountKeys) {
        const char *Stored = nullptr;
        if (Item == nullptr || !Dictionary_ItemGetKeyPtr(Kept, Item, &Stored) || Stored == nullptr ||
            strcmp(Stored, Key) != 0 || !Dictionary_ItemCompareType(Kept, Item, DICTIONARY_TYPE_FLOAT64))
            return false;
        Dictionary_ItemGetNext(Kept, Item, &Item);
    }
    return Item == nullptr;
}

int32 OnNextTask(void *User, const char *, const char *, const char *, Dictionary *Info);

int32 OnActionComplete(Task *Owner, void *User, Dictionary *Result) {
    Queue *Self = static_cast<Queue *>(User);
    Self->Running--;
    Self->Complete++;
    Queue_UpdateProgress(Self, Result);
    uint32 Successful = FALSE;
    if (Result != nullptr) Dictionary_GetBooleanByKey(Result, "successful", &Successful);
    else Successful = ErrorCount(Owner) == 0;
    // A failure starts nothing by its own completion, but actions still
    // running may go on starting the rest; the queue's result stays the
    // failure.
    if (Successful) {
        // The result is the finished event's own, let go after this call and
        // changed by no one: the fire shares it rather than copy it.
        NotificationCenter_FireAfterDelayShared("Queue", "NextTask", Id(Self), 0, Result);
    } else {
        if (!Self->Failed) {
            Self->Failed = TRUE;
            Dictionary_Create(&Self->Failure);
            if (Result != nullptr) Dictionary_Merge(Self->Failure, Result, DICTIONARY_MERGE_OVERWRITE);
            Dictionary_SetBooleanByKey(Self->Failure, "successful", FALSE);
        }
        if (Self->Running == 0 && !Task_IsCompleted(Owner)) Task_Complete(Owner, Self->Failure);
    }
    Queue_Release(reinterpret_cast<void **>(&Self));
    return TRUE;
}

QueueAction *ActionAt(Queue *Self, int32 Index) {
    // Actions start in order: continue from the last one handed out.
    QueueAction *Walk = Self->Cursor != nullptr && Self->CursorIndex <= Index ? Self->Cursor : Self->First;
    int32 At = Walk == Self->Cursor ? Self->CursorIndex : 0;
    while (Walk != nullptr && At < Index) Walk = Walk->Next, At++;
    Self->Cursor = Walk;
    Self->CursorIndex = At;
    return Walk;
}

int32 OnNextTask(void *User, const char *, const char *, const char *, Dictionary *Info) {
    Queue *Self = static_cast<Queue *>(User);
    if (Task_IsCompleted(Self->Owner)) return TRUE;
    if (Self->NextIndex < Self->Count) {
        if (Task_IsCancelled(Self->Owner)) {
            Task_Print(Self->Owner, "Cancelled next task\n");
            return Task_Complete(Self->Owner, Self->Failed ? Self->Failure : Info);
        }
        Self->Running++;
        Task_SetStatusNumber(Self->Owner, "runningActions", Self->Running);
        QueueAction *Action = ActionAt(Self, Self->NextIndex);
        if (Self->Concurrency == 1) Task_SetStatusNumber(Self->Owner, "currentAction", Self->NextIndex + 1);
        Task_Print(Self->Owner, "Next task %s\n", NameOf(Action));
        Self->NextIndex++;
        Queue_AddRef(Self); // held by the sub-task until it completes
        Task_RunSubTask(Self->Owner, NameOf(Action), Action->Arguments, Self, OnActionComplete);
        return TRUE;
    }
    if (Self->Running == 0) Task_Complete(Self->Owner, Self->Failed ? Self->Failure : Info);
    return TRUE;
}

int32 OnQueueStart(void *User, const char *, const char *, const char *, Dictionary *) {
    Queue *Self = static_cast<Queue *>(User);
    Task *Owner = Self->Owner;
    if (ErrorCount(Owner) > 0) return Task_Complete(Owner, nullptr);
    float64 Wanted = 0;
    const bool Given = Task_GetNumberArgument(Owner, "concurrentTasks", &Wanted) ||
                       (!Task_IsArgumentRefused(Owner) && Task_GetNumberArgument(Owner, "concurrentActions", &Wanted));
    // A count that is no number was refused: the queue runs nothing then.
    if (Task_IsArgumentRefused(Owner)) return Task_Complete(Owner, nullptr);
    if (Given) {
        // Checked before the cast: a number past 32 bits, or a fraction (0.5
        // as 0, which would run nothing and succeed), would arrive as some
        // other count.
        int32 Value = Wanted >= -1 && Wanted < 2147483648.0 && Wanted == trunc(Wanted) ? (int32)Wanted : -2;
        if (Value < -1) {
            Task_Print(Owner, "Invalid number of concurrent actions %g\n", Wanted);
            char Why[96];
            snprintf(Why, sizeof(Why), "is %g: a whole number from -1 is asked", Wanted);
            TaskInt_RefuseArgument(Owner, "the count of concurrent actions", Why);
            return Task_Complete(Owner, nullptr);
        }
        if (Value == -1) Value = Self->Count;
        Self->Concurrency = Value < Self->Count ? Value : Self->Count;
    }
    if (Self->Concurrency != 1) Task_Print(Owner, "Set %d concurrent actions\n", Self->Concurrency);
    Queue_UpdateProgress(Self, nullptr);
    if (Self->Concurrency == 0) return Task_Complete(Owner, nullptr);
    Queue_AddRef(Self); // a cancel may complete and release the task meanwhile
    for (int32 Index = 0; Index < Self->Concurrency && !Task_IsCompleted(Owner); Index++)
        NotificationCenter_Fire("Queue", "NextTask", Id(Self), nullptr);
    Queue_Release(reinterpret_cast<void **>(&Self));
    return TRUE;
}

int32 OnTaskStart(void *User, const char *, const char *, const char *, Dictionary *) {
    Queue *Self = static_cast<Queue *>(User);
    if (!Task_TakeStart(Self->Owner)) return TRUE;
    if (!Task_HasArgument(Self->Owner, "actions")) {
        Task_Print(Self->Owner, "\"actions\" argument not defined\n");
        Task_AddMissingArgumentError(Self->Owner, "\"actions\"");
        return Task_Complete(Self->Owner, nullptr);
    }
    Queue_LoadActions(Self);
    return Queue_Start(Self);
}

int32 DeleteObject(void *HandleAddress) { return Queue_Delete(static_cast<Queue **>(HandleAddress)); }

Queue *Make(Task *Owner, uint32 Manual) {
    Class_CheckHandle(Owner, TASK_CLASSID);
    Queue *Self = Memory_New(Queue);
    Class_InitHeader(Self, QUEUE_CLASSID, DeleteObject);
    Class_GenerateInstanceId(Self);
    Class_TrackInstance(Self, Self->Class.InstanceId);
    Self->Owner = Owner;
    Self->Concurrency = 1;
    Self->Manual = Manual;
    if (!Manual) NotificationCenter_AddInstanceObserver("Task", "Start", OwnerId(Self), Self, OnTaskStart);
    NotificationCenter_AddInstanceObserver("Queue", "Start", Id(Self), Self, OnQueueStart);
    NotificationCenter_AddInstanceObserver("Queue", "NextTask", Id(Self), Self, OnNextTask);
    return Self;
}

} // namespace

int32 Queue_Create(void **Handle, Task *Owner) {
    Debug_CheckPointer(Handle);
    *Handle = Make(Owner, FALSE);
    return TRUE;
}

int32 Queue_CreateManual(Queue **Handle, Task *Owner) {
    Debug_CheckPointer(Handle);
    *Handle = Make(Owner, TRUE);
    return TRUE;
}

int32 Queue_Delete(Queue **Handle) {
    Debug_CheckPointer(Handle);
    Queue *Self = *Handle;
    Class_CheckHandle(Self, QUEUE_CLASSID);
    if (!Self->Manual) NotificationCenter_RemoveInstanceObserver("Task", "Start", OwnerId(Self), Self, OnTaskStart);
    NotificationCenter_RemoveInstanceObserver("Queue", "Start", Id(Self), Self, OnQueueStart);
    NotificationCenter_RemoveInstanceObserver("Queue", "NextTask", Id(Self), Self, OnNextTask);
    Queue_ActionRemoveAll(Self);
    if (Self->Failure != nullptr) Dictionary_Release(&Self->Failure);
    if (Self->Progress != nullptr) Dictionary_Release(&Self->Progress);
    Class_UntrackInstance(Self->Class.InstanceId);
    Memory_Delete(Self);
    *Handle = nullptr;
    return TRUE;
}

void *Queue_AddRef(void *Handle) {
    Class_CheckHandle(Handle, QUEUE_CLASSID);
    return Class_AddRef(Handle);
}

int32 Queue_Release(void **Handle) {
    Debug_CheckPointer(Handle);
    Class_CheckHandle(*Handle, QUEUE_CLASSID);
    return Class_Release(Handle);
}

int32 Queue_ActionAdd(Queue *Handle, const char *Name, Dictionary *Arguments) {
    Class_CheckHandle(Handle, QUEUE_CLASSID);
    Debug_CheckPointer(Name);
    // A name is kept whole or refused: cut, it would run another task.
    const size_t Whole = strlen(Name);
    if (Whole >= QUEUE_ACTION_NAME_SIZE) {
        Task_Print(Handle->Owner, "Action name of %d bytes refused: past its limit of %d\n", (int32)Whole,
                   QUEUE_ACTION_NAME_SIZE - 1);
        return FALSE;
    }
    // An action's arguments are a copy of a task's definition (an Aggregate
    // queues one per entry of its content): held in the same budget as the
    // live tasks' definitions, else a long content copies a large
    // definition thousands of times before any of them runs.
    // Charged before the copy is made.
    int64 Weight = 0;
    if (Arguments != nullptr) Dictionary_GetCost(Arguments, &Weight);
    if (Arguments != nullptr && !MemoryBudget_Take(Weight)) {
        Handle->Owner->RefusedArgument = TRUE;
        Task_Print(Handle->Owner, "Action %s refused: past the memory budget\n", Name);
        char Why[224], Text[QUEUE_ACTION_NAME_SIZE + 256];
        TaskInt_BudgetWords(Why, (int32)sizeof(Why), Weight);
        String_Print(Text, (int32)sizeof(Text), "task \"%s\" not queued: %s", Name, Why);
        Task_AddErrorAlways(Handle->Owner, TASK_ERROR_TOO_MANY);
        Task_AddErrorAlways(Handle->Owner, Text);
        return FALSE;
    }
    const char *Cut = Name;
    const int32 Length = (int32)Whole;
    QueueAction *Action = static_cast<QueueAction *>(Memory_AllocZero((int32)sizeof(QueueAction) + Length + 1));
    Class_InitHeader(Action, QUEUEACTION_CLASSID, nullptr);
    Action->NameLength = Length;
    memcpy(NameOf(Action), Cut, (size_t)Length + 1);
    if (Arguments != nullptr) {
        Dictionary_Create(&Action->Arguments);
        Dictionary_Merge(Action->Arguments, Arguments, DICTIONARY_MERGE_OVERWRITE);
        Action->Weight = Weight;
        Task_VerboseLog(Handle->Owner, 2, "New action %s\n", NameOf(Action));
    }
    if (Handle->Last != nullptr) Handle->Last->Next = Action;
    else Handle->First = Action;
    Handle->Last = Action;
    Handle->Count++;
    return TRUE;
}

int32 Queue_ActionRemoveAll(Queue *Handle) {
    Class_CheckHandle(Handle, QUEUE_CLASSID);
    while (QueueAction *Action = Handle->First) {
        Handle->First = Action->Next;
        if (Action->Arguments != nullptr) Dictionary_Release(&Action->Arguments);
        MemoryBudget_Give(Action->Weight);
        Memory_Free(Action, ActionBytes(Action));
    }
    Handle->Last = nullptr;
    Handle->Cursor = nullptr;
    Handle->CursorIndex = 0;
    Handle->Count = 0;
    return TRUE;
}

int32 Queue_ActionGetFirst(Queue *Handle, QueueAction **Action) {
    Class_CheckHandle(Handle, QUEUE_CLASSID);
    Debug_CheckPointer(Action);
    *Action = Handle->First;
    return *Action != nullptr;
}

int32 Queue_ActionGetNext(Queue *Handle, QueueAction *Action, QueueAction **Next) {
    Class_CheckHandle(Handle, QUEUE_CLASSID);
    Class_CheckHandle(Action, QUEUEACTION_CLASSID);
    Debug_CheckPointer(Next);
    *Next = Action->Next;
    return *Next != nullptr;
}

int32 Queue_ActionGetName(Queue *Handle, QueueAction *Action, char *Buffer, int32 Size) {
    Class_CheckHandle(Handle, QUEUE_CLASSID);
    Class_CheckHandle(Action, QUEUEACTION_CLASSID);
    Debug_CheckPointer(Buffer);
    return String_CopyLength(Buffer, NameOf(Action), Size);
}

int32 Queue_ActionGetCount(Queue *Handle, int32 *Count) {
    Class_CheckHandle(Handle, QUEUE_CLASSID);
    Debug_CheckPointer(Count);
    *Count = Handle->Count;
    return TRUE;
}

int32 Queue_LoadActions(Queue *Handle) {
    Class_CheckHandle(Handle, QUEUE_CLASSID);
    // The names as the check of the arguments read them, expanded.
    Dictionary *List = TaskInt_GetCheckedList(Handle->Owner, "actions");
    if (List == nullptr) return FALSE;
    DictionaryItem *Item = nullptr;
    for (Dictionary_ItemGetFirst(List, &Item); Item != nullptr; Dictionary_ItemGetNext(List, Item, &Item)) {
        const char *Text = nullptr;
        int32 Length = 0;
        if (!Dictionary_ItemCompareType(List, Item, DICTIONARY_TYPE_STRING) ||
            !Dictionary_ItemGetBufferPtr(List, Item, &Text, &Length) || Text == nullptr)
            continue;
        // A name that does not fit, or holds a NUL, would run another task:
        // the queue runs none of its actions then.
        char Name[ActionTextSize];
        if (!TaskInt_ReadText(Handle->Owner, "an action of \"actions\"", Text, Length, Name, (int32)sizeof(Name),
                              false)) {
            Queue_ActionRemoveAll(Handle);
            return FALSE;
        }
        Queue_ActionAdd(Handle, Name, nullptr);
    }
    return TRUE;
}

int32 Queue_Start(Queue *Handle) {
    Class_CheckHandle(Handle, QUEUE_CLASSID);
    return NotificationCenter_FireAfterDelay("Queue", "Start", Id(Handle), 0, nullptr);
}

int32 Queue_UpdateProgress(Queue *Handle, Dictionary *Result) {
    Class_CheckHandle(Handle, QUEUE_CLASSID);
    const float64 Numbers[CountKeyCount] = {(float64)Handle->Running, (float64)Handle->Complete, (float64)Handle->Count,
                                            Handle->Count > 0 ? (float64)Handle->Complete / Handle->Count : 0};
    Dictionary *Change = Handle->Progress;
    Handle->Progress = nullptr;
    if (Change != nullptr && !(TaskInt_HeldAlone(Change) && HoldsResultAndCounts(Change, Result)))
        Dictionary_Release(&Change);
    if (Change == nullptr) {
        Dictionary_Create(&Change);
        if (Result != nullptr) Dictionary_Merge(Change, Result, DICTIONARY_MERGE_OVERWRITE);
    }
    for (int32 Index = 0; Index < CountKeyCount; Index++)
        Dictionary_SetFloat64ByKey(Change, CountKeys[Index], Numbers[Index]);
    Task_SetStatusWithDictionary(Handle->Owner, Change);
    // A status change fires at once and nobody may keep it: it is free for
    // the next report unless someone still holds it.
    if (Handle->Progress == nullptr && TaskInt_HeldAlone(Change)) Handle->Progress = Change;
    else Dictionary_Release(&Change);
    return TRUE;
}

const TaskInterface Queue_INTERFACE = {"Queue", Queue_Create, Queue_AddRef, Queue_Release};

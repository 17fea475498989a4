// A workflow's tasks: created on demand from the document, kept with their
// parents, found, cancelled and removed; and the workflow's task types.
#include <string.h>

#include <string>
#include <vector>

#include "runtime/memory.h"
#include "runtime/notification/notification_center.h"
#include "runtime/text/string.h"
#include "runtime/text/string_print.h"
#include "workflow/app/workflow_app.h"
#include "workflow/task_internal.h"
#include "workflow/workflow_internal.h"

namespace {

constexpr int32 TaskNameSize = 512;

// Task lines go through the workflow's print, handed on whole.
int32 PrintThroughWorkflow(void *User, const char *Format, ...) {
    va_list Arguments;
    va_start(Arguments, Format);
    int32 Result = WorkflowInt_VPrintLine(static_cast<Workflow *>(User), Format, Arguments);
    va_end(Arguments);
    return Result;
}

void RemoveRecord(Workflow *Self, WorkflowTaskRecord *Entry) {
    Workflow_VerboseLog(Self, 1, "Removing task - %s\n", Task_GetNamePtr(Entry->Owned));
    // Records are only appended, and a parent is in the list before its
    // child is made: every child stands after its parent.
    WorkflowTaskRecord *After = Entry->Next;
    if (Entry->Prev != nullptr) Entry->Prev->Next = Entry->Next;
    else Self->First = Entry->Next;
    if (Entry->Next != nullptr) Entry->Next->Prev = Entry->Prev;
    else Self->Last = Entry->Prev;
    Self->TaskCount--;
    MemoryBudget_Give(Entry->Weight);
    Self->Records->erase(Entry->Owned);
    if (Entry->Parent != nullptr) Entry->Parent->ChildCount--;
    // Records of its children lose their parent link.
    for (WorkflowTaskRecord *Other = After; Other != nullptr && Entry->ChildCount > 0; Other = Other->Next)
        if (Other->Parent == Entry) {
            Other->Parent = nullptr;
            Entry->ChildCount--;
        }
    Task *Owned = Entry->Owned;
    Memory_Delete(Entry);
    // Pending events may keep the task beyond this workflow: it must no
    // longer reach the workflow through its handle or its print.
    Workflow *Owner = nullptr;
    if (Task_GetWorkflowHandle(Owned, &Owner) && Owner == Self) {
        Task_SetWorkflowHandle(Owned, nullptr);
        Task_SetPrintCallback(Owned, nullptr, nullptr);
    }
    Task_Release(&Owned);
}

} // namespace

int64 TaskInt_DefinitionCost(Workflow *Flow, const char *Name, Dictionary *Arguments) {
    int64 Cost = 0, More = 0;
    Dictionary *Source = nullptr;
    if (strlen(Name) <= DICTIONARY_MAX_KEY_LENGTH && Dictionary_GetDictionaryByKey(Flow->Document, Name, &Source) &&
        Source != nullptr)
        Dictionary_GetCost(Source, &Cost);
    if (Arguments != nullptr && Dictionary_GetCost(Arguments, &More)) Cost += More;
    return Cost;
}

void TaskInt_BudgetWords(char *Why, int32 Size, int64 Bytes) {
    String_Print(Why, Size,
                 "its arguments (%lld KiB) pass the memory budget of %d MiB that a process's documents and task "
                 "arguments share (%lld MiB held)",
                 (long long)(Bytes >> 10), (int32)(MemoryBudget_GetLimit() >> 20),
                 (long long)(MemoryBudget_GetUsed() >> 20));
}

namespace {

bool DescendsFrom(WorkflowTaskRecord *Entry, WorkflowTaskRecord *Root) {
    for (WorkflowTaskRecord *Walk = Entry; Walk != nullptr; Walk = Walk->Parent)
        if (Walk == Root) return true;
    return false;
}

bool IsRunningNamed(Workflow *Self, const char *Name) {
    for (WorkflowTaskRecord *Entry = Self->First; Entry != nullptr; Entry = Entry->Next)
        if (String_CompareWithoutCase(Task_GetNamePtr(Entry->Owned), Name) && !Task_IsCompleted(Entry->Owned))
            return true;
    return false;
}

// Keeps why a task cannot be made. A "load" moved aside for the macro task
// is named "load.<GUID>": the user wrote "load".
void NoteCreateError(Workflow *Self, const char *Name, const char *Why, const char *Type = nullptr) {
    std::string Shown = Name;
    if (size_t Dot = Shown.find('.'); Dot != std::string::npos && Shown.size() - Dot - 1 >= 32 &&
                                      Shown.find_first_not_of("0123456789abcdefABCDEF-", Dot + 1) == std::string::npos)
        Shown.erase(Dot);
    String_Print(Self->CreateError, (int32)sizeof(Self->CreateError), WORKFLOW_CANNOT_MAKE "\"%s\": %s%s%s",
                 Shown.c_str(), Why, Type != nullptr ? Type : "", Type != nullptr ? "\" is not registered" : "");
}

} // namespace

WorkflowTaskRecord *WorkflowInt_FindRecord(Workflow *Handle, Task *Owned) {
    auto Found = Handle->Records->find(Owned);
    return Found != Handle->Records->end() ? Found->second : nullptr;
}

int32 Workflow_CanCreateTask(Workflow *Handle, const char *Name) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    Debug_CheckPointer(Name);
    // A Dictionary compares a key longer than it keeps by its first bytes:
    // no task has such a name, and another must not answer for it.
    return strlen(Name) <= DICTIONARY_MAX_KEY_LENGTH && Dictionary_ContainsKey(Handle->Document, Name);
}

int32 Workflow_CreateTask(Workflow *Handle, const char *Name, Dictionary *Arguments, Task *Parent, Task **Created) {
    return Workflow_CreateTaskWithMacros(Handle, Name, Arguments, nullptr, Parent, Created);
}

int32 Workflow_CreateTaskWithMacros(Workflow *Handle, const char *Name, Dictionary *Arguments, Dictionary *Macros,
                                    Task *Parent, Task **Created) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    Debug_CheckPointer(Name);
    if (Created != nullptr) *Created = nullptr;
    Handle->CreateError[0] = 0;
    Handle->CreatePastBudget = FALSE;
    char Expanded[TaskNameSize];
    String_CopyLength(Expanded, Name, (int32)sizeof(Expanded));
    Workflow_ExpandString(Handle, Expanded, (int32)sizeof(Expanded));

    Task *Made = nullptr;
    Task_Create(&Made);
    Task_SetWorkflowHandle(Made, Handle);
    // Marked once: the table of log-only printers keeps it for good.
    [[maybe_unused]] static const int32 Marked =
        ClassPrint_MarkLogLine(PrintThroughWorkflow, WorkflowInt_PrintsOnlyToLog);
    Task_SetPrintCallback(Made, Handle, PrintThroughWorkflow);
    // A name longer than any task's (or one that filled the buffer, so may
    // be cut) names none: never the task its first bytes would find.
    if (const size_t Length = strlen(Expanded); Length > DICTIONARY_MAX_KEY_LENGTH) {
        Workflow_Print(Handle, "Cannot find task %s\n", Expanded);
        char Why[96];
        String_Print(Why, (int32)sizeof(Why), "the name is %d bytes%s, past the %d-byte limit of a task's name",
                     (int32)Length, Length + 1 >= sizeof(Expanded) ? " or more" : "", DICTIONARY_MAX_KEY_LENGTH);
        NoteCreateError(Handle, Expanded, Why);
        Task_Release(&Made);
        return FALSE;
    }
    // Charged before the copy is made: one past the budget is never made.
    const int64 Weight = TaskInt_DefinitionCost(Handle, Expanded, Arguments);
    if (!MemoryBudget_Take(Weight)) {
        char Why[224];
        TaskInt_BudgetWords(Why, (int32)sizeof(Why), Weight);
        Workflow_Print(Handle, "Task %s refused: %s\n", Expanded, Why);
        NoteCreateError(Handle, Expanded, Why);
        Handle->CreatePastBudget = TRUE;
        Task_Release(&Made);
        return FALSE;
    }
    if (!Task_LoadFromDictionary(Made, Handle->Document, Expanded)) {
        MemoryBudget_Give(Weight);
        Workflow_Print(Handle, "Cannot find task %s\n", Expanded);
        NoteCreateError(Handle, Expanded, "the workflow has no such task");
        Task_Release(&Made);
        return FALSE;
    }
    Dictionary *Definition = nullptr;
    Task_GetDictionaryHandle(Made, &Definition);
    if (Arguments != nullptr) Dictionary_Merge(Definition, Arguments, DICTIONARY_MERGE_OVERWRITE);
    const char *Type = nullptr;
    int32 TypeLength = 0;
    if (!Dictionary_GetBufferPtrByKey(Definition, "type", &Type, &TypeLength) || Type == nullptr) {
        Workflow_Print(Handle, "Task has no type property (%s)\n", Expanded);
        NoteCreateError(Handle, Expanded, "it has no \"type\"");
        MemoryBudget_Give(Weight);
        Task_Release(&Made);
        return FALSE;
    }
    // A type holding a NUL would make the task the type its first bytes name.
    if (TypeLength < 0 || strnlen(Type, (size_t)TypeLength) != (size_t)TypeLength) {
        Workflow_Print(Handle, "Task type holds a NUL byte (%s)\n", Expanded);
        NoteCreateError(Handle, Expanded, "its \"type\" holds a NUL byte");
        MemoryBudget_Give(Weight);
        Task_Release(&Made);
        return FALSE;
    }
    const TaskInterface *Record = nullptr;
    TaskTypeList *Application = WorkflowApp_GetTaskTypeListHandle();
    if (!TaskTypeList_Find(Handle->Types, Type, &Record) &&
        !(Handle->UseDefaultTaskTypes && Application != nullptr && TaskTypeList_Find(Application, Type, &Record))) {
        Workflow_Print(Handle, "Cannot find task handler for task type (%s)\n", Type);
        NoteCreateError(Handle, Expanded, "its task type \"", Type);
        MemoryBudget_Give(Weight);
        Task_Release(&Made);
        return FALSE;
    }
    if (Macros != nullptr) {
        Dictionary *Inner = Macros, *TaskMacros = nullptr;
        Dictionary_SkipRoot(Macros, &Inner);
        Task_GetMacroDictionaryHandle(Made, &TaskMacros);
        if (Inner != nullptr) Dictionary_Merge(TaskMacros, Inner, DICTIONARY_MERGE_OVERWRITE);
    }
    Task_SetInterface(Made, Record);
    Workflow_Print(Handle, "Created - %s - %s\n", Task_GetNamePtr(Made), ((ClassStruct *)Made)->InstanceId);
    int32 Verbose = 0;
    Workflow_GetVerbose(Handle, &Verbose);
    if (Verbose == 1) Task_Dump(Made);

    WorkflowTaskRecord *Entry = Memory_New(WorkflowTaskRecord);
    Entry->Owned = Made;
    Entry->Parent = Parent != nullptr ? WorkflowInt_FindRecord(Handle, Parent) : nullptr;
    if (Entry->Parent != nullptr) Entry->Parent->ChildCount++;
    Entry->Depth = Entry->Parent != nullptr ? Entry->Parent->Depth + 1 : 1;
    Entry->Prev = Handle->Last;
    if (Handle->Last != nullptr) Handle->Last->Next = Entry;
    else Handle->First = Entry;
    Handle->Last = Entry;
    Handle->TaskCount++;
    Entry->Weight = Weight;
    // Every growth touches each record's node again, out of cache in a
    // large workflow: the table grows eight times over, not twice.
    auto &Records = *Handle->Records;
    if ((float)(Records.size() + 1) > (float)Records.bucket_count() * Records.max_load_factor())
        Records.reserve(Records.size() * 8 + 64);
    Records.emplace(Made, Entry);
    if (Created != nullptr) *Created = Made;
    return TRUE;
}

int32 Workflow_GetCreateTaskError(Workflow *Handle, char *Text, int32 Size) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    Debug_CheckPointer(Text);
    if (Size < 1) return FALSE;
    String_CopyLength(Text, Handle->CreateError, Size);
    return Text[0] != 0;
}

int32 Workflow_FindTaskByInstanceId(Workflow *Handle, const char *InstanceId, Task **Found) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    Debug_CheckPointer(InstanceId);
    Debug_CheckPointer(Found);
    *Found = nullptr;
    // The instance table knows the id as it was made: a live task found
    // there is ours exactly when it has a record here. Only an id written
    // in other letters than it was made needs the walk.
    ClassStruct *Object = static_cast<ClassStruct *>(Class_ConvertFromInstanceId(InstanceId));
    if (Object != nullptr && Object->ClassId == TASK_CLASSID) {
        Task *Known = reinterpret_cast<Task *>(Object);
        if (WorkflowInt_FindRecord(Handle, Known) == nullptr) return FALSE;
        *Found = Known;
        return TRUE;
    }
    for (WorkflowTaskRecord *Entry = Handle->First; Entry != nullptr; Entry = Entry->Next)
        if (String_CompareWithoutCase(((ClassStruct *)Entry->Owned)->InstanceId, InstanceId)) {
            *Found = Entry->Owned;
            return TRUE;
        }
    return FALSE;
}

int32 Workflow_FindTaskByName(Workflow *Handle, const char *Name, Task **Found) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    Debug_CheckPointer(Name);
    Debug_CheckPointer(Found);
    *Found = nullptr;
    for (WorkflowTaskRecord *Entry = Handle->First; Entry != nullptr; Entry = Entry->Next)
        if (String_CompareWithoutCase(Task_GetNamePtr(Entry->Owned), Name)) {
            *Found = Entry->Owned;
            return TRUE;
        }
    return FALSE;
}

int32 Workflow_GetParentTaskHandle(Workflow *Handle, Task *Child, Task **Parent) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    Debug_CheckPointer(Parent);
    WorkflowTaskRecord *Entry = WorkflowInt_FindRecord(Handle, Child);
    *Parent = Entry != nullptr && Entry->Parent != nullptr ? Entry->Parent->Owned : nullptr;
    return *Parent != nullptr;
}

int32 Workflow_SetPastBudget(Workflow *Handle) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    Handle->PastBudget = TRUE;
    return TRUE;
}

int32 Workflow_IsPastBudget(Workflow *Handle) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    return Handle->PastBudget != 0;
}

int32 Workflow_GetTaskDepth(Workflow *Handle, Task *Child, int32 *Depth) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    Debug_CheckPointer(Depth);
    WorkflowTaskRecord *Entry = WorkflowInt_FindRecord(Handle, Child);
    *Depth = Entry != nullptr ? Entry->Depth : 0;
    return Entry != nullptr;
}

int32 Workflow_GetParentTaskHandleByName(Workflow *Handle, Task *Child, const char *Name, Task **Found) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    Debug_CheckPointer(Found);
    *Found = nullptr;
    WorkflowTaskRecord *Entry = WorkflowInt_FindRecord(Handle, Child);
    for (WorkflowTaskRecord *Walk = Entry != nullptr ? Entry->Parent : nullptr; Walk != nullptr; Walk = Walk->Parent)
        if (String_CompareWithoutCase(Task_GetNamePtr(Walk->Owned), Name)) {
            *Found = Walk->Owned;
            return TRUE;
        }
    return FALSE;
}

int32 Workflow_GetRootTaskHandle(Workflow *Handle, Task *Child, Task **Root) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    Debug_CheckPointer(Root);
    *Root = nullptr;
    WorkflowTaskRecord *Entry = WorkflowInt_FindRecord(Handle, Child);
    if (Entry == nullptr || Entry->Parent == nullptr) return FALSE;
    while (Entry->Parent != nullptr) Entry = Entry->Parent;
    *Root = Entry->Owned;
    return TRUE;
}

int32 Workflow_GetChildTaskCount(Workflow *Handle, Task *Parent, int32 *Count) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    Debug_CheckPointer(Count);
    WorkflowTaskRecord *Entry = Parent != nullptr ? WorkflowInt_FindRecord(Handle, Parent) : nullptr;
    *Count = Entry != nullptr ? Entry->ChildCount : 0;
    return TRUE;
}

int32 Workflow_GetTaskCount(Workflow *Handle, int32 *Count) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    Debug_CheckPointer(Count);
    *Count = Handle->TaskCount;
    return TRUE;
}

int32 Workflow_IsTaskRunning(Workflow *Handle, const char *Name) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    Debug_CheckPointer(Name);
    return IsRunningNamed(Handle, Name);
}

int32 Workflow_IsTaskQueued(Workflow *Handle, const char *Name) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    Debug_CheckPointer(Name);
    return Dictionary_ContainsKey(Handle->EventQueue, Name);
}

int32 Workflow_HasQueuedEvent(Workflow *Handle) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    int32 Count = 0;
    return Dictionary_ItemGetCount(Handle->EventQueue, &Count) && Count > 0;
}

int32 Workflow_IsActivated(Workflow *Handle) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    return Handle->ReadyEventCount > 0 || Handle->ActiveEventCount > 0;
}

int32 Workflow_CancelTasks(Workflow *Handle) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    if (IsRunningNamed(Handle, "load") || IsRunningNamed(Handle, "unload")) {
        Workflow_Print(Handle, "Cannot cancel load/unload tasks\n");
        return FALSE;
    }
    if (Handle->Cancelling || Handle->First == nullptr) return TRUE;
    Workflow_VerboseLog(Handle, 1, "Canceling leaf tasks\n");
    // A cancel may complete tasks and so change the list: collect first.
    int32 Count = Handle->TaskCount, Leaves = 0;
    MemoryScope<Task *> Targets((Count > 0 ? Count : 1) * (int32)sizeof(Task *));
    for (WorkflowTaskRecord *Entry = Handle->Last; Entry != nullptr; Entry = Entry->Prev) {
        int32 Children = 0;
        Workflow_GetChildTaskCount(Handle, Entry->Owned, &Children);
        if (Children == 0 && !Task_IsCompleted(Entry->Owned)) Targets.Get()[Leaves++] = Task_AddRef(Entry->Owned);
    }
    for (int32 Index = 0; Index < Leaves; Index++) {
        Task_Cancel(Targets.Get()[Index]);
        Task_Release(&Targets.Get()[Index]);
    }
    Handle->Cancelling = TRUE;
    return TRUE;
}

int32 Workflow_ClearTasks(Workflow *Handle) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    while (Handle->First != nullptr) RemoveRecord(Handle, Handle->First);
    return TRUE;
}

int32 Workflow_ClearTasksByHandle(Workflow *Handle, Task *Root) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    WorkflowTaskRecord *RootEntry = WorkflowInt_FindRecord(Handle, Root);
    if (RootEntry == nullptr) return FALSE;
    // Descendants first, from the last record, the root last. They all stand
    // after the root (see RemoveRecord): the walk ends there.
    for (WorkflowTaskRecord *Entry = Handle->Last; Entry != RootEntry;) {
        WorkflowTaskRecord *Prev = Entry->Prev;
        if (Entry != RootEntry && DescendsFrom(Entry, RootEntry)) RemoveRecord(Handle, Entry);
        Entry = Prev;
    }
    RemoveRecord(Handle, RootEntry);
    return TRUE;
}

int32 Workflow_Reset(Workflow *Handle) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    Dictionary_Reset(Handle->Document);
    Dictionary_Reset(Handle->Macros);
    Dictionary_Reset(Handle->EventQueue);
    Workflow_ClearTasks(Handle);
    TaskTypeList_Reset(Handle->Types);
    return TRUE;
}

// ---- Task types ----

int32 Workflow_FindTaskHandler(Workflow *Handle, const char *Type, const TaskInterface **Record) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    return TaskTypeList_Find(Handle->Types, Type, Record);
}

int32 Workflow_RegisterTaskHandler(Workflow *Handle, const TaskInterface *Record) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    return TaskTypeList_Add(Handle->Types, Record);
}

int32 Workflow_UnregisterTaskHandler(Workflow *Handle, const TaskInterface *Record) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    return TaskTypeList_Remove(Handle->Types, Record);
}

int32 Workflow_RegisterDefaultTasks(Workflow *Handle) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    return TaskTypeList_AddDefaultTasks(Handle->Types);
}

int32 Workflow_UnregisterDefaultTasks(Workflow *Handle) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    return TaskTypeList_RemoveDefaultTasks(Handle->Types);
}

int32 Workflow_RegisterCustomTasks(Workflow *Handle) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    return NotificationCenter_FireWithJSON("Workflow", "RegisterTaskHandlers", Handle->Class.InstanceId,
                                           "{\"canRemote\":false}");
}

int32 Workflow_UnregisterCustomTasks(Workflow *Handle) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    return NotificationCenter_FireWithJSON("Workflow", "UnregisterTaskHandlers", Handle->Class.InstanceId,
                                           "{\"canRemote\":false}");
}

int32 Workflow_SetUseDefaultTaskTypes(Workflow *Handle, uint32 Flag) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    Handle->UseDefaultTaskTypes = Flag;
    return TRUE;
}

int32 Workflow_GetUseDefaultTaskTypes(Workflow *Handle, uint32 *Flag) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    Debug_CheckPointer(Flag);
    *Flag = Handle->UseDefaultTaskTypes;
    return TRUE;
}

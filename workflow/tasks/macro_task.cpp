// Macro and Aggregate (see macro_task.h).
#include "workflow/tasks/macro_task.h"

#include <string.h>

#include <algorithm>
#include <string>

#include "runtime/memory.h"
#include "runtime/notification/notification_center.h"
#include "runtime/text/string.h"
#include "workflow/task_internal.h"
#include "workflow/task_request.h"
#include "workflow/task_type_object.h"
#include "workflow/tasks/queue_task.h"
#include "workflow/workflow.h"
#include "workflow/app/workflow_app.h"
#include "workflow/app/workflow_app_config.h"

struct Macro {
    ClassStruct Class;
    Task *Owner;
    uint32 Global;
};

struct Aggregate {
    ClassStruct Class;
    Task *Owner;
    Queue *Actions;
};

namespace {

constexpr int32 ValueSize = 1024;
constexpr int32 TargetSize = 320;

constexpr int32 UrlSize = 4096;
constexpr int32 SourceSize = 120;

// The task's "url" argument, when it has one.
bool GetUrl(Task *Owner, char *Url) {
    return Task_HasArgument(Owner, "url") && Task_GetStringArgument(Owner, "url", Url, UrlSize) && Url[0] != 0;
}

void AddMacro(Macro *Self, const char *Key, const char *Value, int32 Length) {
    if (Self->Global) {
        Task_Print(Self->Owner, "Adding macro %s=%s (global)\n", Key, Value);
        WorkflowApp_AddMacroLength(Key, Value, Length);
        return;
    }
    Workflow *Flow = nullptr;
    if (Task_GetWorkflowHandle(Self->Owner, &Flow) && Flow != nullptr) Workflow_AddMacroLength(Flow, Key, Value, Length);
}

// The table the task's macros go into.
Dictionary *MacroTable(Macro *Self) {
    if (Self->Global) return WorkflowApp_GetMacroDictionaryHandle();
    Workflow *Flow = nullptr;
    Dictionary *Table = nullptr;
    if (Task_GetWorkflowHandle(Self->Owner, &Flow) && Flow != nullptr) Workflow_GetMacroDictionaryHandle(Flow, &Table);
    return Table;
}

// What the text pairs of Pairs hold once copied (Copy), and what storing
// them adds to Table beyond the values they replace there (Added).
void PairsCost(Dictionary *Pairs, Dictionary *Table, int64 *Copy, int64 *Added) {
    *Copy = *Added = 0;
    DictionaryItem *Item = nullptr;
    for (Dictionary_ItemGetFirst(Pairs, &Item); Item != nullptr; Dictionary_ItemGetNext(Pairs, Item, &Item)) {
        const char *Key = nullptr, *Text = nullptr, *Old = nullptr;
        int32 Length = 0, OldLength = 0;
        if (Dictionary_ItemIsContainer(Pairs, Item) || !Dictionary_ItemGetKeyPtr(Pairs, Item, &Key) || Key == nullptr)
            continue;
        Dictionary_ItemGetBufferPtr(Pairs, Item, &Text, &Length);
        int64 Cost = 0, Freed = 0;
        Workflow_GetMacroCost(Key, Length, &Cost);
        if (Table != nullptr && strlen(Key) <= DICTIONARY_MAX_KEY_LENGTH &&
            Dictionary_GetBufferPtrByKey(Table, Key, &Old, &OldLength) && Old != nullptr)
            Workflow_GetMacroCost(Key, OldLength, &Freed);
        *Copy += Cost;
        *Added += Cost > Freed ? Cost - Freed : 0;
    }
}

// A task whose pairs the memory budget cannot hold keeps none of them.
void RefusePairs(Macro *Self, int64 Bytes) {
    char Text[TASK_NAME_SIZE + 320];
    String_Print(Text, (int32)sizeof(Text),
                 "task \"%s\" sets no macros: its pairs (%lld KiB, as macros and as its status) pass the memory budget "
                 "of %d MiB that a process's documents, bodies, macros and task arguments share (%lld MiB held)",
                 Task_GetNamePtr(Self->Owner), (long long)(Bytes >> 10), (int32)(MemoryBudget_GetLimit() >> 20),
                 (long long)(MemoryBudget_GetUsed() >> 20));
    Task_Print(Self->Owner, "%s\n", Text);
    Task_AddErrorAlways(Self->Owner, TASK_ERROR_TOO_MANY);
    Task_AddErrorAlways(Self->Owner, Text);
}

// Only the pairs that can be macros are copied (and become the status): a
// List or Dictionary beside them, never a macro, could hold most of a large
// document, which would be copied again with each status it went into.
// Expand is false for pairs the check of the arguments already expanded.
// The copy, the macros and the status are each charged to the memory budget
// for as long as they are held, and a task whose pairs would pass it is
// refused before anything is copied.
void AddPairs(Macro *Self, Dictionary *Pairs, bool Expand) {
    Dictionary *Table = MacroTable(Self);
    int64 CopyCost = 0, Added = 0;
    PairsCost(Pairs, Table, &CopyCost, &Added);
    if (!MemoryBudget_Take(CopyCost)) return RefusePairs(Self, CopyCost);
    Dictionary *Copy = nullptr;
    Dictionary_Create(&Copy);
    Dictionary_HoldCharge(Copy, CopyCost);
    DictionaryItem *Item = nullptr;
    for (Dictionary_ItemGetFirst(Pairs, &Item); Item != nullptr; Dictionary_ItemGetNext(Pairs, Item, &Item))
        if (!Dictionary_ItemIsContainer(Pairs, Item)) Dictionary_MergeItem(Copy, Pairs, Item, DICTIONARY_MERGE_OVERWRITE);
    const bool RefusedBefore = Task_IsArgumentRefused(Self->Owner) != 0;
    if (Expand) {
        // An expansion may lengthen each value up to a macro's width.
        Task_ExpandDictionary(Self->Owner, Copy);
        // A macro met on the way was refused: what it left is no value checked.
        if (!RefusedBefore && Task_IsArgumentRefused(Self->Owner)) {
            Dictionary_Release(&Copy);
            return;
        }
        int64 Expanded = 0;
        PairsCost(Copy, Table, &Expanded, &Added);
        if (Expanded > CopyCost && !MemoryBudget_Take(Expanded - CopyCost)) {
            Dictionary_Release(&Copy);
            return RefusePairs(Self, Expanded);
        }
        if (Expanded > CopyCost) Dictionary_HoldCharge(Copy, Expanded - CopyCost);
        CopyCost = std::max(CopyCost, Expanded);
    }
    // A value the store would refuse (a NUL, or past a value's width, as
    // expanded: an expansion leaves such a text as it is) refuses the task,
    // by the store's own check: none of the pairs is taken then.
    for (Dictionary_ItemGetFirst(Copy, &Item); Item != nullptr; Dictionary_ItemGetNext(Copy, Item, &Item)) {
        const char *Key = nullptr, *Text = nullptr;
        int32 Length = 0;
        char Why[96];
        if (Dictionary_ItemCompareType(Copy, Item, DICTIONARY_TYPE_STRING) &&
            Dictionary_ItemGetBufferPtr(Copy, Item, &Text, &Length) && Text != nullptr &&
            !Workflow_CheckMacroValue(Text, Length, Why, (int32)sizeof(Why))) {
            Dictionary_ItemGetKeyPtr(Copy, Item, &Key);
            std::string What = "macro \"" + std::string(Key != nullptr ? Key : "").substr(0, 120) + "\"";
            TaskInt_RefuseArgument(Self->Owner, What.c_str(), Why);
            Dictionary_Release(&Copy);
            return;
        }
    }
    // The status and the macros are taken together, before either is made.
    if (!MemoryBudget_Take(CopyCost + Added)) {
        Dictionary_Release(&Copy);
        return RefusePairs(Self, CopyCost + Added);
    }
    MemoryBudget_Give(Added); // each store takes its own
    int32 Count = 0;
    for (Dictionary_ItemGetFirst(Copy, &Item); Item != nullptr; Dictionary_ItemGetNext(Copy, Item, &Item)) {
        const char *Key = nullptr, *Text = nullptr;
        int32 Length = 0;
        Count++;
        if (Dictionary_ItemGetKeyPtr(Copy, Item, &Key) && Key != nullptr &&
            Dictionary_ItemCompareType(Copy, Item, DICTIONARY_TYPE_STRING) &&
            Dictionary_ItemGetBufferPtr(Copy, Item, &Text, &Length) && Text != nullptr)
            AddMacro(Self, Key, Text, Length);
    }
    Dictionary *Status = nullptr;
    if (Count > 0 && Task_GetStatusDictionaryHandle(Self->Owner, &Status) && Status != nullptr) {
        Task_SetStatusWithDictionary(Self->Owner, Copy);
        Dictionary_HoldCharge(Status, CopyCost);
    } else {
        MemoryBudget_Give(CopyCost);
    }
    Dictionary_Release(&Copy);
}

// The fetched document's top-level pairs become macros; the task completes
// whether or not the request succeeded (its failures are task errors).
int32 OnMacroDocument(Task *Owner, void *User, Dictionary *Document, int32 Error, int32) {
    if (Error == 0) {
        Dictionary *Root = Document;
        Dictionary_SkipRoot(Document, &Root);
        AddPairs(static_cast<Macro *>(User), Root, true);
    }
    return Task_Complete(Owner, nullptr);
}

int32 OnMacroStart(void *User, const char *, const char *, const char *, Dictionary *) {
    Macro *Self = static_cast<Macro *>(User);
    Task *Owner = Self->Owner;
    Task_GetBooleanArgument(Owner, "global", &Self->Global);
    char Url[UrlSize];
    if (GetUrl(Owner, Url)) return Task_RequestJSON(Owner, Url, Self, OnMacroDocument);
    if (Task_IsArgumentRefused(Owner)) return Task_Complete(Owner, nullptr);
    bool Applied = false;
    Dictionary *Definition = nullptr;
    Task_GetDictionaryHandle(Owner, &Definition);
    const char *Key = nullptr;
    int32 KeyLength = 0;
    // A macro's name is a key of the macros kept: no longer than a key.
    char Value[ValueSize], KeyCopy[DICTIONARY_MAX_KEY_LENGTH + 1];
    DictionaryItem *KeyItem = nullptr;
    // The key is taken as written: a macro's name is not expanded.
    if (Dictionary_ItemFindByKey(Definition, "key", nullptr, &KeyItem) && KeyItem != nullptr &&
        Dictionary_ItemCompareType(Definition, KeyItem, DICTIONARY_TYPE_STRING) &&
        Dictionary_ItemGetBufferPtr(Definition, KeyItem, &Key, &KeyLength) && Key != nullptr && KeyLength != 0 &&
        TaskInt_ReadText(Owner, "\"key\"", Key, KeyLength, KeyCopy, (int32)sizeof(KeyCopy), false) &&
        Task_GetStringArgument(Owner, "value", Value, (int32)sizeof(Value))) {
        AddMacro(Self, KeyCopy, Value, (int32)strlen(Value));
        Task_SetStatusString(Owner, KeyCopy, Value);
        Applied = true;
    }
    if (Task_IsArgumentRefused(Owner)) return Task_Complete(Owner, nullptr);
    if (Dictionary *Pairs = TaskInt_GetCheckedObject(Owner, "keyValuePairs"); Pairs != nullptr) {
        AddPairs(Self, Pairs, false);
        Applied = true;
    }
    if (!Applied) {
        Task_Print(Owner, "key/keyValuePairs argument not defined\n");
        Task_AddMissingArgumentError(Owner, "\"key\" or \"keyValuePairs\"");
    }
    return Task_Complete(Owner, nullptr);
}

void AddAction(Aggregate *Self, const char *Name, Dictionary *Arguments) {
    // Once an action is refused (past the budget of arguments) the task
    // fails: no further copy of a definition is made for it.
    if (Task_IsArgumentRefused(Self->Owner)) return;
    char TaskName[TargetSize], Target[TargetSize] = "";
    String_CopyLength(TaskName, Name, (int32)sizeof(TaskName));
    const char *Path = nullptr;
    if (Task_GetStringArgument(Self->Owner, "target", Target, (int32)sizeof(Target))) {
        const char *Dot = nullptr;
        if (String_FindChar(Target, '.', &Dot)) {
            Target[Dot - Target] = 0;
            String_CopyLength(TaskName, Target, (int32)sizeof(TaskName));
            Path = Dot + 1;
        }
    }
    // A name longer than a task's would find the task its first bytes name.
    char Checked[QUEUE_ACTION_NAME_SIZE];
    if (!TaskInt_ReadText(Self->Owner, "the task name of \"target\"", TaskName, (int32)strlen(TaskName), Checked,
                          (int32)sizeof(Checked), false))
        return;
    Dictionary *Action = nullptr, *Document = nullptr, *Definition = nullptr;
    Dictionary_Create(&Action);
    Workflow *Flow = nullptr;
    if (Task_GetWorkflowHandle(Self->Owner, &Flow) && Flow != nullptr) Workflow_GetDictionaryHandle(Flow, &Document);
    if (Document != nullptr && Dictionary_GetDictionaryByKey(Document, TaskName, &Definition) && Definition != nullptr)
        Dictionary_Merge(Action, Definition, DICTIONARY_MERGE_OVERWRITE);
    else
        Task_Print(Self->Owner, "Cannot find task in workflow - %s\n", TaskName);
    Dictionary *Into = Action;
    // A place that cannot be made (a text sits there, or the path is a
    // selector) is refused: merged over the top instead, the entry would
    // rewrite the task itself (its "type" among the rest).
    if (Path != nullptr && Path[0] != 0 && (!Dictionary_EnsureDictionaryByPath(Action, Path, &Into) || Into == nullptr)) {
        Dictionary_Release(&Action);
        TaskInt_RefuseArgument(Self->Owner, "\"target\"", "names a place in the task that cannot be made an object");
        return;
    }
    if (Arguments != nullptr) Dictionary_Merge(Into, Arguments, DICTIONARY_MERGE_OVERWRITE);
    if (Task_IsVerboseLevel(Self->Owner, 2)) Dictionary_Dump(Action);
    Queue_ActionAdd(Self->Actions, TaskName, Action);
    Dictionary_Release(&Action);
}

// Every Dictionary element of a List, or the Dictionary itself.
void AddRuns(Aggregate *Self, const char *Name, Dictionary *Container, DictionaryItem *Item) {
    Dictionary *Child = nullptr;
    Dictionary_ItemGetDictionaryHandle(Container, Item, &Child);
    if (Child == nullptr) return;
    if (Dictionary_ItemCompareType(Container, Item, DICTIONARY_TYPE_DICTIONARY)) {
        AddAction(Self, Name, Child);
        return;
    }
    DictionaryItem *Element = nullptr;
    for (Dictionary_ItemGetFirst(Child, &Element); Element != nullptr; Dictionary_ItemGetNext(Child, Element, &Element)) {
        Dictionary *Arguments = nullptr;
        if (Dictionary_ItemCompareType(Child, Element, DICTIONARY_TYPE_DICTIONARY) &&
            Dictionary_ItemGetDictionaryHandle(Child, Element, &Arguments))
            AddAction(Self, Name, Arguments);
    }
}

// The fetched list, or the Dictionary at "source" inside it, is loaded; a
// failed request or a bad source completes the task with its errors.
int32 OnAggregateDocument(Task *Owner, void *User, Dictionary *Document, int32 Error, int32) {
    Aggregate *Self = static_cast<Aggregate *>(User);
    if (Error == 0) {
        Dictionary *Content = Document;
        Dictionary_SkipRoot(Document, &Content);
        char Source[SourceSize] = "";
        if (Task_GetStringArgument(Owner, "source", Source, (int32)sizeof(Source)) && Source[0] != 0) {
            Dictionary *Found = nullptr, *Holder = nullptr;
            DictionaryItem *Item = nullptr;
            if (Dictionary_ItemFindByPath(Content, Source, &Holder, &Item) &&
                Dictionary_ItemCompareType(Holder, Item, DICTIONARY_TYPE_DICTIONARY) &&
                Dictionary_ItemGetDictionaryHandle(Holder, Item, &Found) && Found != nullptr) {
                Content = Found;
                Dictionary_SkipRoot(Found, &Content);
            } else {
                Task_Print(Owner, "Failed to find source path - %s\n", Source);
                Task_AddError(Owner, "%s", "Aggregate_Error_Merge");
                Content = nullptr;
            }
        }
        if (Content != nullptr && !Task_IsArgumentRefused(Owner)) Aggregate_LoadContent(Self, Content);
    }
    if (Task_HasError(Owner, nullptr)) return Task_Complete(Owner, nullptr);
    return TRUE;
}

int32 OnAggregateStart(void *User, const char *, const char *, const char *, Dictionary *) {
    Aggregate *Self = static_cast<Aggregate *>(User);
    char Url[UrlSize], Target[TargetSize];
    // "target" names the task each run is made of: read once here, so that
    // one that does not fit ends the task before anything runs.
    Task_GetStringArgument(Self->Owner, "target", Target, (int32)sizeof(Target));
    if (!Task_IsArgumentRefused(Self->Owner) && GetUrl(Self->Owner, Url))
        return Task_RequestJSON(Self->Owner, Url, Self, OnAggregateDocument);
    if (Task_IsArgumentRefused(Self->Owner)) return Task_Complete(Self->Owner, nullptr);
    Dictionary *Content = nullptr;
    Dictionary_Create(&Content);
    if (!Task_GetDictionaryArgument(Self->Owner, "content", Content)) {
        // Without content nothing would ever complete the task.
        Dictionary_Release(&Content);
        return TaskType_MissingArgument(Self->Owner, "content");
    }
    // The copy lives while its runs are made: charged to the memory budget
    // like them (at most the task's own definition, which is charged too).
    int64 Cost = 0;
    Dictionary_GetCost(Content, &Cost);
    if (!MemoryBudget_Take(Cost)) {
        Dictionary_Release(&Content);
        char Why[224], Text[TASK_NAME_SIZE + 256];
        TaskInt_BudgetWords(Why, (int32)sizeof(Why), Cost);
        String_Print(Text, (int32)sizeof(Text), "task \"%s\" not run: a copy of its \"content\" is refused: %s",
                     Task_GetNamePtr(Self->Owner), Why);
        Task_AddErrorAlways(Self->Owner, TASK_ERROR_TOO_MANY);
        Task_AddErrorAlways(Self->Owner, Text);
        return Task_Complete(Self->Owner, nullptr);
    }
    Dictionary_HoldCharge(Content, Cost);
    Aggregate_LoadContent(Self, Content);
    Dictionary_Release(&Content);
    return TRUE;
}

void FreeMacro(Macro *) {}

void FreeAggregate(Aggregate *Self) {
    if (Self->Actions != nullptr) Queue_Release(reinterpret_cast<void **>(&Self->Actions));
}

} // namespace

TASKTYPE_OBJECT_DEFINE(Macro, Macro, MACRO_CLASSID, OnMacroStart, FreeMacro)
TASKTYPE_OBJECT_DEFINE(AggregateObject, Aggregate, AGGREGATE_CLASSID, OnAggregateStart, FreeAggregate)
TASKTYPE_INTERFACE_DEFINE(Macro, Macro)

int32 Aggregate_Create(void **Handle, Task *Owner) {
    AggregateObject_Create(Handle, Owner);
    Queue_CreateManual(&static_cast<Aggregate *>(*Handle)->Actions, Owner);
    return TRUE;
}

int32 Aggregate_Delete(Aggregate **Handle) { return AggregateObject_Delete(Handle); }
void *Aggregate_AddRef(void *Handle) { return AggregateObject_AddRef(Handle); }
int32 Aggregate_Release(void **Handle) { return AggregateObject_Release(Handle); }

int32 Aggregate_LoadContent(Aggregate *Handle, Dictionary *Content) {
    Class_CheckHandle(Handle, AGGREGATE_CLASSID);
    Debug_CheckPointer(Content);
    Dictionary *Inner = nullptr;
    if (Dictionary_SkipRoot(Content, &Inner) && Inner != nullptr) Content = Inner;
    Queue_ActionRemoveAll(Handle->Actions);
    DictionaryItem *Item = nullptr;
    bool StoppedAtFirst = true;
    for (Dictionary_ItemGetFirst(Content, &Item); Item != nullptr; Dictionary_ItemGetNext(Content, Item, &Item)) {
        const char *Key = nullptr;
        if (!Dictionary_ItemIsContainer(Content, Item) || !Dictionary_ItemGetKeyPtr(Content, Item, &Key) ||
            Key == nullptr || Key[0] == 0)
            break;
        char Name[TargetSize];
        if (!TaskInt_ReadText(Handle->Owner, "a task name of the content", Key, (int32)strlen(Key), Name,
                              (int32)sizeof(Name), false))
            return Task_Complete(Handle->Owner, nullptr);
        AddRuns(Handle, Name, Content, Item);
        StoppedAtFirst = false;
    }
    char Target[TargetSize];
    if (StoppedAtFirst && Task_GetStringArgument(Handle->Owner, "target", Target, (int32)sizeof(Target))) {
        const char *Dot = nullptr;
        if (String_FindChar(Target, '.', &Dot)) Target[Dot - Target] = 0;
        for (Dictionary_ItemGetFirst(Content, &Item); Item != nullptr; Dictionary_ItemGetNext(Content, Item, &Item)) {
            if (Dictionary_ItemIsContainer(Content, Item)) {
                AddRuns(Handle, Target, Content, Item);
                continue;
            }
            AddAction(Handle, Target, Content);
            break;
        }
    }
    if (Task_IsArgumentRefused(Handle->Owner)) {
        Queue_ActionRemoveAll(Handle->Actions);
        return Task_Complete(Handle->Owner, nullptr);
    }
    if (Task_IsVerboseLevel(Handle->Owner, 2)) Dictionary_Dump(Content);
    return Queue_Start(Handle->Actions);
}

const TaskInterface Aggregate_INTERFACE = {"Aggregate", Aggregate_Create, Aggregate_AddRef, Aggregate_Release};

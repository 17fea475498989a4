// Shaping a fetched workflow document before it is loaded: progress
// identifiers, the generated macro task "load" and its macros, entry points
// chosen by the run's arguments; and the hand-over of an elevated run.
#include "runtime/files/path.h"
#include "runtime/memory.h"
#include "runtime/notification/notification_center.h"
#include "runtime/posix/platform_folder.h"
#include "runtime/text/string.h"
#include "workflow/workflow_run_internal.h"

namespace {

constexpr int32 GuidSize = 60;
constexpr int32 NameSize = 320;

Dictionary *Definition(WorkflowRun *Self) {
    Dictionary *Own = nullptr;
    Task_GetDictionaryHandle(Self->Owner, &Own);
    return Own;
}

void CopyProgressKeys(Dictionary *From, Dictionary *To) {
    static const char *const Keys[] = {"progressId", "progressTaskName"};
    for (const char *Key : Keys) {
        const char *Text = nullptr;
        if (Dictionary_GetStringPtrByKey(From, Key, &Text) && Text != nullptr) Dictionary_SetStringByKey(To, Key, Text);
    }
}

// The "_progress" of a forwarded request: task name -> {progressId, ...}.
void ApplyForwardedProgress(Dictionary *Progress, Dictionary *Document) {
    DictionaryItem *Item = nullptr;
    for (Dictionary_ItemGetFirst(Progress, &Item); Item != nullptr; Dictionary_ItemGetNext(Progress, Item, &Item)) {
        const char *Name = nullptr;
        Dictionary *Entry = nullptr, *Task = nullptr;
        if (!Dictionary_ItemGetKeyPtr(Progress, Item, &Name) || Name == nullptr ||
            !Dictionary_ItemGetDictionaryHandle(Progress, Item, &Entry) || Entry == nullptr)
            continue;
        Dictionary_EnsureDictionary(Document, Name, nullptr, &Task);
        if (Task != nullptr) CopyProgressKeys(Entry, Task);
    }
}

// Tasks of the parent workflow's document that the new one also defines pass
// their progress identifiers on.
void InheritProgress(Workflow *Parent, Dictionary *Document) {
    Dictionary *Old = nullptr;
    Workflow_GetDictionaryHandle(Parent, &Old);
    DictionaryItem *Item = nullptr;
    for (Dictionary_ItemGetFirst(Old, &Item); Item != nullptr; Dictionary_ItemGetNext(Old, Item, &Item)) {
        const char *Name = nullptr;
        Dictionary *From = nullptr, *To = nullptr;
        if (!Dictionary_ItemGetKeyPtr(Old, Item, &Name) || Name == nullptr ||
            !Dictionary_ItemGetDictionaryHandle(Old, Item, &From) || From == nullptr ||
            !Dictionary_GetDictionaryByKey(Document, Name, &To) || To == nullptr)
            continue;
        CopyProgressKeys(From, To);
    }
}

bool ItemPrivate(Dictionary *Document, const char *Key) {
    DictionaryItem *Item = nullptr;
    uint32 Flag = 0;
    if (Dictionary_ItemFindByKey(Document, Key, nullptr, &Item) && Item != nullptr)
        Dictionary_ItemGetPrivate(Document, Item, &Flag);
    return Flag != 0;
}

bool RenameTask(Dictionary *Document, const char *From, const char *To) {
    DictionaryItem *Item = nullptr;
    if (!Dictionary_ItemFindByKey(Document, From, nullptr, &Item) || Item == nullptr) return false;
    return Dictionary_ItemSetKey(Document, Item, To) != 0;
}

// Ensures the macro task "load" and answers its "keyValuePairs" (null when
// the document's own are of another kind: its check refuses them as written).
Dictionary *PrepareLoad(Dictionary *Document, const char *Guid) {
    Dictionary *Load = nullptr, *Pairs = nullptr;
    const char *Type = nullptr;
    int32 PairsType = DICTIONARY_TYPE_DICTIONARY;
    if (Dictionary_GetDictionaryByKey(Document, "load", &Load) && Load != nullptr &&
        Dictionary_GetStringPtrByKey(Load, "type", &Type) && Type != nullptr &&
        String_CompareWithoutCase(Type, "macro")) {
        if (Dictionary_GetTypeByKey(Load, "keyValuePairs", &PairsType) && PairsType != DICTIONARY_TYPE_DICTIONARY)
            return nullptr;
        Dictionary_EnsureDictionary(Load, "keyValuePairs", nullptr, &Pairs);
        // "key" and "value" stay where they were written: the task's check
        // reads them there, whole, against their own limits, and the task
        // sets that pair before its pairs. Moved into the pairs, a key would
        // be cut to a key's width or at a NUL, and a value measured against
        // the pairs' wider limit.
        if (Dictionary_ContainsKey(Load, "key") && !Dictionary_ContainsKey(Load, "value"))
            Dictionary_SetStringByKey(Load, "value", "");
        return Pairs;
    }
    char Moved[NameSize] = "";
    bool Private = false;
    if (Load != nullptr || Dictionary_ContainsKey(Document, "load")) {
        Private = ItemPrivate(Document, "load");
        String_CopyLength(Moved, "load.", (int32)sizeof(Moved));
        String_CatLength(Moved, Guid, (int32)sizeof(Moved));
        RenameTask(Document, "load", Moved);
    }
    DictionaryItem *Item = nullptr;
    Dictionary_AddDictionary(Document, "load", &Load, &Item);
    if (Private) Dictionary_ItemSetPrivate(Document, Item, TRUE);
    Dictionary_SetStringByKey(Load, "type", "macro");
    if (Moved[0] != 0) Dictionary_SetStringByKey(Load, "complete", Moved);
    Dictionary_AddDictionary(Load, "keyValuePairs", &Pairs, nullptr);
    return Pairs;
}

// What the macros a run inherits cost in its document: charged to the
// memory budget with the document, or refused, with why, before they are
// copied (a parent's tables may hold most of the budget).
bool ChargeMacros(WorkflowRun *Self, Workflow *Parent, Dictionary *Document) {
    Dictionary *From = nullptr;
    Task *Root = nullptr;
    int64 Cost = 0, More = 0;
    if (Parent != nullptr && Workflow_GetMacroDictionaryHandle(Parent, &From) && From != nullptr &&
        Dictionary_GetCost(From, &More))
        Cost += More;
    if (Parent != nullptr && Workflow_GetRootTaskHandle(Parent, Self->Owner, &Root) && Root != nullptr &&
        Task_GetMacroDictionaryHandle(Root, &From) && From != nullptr && Dictionary_GetCost(From, &More))
        Cost += More;
    if (MemoryBudget_Take(Cost)) {
        Dictionary_HoldCharge(Document, Cost);
        return true;
    }
    char Why[256];
    String_Print(Why, (int32)sizeof(Why),
                 "the macros it inherits (%lld KiB) pass the memory budget of %d MiB that a process's documents, "
                 "bodies, macros and task arguments share (%lld MiB held)",
                 (long long)(Cost >> 10), (int32)(MemoryBudget_GetLimit() >> 20),
                 (long long)(MemoryBudget_GetUsed() >> 20));
    Task_Print(Self->Owner, "%s\n", Why);
    Task_AddErrorAlways(Self->Owner, TASK_ERROR_TOO_MANY);
    Task_AddErrorAlways(Self->Owner, Why);
    return false;
}

void MergeMacros(WorkflowRun *Self, Workflow *Parent, bool Local, Dictionary *Macros) {
    if (Macros == nullptr) return;
    Dictionary *From = nullptr;
    Task *Root = nullptr;
    if (Parent != nullptr && Workflow_GetMacroDictionaryHandle(Parent, &From) && From != nullptr)
        Dictionary_Merge(Macros, From, DICTIONARY_MERGE_OVERWRITE);
    if ((Dictionary_GetDictionaryByKey(Definition(Self), "_macros", &From) && From != nullptr) ||
        (Dictionary_GetDictionaryByKey(Definition(Self), "macros", &From) && From != nullptr))
        Dictionary_Merge(Macros, From, DICTIONARY_MERGE_OVERWRITE | DICTIONARY_MERGE_INSERTFRONT);
    if (Local && Parent != nullptr) {
        if (Workflow_GetMacroDictionaryHandle(Parent, &From) && From != nullptr)
            Dictionary_Merge(Macros, From, DICTIONARY_MERGE_OVERWRITE);
        if (Workflow_GetRootTaskHandle(Parent, Self->Owner, &Root) && Root != nullptr &&
            Task_GetMacroDictionaryHandle(Root, &From) && From != nullptr)
            Dictionary_Merge(Macros, From, DICTIONARY_MERGE_OVERWRITE);
    }
    Dictionary_SetStringByKey(Macros, "workflowUrl", Self->Url);
    if (String_CompareBeginningWithoutCase(Self->Url, "file://")) {
        char Path[NameSize] = "", Directory[NameSize] = "";
        if (Path_ConvertFromURL(Self->Url, Path, (int32)sizeof(Path))) {
            Dictionary_SetStringByKey(Macros, "workflowPath", Path);
            Path_ParseDirectory(Path, Directory, (int32)sizeof(Directory));
            Dictionary_SetStringByKey(Macros, "workflowDirectory", Directory);
        }
    }
}

// The arguments "start", "load" and "unload" name the document's task to
// use as that entry point.
void ChooseEntryPoints(WorkflowRun *Self, Dictionary *Document, const char *Guid) {
    static const char *const Reserved[] = {"start", "load", "unload"};
    for (const char *Name : Reserved) {
        char Chosen[NameSize] = "";
        // A name that was refused (too long, or holding a NUL) chooses no
        // task, and the document's own entry is set aside all the same: the
        // run must not go on with a task nobody chose.
        bool Read = Task_GetStringArgument(Self->Owner, Name, Chosen, (int32)sizeof(Chosen)) != 0;
        bool Refused = !Read && Task_IsArgumentRefused(Self->Owner);
        if (!Refused && (!Read || Chosen[0] == 0 || String_Compare(Chosen, Name))) continue;
        char Aside[NameSize];
        String_CopyLength(Aside, Name, (int32)sizeof(Aside));
        String_CatLength(Aside, ".", (int32)sizeof(Aside));
        String_CatLength(Aside, Guid, (int32)sizeof(Aside));
        RenameTask(Document, Name, Aside);
        if (Refused) continue;
        Dictionary *Task = nullptr;
        if (!RenameTask(Document, Chosen, Name) || !Dictionary_GetDictionaryByKey(Document, Name, &Task) ||
            Task == nullptr)
            continue;
        Dictionary_SetStringByKey(Task, "_name", Chosen);
    }
}

} // namespace

int32 WorkflowRunInt_Prepare(WorkflowRun *Self, Dictionary *Document, bool *Refused) {
    Workflow *Parent = nullptr;
    Task_GetWorkflowHandle(Self->Owner, &Parent);
    uint32 Elevated = FALSE;
    Task_GetBooleanArgument(Self->Owner, "elevated", &Elevated);
    bool Local = (Elevated != 0) == (WorkflowRun_IsElevated() != 0);
    char Guid[GuidSize];
    String_Guid(Guid, (int32)sizeof(Guid), TRUE);

    Dictionary *Progress = nullptr;
    if (Dictionary_GetDictionaryByKey(Definition(Self), "_progress", &Progress) && Progress != nullptr)
        ApplyForwardedProgress(Progress, Document);
    if (Local && Parent != nullptr) InheritProgress(Parent, Document);
    *Refused = !ChargeMacros(Self, Parent, Document);
    if (*Refused) return TRUE;
    Dictionary *Macros = PrepareLoad(Document, Guid);
    MergeMacros(Self, Parent, Local, Macros);
    ChooseEntryPoints(Self, Document, Guid);
    if (Elevated && !WorkflowRun_IsElevated()) {
        WorkflowRunInt_HandOver(Self);
        return FALSE;
    }
    return TRUE;
}

// The manager's queues: queuing a state task within the limits, pushing by
// priority, popping in order, and the periodic step.
#include "platform/posix/platform_process_session.h"
#include "runtime/log.h"
#include "runtime/notification/notification_center.h"
#include "runtime/text/string.h"
#include "runtime/time.h"
#include "workflow/app/workflow_app.h"
#include "workflow/app/workflow_app_facts.h"
#include "workflow/workflow_event.h"
#include "workflow/workflow_manager_internal.h"

namespace {

constexpr int32 TaskNameSize = 120;

int32 PriorityOf(const char *WorkflowId) {
    int32 Priority = 0;
    Dictionary_GetInt32ByKey(GlobalWorkflowManager->Priorities, WorkflowId, &Priority);
    return Priority;
}

// The first entry's first task name.
const char *FirstName(Dictionary *Queue, DictionaryItem *Entry, Dictionary **Tasks) {
    *Tasks = nullptr;
    DictionaryItem *First = nullptr;
    const char *Name = nullptr;
    if (!Dictionary_ItemGetDictionaryHandle(Queue, Entry, Tasks) || *Tasks == nullptr ||
        !Dictionary_ItemGetFirst(*Tasks, &First) || First == nullptr ||
        !Dictionary_ItemGetKeyPtr(*Tasks, First, &Name))
        return nullptr;
    return Name;
}

DictionaryItem *FirstEntryOf(Dictionary *Queue, const char *WorkflowId) {
    DictionaryItem *Item = nullptr;
    if (!Dictionary_ItemFindByKey(Queue, WorkflowId, nullptr, &Item)) return nullptr;
    return Item;
}

bool IsActive(const char *WorkflowId) { return Dictionary_ContainsKey(GlobalWorkflowManager->Active, WorkflowId); }

} // namespace

int32 ManagerInt_CountActive(bool State) {
    int32 Count = 0;
    Dictionary *Active = GlobalWorkflowManager->Active;
    DictionaryItem *Item = nullptr;
    for (Dictionary_ItemGetFirst(Active, &Item); Item != nullptr; Dictionary_ItemGetNext(Active, Item, &Item)) {
        const char *Name = nullptr;
        Dictionary_ItemGetStringPtr(Active, Item, &Name);
        bool IsState = Name != nullptr && String_CompareWithoutCase(Name, "state");
        if (IsState == State) Count++;
    }
    return Count;
}

bool ManagerInt_HasEntry(Dictionary *Queue, const char *WorkflowId) { return FirstEntryOf(Queue, WorkflowId) != nullptr; }

int32 ManagerInt_RemoveEntries(Dictionary *Queue, const char *WorkflowId) {
    if (Queue == nullptr) return TRUE;
    DictionaryItem *Item = nullptr;
    while ((Item = FirstEntryOf(Queue, WorkflowId)) != nullptr) {
        Dictionary_Remove(Queue, &Item);
        GlobalWorkflowManager->Dirty = TRUE;
    }
    return TRUE;
}

int32 ManagerInt_QueueTask(Workflow *Handle, const char *Names, Dictionary *Macros, int32 Enforce, int32 Walk) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    WorkflowManager *Manager = GlobalWorkflowManager;
    if (Manager == nullptr || !Manager->Full || Names == nullptr) return FALSE;
    std::string Name;
    for (const std::string &Each : ManagerInt_SplitNames(Names)) {
        if (Workflow_CanCreateTask(Handle, Each.c_str())) {
            Name = Each.substr(0, TaskNameSize - 1);
            break;
        }
    }
    if (Name.empty()) return FALSE;
    const char *Id = WorkflowIdOf(Handle);
    const char *Running = nullptr;
    if (Dictionary_GetStringPtrByKey(Manager->Active, Id, &Running) && Running != nullptr &&
        String_CompareWithoutCase(Running, Name.c_str()))
        return FALSE;
    bool Queueable = ManagerInt_NameIn(Manager->QueueTaskNames, Name.c_str());
    bool DependencyQueued = false;
    if (Walk && ManagerInt_NameIn(Manager->DependencyTaskNames, Name.c_str()))
        DependencyQueued = ManagerInt_WalkDependencies(Handle, 2, Name.c_str()) != 0;
    bool IsState = String_CompareWithoutCase(Name.c_str(), "state");
    int32 Count = ManagerInt_CountActive(IsState);
    int32 Limit = IsState ? Manager->MaximumActiveStateTasks : Manager->MaximumActiveTasks;
    bool Waits = Queueable && (DependencyQueued || (Limit > 0 && Count >= Limit));
    if (Enforce && !Waits) {
        int32 OthersBefore = ManagerInt_CountActive(false);
        Dictionary_RemoveByKey(Manager->Failed, Id);
        if (Queueable) {
            Dictionary_SetStringByKey(Manager->Active, Id, Name.c_str());
            Manager->Dirty = TRUE;
            Log_Info("WorkflowManager - Task Queue - %s - Ready - %s (%d/%d)\n", Id, Name.c_str(),
                     ManagerInt_CountActive(IsState), Limit);
            WorkflowManager_ClearTaskAvailability(Handle);
        } else {
            Log_Info("WorkflowManager - Task Queue - %s - Ready - %s\n", Id, Name.c_str());
            if (IsState) WorkflowManager_ClearTaskAvailability(Handle);
        }
        if (OthersBefore == 0 && ManagerInt_CountActive(false) > 0)
            NotificationCenter_Fire("WorkflowManager", "Activate", ManagerId(), nullptr);
        WorkflowManager_SetProgress(Handle, Name.c_str(), 0.0);
        Workflow_QueueTaskWithMacros(Handle, Name.c_str(), Macros, nullptr, nullptr, nullptr);
    } else {
        ManagerInt_PushToQueue(Handle, Name.c_str(), Macros, Manager->Queue);
        if (DependencyQueued && Count < Limit) ManagerInt_PopFromQueue(Manager->DependencyQueue, 0, 0);
    }
    std::string Marked = "!" + Name;
    if (Walk && ManagerInt_NameIn(Manager->DependencyTaskNames, Marked.c_str()))
        ManagerInt_WalkDependencies(Handle, 1, Name.c_str());
    return TRUE;
}

int32 ManagerInt_PushToQueue(Workflow *Handle, const char *Name, Dictionary *Macros, Dictionary *Queue) {
    WorkflowManager *Manager = GlobalWorkflowManager;
    const char *Id = WorkflowIdOf(Handle);
    DictionaryItem *Existing = FirstEntryOf(Queue, Id);
    Dictionary *Tasks = nullptr;
    if (Existing != nullptr) {
        const char *First = FirstName(Queue, Existing, &Tasks);
        if (First != nullptr && String_CompareWithoutCase(First, Name)) return TRUE;
    }
    WorkflowManager_SetTaskAvailability(Handle, Name, FALSE);
    Log_Info("WorkflowManager - Task Queue - %s - Wait - %s\n", Id, Name);
    Workflow *Dependency = ManagerInt_DependencyOf(Handle);
    bool DependencyWaits = Dependency != nullptr && ManagerInt_HasEntry(Manager->DependencyQueue, WorkflowIdOf(Dependency));
    NotificationCenter_FireAfterDelayWithJSON("Workflow", "Status", Id, 0, "{\"queued\":true,\"queuedDependencies\":%s}",
                                              DependencyWaits ? "true" : "false");
    DictionaryItem *Entry = nullptr;
    if (Existing == nullptr) {
        // Before the first entry of lower priority.
        int32 Mine = PriorityOf(Id);
        DictionaryItem *After = nullptr, *Item = nullptr;
        for (Dictionary_ItemGetFirst(Queue, &Item); Item != nullptr; Dictionary_ItemGetNext(Queue, Item, &Item)) {
            const char *Other = nullptr;
            Dictionary_ItemGetKeyPtr(Queue, Item, &Other);
            if (Other != nullptr && PriorityOf(Other) < Mine) break;
            After = Item;
        }
        Dictionary_Insert(Queue, After, Id, &Entry);
    } else {
        Dictionary_Append(Queue, Id, &Entry);
    }
    Dictionary_ItemSetType(Queue, Entry, DICTIONARY_TYPE_DICTIONARY);
    Dictionary_ItemGetDictionaryHandle(Queue, Entry, &Tasks);
    Dictionary *Copy = nullptr;
    Dictionary_AddDictionary(Tasks, Name, &Copy, nullptr);
    if (Macros != nullptr) {
        Dictionary *Inner = Macros;
        Dictionary_SkipRoot(Macros, &Inner);
        if (Inner != nullptr) Dictionary_Merge(Copy, Inner, DICTIONARY_MERGE_OVERWRITE);
    }
    Manager->Dirty = TRUE;
    return TRUE;
}

int32 ManagerInt_PopFromQueue(Dictionary *Queue, int32 CheckDependencies, int32 StateOnly) {
    WorkflowManager *Manager = GlobalWorkflowManager;
    DictionaryItem *Item = nullptr;
    for (Dictionary_ItemGetFirst(Queue, &Item); Item != nullptr; Dictionary_ItemGetNext(Queue, Item, &Item)) {
        const char *Id = nullptr;
        Dictionary *Tasks = nullptr;
        const char *Name = FirstName(Queue, Item, &Tasks);
        if (Name == nullptr || !Dictionary_ItemGetKeyPtr(Queue, Item, &Id) || Id == nullptr) continue;
        bool IsState = String_CompareWithoutCase(Name, "state");
        if (StateOnly != (IsState ? 1 : 0)) continue;
        Workflow *Flow = ManagerInt_FindWorkflow(Id);
        if (Flow == nullptr) continue;
        if (CheckDependencies) {
            Workflow *Dependency = ManagerInt_DependencyOf(Flow);
            if (Dependency != nullptr) {
                const char *Other = WorkflowIdOf(Dependency);
                if ((ManagerInt_HasEntry(Queue, Other) || IsActive(Other)) &&
                    !Dictionary_ContainsKey(Manager->Failed, Other))
                    continue;
            }
        }
        std::string Taken = Name, FlowId = Id;
        Dictionary *Stored = nullptr, *Macros = nullptr;
        if (Dictionary_GetDictionaryByKey(Tasks, Taken.c_str(), &Stored) && Stored != nullptr) {
            int32 Count = 0;
            Dictionary_ItemGetCount(Stored, &Count);
            if (Count > 0) {
                Dictionary_Create(&Macros);
                Dictionary_Merge(Macros, Stored, DICTIONARY_MERGE_OVERWRITE);
            }
        }
        // The entry leaves first, so the queued task cannot find itself waiting.
        Dictionary_RemoveByKey(Tasks, Taken.c_str());
        int32 Left = 0;
        Dictionary_ItemGetCount(Tasks, &Left);
        if (Left == 0) Dictionary_Remove(Queue, &Item);
        Manager->Dirty = TRUE;
        ManagerInt_QueueTask(Flow, Taken.c_str(), Macros, 1, 0);
        if (Macros != nullptr) Dictionary_Release(&Macros);
        return TRUE;
    }
    return FALSE;
}

int32 WorkflowManager_Process(void) {
    WorkflowManager *Manager = GlobalWorkflowManager;
    if (Manager == nullptr || Manager->Worker || !Manager->Full) return TRUE;
    float64 Now = Time_GetCurrent();
    if (Now - Manager->LastStep < 1.0 && !Manager->Dirty) return TRUE;
    Manager->LastStep = Now;
    ManagerInt_ExpireTaskEvents();
    int32 StateLimit = Manager->MaximumActiveStateTasks;
    if ((StateLimit < 0 || ManagerInt_CountActive(true) < StateLimit) && ManagerInt_PopFromQueue(Manager->Queue, 0, 1))
        Manager->Dirty = TRUE;
    int32 Limit = Manager->MaximumActiveTasks;
    if (Limit == -1 || ManagerInt_CountActive(false) < Limit) {
        if (ManagerInt_PopFromQueue(Manager->DependencyQueue, 0, 0) || ManagerInt_PopFromQueue(Manager->Queue, 1, 0))
            Manager->Dirty = TRUE;
    }
    // Each renewal holds the machine awake for a while; a hold the manager did
    // not take is not its to release.
    uint32 Prevent = 0;
    WorkflowApp_GetPreventSystemShutdown(&Prevent);
    if (Prevent && ManagerInt_CountActive(false) > 0) {
        Manager->HoldsAwake = Platform_PreventSystemSleep(1) != 0;
    } else if (Manager->HoldsAwake) {
        Platform_PreventSystemSleep(0);
        Manager->HoldsAwake = false;
    }
    ManagerInt_ComputeProgress();
    if (Manager->StateInterval > 0 && Now - Manager->StateReference > Manager->StateInterval) {
        std::vector<Workflow *> Loaded = Manager->Loaded;
        for (Workflow *Each : Loaded) WorkflowManager_QueueTaskInterop(WorkflowIdOf(Each), "state,update", nullptr);
        Manager->StateReference = Now;
    }
    if (Manager->Dirty) {
        ManagerInt_PublishStatus();
        Manager->Dirty = FALSE;
    }
    return TRUE;
}

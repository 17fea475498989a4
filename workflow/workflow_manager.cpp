// The workflow manager: start and removal, additions, unloading, the flow
// and the settings (see workflow_manager.h). The queue is in
// workflow_manager_queue.cpp, availability, dependencies, relay, progress and
// status in workflow_manager_state.cpp.
#include <string.h>

#include <algorithm>

#include "platform/posix/platform_process_session.h"
#include "runtime/command_line.h"
#include "runtime/documents/json.h"
#include "runtime/log.h"
#include "runtime/memory.h"
#include "runtime/notification/notification_center.h"
#include "runtime/text/string.h"
#include "workflow/workflow_event.h"
#include "workflow/workflow_manager_internal.h"
#include "workflow/workflow_run.h"

WorkflowManager *GlobalWorkflowManager = nullptr;

namespace {

constexpr int32 GuidSize = 64;
constexpr int32 NameSize = 320;
constexpr char DefaultQueueNames[] = "state,start,install,uninstall,update,repair";
constexpr char DefaultProgressNames[] = "start,install,uninstall,update,repair";
constexpr char DefaultDependencyNames[] = "install,!uninstall,update,repair";

WorkflowManager *Self() {
    Debug_Assert(GlobalWorkflowManager != nullptr, "WorkflowManager not initialized");
    return GlobalWorkflowManager;
}

void RaiseCallback(void *User, WorkflowManager_CallbackFunc Function, const char *Id, const char *Type,
                   const char *Sender, Dictionary *Info) {
    if (Function == nullptr) return;
    Dictionary *Payload = nullptr, *Inner = nullptr;
    Dictionary_Create(&Payload);
    Dictionary_SetStringByKey(Payload, "callbackId", Id);
    Dictionary_SetStringByKey(Payload, "type", Type);
    Dictionary_SetStringByKey(Payload, "sender", Sender);
    Dictionary_AddDictionary(Payload, "info", &Inner, nullptr);
    if (Info != nullptr) Dictionary_Merge(Inner, Info, DICTIONARY_MERGE_OVERWRITE);
    Function(User, Payload);
    Dictionary_Release(&Payload);
}

void ReleaseCallback(ManagerCallback *Callback);

// The add callback: answers the first run start that carries its id.
int32 OnAddRunStart(void *User, const char *, const char *, const char *, Dictionary *Info) {
    ManagerCallback *Callback = static_cast<ManagerCallback *>(User);
    const char *Id = nullptr, *Flow = nullptr;
    if (Info == nullptr || !Dictionary_GetStringPtrByPath(Info, "arguments\\callbackId", &Id) || Id == nullptr ||
        Callback->Id != Id || Dictionary_ContainsKey(Info, "called"))
        return TRUE;
    Dictionary_SetBooleanByKey(Info, "called", TRUE);
    NotificationCenter_RemoveObserver("WorkflowRun", "RunStart", Callback, OnAddRunStart);
    Callback->Observing = FALSE;
    Dictionary_GetStringPtrByKey(Info, "workflow", &Flow);
    std::string FlowText = Flow != nullptr ? Flow : "";
    WorkflowManager *Manager = GlobalWorkflowManager;
    Dictionary *Arguments = nullptr, *Answer = nullptr;
    Dictionary_GetDictionaryByKey(Info, "arguments", &Arguments);
    if (Arguments != nullptr) {
        const char *Text = nullptr;
        if (Dictionary_GetStringPtrByKey(Arguments, "id", &Text) && Text != nullptr) {
            Dictionary_SetStringByKey(Manager->WorkflowIds, FlowText.c_str(), Text);
            Dictionary *List = nullptr;
            if (Dictionary_GetListByKey(Arguments, "dependencies", &List) && List != nullptr) {
                DictionaryItem *Item = nullptr;
                for (Dictionary_ItemGetFirst(List, &Item); Item != nullptr; Dictionary_ItemGetNext(List, Item, &Item)) {
                    const char *Dependency = nullptr;
                    if (Dictionary_ItemGetStringPtr(List, Item, &Dependency) && Dependency != nullptr)
                        WorkflowManager_AddDependency(Text, Dependency);
                }
            }
        }
        int32 Priority = 0;
        if (Dictionary_GetInt32ByKey(Arguments, "priority", &Priority))
            Dictionary_SetInt32ByKey(Manager->Priorities, FlowText.c_str(), Priority);
    }
    if (Dictionary_ContainsKey(Info, "errors")) Manager->Dirty = TRUE;
    Dictionary_Create(&Answer);
    Dictionary_SetStringByKey(Answer, "workflow", FlowText.c_str());
    const char *TaskText = nullptr;
    if (Dictionary_GetStringPtrByKey(Info, "task", &TaskText) && TaskText != nullptr)
        Dictionary_SetStringByKey(Answer, "task", TaskText);
    if (Arguments != nullptr) Dictionary_Merge(Answer, Arguments, 0);
    Dictionary *Errors = nullptr, *Copy = nullptr;
    if (Dictionary_GetListByKey(Info, "errors", &Errors) && Errors != nullptr) {
        Dictionary_AddList(Answer, "errors", &Copy, nullptr);
        Dictionary_Merge(Copy, Errors, DICTIONARY_MERGE_OVERWRITE);
    }
    if (Manager->Verbose > 0)
        Log_Info("WorkflowManager - Trigger add callback - %s [0x%p]\n", Callback->Id.c_str(), (void *)Callback);
    RaiseCallback(Callback->User, Callback->Function, Callback->Id.c_str(), "Workflow", FlowText.c_str(), Answer);
    Dictionary_Release(&Answer);
    ReleaseCallback(Callback);
    return TRUE;
}

void ReleaseCallback(ManagerCallback *Callback) {
    if (--Callback->References > 0) return;
    if (Callback->Observing) NotificationCenter_RemoveObserver("WorkflowRun", "RunStart", Callback, OnAddRunStart);
    WorkflowManager *Manager = GlobalWorkflowManager;
    if (Manager != nullptr) {
        auto &List = Manager->Callbacks;
        List.erase(std::remove(List.begin(), List.end(), Callback), List.end());
    }
    delete Callback;
}

// Room: whether a run past the process's runs is refused now (a page's add)
// rather than at its start (the host's own run, which fails in its words).
int32 AddInt(Dictionary *Request, ManagerCallback *Callback, bool Room) {
    Dictionary *Inner = Request;
    Dictionary_SkipRootContainer(Request, &Inner);
    if (Inner == nullptr) Inner = Request;
    const char *Url = nullptr;
    if (Dictionary_GetStringPtrByKey(Inner, "url", &Url) && Url != nullptr) {
        // The url and id are names, read whole: one that holds a NUL would
        // be fetched, claimed and answered as what its first bytes make.
        for (const char *Key : {"url", "id"}) {
            const char *Text = nullptr;
            int32 Length = 0;
            if (Dictionary_GetBufferPtrByKey(Inner, Key, &Text, &Length) && Text != nullptr &&
                strlen(Text) != (size_t)Length) {
                Log_Warning("WorkflowManager - Add refused - its %s holds a NUL byte\n", Key);
                return FALSE;
            }
        }
        // A run added now could not run: the answer says so.
        if (Self()->AdditionsClosed || Self()->Unloading) {
            Log_Warning("WorkflowManager - Add refused - %s: the workflows are being unloaded, so it would not run\n",
                        Url);
            return FALSE;
        }
        // A run past the process's runs would be refused at its start, after
        // its notice and task had waited: it is refused here instead.
        if (Room && !WorkflowRun_HasRoomFor(Self()->PendingStarts)) {
            if (!Self()->ToldTooMany)
                Log_Warning("WorkflowManager - Add refused - %s: " WORKFLOWRUN_ERROR_TOO_MANY
                            ": a process starts at most %d runs (later refusals are not logged)\n",
                            Url, WORKFLOWRUN_START_LIMIT);
            Self()->ToldTooMany = TRUE;
            return FALSE;
        }
        Dictionary *Copy = nullptr;
        Dictionary_Create(&Copy);
        Dictionary_Merge(Copy, Inner, DICTIONARY_MERGE_OVERWRITE);
        std::string UrlText = Url;
        Dictionary_SetStringByKey(Copy, "cache", "workflow");
        char Guid[GuidSize];
        if (!Dictionary_ContainsKey(Copy, "id")) {
            String_Guid(Guid, (int32)sizeof(Guid), TRUE);
            Dictionary_SetStringByKey(Copy, "id", Guid);
        }
        // An id names one run: one in use (the host's, learnt from a
        // notification) would have this run's completion speak for that one.
        const char *Id = nullptr;
        if (!Dictionary_GetStringPtrByKey(Copy, "id", &Id) || Id == nullptr || !WorkflowRun_ClaimId(Id)) {
            Log_Warning("WorkflowManager - Add refused - %s: its id is %s\n", UrlText.c_str(),
                        Id == nullptr ? "not a text" : "in use by another run");
            Dictionary_Release(&Copy);
            return FALSE;
        }
        if (!Dictionary_ContainsKey(Copy, "callbackId")) {
            if (Callback != nullptr) {
                Dictionary_SetStringByKey(Copy, "#callbackId", Callback->Id.c_str());
            } else {
                String_Guid(Guid, (int32)sizeof(Guid), TRUE);
                Dictionary_SetStringByKey(Copy, "#callbackId", Guid);
            }
        }
        Log_Info("WorkflowManager - Add - %s\n", UrlText.c_str());
        Dictionary_Dump(Copy);
        WorkflowManager *Manager = Self();
        if (Manager->WillLoad != nullptr) Manager->WillLoad(Manager->WillLoadUser, UrlText.c_str());
        if (Callback != nullptr) {
            // Callers that named their own callbackId are answered by that id.
            const char *Given = nullptr;
            if (Dictionary_GetStringPtrByKey(Copy, "callbackId", &Given) && Given != nullptr) Callback->Id = Given;
            Callback->References++;
            if (!Callback->Observing) {
                NotificationCenter_AddObserver("WorkflowRun", "RunStart", Callback, OnAddRunStart);
                Callback->Observing = TRUE;
            }
        }
        Manager->PendingStarts++;
        NotificationCenter_FireAfterDelayOwn("WorkflowRun", "Start", nullptr, 0, Copy);
        Dictionary_Release(&Copy);
        return TRUE;
    }
    int32 Added = FALSE;
    DictionaryItem *Item = nullptr;
    for (Dictionary_ItemGetFirst(Inner, &Item); Item != nullptr; Dictionary_ItemGetNext(Inner, Item, &Item)) {
        Dictionary *Each = nullptr;
        if (Dictionary_ItemCompareType(Inner, Item, DICTIONARY_TYPE_DICTIONARY) &&
            Dictionary_ItemGetDictionaryHandle(Inner, Item, &Each) && Each != nullptr && AddInt(Each, Callback, Room))
            Added = TRUE;
    }
    if (!Added) Log_Info("WorkflowManager - Add info must contain url\n");
    return Added;
}

ManagerCallback *MakeCallback(void *User, WorkflowManager_CallbackFunc Function) {
    if (Function == nullptr) return nullptr;
    ManagerCallback *Callback = new ManagerCallback();
    char Guid[GuidSize];
    String_Guid(Guid, (int32)sizeof(Guid), TRUE);
    Callback->Id = Guid;
    Callback->User = User;
    Callback->Function = Function;
    Callback->References = 1; // the caller's, dropped after the addition
    Self()->Callbacks.push_back(Callback);
    return Callback;
}

int32 AddWithCallback(Dictionary *Request, void *User, WorkflowManager_CallbackFunc Function) {
    ManagerCallback *Callback = MakeCallback(User, Function);
    int32 Added = AddInt(Request, Callback, false);
    if (Callback != nullptr) ReleaseCallback(Callback);
    return Added;
}

void RaiseUnloadCallback(WorkflowManager *Manager) {
    void *User = Manager->UnloadUser;
    WorkflowManager_CallbackFunc Function = Manager->UnloadFunction;
    std::string Id = Manager->UnloadCallbackId;
    Manager->Unloading = FALSE;
    Manager->UnloadCallbackId.clear();
    Manager->UnloadUser = nullptr;
    Manager->UnloadFunction = nullptr;
    RaiseCallback(User, Function, Id.c_str(), "WorkflowManager", ManagerId(), nullptr);
}

void QueueUnload(Workflow *Flow) {
    if (!Workflow_IsTaskQueued(Flow, "unload")) Workflow_QueueTask(Flow, "unload", nullptr, nullptr);
}

// The flow: "load" -> "state" or "start" -> "unload".
int32 OnFlow(void *, const char *, const char *, const char *, Dictionary *Info) {
    WorkflowManager *Manager = GlobalWorkflowManager;
    uint32 Flag = 0, Successful = 0;
    const char *Name = nullptr, *Id = nullptr;
    if (Manager == nullptr || Info == nullptr || !NotificationCenter_IsOwnFire() ||
        (Dictionary_GetBooleanByKey(Info, "isRemote", &Flag) && Flag) ||
        !Dictionary_GetStringPtrByKey(Info, "name", &Name) || Name == nullptr ||
        !Dictionary_GetStringPtrByKey(Info, "workflow", &Id) || Id == nullptr ||
        !Dictionary_GetBooleanByKey(Info, "successful", &Successful))
        return TRUE;
    Workflow *Flow = ManagerInt_FindWorkflow(Id);
    // An event dropped as its workflow unloads moves nothing on.
    if (Flow == nullptr || (Dictionary_GetBooleanByKey(Info, "dropped", &Flag) && Flag)) return TRUE;
    bool Plain = !Manager->Worker && !Manager->SelfUpdate;
    if (String_CompareWithoutCase(Name, "load")) {
        // The manager unloads the workflows it added. A nested run's workflow
        // belongs to its run task, which ends it by a cancel (that queues its
        // "unload"); until then it runs on, as the task that runs it (in a
        // parent's "unload", say) waits for its outcome.
        if (Manager->Unloading && ManagerInt_IsGlobal(Flow)) {
            QueueUnload(Flow);
        } else if (!ManagerInt_IsGlobal(Flow) &&
                   (Workflow_IsTaskQueued(Flow, "unload") || Workflow_IsTaskRunning(Flow, "unload"))) {
            return TRUE;
        } else if (ManagerInt_IsGlobal(Flow) && Plain) {
            if (!Successful) return TRUE;
            if (Workflow_CanCreateTask(Flow, "state")) ManagerInt_QueueTask(Flow, "state", nullptr, 0, 1);
            else if (Workflow_CanCreateTask(Flow, "start")) ManagerInt_QueueTask(Flow, "start", nullptr, 0, 1);
            else if (Manager->AutoUnload) QueueUnload(Flow);
        } else if (!Successful) {
            // A workflow whose "load" failed runs no entry (its macros were
            // never set): it unloads, failed, as a global one ends.
            QueueUnload(Flow);
        } else {
            Workflow_QueueTask(Flow, Manager->SelfUpdate ? "apply" : "start", nullptr, nullptr);
        }
    } else if (String_CompareWithoutCase(Name, "start") || String_CompareWithoutCase(Name, "apply")) {
        if (Plain && ManagerInt_IsGlobal(Flow) && !Manager->AutoUnload) return TRUE;
        QueueUnload(Flow);
    } else if (String_CompareWithoutCase(Name, "unload")) {
        Workflow_Complete(Flow, Info);
        if (Manager->Worker) return TRUE;
        auto Found = std::find(Manager->Loaded.begin(), Manager->Loaded.end(), Flow);
        if (Found == Manager->Loaded.end()) return TRUE;
        Manager->Loaded.erase(Found);
        Manager->LoadCompleted.erase(Id);
        ManagerInt_RemoveEntries(Manager->Queue, Id);
        ManagerInt_RemoveEntries(Manager->DependencyQueue, Id);
        Workflow_Release(&Flow);
        if (Manager->Loaded.empty() && Manager->Unloading) RaiseUnloadCallback(Manager);
    }
    return TRUE;
}

// An addition's start has been delivered (the run, if any, has started).
int32 OnStartDelivered(void *, const char *, const char *, const char *, Dictionary *) {
    WorkflowManager *Manager = GlobalWorkflowManager;
    if (Manager != nullptr && Manager->PendingStarts > 0 && NotificationCenter_IsOwnFire()) Manager->PendingStarts--;
    return TRUE;
}

// A nested run's workflow belongs to the task that runs it: that task's
// workflow is under way while it is.
bool IsUnderWay(WorkflowManager *Manager, Workflow *Flow) {
    if (!ManagerInt_IsGlobal(Flow)) return false;
    Task *Owner = nullptr;
    if (Workflow_GetTaskHandle(Flow, &Owner) && Owner != nullptr && Task_IsCompleted(Owner)) return false;
    const char *Id = WorkflowIdOf(Flow);
    return Manager->LoadCompleted.count(Id) == 0 || Workflow_IsActivated(Flow) || Workflow_HasQueuedEvent(Flow) ||
           Dictionary_ContainsKey(Manager->Active, Id) || ManagerInt_HasEntry(Manager->Queue, Id) ||
           ManagerInt_HasEntry(Manager->DependencyQueue, Id);
}

void SetNames(std::vector<std::string> &List, const char *Names) {
    List = ManagerInt_SplitNames(Names != nullptr ? Names : "");
}

} // namespace

// ---- Shared helpers ----

const char *ManagerId(void) { return GlobalWorkflowManager != nullptr ? GlobalWorkflowManager->Class.InstanceId : ""; }
const char *WorkflowIdOf(Workflow *Handle) { return ((ClassStruct *)Handle)->InstanceId; }

Workflow *ManagerInt_FindWorkflow(const char *Id) {
    if (Id == nullptr || GlobalWorkflowManager == nullptr) return nullptr;
    for (Workflow *Each : GlobalWorkflowManager->Loaded)
        if (String_Compare(WorkflowIdOf(Each), Id)) return Each;
    void *Object = Class_ConvertFromInstanceId(Id);
    if (Object != nullptr && ((ClassStruct *)Object)->ClassId == WORKFLOW_CLASSID) return static_cast<Workflow *>(Object);
    return nullptr;
}

bool ManagerInt_NameIn(const std::vector<std::string> &List, const char *Name) {
    for (const std::string &Each : List)
        if (String_CompareWithoutCase(Each.c_str(), Name)) return true;
    return false;
}

std::vector<std::string> ManagerInt_SplitNames(const char *Names) {
    std::vector<std::string> List;
    std::string Current;
    for (const char *Walk = Names;; Walk++) {
        if (*Walk == ',' || *Walk == 0) {
            size_t First = Current.find_first_not_of(" \t");
            size_t Last = Current.find_last_not_of(" \t");
            if (First != std::string::npos) List.push_back(Current.substr(First, Last - First + 1).substr(0, NameSize - 1));
            Current.clear();
            if (*Walk == 0) break;
        } else {
            Current += *Walk;
        }
    }
    return List;
}

bool ManagerInt_IsGlobal(Workflow *Handle) { return Workflow_IsGlobal(Handle) != 0; }

// ---- Start and removal ----

int32 WorkflowManager_Init(void) {
    if (GlobalWorkflowManager != nullptr) return TRUE;
    WorkflowManager *Manager = new WorkflowManager();
    Manager->Class.ClassId = WORKFLOWMANAGER_CLASSID;
    Class_GenerateInstanceId(Manager);
    Class_TrackInstance(Manager, Manager->Class.InstanceId);
    GlobalWorkflowManager = Manager;
    Manager->Worker = CommandLine_IsFieldSet(nullptr, "wfworker") ? 1 : 0;
    Manager->SelfUpdate = CommandLine_IsFieldSet(nullptr, "wfselfupdate") ? 1 : 0;
    WorkflowManager_SetFlowControl(TRUE);
    if (Manager->Worker) return TRUE;
    NotificationCenter_AddObserver("WorkflowRun", "Start", Manager, OnStartDelivered);
    Manager->Full = TRUE;
    Manager->MaximumActiveTasks = -1;
    Manager->MaximumActiveStateTasks = 4;
    Dictionary **Tables[] = {&Manager->Queue,     &Manager->DependencyQueue, &Manager->Active,
                             &Manager->Progress,  &Manager->Available,       &Manager->Previous,
                             &Manager->Failed,         &Manager->WorkflowIds,
                             &Manager->Priorities, &Manager->Dependencies};
    for (Dictionary **Table : Tables) Dictionary_Create(Table);
    Dictionary_SetAllowDuplicates(Manager->Queue, TRUE);
    Dictionary_SetAllowDuplicates(Manager->DependencyQueue, TRUE);
    Dictionary_SetAllowDuplicates(Manager->Dependencies, TRUE);
    SetNames(Manager->QueueTaskNames, DefaultQueueNames);
    SetNames(Manager->ProgressTaskNames, DefaultProgressNames);
    SetNames(Manager->DependencyTaskNames, DefaultDependencyNames);
    ManagerInt_InitState();
    return TRUE;
}

int32 WorkflowManager_Remove(void) {
    WorkflowManager *Manager = GlobalWorkflowManager;
    if (Manager == nullptr) return TRUE;
    if (Manager->FlowControl) NotificationCenter_RemoveObserver("WorkflowEvent", "Complete", Manager, OnFlow);
    Manager->FlowControl = 0;
    if (Manager->HoldsAwake) Platform_PreventSystemSleep(0);
    if (Manager->Full) {
        NotificationCenter_RemoveObserver("WorkflowRun", "Start", Manager, OnStartDelivered);
        ManagerInt_RemoveState();
    }
    for (Workflow *Each : Manager->Loaded) Workflow_Release(&Each);
    Manager->Loaded.clear();
    std::vector<ManagerCallback *> Callbacks;
    Callbacks.swap(Manager->Callbacks);
    for (ManagerCallback *Each : Callbacks) {
        if (Each->Observing) NotificationCenter_RemoveObserver("WorkflowRun", "RunStart", Each, OnAddRunStart);
        delete Each;
    }
    Dictionary **Tables[] = {&Manager->Queue,     &Manager->DependencyQueue, &Manager->Active,
                             &Manager->Progress,  &Manager->Available,       &Manager->Previous,
                             &Manager->Failed,         &Manager->WorkflowIds,
                             &Manager->Priorities, &Manager->Dependencies};
    for (Dictionary **Table : Tables)
        if (*Table != nullptr) Dictionary_Release(Table);
    Manager->TaskEvents.ForEach([](TaskEventTable::Entry &Each) {
        if (Each.Events.Record != nullptr) Dictionary_Release(&Each.Events.Record);
    });
    Class_UntrackInstance(Manager->Class.InstanceId);
    delete Manager;
    GlobalWorkflowManager = nullptr;
    return TRUE;
}

int32 WorkflowManager_IsInitialized(void) { return GlobalWorkflowManager != nullptr; }

// ---- Adding and unloading ----

int32 WorkflowManager_Add(const char *Url, void *User, WorkflowManager_CallbackFunc Function) {
    Debug_CheckPointer(Url);
    Dictionary *Request = nullptr;
    Dictionary_Create(&Request);
    Dictionary_SetStringByKey(Request, "url", Url);
    int32 Added = AddWithCallback(Request, User, Function);
    Dictionary_Release(&Request);
    return Added;
}

int32 WorkflowManager_AddDictionary(Dictionary *Request, void *User, WorkflowManager_CallbackFunc Function) {
    Debug_CheckPointer(Request);
    return AddWithCallback(Request, User, Function);
}

int32 WorkflowManager_AddJSON(const char *JsonText, void *User, WorkflowManager_CallbackFunc Function) {
    Debug_CheckPointer(JsonText);
    Dictionary *Request = nullptr;
    Dictionary_Create(&Request);
    JSON *Reader = nullptr;
    JSON_Create(&Reader);
    JSON_SetDictionaryHandle(Reader, Request);
    int32 Parsed = JSON_LoadBuffer(Reader, JsonText, (int32)strlen(JsonText));
    JSON_Release(&Reader);
    int32 Added = FALSE;
    if (!Parsed) Log_Info("WorkflowManager - Add - Failed to parse json\n");
    else Added = AddWithCallback(Request, User, Function);
    Dictionary_Release(&Request);
    return Added;
}

int32 WorkflowManager_AddInterop(const char *JsonText, const char *CallbackId) {
    Debug_CheckPointer(JsonText);
    Dictionary *Request = nullptr;
    Dictionary_Create(&Request);
    // A page's text: charged while it lives, refused past the memory budget.
    int32 Refused = FALSE;
    int32 Parsed = JSON_LoadTextCharged(Request, JsonText, &Refused);
    int32 Added = FALSE;
    if (Refused) {
        Log_Warning("WorkflowManager - Add refused - its text passes the memory budget of %lld MiB as it is read\n",
                    (long long)(MemoryBudget_GetLimit() >> 20));
    } else if (!Parsed) {
        Log_Info("WorkflowManager - Add - Failed to parse json\n");
    } else {
        // The script's callback id answers through "WorkflowRun"/"RunStart".
        Dictionary *Inner = Request;
        Dictionary_SkipRootContainer(Request, &Inner);
        if (Inner != nullptr && CallbackId != nullptr && CallbackId[0] != 0 && !Dictionary_ContainsKey(Inner, "callbackId"))
            Dictionary_SetStringByKey(Inner, "callbackId", CallbackId);
        Added = AddInt(Request, nullptr, true);
    }
    Dictionary_Release(&Request);
    return Added;
}

int32 WorkflowManager_SetWillLoadCallback(void *User, WorkflowManager_WillLoadFunc Function) {
    Self()->WillLoadUser = User;
    Self()->WillLoad = Function;
    return TRUE;
}

int32 WorkflowManager_Unload(void *User, WorkflowManager_CallbackFunc Function) {
    WorkflowManager *Manager = Self();
    if (Manager->Unloading) return TRUE;
    // The unload ends through the flow: switched off (a page may), it is on
    // again, and stays on while the workflows unload.
    if (!Manager->FlowControl) {
        Log_Info("WorkflowManager - Flow Control - on again for the unload\n");
        WorkflowManager_SetFlowControl(TRUE);
    }
    Manager->Unloading = TRUE;
    char Guid[GuidSize];
    String_Guid(Guid, (int32)sizeof(Guid), TRUE);
    Manager->UnloadCallbackId = Guid;
    Manager->UnloadUser = User;
    Manager->UnloadFunction = Function;
    for (Workflow *Each : Manager->Loaded)
        if (ManagerInt_IsGlobal(Each)) QueueUnload(Each);
    if (Manager->Loaded.empty()) RaiseUnloadCallback(Manager);
    return TRUE;
}

int32 WorkflowManager_IsSettled(void) {
    WorkflowManager *Manager = Self();
    if (!Manager->Full) return TRUE;
    if (Manager->PendingStarts > 0) return FALSE;
    for (Workflow *Each : Manager->Loaded)
        if (IsUnderWay(Manager, Each)) return FALSE;
    return TRUE;
}

int32 WorkflowManager_CloseAdditions(void) {
    Self()->AdditionsClosed = TRUE;
    return TRUE;
}

int32 WorkflowManager_IsUnloading(void) { return GlobalWorkflowManager != nullptr && GlobalWorkflowManager->Unloading; }

// ---- Running and queuing ----

int32 WorkflowManager_RunTask(Workflow *Handle, const char *Name) {
    return Workflow_RunTask(Handle, Name, nullptr, nullptr);
}

int32 WorkflowManager_RunTaskWithMacros(Workflow *Handle, const char *Name, Dictionary *Macros) {
    return Workflow_RunTaskWithMacros(Handle, Name, Macros, nullptr, nullptr, nullptr);
}

int32 WorkflowManager_QueueTask(Workflow *Handle, const char *Names) {
    return ManagerInt_QueueTask(Handle, Names, nullptr, 1, 1);
}

int32 WorkflowManager_QueueTaskWithMacros(Workflow *Handle, const char *Names, Dictionary *Macros) {
    return ManagerInt_QueueTask(Handle, Names, Macros, 1, 1);
}

int32 WorkflowManager_QueueTaskInterop(const char *WorkflowId, const char *Names, const char *MacrosJson) {
    Workflow *Flow = ManagerInt_FindWorkflow(WorkflowId);
    if (Flow == nullptr || Names == nullptr) return FALSE;
    Dictionary *Macros = nullptr;
    if (MacrosJson != nullptr && MacrosJson[0] != 0) {
        Dictionary_Create(&Macros);
        int32 Refused = FALSE;
        JSON_LoadTextCharged(Macros, MacrosJson, &Refused);
        // Past the memory budget nothing is queued.
        if (Refused) {
            Dictionary_Release(&Macros);
            return FALSE;
        }
    }
    int32 Queued = ManagerInt_QueueTask(Flow, Names, Macros, 1, 1);
    if (Macros != nullptr) Dictionary_Release(&Macros);
    return Queued;
}

// ---- Settings ----

// -1 means no limit; 0 or below -1 would leave what waits in the queue
// there for good.
static bool UsableLimit(const char *What, int32 Count) {
    if (Count == -1 || Count >= 1) return true;
    Log_Error("WorkflowManager - %s - %d refused: use -1 (no limit) or a number from 1 up\n", What, Count);
    return false;
}

int32 WorkflowManager_SetMaximumActiveTasks(int32 Count) {
    if (!UsableLimit("Maximum Active Tasks", Count)) return FALSE;
    Self()->MaximumActiveTasks = Count;
    Log_Info("WorkflowManager - Maximum Active Tasks - %d\n", Count);
    return TRUE;
}

int32 WorkflowManager_GetMaximumActiveTasks(int32 *Count) {
    Debug_CheckPointer(Count);
    *Count = Self()->MaximumActiveTasks;
    return TRUE;
}

int32 WorkflowManager_SetMaximumActiveStateTasks(int32 Count) {
    if (!UsableLimit("Maximum Active State Tasks", Count)) return FALSE;
    Self()->MaximumActiveStateTasks = Count;
    Log_Info("WorkflowManager - Maximum Active State Tasks - %d\n", Count);
    return TRUE;
}

int32 WorkflowManager_GetMaximumActiveStateTasks(int32 *Count) {
    Debug_CheckPointer(Count);
    *Count = Self()->MaximumActiveStateTasks;
    return TRUE;
}

int32 WorkflowManager_SetStateInterval(int32 Seconds) {
    Self()->StateInterval = Seconds;
    Log_Info("WorkflowManager - State Interval - %d\n", Seconds);
    return TRUE;
}

int32 WorkflowManager_GetStateInterval(int32 *Seconds) {
    Debug_CheckPointer(Seconds);
    *Seconds = Self()->StateInterval;
    return TRUE;
}

int32 WorkflowManager_SetQueueTaskNames(const char *Names) {
    SetNames(Self()->QueueTaskNames, Names);
    return TRUE;
}

int32 WorkflowManager_SetProgressTaskNames(const char *Names) {
    SetNames(Self()->ProgressTaskNames, Names);
    return TRUE;
}

int32 WorkflowManager_SetDependencyTaskNames(const char *Names) {
    SetNames(Self()->DependencyTaskNames, Names);
    return TRUE;
}

int32 WorkflowManager_SetFlowControl(uint32 Flag) {
    WorkflowManager *Manager = Self();
    Flag = Flag ? 1 : 0;
    if (Flag == Manager->FlowControl) return TRUE;
    // An unload ends through the flow (its "unload" completes the workflow):
    // switched off now, the workflows would stay loaded for good.
    if (!Flag && Manager->Unloading) {
        Log_Error("WorkflowManager - Flow Control - stays on while the workflows unload\n");
        return FALSE;
    }
    Manager->FlowControl = Flag;
    if (Flag) NotificationCenter_AddObserver("WorkflowEvent", "Complete", Manager, OnFlow);
    else NotificationCenter_RemoveObserver("WorkflowEvent", "Complete", Manager, OnFlow);
    return TRUE;
}

int32 WorkflowManager_GetFlowControl(uint32 *Flag) {
    Debug_CheckPointer(Flag);
    *Flag = Self()->FlowControl;
    return TRUE;
}

int32 WorkflowManager_SetHardDependency(uint32 Flag) {
    Self()->HardDependency = Flag ? 1 : 0;
    return TRUE;
}

int32 WorkflowManager_GetHardDependency(uint32 *Flag) {
    Debug_CheckPointer(Flag);
    *Flag = Self()->HardDependency;
    return TRUE;
}

int32 WorkflowManager_SetAutoUnload(uint32 Flag) {
    Self()->AutoUnload = Flag ? 1 : 0;
    return TRUE;
}

int32 WorkflowManager_GetAutoUnload(uint32 *Flag) {
    Debug_CheckPointer(Flag);
    *Flag = Self()->AutoUnload;
    return TRUE;
}

int32 WorkflowManager_SetVerbose(uint32 Level) {
    Self()->Verbose = Level;
    return TRUE;
}

int32 WorkflowManager_GetVerbose(void) { return GlobalWorkflowManager != nullptr && GlobalWorkflowManager->Verbose > 1; }

int32 WorkflowManager_GetQueuedTaskCount(int32 *Count) {
    Debug_CheckPointer(Count);
    *Count = 0;
    if (Self()->Queue == nullptr) return TRUE;
    return Dictionary_ItemGetCount(Self()->Queue, Count);
}

int32 WorkflowManager_GetLoadedCount(int32 *Count) {
    Debug_CheckPointer(Count);
    *Count = (int32)Self()->Loaded.size();
    return TRUE;
}

int32 WorkflowManager_GetInstanceId(char *Buffer, int32 Size) {
    Debug_CheckPointer(Buffer);
    String_CopyLength(Buffer, ManagerId(), Size);
    return TRUE;
}

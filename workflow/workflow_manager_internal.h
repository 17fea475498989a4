// The WorkflowManager record, shared by the manager modules
// (workflow_manager*.cpp).
#pragma once

#include <deque>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "workflow/task_event_table.h"
#include "workflow/workflow_manager.h"

struct ManagerCallback {
    std::string Id;
    void *User;
    WorkflowManager_CallbackFunc Function;
    int32 References;
    uint32 Observing;
};

struct WorkflowManager {
    ClassStruct Class;
    uint32 Verbose = 0;
    uint32 Dirty = 0;
    uint32 FlowControl = 0;
    uint32 HardDependency = 0;
    uint32 AutoUnload = 0;
    uint32 Unloading = 0;
    uint32 AdditionsClosed = 0; // no add is taken any more (WorkflowManager_CloseAdditions)
    uint32 Worker = 0;
    uint32 SelfUpdate = 0;
    uint32 Full = 0; // not only the flow (outside the worker)
    std::string UnloadCallbackId;
    void *UnloadUser = nullptr;
    WorkflowManager_CallbackFunc UnloadFunction = nullptr;
    int32 MaximumActiveTasks = -1;
    int32 MaximumActiveStateTasks = 4;
    std::vector<Workflow *> Loaded; // referenced
    // Loaded workflows (by id) whose "load" has completed.
    std::set<std::string> LoadCompleted;
    // Additions whose "WorkflowRun"/"Start" has not been delivered yet.
    int32 PendingStarts = 0;
    // Set once an add past the process's runs was logged.
    int32 ToldTooMany = FALSE;
    Dictionary *Queue = nullptr;           // workflow id -> {task name -> macros}, repeats allowed
    Dictionary *DependencyQueue = nullptr; // the same, for dependency tasks
    std::vector<std::string> QueueTaskNames, ProgressTaskNames, DependencyTaskNames;
    Dictionary *Active = nullptr;       // workflow id -> running scheduled task
    Dictionary *Progress = nullptr;     // workflow id -> fraction
    Dictionary *Available = nullptr;    // workflow id -> [names]
    Dictionary *Previous = nullptr;     // workflow id -> [names] when the current event started
    TaskEventTable TaskEvents; // task id -> record
    // Completion order; each note counted in its entry's Queued.
    std::deque<std::pair<float64, TaskEventTable::Entry *>> Expiring;
    uint64 TaskEventSequence = 0;
    Dictionary *Failed = nullptr;       // workflow id -> name
    Dictionary *WorkflowIds = nullptr;  // workflow id -> caller's id
    Dictionary *Priorities = nullptr;   // workflow id -> priority
    Dictionary *Dependencies = nullptr; // id -> dependency id, repeats allowed
    int32 StateInterval = 0;
    float64 StateReference = 0;
    float64 LastStep = 0;
    int32 LastProgress = -2;
    bool HoldsAwake = false; // the manager, not someone else, keeps the system awake
    void *WillLoadUser = nullptr;
    WorkflowManager_WillLoadFunc WillLoad = nullptr;
    std::vector<ManagerCallback *> Callbacks;
};

extern WorkflowManager *GlobalWorkflowManager;

// ---- Shared helpers ----
const char *ManagerId(void);
const char *WorkflowIdOf(Workflow *Handle);
// The loaded workflow (or any live workflow) with that instance id.
Workflow *ManagerInt_FindWorkflow(const char *Id);
bool ManagerInt_NameIn(const std::vector<std::string> &List, const char *Name);
std::vector<std::string> ManagerInt_SplitNames(const char *Names);
bool ManagerInt_IsGlobal(Workflow *Handle);

// ---- Queue (workflow_manager_queue.cpp) ----
int32 ManagerInt_QueueTask(Workflow *Handle, const char *Names, Dictionary *Macros, int32 Enforce, int32 Walk);
int32 ManagerInt_PushToQueue(Workflow *Handle, const char *Name, Dictionary *Macros, Dictionary *Queue);
int32 ManagerInt_PopFromQueue(Dictionary *Queue, int32 CheckDependencies, int32 StateOnly);
int32 ManagerInt_CountActive(bool State);
bool ManagerInt_HasEntry(Dictionary *Queue, const char *WorkflowId);
int32 ManagerInt_RemoveEntries(Dictionary *Queue, const char *WorkflowId);

// ---- State (workflow_manager_state.cpp) ----
int32 ManagerInt_InitState(void);
int32 ManagerInt_RemoveState(void);
int32 ManagerInt_OnEventStart(const char *WorkflowId, const char *Name);
int32 ManagerInt_OnEventComplete(const char *WorkflowId, const char *Name, uint32 Successful, Dictionary *Payload);
// Availability is kept by workflow id, so a page may still set or clear it
// for a workflow it names by id after the handle is gone.
int32 ManagerInt_SetAvailability(const char *WorkflowId, const char *Name, uint32 Available);
int32 ManagerInt_ClearAvailability(const char *WorkflowId);
int32 ManagerInt_UpdateAvailability(Workflow *Handle, const char *Name, uint32 Successful, Dictionary *Payload);
// Walks dependency entries (modes 1-4); Callback answers 1 when it acted.
int32 ManagerInt_WalkDependencies(Workflow *Handle, int32 Mode, const char *Name);
Workflow *ManagerInt_DependencyOf(Workflow *Handle);
int32 ManagerInt_ComputeProgress(void);
int32 ManagerInt_PublishStatus(void);
int32 ManagerInt_ExpireTaskEvents(void);
// Tests: 0 relays every task event by the general steps alone, so that the
// records the shortcuts build can be compared with theirs.
void ManagerInt_SetRelayShortcuts(uint32 On);

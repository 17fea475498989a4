// The workflow application's tick, its status and the analytics events of
// completed tasks (see workflow_app_tick.h).
#include "workflow/app/workflow_app_tick.h"

#include "workflow/app/workflow_app_interop.h"

#include "net/analytics.h"
#include "runtime/class.h"
#include "runtime/event_queue.h"
#include "runtime/script/interop.h"
#include "runtime/log.h"
#include "runtime/memory.h"
#include "runtime/notification/notification_center.h"
#include "runtime/text/string.h"
#include "runtime/time.h"
#include "workflow/task.h"
#include "workflow/workflow.h"
#include "workflow/app/workflow_app.h"
#include "workflow/app/workflow_app_facts.h"
#include "workflow/app/workflow_app_interop.h"
#include "workflow/app/workflow_app_web.h"
#include "runtime/posix/platform_network.h"
#include "workflow/handover_file.h"
#include "workflow/notification_end_point.h"
#include "workflow/app/workflow_app_life.h"
#include "workflow/workflow_run.h"
#include "runtime/command_line.h"

namespace {

constexpr uint32 TickClassId = 0xa824b96au;

struct TickState {
    ClassStruct Class;
    MeterRW *Local;
    MeterRW *Remote;
    Dictionary *Status;
    Dictionary *Scratch;
    uint32 StatusChanged;
    float64 NextStatusTime;
    float64 StartTime;
    WebGetRequest *AnalyticsPost; // the batch on its way, one at a time
    uint32 DisconnectSeen;
    uint32 Disconnected;
    uint32 Interrupted; // the disconnect came before a run had completed
    NotificationEndPoint *EndPoint;
    uint32 Subscribed; // a worker has subscribed to its parent
};

TickState *State = nullptr;

int32 OnStatusRemove(Dictionary *, DictionaryItem *, void *, const char *) {
    State->StatusChanged = TRUE;
    return TRUE;
}

int32 OnStatusKey(Dictionary *, DictionaryItem *, void *, const char *, const char *) {
    State->StatusChanged = TRUE;
    return TRUE;
}

int32 OnStatusValue(Dictionary *, DictionaryItem *, void *, const char *, const char *, int32) {
    State->StatusChanged = TRUE;
    return TRUE;
}

void FillMeter(Dictionary *Target, const char *Prefix, MeterRW *Handle) {
    int64 Read = 0, Written = 0;
    float64 ReadRate = 0, WriteRate = 0, MaxRead = 0, MaxWrite = 0;
    int32 ReadLimit = 0, WriteLimit = 0;
    MeterRW_GetOverallUsage(Handle, &Read, &Written);
    MeterRW_GetCurrentBandwidth(Handle, &ReadRate, &WriteRate);
    MeterRW_GetMaxBandwidth(Handle, &MaxRead, &MaxWrite);
    MeterRW_GetLimitBandwidth(Handle, &ReadLimit, &WriteLimit);
    char Key[64];
    auto Name = [&](const char *Suffix) {
        String_CopyLength(Key, Prefix, (int32)sizeof(Key));
        String_CatLength(Key, Suffix, (int32)sizeof(Key));
        return Key;
    };
    Dictionary_SetInt64ByKey(Target, Name("ReadBytes"), Read);
    Dictionary_SetInt64ByKey(Target, Name("WriteBytes"), Written);
    Dictionary_SetFloat64ByKey(Target, Name("ReadSpeed"), ReadRate);
    Dictionary_SetFloat64ByKey(Target, Name("WriteSpeed"), WriteRate);
    Dictionary_SetFloat64ByKey(Target, Name("MaxReadSpeed"), MaxRead);
    Dictionary_SetFloat64ByKey(Target, Name("MaxWriteSpeed"), MaxWrite);
    Dictionary_SetInt64ByKey(Target, Name("ReadBandwidth"), ReadLimit);
    Dictionary_SetInt64ByKey(Target, Name("WriteBandwidth"), WriteLimit);
}

void PublishStatus(float64 Now) {
    FillMeter(State->Scratch, "local", State->Local);
    FillMeter(State->Scratch, "remote", State->Remote);
    Dictionary_Sync(State->Status, State->Scratch, nullptr, nullptr);
    if (State->StatusChanged) {
        NotificationCenter_FireAfterDelayOwn("WorkflowApp", "Status", State->Class.InstanceId, 0, State->Status);
        State->StatusChanged = FALSE;
    }
    State->NextStatusTime = Now + 1.0;
}

// One analytics event per completed task that is not private, named by the
// task's type.
int32 OnTaskComplete(void *, const char *, const char *, const char *Instance, Dictionary *Info) {
    uint32 Flag = 0;
    if (!Analytics_IsEnabled() || Instance == nullptr || (Info != nullptr && Dictionary_GetBooleanByKey(Info, "isRemote", &Flag) && Flag))
        return TRUE;
    void *Object = Class_ConvertFromInstanceId(Instance);
    if (Object == nullptr || ((ClassStruct *)Object)->ClassId != TASK_CLASSID) return TRUE;
    Task *Done = static_cast<Task *>(Object);
    uint32 Private = 0;
    const TaskInterface *Type = nullptr;
    Task_GetPrivate(Done, &Private);
    if (Private || !Task_GetInterface(Done, &Type) || Type == nullptr) return TRUE;
    Dictionary *Event = nullptr, *Arguments = nullptr, *Status = nullptr, *From = nullptr;
    Dictionary_Create(&Event);
    Dictionary_SetStringByKey(Event, "taskName", Task_GetNamePtr(Done));
    float64 Elapsed = 0;
    Task_GetTimeElapsed(Done, &Elapsed);
    Dictionary_SetFloat64ByKey(Event, "elapsedTime", Elapsed);
    uint32 Cancelled = Task_IsCancelled(Done) ? 1 : 0;
    Dictionary_SetBooleanByKey(Event, "cancelled", Cancelled);
    Dictionary_SetBooleanByKey(Event, "successful", !Cancelled && !Task_HasError(Done, nullptr));
    Dictionary_AddDictionary(Event, "arguments", &Arguments, nullptr);
    if (Task_GetDictionaryHandle(Done, &From) && From != nullptr) {
        Dictionary_Merge(Arguments, From, DICTIONARY_MERGE_OVERWRITE);
        Task_ExpandDictionary(Done, Arguments);
    }
    Dictionary_AddDictionary(Event, "status", &Status, nullptr);
    if (Task_GetStatusDictionaryHandle(Done, &From) && From != nullptr)
        Dictionary_Merge(Status, From, DICTIONARY_MERGE_OVERWRITE);
    Workflow *Flow = nullptr;
    Dictionary *Analytics = nullptr, *Target = nullptr;
    if (Task_GetWorkflowHandle(Done, &Flow) && Flow != nullptr && Workflow_GetAnalyticsDictionaryHandle(Flow, &Analytics) &&
        Analytics != nullptr) {
        Dictionary_AddDictionary(Event, "analytics", &Target, nullptr);
        Dictionary_Merge(Target, Analytics, DICTIONARY_MERGE_OVERWRITE);
    }
    Analytics_SendEvent(Type->Name, Event);
    Dictionary_Release(&Event);
    return TRUE;
}

// Analytics batches go out through the connection pool, one at a time.
int32 SendAnalytics(void *, const char *Url, const char *Key, const char *Body, int32 Length) {
    if (State->AnalyticsPost != nullptr) return FALSE;
    WebGetRequest *Post = nullptr;
    WebGetRequest_Create(&Post);
    WebGetRequest_SetURL(Post, Url);
    WebGetRequest_SetPostData(Post, Body, Length);
    WebGetRequest_SetHeader(Post, "Content-Type", "application/json", TRUE);
    WebGetRequest_SetHeader(Post, "X-Api-Key", Key, TRUE);
    if (!WorkflowApp_WebGetRequestAdd(Post)) {
        WebGetRequest_Release(&Post);
        return FALSE;
    }
    State->AnalyticsPost = Post;
    return TRUE;
}

void FinishAnalyticsPost(bool Abandon) {
    WebGetRequest *Post = State->AnalyticsPost;
    if (Post == nullptr || (!Abandon && !WebGetRequest_IsDone(Post))) return;
    int32 Error = 0, SubCode = 0;
    bool Delivered = false;
    if (Abandon) WorkflowApp_WebGetRequestRemove(Post);
    else if (WebGetRequest_GetError(Post, &Error, &SubCode) && Error != 0)
        Log_Error("Analytics - batch not delivered (%d/%d)\n", Error, SubCode);
    else Delivered = true;
    Analytics_SendDone(Delivered);
    WebGetRequest_Release(&Post);
    State->AnalyticsPost = nullptr;
}

std::string EndPointId() {
    char Id[40] = "";
    NotificationEndPoint_GetInstanceId(State->EndPoint, Id, (int32)sizeof(Id));
    return Id;
}

// Whether the run was over is judged when the disconnect is first seen: the
// disconnect itself cancels a run still going, which then completes too.
void SeeDisconnect() {
    if (State->DisconnectSeen || State->Disconnected) return;
    State->DisconnectSeen = TRUE;
    State->Interrupted = WorkflowRun_GetRunningCount() > 0 || WorkflowRun_GetStartedCount() == 0;
}

int32 OnEndPointDisconnected(void *, const char *, const char *, const char *, Dictionary *) {
    SeeDisconnect();
    WorkflowApp_DropRemoteTasks();
    return TRUE;
}

// A worker subscribes to the process that started it as soon as its own
// server listens. The switch names the owner-only file that holds the
// parent's URL; the URL itself never stands on a command line.
int32 OnEndPointRunning(void *, const char *, const char *, const char *, Dictionary *) {
    char Path[512] = "", Url[512] = "";
    if (!CommandLine_GetFieldByName(nullptr, "wfendpoint", Path, (int32)sizeof(Path)) || Path[0] == 0) return TRUE;
    // A parent URL that could not be read at the start (the file was taken
    // then) or subscribed to leaves the worker without a parent: it ends
    // like one whose parent went away.
    if (HandOverFile_GetClaimed(Url, (int32)sizeof(Url), nullptr, 0) &&
        NotificationEndPoint_AddEndPoint(State->EndPoint, Url))
        State->Subscribed = TRUE;
    else SeeDisconnect();
    return TRUE;
}

} // namespace

int32 WorkflowApp_InitTick(void) {
    if (State != nullptr) return FALSE;
    State = Memory_New(TickState);
    State->Class.ClassId = TickClassId;
    Class_GenerateInstanceId(State);
    State->StartTime = Time_GetCurrent();
    State->NextStatusTime = State->StartTime;
    MeterRW_Create(&State->Local);
    MeterRW_Create(&State->Remote);
    // Under the root meter once the host has started the meters.
    if (Meter_IsInitialized()) {
        MeterRW_SetReadParentHandle(State->Local, Meter_RootHandle());
        MeterRW_SetWriteParentHandle(State->Local, Meter_RootHandle());
        MeterRW_SetReadParentHandle(State->Remote, Meter_RootHandle());
        MeterRW_SetWriteParentHandle(State->Remote, Meter_RootHandle());
    }
    Dictionary_Create(&State->Status);
    Dictionary_Create(&State->Scratch);
    Dictionary_SetItemRemoveCallback(State->Status, State, OnStatusRemove);
    Dictionary_SetItemKeyChangeCallback(State->Status, State, OnStatusKey);
    Dictionary_SetItemValueChangeCallback(State->Status, State, OnStatusValue);
    Analytics_Init();
    MeterRW_SetParentHandle(Analytics_GetRemoteMeterRWHandle(), State->Remote);
    Analytics_SetSendFunction(State, SendAnalytics);
    NotificationCenter_AddObserver("Task", "Complete", State, OnTaskComplete);
    NotificationEndPoint_Create(&State->EndPoint);
    // A worker's peer is the process of the user who had it elevated.
    if (CommandLine_IsFieldSet(nullptr, "wfworker"))
        NotificationEndPoint_SetTrustedUid(State->EndPoint, Platform_GetLauncherUid());
    std::string Point = EndPointId();
    NotificationCenter_AddInstanceObserver("NotificationEndPoint", "Disconnected", Point.c_str(), State,
                                           OnEndPointDisconnected);
    NotificationCenter_AddInstanceObserver("NotificationEndPoint", "Running", Point.c_str(), State, OnEndPointRunning);
    WorkflowRun_Init();
    WorkflowRun_SetNotificationEndPointHandle(State->EndPoint);
    return TRUE;
}

int32 WorkflowApp_RemoveTick(void) {
    if (State == nullptr) return TRUE;
    NotificationEndPoint_Stop(State->EndPoint);
    std::string Point = EndPointId();
    NotificationCenter_RemoveInstanceObserver("NotificationEndPoint", "Disconnected", Point.c_str(), State,
                                              OnEndPointDisconnected);
    NotificationCenter_RemoveInstanceObserver("NotificationEndPoint", "Running", Point.c_str(), State,
                                              OnEndPointRunning);
    WorkflowRun_Remove();
    WorkflowApp_RemoveInterop();
    NotificationEndPoint_Release(&State->EndPoint);
    FinishAnalyticsPost(true);
    // The pool and caches, when the host started them.
    WorkflowApp_WebStop();
    NotificationCenter_RemoveObserver("Task", "Complete", State, OnTaskComplete);
    MeterRW_SetParentHandle(Analytics_GetRemoteMeterRWHandle(), nullptr);
    Analytics_Remove();
    Dictionary_SetItemRemoveCallback(State->Status, nullptr, nullptr);
    Dictionary_SetItemKeyChangeCallback(State->Status, nullptr, nullptr);
    Dictionary_SetItemValueChangeCallback(State->Status, nullptr, nullptr);
    Dictionary_Release(&State->Status);
    Dictionary_Release(&State->Scratch);
    MeterRW_Delete(&State->Local);
    MeterRW_Delete(&State->Remote);
    Memory_Delete(State);
    State = nullptr;
    return TRUE;
}

int32 WorkflowApp_Process(void) {
    if (State == nullptr) return TRUE;
    float64 Now = Time_GetCurrent();
    if (Now >= State->NextStatusTime) PublishStatus(Now);
    WorkflowApp_ProcessInterop();
    EventQueue_Flush(nullptr);
    if (Meter_IsInitialized()) Meter_Process();
    WorkflowApp_WebProcess();
    NotificationCenter_Process();
    if (Interop_IsInitialized()) Interop_Process();
    FinishAnalyticsPost(false);
    if (!NotificationEndPoint_IsRunning(State->EndPoint)) NotificationEndPoint_Start(State->EndPoint);
    // A subscription that ends before its streams ever came up reports no
    // disconnect; the worker's parent is gone all the same.
    if (!NotificationEndPoint_Process(State->EndPoint) && State->Subscribed) {
        State->Subscribed = FALSE;
        SeeDisconnect();
    }
    Analytics_Process();
    if (State->DisconnectSeen && WorkflowRun_GetRunningCount() == 0) {
        State->DisconnectSeen = FALSE;
        State->Disconnected = TRUE;
    }
    return TRUE;
}

int32 WorkflowApp_InitMinimal(const char *, WorkflowApp_WebRequestFunc RequestAdd,
                              WorkflowApp_WebRequestFunc RequestRemove) {
    WorkflowApp_Init();
    WorkflowApp_SetPreventSystemShutdown(1);
    WorkflowApp_SetWebRequestHandler(RequestAdd, RequestRemove);
    return TRUE;
}

int32 WorkflowApp_RemoveMinimal(void) { return WorkflowApp_Remove(); }

int32 WorkflowApp_Add(const char *Url) {
    Debug_CheckPointer(Url);
    return NotificationCenter_FireAfterDelayWithJSON("WorkflowRun", "Start", nullptr, 0, "{\"url\":\"%js\"}", Url);
}

int32 WorkflowApp_Crash(void) {
    Debug_Abort("Crashing");
    return FALSE;
}

int32 WorkflowApp_IsAnalyticsPending(void) {
    int32 Count = 0;
    Analytics_GetQueuedCount(&Count);
    return State != nullptr && (State->AnalyticsPost != nullptr || (Analytics_IsEnabled() && Count > 0));
}

int32 WorkflowApp_IsActive(void) { return WorkflowRun_GetRunningCount() > 0; }
int32 WorkflowApp_IsDisconnected(void) { return State == nullptr || State->Disconnected; }
int32 WorkflowApp_IsRunInterrupted(void) { return State != nullptr && State->Interrupted; }

int32 WorkflowApp_GetStatusDictionaryHandle(Dictionary **Status) {
    Debug_CheckPointer(Status);
    *Status = State != nullptr ? State->Status : nullptr;
    return *Status != nullptr;
}

int32 WorkflowApp_GetLocalMeterRWHandle(MeterRW **Handle) {
    Debug_CheckPointer(Handle);
    *Handle = State != nullptr ? State->Local : nullptr;
    return *Handle != nullptr;
}

int32 WorkflowApp_GetRemoteMeterRWHandle(MeterRW **Handle) {
    Debug_CheckPointer(Handle);
    *Handle = State != nullptr ? State->Remote : nullptr;
    return *Handle != nullptr;
}

int32 WorkflowApp_GetInstanceId(char *Buffer, int32 Size) {
    Debug_CheckPointer(Buffer);
    String_CopyLength(Buffer, State != nullptr ? State->Class.InstanceId : "", Size);
    return State != nullptr;
}

int32 WorkflowApp_GetStartTime(float64 *Seconds) {
    Debug_CheckPointer(Seconds);
    *Seconds = State != nullptr ? State->StartTime : 0;
    return State != nullptr;
}

int32 WorkflowApp_GetRunningTime(float64 *Seconds) {
    Debug_CheckPointer(Seconds);
    *Seconds = State != nullptr ? Time_GetCurrent() - State->StartTime : 0;
    return State != nullptr;
}

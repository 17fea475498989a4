// Handing an elevated run to the workflow worker: the worker is launched
// with administrator rights and the path of an owner-only file holding a
// one-time URL of this process's end point (never the URL itself: command
// lines are open to every local user), it subscribes back, and once both streams are up the start request goes
// over; the worker's "WorkflowRun"/"Complete" completes the run task here.
// A worker that goes away before it reports completes the run with an error,
// and one that does not answer a cancel in time is no longer waited for, so
// nothing waits for it for ever. The worker watches this process and ends
// with it.
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "net/analytics.h"
#include "platform/process.h"
#include "runtime/notification/notification_center.h"
#include "runtime/posix/platform.h"
#include "runtime/posix/platform_folder.h"
#include "runtime/posix/platform_process.h"
#include "runtime/text/string.h"
#include "workflow/handover_file.h"
#include "workflow/notification_end_point.h"
#include "workflow/app/workflow_app.h"
#include "workflow/task_internal.h"
#include "workflow/workflow_run_internal.h"

namespace {

constexpr int32 PathSize = 320;
constexpr int32 TextSize = 4096;
constexpr int32 TaskNameSize = 120;
const char *const EndPointClass = "NotificationEndPoint";
// How long a cancelled run waits for the worker's answer: an interrupted
// parent ends within two seconds whatever the worker does.
constexpr int32 CancelAnswerMilliseconds = 1000;
constexpr int32 WorkerWatchMilliseconds = 250;
// How long a started worker has to take the run (its "RunStart" arrives):
// whatever went wrong meanwhile (a refused subscription, a worker that never
// connects, a peer that stops answering), the run does not wait for ever.
// The elevator's prompt comes before and is not bounded.
constexpr int32 HandOverMilliseconds = 10000;

std::string WorkerSwitches;

NotificationEndPoint *EndPoint() { return static_cast<NotificationEndPoint *>(WorkflowRunInt_GetEndPoint()); }

std::string EndPointId() {
    char Id[40] = "";
    NotificationEndPoint_GetInstanceId(EndPoint(), Id, (int32)sizeof(Id));
    return Id;
}

Dictionary *Definition(WorkflowRun *Self) {
    Dictionary *Own = nullptr;
    Task_GetDictionaryHandle(Self->Owner, &Own);
    return Own;
}

// "<task>.<key>" in the launch arguments: the key of that task of the
// workflow the run task belongs to.
int32 ExpandTaskPath(Task *Owner, void *User, const char *Name, char *Output, int32 Size) {
    (void)User;
    const char *Point = strchr(Name, '.');
    Workflow *Parent = nullptr;
    Task_GetWorkflowHandle(Owner, &Parent);
    if (Point == nullptr || Parent == nullptr) return FALSE;
    char TaskName[TaskNameSize];
    String_CopyLength(TaskName, Name, (int32)std::min<size_t>(sizeof(TaskName), (size_t)(Point - Name) + 1));
    Task *Other = nullptr;
    if (!Workflow_FindTaskByName(Parent, TaskName, &Other) || Other == nullptr) {
        Task_Print(Owner, "Cannot find task %s for path evaluation\n", TaskName);
        return FALSE;
    }
    String_Print(Output, Size, "{%s}", Point + 1);
    return Task_ExpandString(Other, Output, Size);
}

void SendStartRequest(WorkflowRun *Self) {
    if (Self->StartSent) return;
    Self->StartSent = TRUE;
    Workflow *Parent = nullptr;
    Task_GetWorkflowHandle(Self->Owner, &Parent);
    Dictionary *Request = nullptr, *Remote = nullptr, *Macros = nullptr, *Analytics = nullptr, *Progress = nullptr;
    Dictionary_Create(&Request);
    Dictionary_SetBooleanByKey(Request, "canLocal", FALSE);
    Dictionary_AddDictionary(Request, "_remote", &Remote, nullptr);
    Dictionary_Merge(Remote, Definition(Self), DICTIONARY_MERGE_OVERWRITE);
    for (const char *Key : {"complete", "failure", "success"}) Dictionary_RemoveByKey(Remote, Key);
    // The URL goes as the check expanded it (the run fetched that one),
    // except one that begins with {ContentUrl}, which the worker knows: that
    // one goes as written, which the check read whole.
    const char *Written = nullptr;
    if (!Dictionary_GetStringPtrByKey(Remote, "url", &Written) || Written == nullptr ||
        !String_CompareBeginningWithoutCase(Written, "{ContentUrl}"))
        Dictionary_SetStringByKey(Remote, "url", Self->Url);
    Dictionary_AddDictionary(Request, "_macros", &Macros, nullptr);
    Dictionary *From = nullptr;
    Task *Root = nullptr;
    if (Parent != nullptr && Workflow_GetMacroDictionaryHandle(Parent, &From) && From != nullptr)
        Dictionary_Merge(Macros, From, DICTIONARY_MERGE_OVERWRITE);
    if (Parent != nullptr && Workflow_GetRootTaskHandle(Parent, Self->Owner, &Root) && Root != nullptr &&
        Task_GetMacroDictionaryHandle(Root, &From) && From != nullptr)
        Dictionary_Merge(Macros, From, DICTIONARY_MERGE_OVERWRITE);
    // The run's own macros as the check of its arguments expanded them.
    if (Dictionary *Own = TaskInt_GetCheckedObject(Self->Owner, "macros"); Own != nullptr)
        Dictionary_Merge(Macros, Own, DICTIONARY_MERGE_OVERWRITE);
    for (const char *Key : {"workflowUrl", "workflowPath", "workflowDirectory"}) Dictionary_RemoveByKey(Macros, Key);
    Dictionary_AddDictionary(Request, "_analytics", &Analytics, nullptr);
    if (Analytics_GetGlobalDictionaryHandle(&From) && From != nullptr)
        Dictionary_Merge(Analytics, From, DICTIONARY_MERGE_OVERWRITE);
    Dictionary_AddDictionary(Request, "_progress", &Progress, nullptr);
    Dictionary *Document = nullptr;
    if (Parent != nullptr && Workflow_GetDictionaryHandle(Parent, &Document) && Document != nullptr) {
        DictionaryItem *Item = nullptr;
        for (Dictionary_ItemGetFirst(Document, &Item); Item != nullptr; Dictionary_ItemGetNext(Document, Item, &Item)) {
            const char *Name = nullptr, *Id = nullptr, *Type = nullptr;
            Dictionary *Task = nullptr, *Entry = nullptr;
            float64 Weight = 1;
            if (!Dictionary_ItemGetKeyPtr(Document, Item, &Name) || Name == nullptr ||
                !Dictionary_ItemGetDictionaryHandle(Document, Item, &Task) || Task == nullptr ||
                !Dictionary_GetStringPtrByKey(Task, "progressId", &Id) || Id == nullptr)
                continue;
            if (Dictionary_GetFloat64ByKey(Task, "progressWeight", &Weight) && Weight == 0) continue;
            if (Dictionary_GetStringPtrByKey(Task, "type", &Type) && Type != nullptr &&
                String_CompareWithoutCase(Type, "progress"))
                continue;
            Dictionary_AddDictionary(Progress, Name, &Entry, nullptr);
            Dictionary_SetStringByKey(Entry, "progressId", Id);
            if (Dictionary_GetStringPtrByKey(Task, "progressTaskName", &Id) && Id != nullptr)
                Dictionary_SetStringByKey(Entry, "progressTaskName", Id);
        }
    }
    if (WorkflowApp_GetVerbose() > 0) Dictionary_Dump(Request);
    NotificationCenter_FireAfterDelay("WorkflowRun", "Start", TaskId(Self->Owner), 0, Request);
    Dictionary_Release(&Request);
}

void Launch(WorkflowRun *Self);

// Once the hand-over has ended, nothing of it acts again: the run task
// may still be running its "failure" step, which is no hand-over's.
bool Ended(WorkflowRun *Self) { return Self->HandOverDone || Task_IsCompleted(Self->Owner); }

int32 EndRun(WorkflowRun *Self) {
    Self->HandOverDone = TRUE;
    return Task_Complete(Self->Owner, nullptr);
}

// The worker's URL serves only the worker: once the run or the worker has
// ended, its token is withdrawn and its file removed (a worker that came
// has removed the file and used the token already).
void ForgetSecret(WorkflowRun *Self) {
    if (Self->SecretUrl[0] != 0 && EndPoint() != nullptr)
        NotificationEndPoint_RemoveWebServerURL(EndPoint(), Self->SecretUrl);
    HandOverFile_Remove(&Self->Secret);
    Self->SecretUrl[0] = 0;
}

// The run fails for a reason of the hand-over: in its errors, which the
// summary shows, and told to whoever shows the user failures as they come.
int32 FailHandOver(WorkflowRun *Self, const char *Reason) {
    Task_Print(Self->Owner, "The elevated run fails: %s\n", Reason);
    Task_AddError(Self->Owner, "Launch_Error_RunElevated");
    Task_AddErrorAlways(Self->Owner, Reason);
    Dictionary *Info = nullptr;
    Dictionary_Create(&Info);
    Dictionary_SetBooleanByKey(Info, "canRemote", FALSE);
    Dictionary_SetStringByKey(Info, "reason", Reason);
    NotificationCenter_FireOwn("WorkflowRun", "HandOverFailed", TaskId(Self->Owner), Info);
    Dictionary_Release(&Info);
    return EndRun(Self);
}

void SetDeadline(WorkflowRun *Self) {
    if (Self->DeadlineSet) return;
    Self->DeadlineSet = TRUE;
    NotificationCenter_FireAfterDelayWithJSON("WorkflowRun", "HandOverDeadline", RunId(Self), HandOverMilliseconds,
                                              "{\"canRemote\":false}");
}

// The worker has not taken the run in time: the run fails and the worker,
// which could still take it, is ended. A root worker, which this process
// may not signal, ends by itself: its token is withdrawn, and the streams
// to it are dropped, which it takes as its parent's leave.
int32 OnHandOverDeadline(void *User, const char *, const char *, const char *, Dictionary *) {
    WorkflowRun *Self = static_cast<WorkflowRun *>(User);
    if (Ended(Self) || Self->RemoteWorkflow[0] != 0) return TRUE;
    ForgetSecret(Self);
    if (EndPoint() != nullptr) NotificationEndPoint_Reset(EndPoint());
    int32 Id = 0;
    if (Self->Worker != nullptr && Process_GetId(Self->Worker, &Id) && Id > 0)
        Platform_ProcessForceTerminateById(Id, 0);
    char Reason[160];
    String_Print(Reason, (int32)sizeof(Reason), "the elevated worker did not take the run within %d s",
                 HandOverMilliseconds / 1000);
    return FailHandOver(Self, Reason);
}

int32 OnConnected(void *User, const char *, const char *, const char *, Dictionary *) {
    SendStartRequest(static_cast<WorkflowRun *>(User));
    return TRUE;
}

int32 OnRunning(void *User, const char *, const char *, const char *, Dictionary *) {
    WorkflowRun *Self = static_cast<WorkflowRun *>(User);
    if (Self->Worker == nullptr && !Ended(Self)) Launch(Self);
    return TRUE;
}

// The worker's run has completed (or the worker has gone): the run task
// takes its errors and warnings.
int32 OnRemoteComplete(void *User, const char *, const char *, const char *, Dictionary *Info) {
    WorkflowRun *Self = static_cast<WorkflowRun *>(User);
    if (Ended(Self)) return TRUE;
    Task_Print(Self->Owner, "Worker run completed\n");
    if (Info != nullptr) {
        Task_AddErrorFromDictionary(Self->Owner, Info);
        Task_AddWarningFromDictionary(Self->Owner, Info);
    }
    return EndRun(Self);
}

int32 OnDisconnected(void *User, const char *, const char *, const char *, Dictionary *) {
    WorkflowRun *Self = static_cast<WorkflowRun *>(User);
    if (Ended(Self) || !Self->StartSent) return TRUE;
    Task_Print(Self->Owner, "Elevated worker disconnected before the run completed\n");
    Task_AddError(Self->Owner, "Launch_Error_RunElevated");
    return EndRun(Self);
}

// The worker's run reports its workflow; a cancel here is sent to it.
int32 OnRemoteRunStart(void *User, const char *, const char *, const char *, Dictionary *Info) {
    WorkflowRun *Self = static_cast<WorkflowRun *>(User);
    const char *Caller = nullptr, *Flow = nullptr;
    uint32 Remote = FALSE;
    if (Info != nullptr && Dictionary_GetBooleanByKey(Info, "isRemote", &Remote) && Remote &&
        Dictionary_GetStringPtrByPath(Info, "arguments\\workflow", &Caller) && Caller != nullptr &&
        String_Compare(Caller, TaskId(Self->Owner)) && Dictionary_GetStringPtrByKey(Info, "workflow", &Flow) &&
        Flow != nullptr)
    {
        String_CopyLength(Self->RemoteWorkflow, Flow, (int32)sizeof(Self->RemoteWorkflow));
        Task_Print(Self->Owner, "Worker runs workflow - %s\n", Self->RemoteWorkflow);
    }
    return TRUE;
}

// The worker did not answer the cancel: the run ends here; the worker, which
// watches this process, ends when it does.
int32 OnCancelUnanswered(void *User, const char *, const char *, const char *, Dictionary *) {
    WorkflowRun *Self = static_cast<WorkflowRun *>(User);
    if (Ended(Self)) return TRUE;
    Task_Print(Self->Owner, "The worker did not answer the cancel: the run ends here\n");
    return EndRun(Self);
}

// Ticks the launched worker, however long its elevator's password prompt
// keeps it waiting. Its URL serves only while both it and the run live; a
// worker that ends before its run has reported (it refused its switches,
// could not start or died) fails the run instead of leaving it waiting.
int32 OnWatchWorker(void *User, const char *, const char *, const char *, Dictionary *) {
    WorkflowRun *Self = static_cast<WorkflowRun *>(User);
    if (Self->Worker == nullptr) return TRUE;
    if (Ended(Self)) {
        ForgetSecret(Self);
        return TRUE;
    }
    Process_Process(Self->Worker);
    uint32 State = PROCESS_STATE_IDLE;
    Process_GetState(Self->Worker, &State);
    int32 Id = 0;
    if (Process_GetId(Self->Worker, &Id) && Id > 0) SetDeadline(Self);
    if (State == PROCESS_STATE_RUNNING) {
        NotificationCenter_FireAfterDelayWithJSON("WorkflowRun", "WatchWorker", RunId(Self), WorkerWatchMilliseconds,
                                                  "{\"canRemote\":false}");
        return TRUE;
    }
    ForgetSecret(Self);
    // Only the exit code says why: it comes from the kernel, not from
    // anything another local user could write to. Without one the elevator
    // refused or was cancelled, and no worker ever ran.
    int32 Code = 0;
    const bool Known = Process_GetExitCode(Self->Worker, &Code) != 0;
    if (Known) Task_Print(Self->Owner, "The elevated worker ended before its run completed (exit code %d)\n", Code);
    else Task_Print(Self->Owner, "The elevator did not start the worker\n");
    if (Known)
        return FailHandOver(Self, Code == WORKFLOWRUN_WORKER_EXIT_REFUSED
                                      ? "the elevated worker refused its command line or its configuration"
                                      : "the elevated worker ended before its run completed (its log tells why)");
    Task_AddError(Self->Owner, "Launch_Error_RunElevated");
    return EndRun(Self);
}

void Observe(WorkflowRun *Self, bool Add) {
    std::string Point = EndPointId();
    auto Each = [&](const char *Type, const char *Name, const char *Instance, NotificationCenter_ObserverFunc Function) {
        if (Add) NotificationCenter_AddInstanceObserver(Type, Name, Instance, Self, Function);
        else NotificationCenter_RemoveInstanceObserver(Type, Name, Instance, Self, Function);
    };
    Each(EndPointClass, "Connected", Point.c_str(), OnConnected);
    Each(EndPointClass, "Running", Point.c_str(), OnRunning);
    Each(EndPointClass, "Disconnected", Point.c_str(), OnDisconnected);
    Each("WorkflowRun", "Complete", TaskId(Self->Owner), OnRemoteComplete);
    Each("WorkflowRun", "RunStart", NOTIFICATIONCENTER_GLOBAL, OnRemoteRunStart);
    Each("WorkflowRun", "CancelUnanswered", RunId(Self), OnCancelUnanswered);
    Each("WorkflowRun", "WatchWorker", RunId(Self), OnWatchWorker);
    Each("WorkflowRun", "HandOverDeadline", RunId(Self), OnHandOverDeadline);
}

// The worker learns whom to watch (this process, told from a later one with
// its id by its start time) and the host's switches that decide trust.
bool AppendWorkerSwitches(char *Line, int32 Size) {
    const int32 Own = (int32)getpid();
    std::string Text = std::string(Line) + " --wfparent=" + std::to_string(Own) + "." +
                       std::to_string(Platform_GetProcessStartTime(Own));
    if (!WorkerSwitches.empty()) Text += " " + WorkerSwitches;
    if ((int32)Text.size() >= Size) return false;
    String_CopyLength(Line, Text.c_str(), Size);
    return true;
}

void Launch(WorkflowRun *Self) {
    char Own[PathSize] = "";
    Platform_GetModuleFilename(nullptr, Own, (int32)sizeof(Own));
    Task_Print(Self->Owner, "Launching as elevated [%s]\n", Own);
    char PeerUrl[TextSize] = "";
    char Arguments[TextSize] = "";
    // One expansion, with the task's own references ("{this.<task>.<key>}")
    // known to it, through the checked reader: a second pass would cut what
    // grows past the buffer, and expand again what a value holds as text.
    Task_SetExpandStringCallback(Self->Owner, Self, ExpandTaskPath);
    Task_GetStringArgument(Self->Owner, "arguments", Arguments, (int32)sizeof(Arguments));
    // Arguments that were refused launch nothing: not without them either.
    bool Made = !Task_IsArgumentRefused(Self->Owner) &&
                NotificationEndPoint_GetWebServerURL(EndPoint(), TRUE, PeerUrl, (int32)sizeof(PeerUrl)) != 0;
    if (Made) String_CopyLength(Self->SecretUrl, PeerUrl, (int32)sizeof(Self->SecretUrl));
    char Path[TextSize] = "", Reason[TextSize] = "";
    Self->DeadlineSet = FALSE;
    Made = Made && strlen(PeerUrl) < sizeof(Self->SecretUrl) &&
           HandOverFile_Write((std::string(PeerUrl) + "\n" + Arguments).c_str(), &Self->Secret, Reason,
                              (int32)sizeof(Reason)) &&
           HandOverFile_GetPath(Self->Secret, Path, (int32)sizeof(Path));
    // The document's arguments (a password, say) go in the owner-only file
    // beside the URL: a command line, the elevator's too, is readable by all.
    char Line[TextSize * 2];
    String_Print(Line, (int32)sizeof(Line), "--debugfileid=elevated --%s --%s=\"%s\"", "wfworker", "wfendpoint",
                 Path);
    Made = AppendWorkerSwitches(Line, (int32)sizeof(Line)) && Made;
    char Directory[PathSize] = "";
    String_CopyLength(Directory, Own, (int32)sizeof(Directory));
    char *Slash = strrchr(Directory, '/');
    if (Slash != nullptr) *Slash = 0;
    Process_Create(&Self->Worker);
    Process_SetApplicationName(Self->Worker, Own);
    Process_SetArguments(Self->Worker, Line);
    Process_SetWorkingDirectory(Self->Worker, Directory);
    Process_SetElevationRights(Self->Worker, PROCESS_RIGHTS_ELEVATED);
    Process_SetShowWindow(Self->Worker, 0);
    Task_SetStatusString(Self->Owner, "path", Own);
    Task_SetStatusString(Self->Owner, "arguments", Line);
    Task_Print(Self->Owner, "Launching process\n");
    Process_Dump(Self->Worker);
    if (!Made || !Process_Launch(Self->Worker)) {
        NotificationEndPoint_RemoveWebServerURL(EndPoint(), PeerUrl);
        ForgetSecret(Self);
        if (Reason[0] != 0) {
            FailHandOver(Self, Reason);
            return;
        }
        Task_AddError(Self->Owner, "Launch_Error_RunElevated");
        EndRun(Self);
        return;
    }
    NotificationCenter_FireAfterDelayWithJSON("WorkflowRun", "WatchWorker", RunId(Self), WorkerWatchMilliseconds,
                                              "{\"canRemote\":false}");
}

} // namespace

int32 WorkflowRunInt_HandOver(WorkflowRun *Self) {
    if (EndPoint() == nullptr) {
        char Own[PathSize] = "";
        Platform_GetModuleFilename(nullptr, Own, (int32)sizeof(Own));
        Task_Print(Self->Owner, "Launching as elevated [%s]\n", Own);
        Task_Print(Self->Owner, "No notification end point to hand the run over\n");
        Task_AddError(Self->Owner, "Launch_Error_RunElevated");
        return EndRun(Self);
    }
    Self->HandedOver = TRUE;
    Self->HandOverDone = FALSE;
    Observe(Self, true);
    if (NotificationEndPoint_IsConnected(EndPoint())) {
        SetDeadline(Self);
        SendStartRequest(Self);
    } else if (NotificationEndPoint_IsRunning(EndPoint())) {
        Launch(Self);
    } else if (!NotificationEndPoint_Start(EndPoint())) {
        Task_AddError(Self->Owner, "Launch_Error_RunElevated");
        return EndRun(Self);
    }
    return TRUE;
}

int32 WorkflowRunInt_EndHandOver(WorkflowRun *Self) {
    if (!Self->HandedOver) return TRUE;
    Self->HandedOver = FALSE;
    Observe(Self, false);
    ForgetSecret(Self);
    // A run that ends while the elevator still asks for the rights (the user
    // quits at the prompt) ends the elevator: no worker starts for it. (Its
    // id line may have come since the last tick.)
    if (Self->Worker == nullptr) return TRUE;
    Process_Process(Self->Worker);
    uint32 State = PROCESS_STATE_IDLE;
    int32 Id = 0;
    if (Process_GetState(Self->Worker, &State) && State == PROCESS_STATE_RUNNING && Process_GetId(Self->Worker, &Id) &&
        Id == 0)
        Process_Release(&Self->Worker);
    return TRUE;
}

int32 WorkflowRunInt_CancelHandOver(WorkflowRun *Self) {
    if (Self->RemoteWorkflow[0] != 0 && Self->StartSent) {
        NotificationCenter_FireAfterDelay("Workflow", "Cancel", Self->RemoteWorkflow, 0, nullptr);
        NotificationCenter_FireAfterDelayWithJSON("WorkflowRun", "CancelUnanswered", RunId(Self),
                                                  CancelAnswerMilliseconds, "{\"canRemote\":false}");
        return TRUE;
    }
    return EndRun(Self);
}

int32 WorkflowRun_SetWorkerSwitches(const char *Text) {
    WorkerSwitches = Text != nullptr ? Text : "";
    return TRUE;
}

int32 WorkflowRunInt_ReleaseWorker(WorkflowRun *Self) {
    // The worker outlives this run when it wants; it is collected later.
    ForgetSecret(Self);
    if (Self->Worker != nullptr) Process_Release(&Self->Worker);
    return TRUE;
}

// Running-task bookkeeping, the shutdown handshake and the exit record (see
// workflow_app_life.h).
#include "workflow/app/workflow_app_life.h"

#include <dirent.h>
#include <errno.h>
#include <math.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <initializer_list>
#include <set>
#include <string>

#include "runtime/command_line.h"
#include "crypto/trust/challenge.h"
#include "runtime/debug.h"
#include "runtime/log.h"
#include "runtime/posix/platform_folder.h"
#include "runtime/containers/dictionary.h"
#include "runtime/notification/notification_center.h"
#include "runtime/text/string.h"
#include "workflow/app/workflow_app.h"

namespace {

constexpr int32 TaskNameSize = 240;

struct Life {
    Dictionary *RunningTasks = nullptr;   // task id -> task name
    Dictionary *TaskToWorkflow = nullptr; // task id -> workflow id
    Dictionary *WorkflowToTasks = nullptr; // workflow id -> List of task ids
    Dictionary *WorkflowToTask = nullptr; // workflow id -> id of the task that runs it
    Dictionary *PendingShutdown = nullptr;
    // Tasks of the other process relayed here: their completion may never
    // come when that process goes away.
    std::set<std::string> RemoteTasks;
    char ShutdownInstance[64] = "";
    uint32 Restart = 0;
    uint32 RestartElevated = 0;
    char RestartPath[WORKFLOWAPP_PATH_SIZE] = "";
    char RestartArguments[WORKFLOWAPP_ARGUMENTS_SIZE] = "";
    char ImplodePath[WORKFLOWAPP_PATH_SIZE] = "";
    uint32 Worker = 0;
    uint32 SelfUpdate = 0;
};

Life State;
uint32 Started = 0;

int32 OwnExecutable(char *Buffer, int32 Size) {
    ssize_t Length = readlink("/proc/self/exe", Buffer, (size_t)(Size - 1));
    if (Length <= 0) {
        Buffer[0] = 0;
        return FALSE;
    }
    Buffer[Length] = 0;
    return TRUE;
}

constexpr int32 IdSize = 40;

int32 OnTaskStart(void *, const char *, const char *, const char *Instance, Dictionary *Info) {
    if (Instance == nullptr) return TRUE;
    char Name[TaskNameSize] = "", Flow[IdSize] = "", Owner[IdSize];
    if (Info != nullptr) {
        Dictionary_GetStringByKey(Info, "name", Name, (int32)sizeof(Name));
        Dictionary_GetStringByKey(Info, "workflow", Flow, (int32)sizeof(Flow));
    }
    Dictionary_SetStringByKey(State.RunningTasks, Instance, Name);
    uint32 Remote = FALSE;
    if (Info != nullptr && Dictionary_GetBooleanByKey(Info, "isRemote", &Remote) && Remote)
        State.RemoteTasks.insert(Instance);
    // A task named as its workflow stands for the workflow it belongs to.
    if (Dictionary_GetStringByKey(State.TaskToWorkflow, Flow, Owner, (int32)sizeof(Owner)))
        String_CopyLength(Flow, Owner, (int32)sizeof(Flow));
    Dictionary_SetStringByKey(State.TaskToWorkflow, Instance, Flow);
    Dictionary *Tasks = nullptr;
    if (!Dictionary_GetListByKey(State.WorkflowToTasks, Flow, &Tasks) || Tasks == nullptr)
        Dictionary_AddList(State.WorkflowToTasks, Flow, &Tasks, nullptr);
    Dictionary_AddString(Tasks, nullptr, Instance, nullptr);
    return TRUE;
}

int32 OnRunRun(void *, const char *, const char *, const char *, Dictionary *Info) {
    char TaskId[IdSize] = "", Flow[IdSize] = "";
    if (Info == nullptr || !Dictionary_GetStringByKey(Info, "task", TaskId, (int32)sizeof(TaskId)) ||
        !Dictionary_GetStringByKey(Info, "workflow", Flow, (int32)sizeof(Flow)))
        return TRUE;
    return Dictionary_SetStringByKey(State.WorkflowToTask, Flow, TaskId);
}

int32 OnEventComplete(void *, const char *, const char *, const char *, Dictionary *Info) {
    char Name[TaskNameSize] = "", Flow[IdSize] = "";
    if (Info == nullptr || !Dictionary_GetStringByKey(Info, "workflow", Flow, (int32)sizeof(Flow))) return TRUE;
    Dictionary_GetStringByKey(Info, "name", Name, (int32)sizeof(Name));
    Dictionary *Tasks = nullptr;
    if (Dictionary_GetListByKey(State.WorkflowToTasks, Flow, &Tasks) && Tasks != nullptr) {
        DictionaryItem *Item = nullptr;
        for (Dictionary_ItemGetFirst(Tasks, &Item); Item != nullptr; Dictionary_ItemGetNext(Tasks, Item, &Item)) {
            const char *TaskId = nullptr;
            if (Dictionary_ItemGetStringPtr(Tasks, Item, &TaskId) && TaskId != nullptr)
                Dictionary_RemoveByKey(State.TaskToWorkflow, TaskId);
        }
        Dictionary_RemoveByKey(State.WorkflowToTasks, Flow);
    }
    uint32 Remote = FALSE;
    if (Dictionary_GetBooleanByKey(Info, "isRemote", &Remote) && Remote)
        Dictionary_RemoveByKey(State.TaskToWorkflow, Flow);
    if (String_CompareWithoutCase(Name, "unload")) Dictionary_RemoveByKey(State.WorkflowToTask, Flow);
    Dictionary *Global = nullptr;
    if (Dictionary_GetListByKey(State.WorkflowToTask, "Global", &Global) && Global != nullptr)
        Dictionary_RemoveByString(Global, Flow);
    return TRUE;
}

int32 OnTaskComplete(void *, const char *, const char *, const char *Instance, Dictionary *) {
    // A task of this process ends only by its own completion: one fired in
    // its name by a page or a document would leave it running unwatched.
    void *Object =
        Instance != nullptr && !NotificationCenter_IsOwnFire() ? Class_ConvertFromInstanceId(Instance) : nullptr;
    if (Object != nullptr && ((ClassStruct *)Object)->ClassId == TASK_CLASSID) return TRUE;
    if (Instance != nullptr) Dictionary_RemoveByKey(State.RunningTasks, Instance);
    if (Instance != nullptr) State.RemoteTasks.erase(Instance);
    return TRUE;
}

int32 OnShutdown(void *, const char *, const char *, const char *, Dictionary *);

int32 OnShutdownTick(void *, const char *, const char *, const char *, Dictionary *) {
    if (WorkflowApp_IsBusy() || State.PendingShutdown == nullptr) return TRUE;
    Dictionary *Forced = State.PendingShutdown;
    State.PendingShutdown = nullptr;
    NotificationCenter_RemoveProcessObserver(State.ShutdownInstance, &State, OnShutdownTick);
    Dictionary_SetBooleanByKey(Forced, "force", TRUE);
    NotificationCenter_Fire("WorkflowApp", "Shutdown", State.ShutdownInstance, Forced);
    Dictionary_Release(&Forced);
    return TRUE;
}

int32 OnShutdown(void *, const char *, const char *, const char *Instance, Dictionary *Info) {
    if (WorkflowApp_IsShuttingDown()) return TRUE;
    WorkflowApp_SetShuttingDown(TRUE);
    if (Info == nullptr) return TRUE;
    // A worker ends only for a request of its own process that is not to be
    // relayed; a relayed one reaches it through its parent's shutdown.
    if (State.Worker) {
        uint32 Remote = FALSE, CanRemote = TRUE;
        Dictionary_GetBooleanByKey(Info, "isRemote", &Remote);
        if (Remote || !Dictionary_GetBooleanByKey(Info, "canRemote", &CanRemote) || CanRemote) return TRUE;
    }
    int32 Type = DICTIONARY_TYPE_UNKNOWN;
    if (Dictionary_GetTypeByKey(Info, "exitCode", &Type) &&
        (Type == DICTIONARY_TYPE_INT64 || Type == DICTIONARY_TYPE_FLOAT64)) {
        // Read whole: a code past 32 bits would end the process with
        // another one (4294967296 as 0, a success); it is not taken.
        float64 Code = 0;
        Dictionary_GetFloat64ByKey(Info, "exitCode", &Code);
        if (isfinite(Code) && Code == trunc(Code) && Code > -2147483649.0 && Code < 2147483648.0)
            Debug_SetExitCode((int32)Code);
        else Log_Error("A shutdown's exit code %g is out of range and not taken\n", Code);
    }
    uint32 Force = FALSE;
    Dictionary_GetBooleanByKey(Info, "force", &Force);
    if (Force || State.PendingShutdown != nullptr) return TRUE;
    Dictionary_Create(&State.PendingShutdown);
    Dictionary_Merge(State.PendingShutdown, Info, DICTIONARY_MERGE_OVERWRITE);
    String_CopyLength(State.ShutdownInstance, Instance != nullptr ? Instance : "", (int32)sizeof(State.ShutdownInstance));
    NotificationCenter_AddProcessObserver(State.ShutdownInstance, &State, OnShutdownTick);
    return TRUE;
}

} // namespace

int32 WorkflowApp_InitLife(void) {
    if (Started) return FALSE;
    State = Life();
    for (Dictionary **Each : {&State.RunningTasks, &State.TaskToWorkflow, &State.WorkflowToTasks, &State.WorkflowToTask})
        Dictionary_Create(Each);
    NotificationCenter_AddObserver("WorkflowRun", "Run", &State, OnRunRun);
    NotificationCenter_AddObserver("WorkflowEvent", "Complete", &State, OnEventComplete);
    OwnExecutable(State.RestartPath, (int32)sizeof(State.RestartPath));
    const char *Line = nullptr;
    if (CommandLine_Get(&Line) && Line != nullptr) {
        State.Worker = CommandLine_IsFieldSet(Line, "wfworker") ? TRUE : FALSE;
        State.SelfUpdate = CommandLine_IsFieldSet(Line, "wfselfupdate") ? TRUE : FALSE;
    }
    NotificationCenter_AddObserver("Task", "Start", &State, OnTaskStart);
    NotificationCenter_AddObserver("Task", "Complete", &State, OnTaskComplete);
    NotificationCenter_AddObserver("WorkflowApp", "Shutdown", &State, OnShutdown);
    Challenge_Init(State.Worker);
    Started = TRUE;
    return TRUE;
}

int32 WorkflowApp_RemoveLife(void) {
    if (!Started) return TRUE;
    Challenge_Remove();
    NotificationCenter_RemoveObserver("Task", "Start", &State, OnTaskStart);
    NotificationCenter_RemoveObserver("Task", "Complete", &State, OnTaskComplete);
    NotificationCenter_RemoveObserver("WorkflowApp", "Shutdown", &State, OnShutdown);
    if (State.PendingShutdown != nullptr) {
        NotificationCenter_RemoveProcessObserver(State.ShutdownInstance, &State, OnShutdownTick);
        Dictionary_Release(&State.PendingShutdown);
    }
    NotificationCenter_RemoveObserver("WorkflowRun", "Run", &State, OnRunRun);
    NotificationCenter_RemoveObserver("WorkflowEvent", "Complete", &State, OnEventComplete);
    for (Dictionary **Each : {&State.RunningTasks, &State.TaskToWorkflow, &State.WorkflowToTasks, &State.WorkflowToTask})
        Dictionary_Release(Each);
    Started = FALSE;
    return TRUE;
}

int32 WorkflowApp_DropRemoteTasks(void) {
    if (!Started) return FALSE;
    for (const std::string &Id : State.RemoteTasks) Dictionary_RemoveByKey(State.RunningTasks, Id.c_str());
    State.RemoteTasks.clear();
    return TRUE;
}

int32 WorkflowApp_IsWorker(void) { return Started && State.Worker; }
int32 WorkflowApp_IsSelfUpdate(void) { return Started && State.SelfUpdate; }

int32 WorkflowApp_IsBusy(void) {
    if (!Started) return FALSE;
    DictionaryItem *Item = nullptr;
    for (Dictionary_ItemGetFirst(State.RunningTasks, &Item); Item != nullptr;
         Dictionary_ItemGetNext(State.RunningTasks, Item, &Item)) {
        const char *Name = nullptr;
        Dictionary_ItemGetStringPtr(State.RunningTasks, Item, &Name);
        if (Name == nullptr || !String_CompareWithoutCase(Name, "global")) return TRUE;
    }
    return FALSE;
}

int32 WorkflowApp_GetRunningTaskCount(int32 *Count) {
    Debug_CheckPointer(Count);
    *Count = 0;
    return Started ? Dictionary_ItemGetCount(State.RunningTasks, Count) : FALSE;
}

int32 WorkflowApp_GetWorkflowByTaskId(const char *TaskId, uint32 Recursive, char *Buffer, int32 Size) {
    Debug_CheckPointer(TaskId);
    Debug_CheckPointer(Buffer);
    char Flow[IdSize];
    if (!Started || !Dictionary_GetStringByKey(State.TaskToWorkflow, TaskId, Flow, (int32)sizeof(Flow))) return FALSE;
    char Runner[IdSize];
    if (!Recursive || !Dictionary_GetStringByKey(State.WorkflowToTask, Flow, Runner, (int32)sizeof(Runner))) {
        String_CopyLength(Buffer, Flow, Size);
        return TRUE;
    }
    char Outer[IdSize] = "";
    int32 Result = WorkflowApp_GetWorkflowByTaskId(Runner, TRUE, Outer, (int32)sizeof(Outer));
    if (Result && !String_Compare(Outer, "Global")) {
        String_CopyLength(Buffer, Outer, Size);
        return Result;
    }
    String_CopyLength(Buffer, Flow, Size);
    return Result;
}

int32 WorkflowApp_IsTaskInWorkflow(const char *TaskId, const char *WorkflowId, uint32 Recursive) {
    Debug_CheckPointer(TaskId);
    Debug_CheckPointer(WorkflowId);
    char Flow[IdSize], Runner[IdSize];
    // Bounded: a cycle of runs in the tables cannot hold the caller.
    for (int32 Depth = 0; Started && Depth < 64; Depth++) {
        if (!Dictionary_GetStringByKey(State.TaskToWorkflow, TaskId, Flow, (int32)sizeof(Flow))) return FALSE;
        if (String_CompareWithoutCase(Flow, WorkflowId)) return TRUE;
        if (!Recursive || !Dictionary_GetStringByKey(State.WorkflowToTask, Flow, Runner, (int32)sizeof(Runner)))
            return FALSE;
        TaskId = Runner;
    }
    return FALSE;
}

int32 WorkflowApp_IsWorkflowRemote(const char *WorkflowId) {
    Debug_CheckPointer(WorkflowId);
    return Started && Dictionary_ContainsKey(State.WorkflowToTask, WorkflowId);
}

int32 WorkflowApp_IsWorkflowInWorkflow(const char *InnerId, const char *OuterId) {
    Debug_CheckPointer(InnerId);
    Debug_CheckPointer(OuterId);
    if (String_CompareWithoutCase(InnerId, OuterId)) return TRUE;
    char Flow[IdSize], Runner[IdSize];
    String_CopyLength(Flow, InnerId, (int32)sizeof(Flow));
    for (int32 Depth = 0; Started && Depth < 64; Depth++) {
        if (!Dictionary_GetStringByKey(State.WorkflowToTask, Flow, Runner, (int32)sizeof(Runner)) ||
            !Dictionary_GetStringByKey(State.TaskToWorkflow, Runner, Flow, (int32)sizeof(Flow)))
            return FALSE;
        if (String_CompareWithoutCase(Flow, OuterId)) return TRUE;
    }
    return FALSE;
}

int32 WorkflowApp_GetRootWorkflow(const char *WorkflowId, char *Buffer, int32 Size) {
    Debug_CheckPointer(WorkflowId);
    Debug_CheckPointer(Buffer);
    char Runner[IdSize];
    if (!Started || !Dictionary_GetStringByKey(State.WorkflowToTask, WorkflowId, Runner, (int32)sizeof(Runner))) {
        String_CopyLength(Buffer, WorkflowId, Size);
        return TRUE;
    }
    return WorkflowApp_GetWorkflowByTaskId(Runner, TRUE, Buffer, Size);
}

int32 WorkflowApp_GetRemoteWorkflow(const char *WorkflowId, char *Buffer, int32 Size) {
    Debug_CheckPointer(WorkflowId);
    Debug_CheckPointer(Buffer);
    Dictionary *Tasks = nullptr;
    DictionaryItem *Last = nullptr;
    const char *TaskId = nullptr;
    if (!Started || !Dictionary_GetListByKey(State.WorkflowToTasks, WorkflowId, &Tasks) || Tasks == nullptr ||
        !Dictionary_ItemGetLast(Tasks, &Last) || Last == nullptr ||
        !Dictionary_ItemGetStringPtr(Tasks, Last, &TaskId) || TaskId == nullptr)
        return FALSE;
    DictionaryItem *Item = nullptr;
    for (Dictionary_ItemGetFirst(State.WorkflowToTask, &Item); Item != nullptr;
         Dictionary_ItemGetNext(State.WorkflowToTask, Item, &Item)) {
        const char *Runner = nullptr, *Flow = nullptr;
        if (Dictionary_ItemGetStringPtr(State.WorkflowToTask, Item, &Runner) && Runner != nullptr &&
            String_CompareWithoutCase(Runner, TaskId) && Dictionary_ItemGetKeyPtr(State.WorkflowToTask, Item, &Flow) &&
            Flow != nullptr) {
            String_CopyLength(Buffer, Flow, Size);
            return TRUE;
        }
    }
    return FALSE;
}

int32 WorkflowApp_SetExitCode(int32 Code) { return Debug_SetExitCode(Code); }

int32 WorkflowApp_GetExitCode(int32 *Code) {
    Debug_CheckPointer(Code);
    *Code = Debug_ExitCode();
    return TRUE;
}

int32 WorkflowApp_SetRestart(uint32 Flag) {
    State.Restart = Flag;
    return TRUE;
}

int32 WorkflowApp_GetRestart(uint32 *Flag) {
    Debug_CheckPointer(Flag);
    *Flag = State.Restart;
    return TRUE;
}

int32 WorkflowApp_SetRestartElevated(uint32 Flag) {
    State.RestartElevated = Flag;
    return TRUE;
}

int32 WorkflowApp_GetRestartElevated(uint32 *Flag) {
    Debug_CheckPointer(Flag);
    *Flag = State.RestartElevated;
    return TRUE;
}

int32 WorkflowApp_SetRestartPath(const char *Path) {
    Debug_CheckPointer(Path);
    String_CopyLength(State.RestartPath, Path, (int32)sizeof(State.RestartPath));
    return TRUE;
}

int32 WorkflowApp_GetRestartPath(char *Buffer, int32 Size) {
    Debug_CheckPointer(Buffer);
    String_CopyLength(Buffer, State.RestartPath, Size);
    return TRUE;
}

int32 WorkflowApp_SetRestartArguments(const char *Text) {
    Debug_CheckPointer(Text);
    String_CopyLength(State.RestartArguments, Text, (int32)sizeof(State.RestartArguments));
    return TRUE;
}

int32 WorkflowApp_GetRestartArguments(char *Buffer, int32 Size) {
    Debug_CheckPointer(Buffer);
    String_CopyLength(Buffer, State.RestartArguments, Size);
    return TRUE;
}

int32 WorkflowApp_AppendRestartArguments(const char *Text) {
    Debug_CheckPointer(Text);
    if (State.RestartArguments[0] != 0)
        String_CatLength(State.RestartArguments, " ", (int32)sizeof(State.RestartArguments));
    String_CatLength(State.RestartArguments, Text, (int32)sizeof(State.RestartArguments));
    return TRUE;
}

int32 WorkflowApp_Implode(void) {
    char Path[WORKFLOWAPP_PATH_SIZE];
    if (!OwnExecutable(Path, (int32)sizeof(Path)) || access(Path, F_OK) != 0) return FALSE;
    String_CopyLength(State.ImplodePath, Path, (int32)sizeof(State.ImplodePath));
    return TRUE;
}

int32 WorkflowApp_SetImplodePath(const char *Path) {
    Debug_CheckPointer(Path);
    String_CopyLength(State.ImplodePath, Path, (int32)sizeof(State.ImplodePath));
    return TRUE;
}

int32 WorkflowApp_GetImplodePath(char *Buffer, int32 Size) {
    Debug_CheckPointer(Buffer);
    String_CopyLength(Buffer, State.ImplodePath, Size);
    return TRUE;
}

int32 WorkflowApp_ExpireLogs(void) {
    if ((Debug_Flags() & DEBUG_FLAG_PERDAY) == 0) return FALSE;
    const char *Line = nullptr;
    char Days[32] = "", LogFile[WORKFLOWAPP_PATH_SIZE] = "";
    if (!CommandLine_Get(&Line) || Line == nullptr ||
        !CommandLine_GetFieldByName(Line, "maxdays", Days, (int32)sizeof(Days)) || Days[0] == 0)
        return FALSE;
    if (!Log_GetFilename(LogFile, (int32)sizeof(LogFile)) || LogFile[0] == 0) return FALSE;
    // Only a whole number of days: a negative one would take this run's own
    // log and every other, and a text read as 0 every earlier one.
    char *End = nullptr;
    errno = 0;
    const long Count = Days[0] >= '0' && Days[0] <= '9' ? strtol(Days, &End, 10) : -1;
    if (Count < 0 || End == nullptr || *End != 0 || errno != 0 || Count > INT32_MAX / 86400) {
        PlatformFolder_TellOnce(std::string("--maxdays=") + Days + " is not a whole number of days: no log is removed");
        Log_Warning("--maxdays=%s is not a whole number of days: no log is removed\n", Days);
        return FALSE;
    }
    return WorkflowApp_ExpireLogsIn(LogFile, (int32)Count, (int64)time(nullptr));
}

// Expiry acts only in a folder the log itself may use (see Log_OpenFolder),
// through that folder's handle: a folder named by the command line that is a
// link, or another user's, would have this process remove files elsewhere,
// or someone else's. Only regular files of this user's own go.
int32 WorkflowApp_ExpireLogsIn(const char *LogFile, int32 MaxDays, int64 Now) {
    Debug_CheckPointer(LogFile);
    char Directory[WORKFLOWAPP_PATH_SIZE], Pattern[WORKFLOWAPP_PATH_SIZE];
    String_CopyLength(Directory, LogFile, (int32)sizeof(Directory));
    const char *Slash = nullptr;
    if (!String_FindCharReverse(Directory, '/', &Slash)) return FALSE;
    String_CopyLength(Pattern, Slash + 1, (int32)sizeof(Pattern));
    Directory[Slash - Directory + 1] = 0;
    const char *Dot = nullptr;
    if (String_FindCharReverse(Pattern, '.', &Dot)) Pattern[Dot - Pattern] = 0;
    String_CatLength(Pattern, "*.log", (int32)sizeof(Pattern));
    const int Folder = Log_OpenFolder(LogFile);
    if (Folder < 0) return FALSE;
    const int Listed = dup(Folder);
    DIR *Listing = Listed >= 0 ? fdopendir(Listed) : nullptr;
    if (Listing == nullptr) {
        if (Listed >= 0) close(Listed);
        close(Folder);
        return FALSE;
    }
    const int64 Limit = Now - ((int64)MaxDays * 86400 + 1);
    while (struct dirent *Entry = readdir(Listing)) {
        if (!String_CompareWildcard(Entry->d_name, Pattern)) continue;
        struct statx Facts;
        if (statx(Folder, Entry->d_name, AT_SYMLINK_NOFOLLOW, STATX_BTIME | STATX_MTIME | STATX_TYPE | STATX_UID,
                  &Facts) != 0 ||
            !S_ISREG(Facts.stx_mode) || Facts.stx_uid != geteuid())
            continue;
        int64 Created = (Facts.stx_mask & STATX_BTIME) ? (int64)Facts.stx_btime.tv_sec : (int64)Facts.stx_mtime.tv_sec;
        if (Limit < Created) continue;
        Log_Debug("Removing expired log - %s%s\n", Directory, Entry->d_name);
        unlinkat(Folder, Entry->d_name, 0);
    }
    closedir(Listing);
    close(Folder);
    return TRUE;
}

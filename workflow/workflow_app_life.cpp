// Running-task bookkeeping, the shutdown handshake and the exit record (see
// workflow_app_life.h).
#include "workflow/workflow_app_life.h"

#include <unistd.h>

#include "core/debug.h"
#include "core/dictionary.h"
#include "core/notification_center.h"
#include "core/string.h"
#include "workflow/workflow_app.h"

namespace {

constexpr int32 TaskNameSize = 240;

struct Life {
    Dictionary *RunningTasks = nullptr; // task id -> task name
    Dictionary *PendingShutdown = nullptr;
    char ShutdownInstance[64] = "";
    uint32 Restart = 0;
    uint32 RestartElevated = 0;
    char RestartPath[WORKFLOWAPP_PATH_SIZE] = "";
    char RestartArguments[WORKFLOWAPP_ARGUMENTS_SIZE] = "";
    char ImplodePath[WORKFLOWAPP_PATH_SIZE] = "";
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

int32 OnTaskStart(void *, const char *, const char *, const char *Instance, Dictionary *Info) {
    char Name[TaskNameSize] = "";
    if (Info != nullptr) Dictionary_GetStringByKey(Info, "name", Name, (int32)sizeof(Name));
    if (Instance != nullptr) Dictionary_SetStringByKey(State.RunningTasks, Instance, Name);
    return TRUE;
}

int32 OnTaskComplete(void *, const char *, const char *, const char *Instance, Dictionary *) {
    if (Instance != nullptr) Dictionary_RemoveByKey(State.RunningTasks, Instance);
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
    int32 Type = DICTIONARY_TYPE_UNKNOWN;
    if (Dictionary_GetTypeByKey(Info, "exitCode", &Type) &&
        (Type == DICTIONARY_TYPE_INT64 || Type == DICTIONARY_TYPE_FLOAT64)) {
        int32 Code = 0;
        Dictionary_GetInt32ByKey(Info, "exitCode", &Code);
        Debug_SetExitCode(Code);
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
    Dictionary_Create(&State.RunningTasks);
    OwnExecutable(State.RestartPath, (int32)sizeof(State.RestartPath));
    NotificationCenter_AddObserver("Task", "Start", &State, OnTaskStart);
    NotificationCenter_AddObserver("Task", "Complete", &State, OnTaskComplete);
    NotificationCenter_AddObserver("WorkflowApp", "Shutdown", &State, OnShutdown);
    Started = TRUE;
    return TRUE;
}

int32 WorkflowApp_RemoveLife(void) {
    if (!Started) return TRUE;
    NotificationCenter_RemoveObserver("Task", "Start", &State, OnTaskStart);
    NotificationCenter_RemoveObserver("Task", "Complete", &State, OnTaskComplete);
    NotificationCenter_RemoveObserver("WorkflowApp", "Shutdown", &State, OnShutdown);
    if (State.PendingShutdown != nullptr) {
        NotificationCenter_RemoveProcessObserver(State.ShutdownInstance, &State, OnShutdownTick);
        Dictionary_Release(&State.PendingShutdown);
    }
    Dictionary_Release(&State.RunningTasks);
    Started = FALSE;
    return TRUE;
}

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

// The workflow script family, the application's dispatcher and its interop
// libraries (see workflow_app_interop.h).
#include "workflow/app/workflow_app_interop.h"

#include <string.h>
#include <unistd.h>

#include "content/executable.h"
#include "crypto/trust/authenticate_async.h"
#include "runtime/files/path.h"
#include "runtime/log.h"
#include "runtime/memory.h"
#include "runtime/notification/notification_center.h"
#include "runtime/posix/platform_folder.h"
#include "runtime/posix/trusted_path.h"
#include "runtime/script/api_gen_dispatch.h"
#include "runtime/script/core_script.h"
#include "runtime/text/crc.h"
#include "runtime/text/string.h"
#include "workflow/task_script.h"
#include "workflow/tasks/script_task.h"
#include "workflow/app/workflow_app_config.h"
#include "workflow/app/workflow_app_facts.h"
#include "workflow/app/workflow_app_life.h"
#include "workflow/app/workflow_app_tick.h"
#include "workflow/workflow_manager.h"
#include "workflow/workflow_script.h"

namespace {

constexpr int32 NameSize = 120;
constexpr int32 PathSize = 320;
constexpr int32 VersionSize = 120;
constexpr int32 Size = APIGEN_TEXT_SIZE;

// ---- Pending library authentications ----

struct Pending {
    uint32 Check;
    AuthenticateAsync *Authentication;
    uint32 Done;
    int32 Held; // the library as the trusted-path walk opened it, checked and loaded through it
    uint32 Refused; // the walk refused it: it fails on the next tick
    char Name[NameSize];
    char Path[PathSize];
    Pending *Prev;
    Pending *Next;
};

struct PendingList {
    uint32 Check = WORKFLOWAPP_PENDING_CLASSID;
    Pending *Head = nullptr;
    Pending *Tail = nullptr;
    int32 Count = 0;
};

PendingList Authentications;

void Unlink(Pending *Entry) {
    Debug_Assert(Authentications.Check == WORKFLOWAPP_PENDING_CLASSID && Entry->Check == WORKFLOWAPP_PENDING_CLASSID,
                 "Pending authentication list damaged");
    (Entry->Prev != nullptr ? Entry->Prev->Next : Authentications.Head) = Entry->Next;
    (Entry->Next != nullptr ? Entry->Next->Prev : Authentications.Tail) = Entry->Prev;
    Authentications.Count--;
}

void Free(Pending *Entry) {
    AuthenticateAsync_Delete(&Entry->Authentication);
    if (Entry->Held >= 0) close(Entry->Held);
    Memory_Delete(Entry);
}

int32 FireLibrary(const char *Event, int32 Successful, const char *Name, const char *Path) {
    char Instance[64] = "";
    WorkflowApp_GetInstanceId(Instance, (int32)sizeof(Instance));
    // Script text is quoted as JSON, never pasted raw into the payload.
    return NotificationCenter_FireWithJSON("Interop", Event, Instance, "{\"successful\":%s,\"name\":\"%js\",\"path\":\"%js\"}",
                                           Successful ? "true" : "false", Name, Path);
}

int32 OnAuthenticated(AuthenticateAsync *, void *User, int32 Result) {
    Pending *Entry = static_cast<Pending *>(User);
    int32 Loaded = FALSE;
    if (Result) Loaded = Interop_LoadLibraryOpened(Entry->Path, Entry->Held) != nullptr;
    else Log_Error("Interop library failed authentication (%s)\n", Entry->Path);
    FireLibrary("Load", Loaded, Entry->Name, Entry->Path);
    Entry->Done = TRUE;
    return TRUE;
}

// ---- The family's objects ----

int32 ReleaseTask(void **UserAddress, const char *) { return Task_Release(reinterpret_cast<Task **>(UserAddress)); }
int32 ReleaseWorkflow(void **UserAddress, const char *) {
    return Workflow_Release(reinterpret_cast<Workflow **>(UserAddress));
}

// The object the script names, when it is of that class, with a reference.
void *Named(const char *Id, uint32 ClassId, const char *ClassName) {
    void *Object = Id != nullptr && Id[0] != 0 ? Class_ConvertFromInstanceId(Id) : nullptr;
    if (Object == nullptr || static_cast<ClassStruct *>(Object)->ClassId != ClassId) {
        Log_Debug("Instance %s is not a type of %s\n", Id != nullptr ? Id : "", ClassName);
        return nullptr;
    }
    return Class_AddRef(Object);
}

// ---- "TQX.WorkflowApp" ----

bool AppDispatch(uint32 Hash, ApiGenParameters &Get, ApiGenAnswer &Out) {
    const char *A = nullptr, *B = nullptr;
    uint32 Value = 0;
    int32 Number = 0;
    char *Buffer = Out.Buffer;
    auto Flag = [&Out](int32 Answer) { Out.Number = Answer ? 1 : 0; };
    auto Real = [&Out](int32 (*Read)(float64 *)) {
        Out.Type = ApiGenAnswer::Float64;
        Read(&Out.Real);
    };
    auto Text = [&Out]() { Out.Type = ApiGenAnswer::Text; };
    switch (Hash) {
    case Crc32Const("debugPrint"):
        if (Get.Text("message", &A).Read) Flag(WorkflowApp_DebugPrint(A));
        return true;
    case Crc32Const("loadInterop"):
        if (Get.Text("name", &A).Text("path", &B).Read) Flag(WorkflowApp_LoadInterop(A, B));
        return true;
    case Crc32Const("unloadInterop"):
        if (Get.Text("name", &A).Text("path", &B).Read) Flag(WorkflowApp_UnloadInterop(A, B));
        return true;
    case Crc32Const("getStartTime"): Real(WorkflowApp_GetStartTime); return true;
    case Crc32Const("getCurrentTime"): Real(WorkflowApp_GetCurrentTime); return true;
    case Crc32Const("getRunningTime"): Real(WorkflowApp_GetRunningTime); return true;
    case Crc32Const("getRestartPath"): Text(); WorkflowApp_GetRestartPath(Buffer, Size); return true;
    case Crc32Const("getRestartArguments"): Text(); WorkflowApp_GetRestartArguments(Buffer, Size); return true;
    case Crc32Const("getCommandLine"): Text(); WorkflowApp_GetCommandLine(Buffer, Size); return true;
    case Crc32Const("getDebugFilename"): Text(); WorkflowApp_GetDebugFilename(Buffer, Size); return true;
    case Crc32Const("jwsVerifyCertStore"):
        if (Get.Text("signature", &A).Text("store", &B).Read) Flag(WorkflowApp_JwsVerifyCertStore(A, B));
        return true;
    case Crc32Const("jwsVerifyKeyStore"):
        if (Get.Text("signature", &A).Text("store", &B).Read) Flag(WorkflowApp_JwsVerifyKeyStore(A, B));
        return true;
    case Crc32Const("jwsVerifyKey"):
        if (Get.Text("signature", &A).Text("key", &B).Read) Flag(WorkflowApp_JwsVerifyKey(A, B));
        return true;
    case Crc32Const("getDebugFlags"):
        Out.Type = ApiGenAnswer::Int32;
        WorkflowApp_GetDebugFlags(&Value);
        Out.Number = (int32)Value;
        return true;
    case Crc32Const("addMacro"):
        if (Get.Text("key", &A).Text("value", &B).Read) Flag(WorkflowApp_AddMacro(A, B));
        return true;
    case Crc32Const("getConfig"):
        Text();
        if (Get.Text("key", &A).Text("defaultValue", &B).Read) WorkflowApp_GetConfig(A, B, Buffer, Size);
        return true;
    case Crc32Const("getCommandFieldCount"):
        Out.Type = ApiGenAnswer::Int32;
        WorkflowApp_GetCommandFieldCount(&Number);
        Out.Number = Number;
        return true;
    case Crc32Const("getRestart"):
        WorkflowApp_GetRestart(&Value);
        Flag((int32)Value);
        return true;
    case Crc32Const("setRestartPath"):
        if (Get.Text("restartPath", &A).Read) Flag(WorkflowApp_SetRestartPath(A));
        return true;
    case Crc32Const("getWorkflowByTaskId"):
        Text();
        if (Get.Text("task", &A).Flag("traverse", &Value).Read &&
            !WorkflowApp_GetWorkflowByTaskId(A, Value, Buffer, Size))
            Buffer[0] = 0;
        return true;
    case Crc32Const("setRestart"):
        if (Get.Flag("restart", &Value).Read) Flag(WorkflowApp_SetRestart(Value));
        return true;
    case Crc32Const("getCommandField"):
        Text();
        if (Get.Int32("index", &Number).Read) WorkflowApp_GetCommandField(Number, Buffer, Size);
        return true;
    case Crc32Const("isElevated"): Flag(WorkflowApp_IsElevated()); return true;
    case Crc32Const("setRestartElevated"):
        if (Get.Flag("restartElevated", &Value).Read) Flag(WorkflowApp_SetRestartElevated(Value));
        return true;
    case Crc32Const("expandString"):
        Text();
        if (Get.Text("expand", &A).Read) WorkflowApp_ExpandString(A, Buffer, Size);
        return true;
    case Crc32Const("setPreventSystemShutdown"):
        if (Get.Flag("preventSystemShutdown", &Value).Read) Flag(WorkflowApp_SetPreventSystemShutdown(Value));
        return true;
    case Crc32Const("getRestartElevated"):
        WorkflowApp_GetRestartElevated(&Value);
        Flag((int32)Value);
        return true;
    case Crc32Const("setRestartArguments"):
        if (Get.Text("restartArguments", &A).Read) Flag(WorkflowApp_SetRestartArguments(A));
        return true;
    case Crc32Const("getPreventSystemShutdown"):
        WorkflowApp_GetPreventSystemShutdown(&Value);
        Flag((int32)Value);
        return true;
    case Crc32Const("implode"): Flag(WorkflowApp_Implode()); return true;
    case Crc32Const("sendCrashEvent"):
        if (Get.Text("format", &A).Text("info", &B).Read) Flag(WorkflowApp_SendCrashEventInterop(A, B));
        return true;
    case Crc32Const("convertFromEntitizedString"):
        Text();
        if (Get.Text("entitizedString", &A).Read) WorkflowApp_ConvertFromEntitizedString(A, Buffer, Size);
        return true;
    case Crc32Const("convertToEntitizedString"):
        Text();
        if (Get.Text("utf8string", &A).Read) WorkflowApp_ConvertToEntitizedString(A, Buffer, Size);
        return true;
    case Crc32Const("crash"):
        WorkflowApp_Crash();
        return true;
    case Crc32Const("isTaskInWorkflow"):
        if (Get.Text("task", &A).Text("workflow", &B).Flag("traverse", &Value).Read)
            Flag(WorkflowApp_IsTaskInWorkflow(A, B, Value));
        return true;
    case Crc32Const("getSecurityEnabled"):
        WorkflowApp_GetSecurityEnabled(&Value);
        Flag((int32)Value);
        return true;
    case Crc32Const("getExitCode"):
        Out.Type = ApiGenAnswer::Int32;
        WorkflowApp_GetExitCode(&Number);
        Out.Number = Number;
        return true;
    case Crc32Const("isCommandFieldSet"):
        if (Get.Text("commandField", &A).Read) Flag(WorkflowApp_IsCommandFieldSet(A));
        return true;
    case Crc32Const("getCommandFieldByName"):
        Text();
        if (Get.Text("commandField", &A).Read) WorkflowApp_GetCommandFieldByName(A, Buffer, Size);
        return true;
    case Crc32Const("setExitCode"):
        if (Get.Int32("exitCode", &Number).Read) Flag(WorkflowApp_SetExitCode(Number));
        return true;
    default: return false;
    }
}

struct FamilyClass {
    const char *Name;
    Interop_InvokeFunc Invoke;
};

} // namespace

int32 WorkflowApp_Invoke(void *User, Dictionary *Request, Dictionary *Result) {
    (void)User;
    return ApiGenInvoke(Request, Result, "WorkflowApp", AppDispatch);
}

int32 WorkflowInterop_CreateInstance(const char *ClassName, char *IdBuffer, int32 IdSize, void *ExecuteUser,
                                     Interop_ExecuteFunc ExecuteFunction, Interop_InvokeFunc *Invoke,
                                     Interop_ReleaseFunc *Release, Interop_ProcessFunc *Process, void **User) {
    (void)ExecuteUser;
    (void)ExecuteFunction;
    Debug_CheckPointer(Invoke);
    Debug_CheckPointer(Release);
    Debug_CheckPointer(Process);
    Debug_CheckPointer(User);
    *Invoke = nullptr;
    *Release = nullptr;
    *Process = nullptr;
    *User = nullptr;
    if (ClassName == nullptr) return FALSE;
    if (strcmp(ClassName, "TQX.Workflow") == 0 || strcmp(ClassName, "TQX.Task") == 0) {
        bool IsTask = ClassName[4] == 'T';
        void *Object = Named(IdBuffer, IsTask ? TASK_CLASSID : WORKFLOW_CLASSID, ClassName);
        if (Object == nullptr) return FALSE;
        *User = Object;
        *Invoke = IsTask ? Task_Invoke : Workflow_Invoke;
        *Release = IsTask ? ReleaseTask : ReleaseWorkflow;
        return TRUE;
    }
    if (strcmp(ClassName, "TQX.ScriptTaskHandler") == 0) {
        *Invoke = ScriptTaskHandler_Invoke;
        return TRUE;
    }
    if (strcmp(ClassName, "TQX.WorkflowManager") == 0) {
        if (IdBuffer != nullptr && IdSize > 0 && WorkflowManager_IsInitialized())
            WorkflowManager_GetInstanceId(IdBuffer, IdSize);
        *Invoke = WorkflowManager_Invoke;
        return TRUE;
    }
    if (strcmp(ClassName, "TQX.WorkflowApp") == 0 || strcmp(ClassName, "TQX.App") == 0) {
        if (IdBuffer != nullptr && IdSize > 0) WorkflowApp_GetInstanceId(IdBuffer, IdSize);
        *Invoke = WorkflowApp_Invoke;
        return TRUE;
    }
    return FALSE;
}

int32 WorkflowInterop_Init(void) { return TRUE; }
int32 WorkflowInterop_Remove(void) { return TRUE; }

int32 WorkflowInterop_SetOverride(const char *Name, void *Function) {
    (void)Name;
    (void)Function;
    return TRUE;
}

int32 WorkflowInterop_SetOption(const char *Name, const char *Value) {
    (void)Name;
    (void)Value;
    return TRUE;
}

int32 WorkflowApp_InitInterop(void) {
    char Path[PathSize] = "";
    Platform_GetModuleFilename(nullptr, Path, (int32)sizeof(Path));
    int32 Core = Interop_Add(Path, CoreInterop_Init, CoreInterop_Remove, CoreInterop_CreateInstance,
                             CoreInterop_SetOverride, CoreInterop_SetOption) != nullptr;
    int32 Flow = Interop_Add(Path, WorkflowInterop_Init, WorkflowInterop_Remove, WorkflowInterop_CreateInstance,
                             WorkflowInterop_SetOverride, WorkflowInterop_SetOption) != nullptr;
    return Core && Flow;
}

int32 WorkflowApp_LoadInterop(const char *Name, const char *Path) {
    Debug_CheckPointer(Name);
    Debug_CheckPointer(Path);
    char Version[VersionSize] = "";
    Executable_GetFileVersion(Path, Version, (int32)sizeof(Version));
    Log_Info("Loading interop library (%s) (v%s)\n", Path, Version);
    Pending *Entry = Memory_New(Pending);
    Entry->Check = WORKFLOWAPP_PENDING_CLASSID;
    Entry->Held = -1;
    String_CopyLength(Entry->Name, Name, NameSize);
    String_CopyLength(Entry->Path, Path, PathSize);
    AuthenticateAsync_Create(&Entry->Authentication);
    CertStoreList *Stores = nullptr;
    CertStoreInterface *Store = nullptr;
    if (WorkflowApp_GetCertStoreListHandle("interop", &Stores) && Stores != nullptr &&
        CertStoreList_GetInterfaceHandle(Stores, &Store)) {
        AuthenticateAsync_SetCertStoreHandle(Entry->Authentication, Store);
        CertStoreInterface_Release(&Store);
    }
    // The library is opened once, root's or the user's in folders no one
    // else may write; the authentication reads it and the loader loads it
    // through that descriptor, so what was checked is what runs.
    char Resolved[1024], Why[TRUSTEDPATH_WHERE_SIZE + 80], Through[40];
    Path_Resolve(Path, Resolved, (int32)sizeof(Resolved));
    TrustedPathRefusal Refusal;
    // A refused one ends on a later tick, as a failed authentication would.
    Entry->Refused = !TrustedPath_Open(Resolved, TRUSTEDPATH_FILE, &Entry->Held, &Refusal);
    if (Entry->Refused) {
        TrustedPath_Explain(&Refusal, TRUSTEDPATH_FILE, Why, (int32)sizeof(Why));
        Log_Error("Failed to load interop (%s): %s\n", Path, Why);
    }
    String_Print(Through, (int32)sizeof(Through), "/proc/self/fd/%d", Entry->Held);
    AuthenticateAsync_SetSourcePath(Entry->Authentication, Through);
    AuthenticateAsync_SetCompleteCallback(Entry->Authentication, Entry, OnAuthenticated);
    Entry->Prev = Authentications.Tail;
    (Authentications.Tail != nullptr ? Authentications.Tail->Next : Authentications.Head) = Entry;
    Authentications.Tail = Entry;
    Authentications.Count++;
    // A thread that cannot start completes inside Start, unsuccessful.
    if (!Entry->Refused) AuthenticateAsync_Start(Entry->Authentication);
    return TRUE;
}

int32 WorkflowApp_UnloadInterop(const char *Name, const char *Path) {
    Debug_CheckPointer(Name);
    Debug_CheckPointer(Path);
    int32 Freed = Interop_FreeLibraryByName(Path);
    FireLibrary("Unload", Freed, Name, Path);
    return TRUE;
}

int32 WorkflowApp_ProcessInterop(void) {
    for (Pending *Entry = Authentications.Head; Entry != nullptr; Entry = Entry->Next) {
        if (!Entry->Done && Entry->Refused) {
            FireLibrary("Load", FALSE, Entry->Name, Entry->Path);
            Entry->Done = TRUE;
        } else if (!Entry->Done) {
            AuthenticateAsync_Process(Entry->Authentication);
        }
        if (!Entry->Done) continue;
        Unlink(Entry);
        Free(Entry);
        break;
    }
    return TRUE;
}

int32 WorkflowApp_RemoveInterop(void) {
    while (Pending *Entry = Authentications.Head) {
        Unlink(Entry);
        Free(Entry);
    }
    return TRUE;
}

int32 WorkflowApp_GetPendingInteropCount(int32 *Count) {
    Debug_CheckPointer(Count);
    *Count = Authentications.Count;
    return TRUE;
}

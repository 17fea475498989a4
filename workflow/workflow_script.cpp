// Dispatchers of "TQX.Workflow" and "TQX.WorkflowManager" and the operations
// they reach with script text (see workflow_script.h).
#include "workflow/workflow_script.h"

#include <string.h>

#include <string>

#include "runtime/documents/json.h"
#include "runtime/log.h"
#include "runtime/script/api_gen_dispatch.h"
#include "runtime/script/interop.h"
#include "runtime/text/crc.h"
#include "runtime/text/string.h"
#include "workflow/workflow_application.h"
#include "workflow/workflow_event.h"
#include "workflow/workflow_manager.h"
#include "workflow/workflow_manager_internal.h"

namespace {

constexpr int32 Size = APIGEN_TEXT_SIZE;
constexpr int32 IdSize = 64;

const char *IdOf(Workflow *Handle) { return reinterpret_cast<ClassStruct *>(Handle)->InstanceId; }

// A limit as the page wrote it: cut to 32 bits, 4294967296 would become 0
// and 2147483648 a negative number. Only whole numbers in range pass.
bool WholeLimit(const char *Name, float64 Value, int32 *Limit) {
    *Limit = 0;
    if (Value >= -2147483648.0 && Value <= 2147483647.0 && Value == (float64)(int64)Value) {
        *Limit = (int32)Value;
        return true;
    }
    Log_Error("WorkflowManager - %s - %g refused: use -1 (no limit) or a whole number from 1 up\n", Name, Value);
    return false;
}

// Macros given as JSON text: Parsed is null for an empty text, its unnamed
// root stepped into otherwise. False when the text does not parse.
class MacroText {
  public:
    explicit MacroText(const char *Text) {
        if (Text == nullptr || Text[0] == 0) return;
        Dictionary_Create(&Owner);
        // A page's text: charged to the memory budget while it lives, and
        // refused (as invalid) while it is read past the budget.
        int32 Refused = FALSE;
        Valid = JSON_LoadTextCharged(Owner, Text, &Refused) == TRUE;
        Parsed = Owner;
        Dictionary *Inner = nullptr;
        if (Valid && Dictionary_SkipRoot(Owner, &Inner) && Inner != nullptr) Parsed = Inner;
    }
    ~MacroText() {
        if (Owner != nullptr) Dictionary_Release(&Owner);
    }
    MacroText(const MacroText &) = delete;
    MacroText &operator=(const MacroText &) = delete;
    bool Valid = true;
    Dictionary *Parsed = nullptr;

  private:
    Dictionary *Owner = nullptr;
};

int32 RaiseUnload(void *User, Dictionary *Payload) {
    InteropCallback *Callback = static_cast<InteropCallback *>(User);
    // The script knows its own id, not the manager's.
    Dictionary_SetStringByKey(Payload, "callbackId", Interop_GetCallbackId(Callback));
    Interop_RaiseCallback(Callback, Payload);
    return Interop_ReleaseCallback(&Callback);
}

bool WorkflowDispatch(Workflow *Self, uint32 Hash, ApiGenParameters &Get, ApiGenAnswer &Out) {
    const char *A = nullptr, *B = nullptr;
    float64 Real = 0;
    auto Flag = [&Out](int32 Answer) { Out.Number = Answer ? 1 : 0; };
    switch (Hash) {
    case Crc32Const("hasTask"):
        if (Get.Text("instanceId", &A).Read) Flag(Workflow_HasTask(Self, A));
        return true;
    case Crc32Const("hasRemoteTask"):
        if (Get.Text("instanceId", &A).Read) Flag(Workflow_HasRemoteTask(Self, A));
        return true;
    case Crc32Const("hasRemoteWorkflow"):
        if (Get.Text("instanceId", &A).Read) Flag(Workflow_HasRemoteWorkflow(Self, A));
        return true;
    case Crc32Const("canCreateTask"):
        if (Get.Text("name", &A).Read) Flag(Workflow_CanCreateTask(Self, A));
        return true;
    case Crc32Const("isTaskQueued"):
        if (Get.Text("name", &A).Read) Flag(Workflow_IsTaskQueued(Self, A));
        return true;
    case Crc32Const("isTaskRunning"):
        if (Get.Text("name", &A).Read) Flag(Workflow_IsTaskRunning(Self, A));
        return true;
    case Crc32Const("isActivated"): Flag(Workflow_IsActivated(Self)); return true;
    case Crc32Const("isGlobal"): Flag(Workflow_IsGlobal(Self)); return true;
    case Crc32Const("runTask"):
        if (Get.Text("name", &A).Read) Flag(Workflow_RunTask(Self, A, nullptr, nullptr));
        return true;
    case Crc32Const("runTaskWithMacros"):
        if (Get.Text("name", &A).Text("macros", &B).Read) Flag(Workflow_RunTaskWithMacrosInterop(Self, A, B));
        return true;
    case Crc32Const("queueTask"):
        if (Get.Text("name", &A).Read) Flag(Workflow_QueueTask(Self, A, nullptr, nullptr));
        return true;
    case Crc32Const("queueTaskWithMacros"):
        if (Get.Text("name", &A).Text("macros", &B).Read) Flag(Workflow_QueueTaskWithMacrosInterop(Self, A, B));
        return true;
    case Crc32Const("cancelTasks"): Flag(Workflow_CancelTasks(Self)); return true;
    case Crc32Const("complete"): Flag(Workflow_Complete(Self, nullptr)); return true;
    case Crc32Const("setStatus"):
        if (Get.Text("status", &A).Read) Flag(Workflow_SetStatus(Self, A));
        return true;
    case Crc32Const("setStatusString"):
        if (Get.Text("key", &A).Text("value", &B).Read) Flag(Workflow_SetStatusString(Self, A, B));
        return true;
    case Crc32Const("setStatusNumber"):
        if (Get.Text("key", &A).Float64("value", &Real).Read) Flag(Workflow_SetStatusNumber(Self, A, Real));
        return true;
    case Crc32Const("addMacro"):
        if (Get.Text("key", &A).Text("value", &B).Read) Flag(Workflow_AddMacro(Self, A, B));
        return true;
    case Crc32Const("addMacroJson"):
        if (Get.Text("json", &A).Read) Flag(Workflow_AddMacroJSON(Self, A));
        return true;
    case Crc32Const("expandString"):
        Out.Type = ApiGenAnswer::Text;
        if (Get.Text("expand", &A).Read) Workflow_ExpandStringInterop(Self, A, Out.Buffer, Size);
        return true;
    default: return false;
    }
}

bool ManagerDispatch(uint32 Hash, ApiGenParameters &Get, ApiGenAnswer &Out) {
    const char *A = nullptr, *B = nullptr, *C = nullptr;
    int32 Number = 0;
    float64 Real = 0;
    uint32 Value = 0;
    auto Flag = [&Out](int32 Answer) { Out.Number = Answer ? 1 : 0; };
    auto Int = [&Out](int32 Answer) {
        Out.Type = ApiGenAnswer::Int32;
        Out.Number = Answer;
    };
    switch (Hash) {
    case Crc32Const("add"):
        if (Get.Text("json", &A).Text("callbackId", &B).Read) Flag(WorkflowManager_AddInterop(A, B));
        return true;
    case Crc32Const("unload"):
        if (Get.Text("callbackId", &A).Read) Flag(WorkflowManager_UnloadInterop(A));
        return true;
    case Crc32Const("runTask"):
        if (Get.Text("workflow", &A).Text("name", &B).Read) Flag(WorkflowManager_RunTaskInterop(A, B));
        return true;
    case Crc32Const("runTaskWithMacros"):
        if (Get.Text("workflow", &A).Text("name", &B).Text("macros", &C).Read)
            Flag(WorkflowManager_RunTaskWithMacrosInterop(A, B, C));
        return true;
    case Crc32Const("queueTask"):
        if (Get.Text("workflow", &A).Text("name", &B).Read) Flag(WorkflowManager_QueueTaskInterop(A, B, nullptr));
        return true;
    case Crc32Const("queueTaskWithMacros"):
        if (Get.Text("workflow", &A).Text("name", &B).Text("macros", &C).Read)
            Flag(WorkflowManager_QueueTaskWithMacrosInterop(A, B, C));
        return true;
    case Crc32Const("queueAvailableTasks"):
        if (Get.Text("name", &A).Read) Flag(WorkflowManager_QueueAvailableTasks(A));
        return true;
    case Crc32Const("queueAvailableTasksByWorkflow"):
        if (Get.Text("name", &A).Text("workflow", &B).Read) Flag(WorkflowManager_QueueAvailableTasksByWorkflow(A, B));
        return true;
    case Crc32Const("setTaskAvailability"):
        if (Get.Text("workflow", &A).Text("name", &B).Flag("available", &Value).Read)
            Flag(WorkflowManager_SetTaskAvailabilityInterop(A, B, Value));
        return true;
    case Crc32Const("clearTaskAvailability"):
        if (Get.Text("workflow", &A).Read) Flag(WorkflowManager_ClearTaskAvailabilityInterop(A));
        return true;
    case Crc32Const("setProgress"):
        // Whole numbers only: 1 is complete, fractions cannot be given.
        if (Get.Text("workflow", &A).Text("name", &B).Int32("progress", &Number).Read)
            Flag(WorkflowManager_SetProgressInterop(A, B, (float64)Number));
        return true;
    case Crc32Const("addDependency"):
        if (Get.Text("id", &A).Text("dependencyId", &B).Read) Flag(WorkflowManager_AddDependency(A, B));
        return true;
    case Crc32Const("setMaximumActiveTasks"):
        if (Get.Float64("maximumActiveTasks", &Real).Read)
            Flag(WholeLimit("maximumActiveTasks", Real, &Number) && WorkflowManager_SetMaximumActiveTasks(Number));
        return true;
    case Crc32Const("getMaximumActiveTasks"):
        WorkflowManager_GetMaximumActiveTasks(&Number);
        Int(Number);
        return true;
    case Crc32Const("setMaximumActiveStateTasks"):
        if (Get.Float64("maximumActiveStateTasks", &Real).Read)
            Flag(WholeLimit("maximumActiveStateTasks", Real, &Number) &&
                 WorkflowManager_SetMaximumActiveStateTasks(Number));
        return true;
    case Crc32Const("getMaximumActiveStateTasks"):
        WorkflowManager_GetMaximumActiveStateTasks(&Number);
        Int(Number);
        return true;
    case Crc32Const("setStateInterval"):
        if (Get.Int32("stateInterval", &Number).Read) Flag(WorkflowManager_SetStateInterval(Number));
        return true;
    case Crc32Const("getStateInterval"):
        WorkflowManager_GetStateInterval(&Number);
        Int(Number);
        return true;
    case Crc32Const("setFlowControl"):
        if (Get.Flag("flowControl", &Value).Read) Flag(WorkflowManager_SetFlowControl(Value));
        return true;
    case Crc32Const("getFlowControl"):
        WorkflowManager_GetFlowControl(&Value);
        Flag((int32)Value);
        return true;
    case Crc32Const("setHardDependency"):
        if (Get.Flag("hardDependency", &Value).Read) Flag(WorkflowManager_SetHardDependency(Value));
        return true;
    case Crc32Const("getHardDependency"):
        WorkflowManager_GetHardDependency(&Value);
        Flag((int32)Value);
        return true;
    case Crc32Const("setQueueTaskNames"):
        if (Get.Text("queueTaskNames", &A).Read) Flag(WorkflowManager_SetQueueTaskNames(A));
        return true;
    case Crc32Const("setProgressTaskNames"):
        if (Get.Text("progressTaskNames", &A).Read) Flag(WorkflowManager_SetProgressTaskNames(A));
        return true;
    case Crc32Const("setDependencyTaskNames"):
        if (Get.Text("dependencyTaskNames", &A).Read) Flag(WorkflowManager_SetDependencyTaskNames(A));
        return true;
    default: return false;
    }
}

} // namespace

int32 Workflow_Invoke(void *User, Dictionary *Request, Dictionary *Result) {
    Workflow *Self = static_cast<Workflow *>(User);
    Class_CheckHandle(Self, WORKFLOW_CLASSID);
    return ApiGenInvoke(Request, Result, "Workflow", [Self](uint32 Hash, ApiGenParameters &Get, ApiGenAnswer &Out) {
        return WorkflowDispatch(Self, Hash, Get, Out);
    });
}

int32 WorkflowManager_Invoke(void *User, Dictionary *Request, Dictionary *Result) {
    (void)User;
    if (!WorkflowManager_IsInitialized()) {
        // Without a manager no method can run: known selectors answer their
        // default and 0, so a page never stops the process.
        return ApiGenInvoke(Request, Result, "WorkflowManager",
                            [](uint32 Hash, ApiGenParameters &Get, ApiGenAnswer &Out) {
                                (void)Out;
                                Get.Read = false;
                                return Hash != 0;
                            });
    }
    return ApiGenInvoke(Request, Result, "WorkflowManager", ManagerDispatch);
}

int32 Workflow_HasTask(Workflow *Handle, const char *TaskId) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    Debug_CheckPointer(TaskId);
    return WorkflowApplication_IsTaskInWorkflow(TaskId, IdOf(Handle), FALSE);
}

int32 Workflow_HasRemoteTask(Workflow *Handle, const char *TaskId) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    Debug_CheckPointer(TaskId);
    if (WorkflowApplication_IsTaskInWorkflow(TaskId, IdOf(Handle), TRUE)) return TRUE;
    char Remote[IdSize] = "";
    Workflow_GetRemoteInstanceId(Handle, Remote, (int32)sizeof(Remote));
    return Remote[0] != 0 && WorkflowApplication_IsTaskInWorkflow(TaskId, Remote, TRUE);
}

int32 Workflow_HasRemoteWorkflow(Workflow *Handle, const char *WorkflowId) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    Debug_CheckPointer(WorkflowId);
    if (String_CompareWithoutCase(WorkflowId, IdOf(Handle))) return TRUE;
    char Remote[IdSize] = "";
    Workflow_GetRemoteInstanceId(Handle, Remote, (int32)sizeof(Remote));
    return Remote[0] != 0 && String_CompareWithoutCase(WorkflowId, Remote);
}

int32 Workflow_RunTaskWithMacrosInterop(Workflow *Handle, const char *Name, const char *MacrosJson) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    Debug_CheckPointer(Name);
    MacroText Macros(MacrosJson);
    return Macros.Valid && Workflow_RunTaskWithMacros(Handle, Name, Macros.Parsed, nullptr, nullptr, nullptr);
}

int32 Workflow_QueueTaskWithMacrosInterop(Workflow *Handle, const char *Name, const char *MacrosJson) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    Debug_CheckPointer(Name);
    MacroText Macros(MacrosJson);
    return Macros.Valid && Workflow_QueueTaskWithMacros(Handle, Name, Macros.Parsed, nullptr, nullptr, nullptr);
}

int32 WorkflowManager_UnloadInterop(const char *CallbackId) {
    Debug_CheckPointer(CallbackId);
    if (WorkflowManager_IsUnloading()) return FALSE;
    InteropCallback *Callback = nullptr;
    if (!Interop_AddCallback(CallbackId, nullptr, Interop_Execute, &Callback)) return FALSE;
    return WorkflowManager_Unload(Callback, RaiseUnload);
}

int32 WorkflowManager_RunTaskInterop(const char *WorkflowId, const char *Name) {
    Workflow *Flow = ManagerInt_FindWorkflow(WorkflowId);
    return Flow != nullptr && Name != nullptr && WorkflowManager_RunTask(Flow, Name);
}

int32 WorkflowManager_RunTaskWithMacrosInterop(const char *WorkflowId, const char *Name, const char *MacrosJson) {
    Workflow *Flow = ManagerInt_FindWorkflow(WorkflowId);
    if (Flow == nullptr || Name == nullptr) return FALSE;
    MacroText Macros(MacrosJson);
    return Macros.Valid && WorkflowManager_RunTaskWithMacros(Flow, Name, Macros.Parsed);
}

int32 WorkflowManager_QueueTaskWithMacrosInterop(const char *WorkflowId, const char *Names, const char *MacrosJson) {
    return WorkflowManager_QueueTaskInterop(WorkflowId, Names, MacrosJson);
}

int32 WorkflowManager_SetTaskAvailabilityInterop(const char *WorkflowId, const char *Name, uint32 Available) {
    return ManagerInt_SetAvailability(WorkflowId, Name, Available);
}

int32 WorkflowManager_ClearTaskAvailabilityInterop(const char *WorkflowId) {
    return ManagerInt_ClearAvailability(WorkflowId);
}

int32 WorkflowManager_SetProgressInterop(const char *WorkflowId, const char *Name, float64 Progress) {
    Workflow *Flow = ManagerInt_FindWorkflow(WorkflowId);
    return Flow != nullptr && Name != nullptr && WorkflowManager_SetProgress(Flow, Name, Progress);
}

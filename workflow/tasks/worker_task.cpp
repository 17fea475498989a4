// Blocking task work on a thread of its own (see worker_task.h).
#include "workflow/tasks/worker_task.h"

#include <errno.h>
#include <string.h>

#include "runtime/callback.h"
#include "runtime/event_queue.h"
#include "runtime/memory.h"
#include "runtime/notification/notification_center.h"
#include "runtime/posix/platform.h"
#include "runtime/text/string.h"
#include "runtime/text/string_print.h"
#include "runtime/thread.h"

struct WorkerTask {
    ClassStruct Class;
    Task *Owner; // not referenced
    uint32 RequireJoin;
    char Error[WORKERTASK_ERROR_SIZE];
    CallbackStruct Start;
    CallbackStruct Run;
    CallbackStruct Cancel;
    CallbackStruct Complete;
    Thread *Worker;
};

namespace {

int32 CallBack(WorkerTask *Self, CallbackStruct *Callback, int32 Default) {
    void *User = nullptr;
    WorkerTask_Func Function = nullptr;
    CallbackBase_Get(Callback, &User, &Function);
    return Function != nullptr ? Function(Self, User) : Default;
}

int32 CompleteOnMainThread(void *Instance, void *) {
    WorkerTask *Self = static_cast<WorkerTask *>(Instance);
    CallBack(Self, &Self->Complete, TRUE);
    return TRUE;
}

int32 ThreadRoutine(void *User) {
    WorkerTask *Self = static_cast<WorkerTask *>(User);
    Thread *Record = nullptr;
    if (Thread_FindThreadById(Thread_GetCurrentId(), &Record)) {
        Thread_SetName(Record, "WorkerTask");
        Thread_Release(&Record);
    }
    CallBack(Self, &Self->Run, TRUE);
    EventQueue_Add(nullptr, Self, nullptr, 0, CompleteOnMainThread);
    return 0;
}

int32 OnStart(void *User, const char *, const char *, const char *, Dictionary *) {
    WorkerTask *Self = static_cast<WorkerTask *>(User);
    if (!Task_TakeStart(Self->Owner)) return TRUE;
    Self->Error[0] = 0;
    if (!CallBack(Self, &Self->Start, TRUE)) {
        CallBack(Self, &Self->Complete, TRUE);
        return TRUE;
    }
    if (!Thread_Begin(&Self->Worker, Self, ThreadRoutine)) {
        // Without a thread the work can never report back: fail the task now.
        WorkerTask_SetErrorFromTranslate(Self, "Platform_Error", errno, Platform_TranslateError);
        CallBack(Self, &Self->Complete, TRUE);
        return TRUE;
    }
    Self->RequireJoin = TRUE;
    return TRUE;
}

int32 OnCancel(void *User, const char *, const char *, const char *, Dictionary *) {
    WorkerTask *Self = static_cast<WorkerTask *>(User);
    if (CallBack(Self, &Self->Cancel, FALSE) == 1) return TRUE;
    Task_AddErrorAlways(Self->Owner, TASK_ERROR_CANCELLED);
    Task_Complete(Self->Owner, nullptr);
    return TRUE;
}

void Unbind(WorkerTask *Self) {
    if (Self->Owner == nullptr) return;
    const char *Id = ((ClassStruct *)Self->Owner)->InstanceId;
    NotificationCenter_RemoveInstanceObserver("Task", "Start", Id, Self, OnStart);
    NotificationCenter_RemoveInstanceObserver("Task", "Cancel", Id, Self, OnCancel);
    Self->Owner = nullptr;
}

int32 DeleteObject(void *HandleAddress) { return WorkerTask_Delete(static_cast<WorkerTask **>(HandleAddress)); }

} // namespace

int32 WorkerTask_Create(WorkerTask **Handle) {
    Debug_CheckPointer(Handle);
    WorkerTask *Self = Memory_New(WorkerTask);
    Class_InitHeader(Self, WORKERTASK_CLASSID, DeleteObject);
    Class_GenerateInstanceId(Self);
    *Handle = Self;
    return TRUE;
}

int32 WorkerTask_Delete(WorkerTask **Handle) {
    Debug_CheckPointer(Handle);
    WorkerTask *Self = *Handle;
    Class_CheckHandle(Self, WORKERTASK_CLASSID);
    if (Self->RequireJoin)
        Debug_AbortInt(__FILE__, __LINE__,
                       "Assertion failed (WorkerTask->RequireJoin == FALSE)\nWorker task requires join before delete\n");
    Unbind(Self);
    if (Thread_GetMainEventQueueHandle() != nullptr) EventQueue_RemoveInstance(nullptr, Self);
    Memory_Delete(Self);
    *Handle = nullptr;
    return TRUE;
}

CLASS_DEFINE_REFERENCE(WorkerTask, WorkerTask, WORKERTASK_CLASSID)

int32 WorkerTask_SetTaskHandle(WorkerTask *Handle, Task *Owner) {
    Class_CheckHandle(Handle, WORKERTASK_CLASSID);
    Unbind(Handle);
    if (Owner == nullptr) return TRUE;
    Class_CheckHandle(Owner, TASK_CLASSID);
    Handle->Owner = Owner;
    Task_SetDelayedCancel(Owner, TRUE);
    const char *Id = ((ClassStruct *)Owner)->InstanceId;
    NotificationCenter_AddInstanceObserver("Task", "Start", Id, Handle, OnStart);
    NotificationCenter_AddInstanceObserver("Task", "Cancel", Id, Handle, OnCancel);
    return TRUE;
}

int32 WorkerTask_GetTaskHandle(WorkerTask *Handle, Task **Owner) {
    Class_CheckHandle(Handle, WORKERTASK_CLASSID);
    Debug_CheckPointer(Owner);
    *Owner = Handle->Owner;
    return Handle->Owner != nullptr;
}

#define WORKERTASK_SETTER(Name, Field)                                                    \
    int32 WorkerTask_Set##Name##Callback(WorkerTask *Handle, void *User, WorkerTask_Func Function) { \
        Class_CheckHandle(Handle, WORKERTASK_CLASSID);                                    \
        CallbackBase_Set(&Handle->Field, User, Function);                                 \
        return TRUE;                                                                      \
    }
WORKERTASK_SETTER(Start, Start)
WORKERTASK_SETTER(Run, Run)
WORKERTASK_SETTER(Cancel, Cancel)
WORKERTASK_SETTER(Complete, Complete)
#undef WORKERTASK_SETTER

int32 WorkerTask_Join(WorkerTask *Handle) {
    Class_CheckHandle(Handle, WORKERTASK_CLASSID);
    if (Handle->Worker != nullptr) {
        Thread_SignalExit(Thread_GetId(Handle->Worker));
        Thread_Join(-1, &Handle->Worker);
    }
    Handle->RequireJoin = FALSE;
    return TRUE;
}

int32 WorkerTask_SetError(WorkerTask *Handle, const char *Format, ...) {
    Class_CheckHandle(Handle, WORKERTASK_CLASSID);
    Debug_CheckPointer(Format);
    va_list Arguments;
    va_start(Arguments, Format);
    String_VPrint(Handle->Error, (int32)sizeof(Handle->Error), Format, Arguments);
    va_end(Arguments);
    return TRUE;
}

int32 WorkerTask_GetError(WorkerTask *Handle, char *Buffer, int32 Size) {
    Class_CheckHandle(Handle, WORKERTASK_CLASSID);
    Debug_CheckPointer(Buffer);
    String_CopyLength(Buffer, Handle->Error, Size);
    return Handle->Error[0] != 0;
}

int32 WorkerTask_SetErrorFromTranslate(WorkerTask *Handle, const char *Prefix, int32 Code,
                                       Task_TranslateFunc Translate) {
    Class_CheckHandle(Handle, WORKERTASK_CLASSID);
    Debug_CheckPointer(Prefix);
    Debug_CheckPointer(Translate);
    const char *Name = Translate(Code);
    if (Name == nullptr) Name = "Unknown";
    if (Code != 0 && (String_Compare(Name, "Unknown") || String_Compare(Name, "None")))
        return WorkerTask_SetError(Handle, "%s_%d", Prefix, Code);
    return WorkerTask_SetError(Handle, "%s_%s", Prefix, Name);
}

int32 WorkerTask_RequireArgument(WorkerTask *Handle, const char *Name) {
    Class_CheckHandle(Handle, WORKERTASK_CLASSID);
    Debug_CheckPointer(Name);
    if (Handle->Owner != nullptr && Task_HasArgument(Handle->Owner, Name)) return TRUE;
    if (Handle->Owner != nullptr) Task_Print(Handle->Owner, "\"%s\" argument not defined\n", Name);
    return WorkerTask_SetError(Handle, "%s", "Task_Error_MissingArg") && FALSE;
}

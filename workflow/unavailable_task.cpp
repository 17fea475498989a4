// The shared type object of the task types this build does not carry (see
// unavailable_task.h).
#include "workflow/unavailable_task.h"

#include "core/memory.h"
#include "core/notification_center.h"
#include "core/string_print.h"

namespace {

struct UnavailableTask {
    ClassStruct Class;
    Task *Owner; // not referenced: the task owns this object
};

int32 OnStart(void *User, const char *, const char *, const char *, Dictionary *) {
    Task *Owner = static_cast<UnavailableTask *>(User)->Owner;
    const char *Type = Task_GetType(Owner);
    Task_Print(Owner, "Task type %s is not available in this build\n", Type);
    char Identifier[TASK_NAME_SIZE + 32];
    String_Print(Identifier, (int32)sizeof(Identifier), "%s_Error_NotAvailable", Type);
    Task_AddErrorAlways(Owner, Identifier);
    Task_Complete(Owner, nullptr);
    return TRUE;
}

int32 DeleteObject(void *HandleAddress) {
    UnavailableTask *Self = *static_cast<UnavailableTask **>(HandleAddress);
    NotificationCenter_RemoveInstanceObserver("Task", "Start", ((ClassStruct *)Self->Owner)->InstanceId, Self, OnStart);
    Class_UntrackInstance(Self->Class.InstanceId);
    Memory_Delete(Self);
    *static_cast<UnavailableTask **>(HandleAddress) = nullptr;
    return TRUE;
}

} // namespace

int32 UnavailableTask_Create(void **Handle, Task *Owner) {
    Debug_CheckPointer(Handle);
    Class_CheckHandle(Owner, TASK_CLASSID);
    UnavailableTask *Self = Memory_New(UnavailableTask);
    Class_InitHeader(Self, UNAVAILABLETASK_CLASSID, DeleteObject);
    Class_GenerateInstanceId(Self);
    Class_TrackInstance(Self, Self->Class.InstanceId);
    Self->Owner = Owner;
    NotificationCenter_AddInstanceObserver("Task", "Start", ((ClassStruct *)Owner)->InstanceId, Self, OnStart);
    *Handle = Self;
    return TRUE;
}

void *UnavailableTask_AddRef(void *Handle) {
    Class_CheckHandle(Handle, UNAVAILABLETASK_CLASSID);
    return Class_AddRef(Handle);
}

int32 UnavailableTask_Release(void **Handle) {
    Debug_CheckPointer(Handle);
    Class_CheckHandle(*Handle, UNAVAILABLETASK_CLASSID);
    return Class_Release(Handle);
}

#define UNAVAILABLETASK_DEFINE(Type)                                                                         \
    const TaskInterface Type##_INTERFACE = {#Type, UnavailableTask_Create, UnavailableTask_AddRef,             \
                                            UnavailableTask_Release};
UNAVAILABLETASK_SYSTEM_TYPES(UNAVAILABLETASK_DEFINE)
UNAVAILABLETASK_ENGINE_TYPES(UNAVAILABLETASK_DEFINE)
#undef UNAVAILABLETASK_DEFINE

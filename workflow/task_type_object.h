// The shape every engine task type shares: an object bound to one task that
// observes the task's "Task"/"Start" and does its work there, once a start. A type lists
// its struct (first members ClassStruct Class; Task *Owner), its class id,
// its start handler and a clean-up run before the object is freed, and
// TASKTYPE_OBJECT_DEFINE writes <Type>_Create, _Delete, _AddRef, _Release
// and the type's record <Type>_INTERFACE under the given type name.
#pragma once

#include "runtime/memory.h"
#include "runtime/notification/notification_center.h"
#include "workflow/task.h"

#define TASKTYPE_OBJECT_DEFINE(Type, Struct, ClassId, OnStart, OnFree)                                       \
    static int32 Type##_OnOwnStart(void *User, const char *Kind, const char *Name, const char *Instance,       \
                                   Dictionary *Info) {                                                         \
        if (!Task_TakeStart(static_cast<Struct *>(User)->Owner)) return TRUE;                                  \
        return OnStart(User, Kind, Name, Instance, Info);                                                      \
    }                                                                                                          \
    int32 Type##_Delete(Struct **Handle) {                                                                     \
        Debug_CheckPointer(Handle);                                                                            \
        Struct *Self = *Handle;                                                                                \
        NotificationCenter_RemoveInstanceObserver("Task", "Start", ((ClassStruct *)Self->Owner)->InstanceId,   \
                                                  Self, Type##_OnOwnStart);                                    \
        OnFree(Self);                                                                                          \
        Class_UntrackInstance(Self->Class.InstanceId);                                                         \
        Memory_Delete(Self);                                                                                   \
        *Handle = nullptr;                                                                                     \
        return TRUE;                                                                                           \
    }                                                                                                          \
    static int32 Type##_DeleteObject(void *HandleAddress) { return Type##_Delete((Struct **)HandleAddress); }  \
    int32 Type##_Create(void **Handle, Task *Owner) {                                                          \
        Debug_CheckPointer(Handle);                                                                            \
        Class_CheckHandle(Owner, TASK_CLASSID);                                                                \
        Struct *Self = Memory_New(Struct);                                                                     \
        Class_InitHeader(Self, ClassId, Type##_DeleteObject);                                                  \
        Class_GenerateInstanceId(Self);                                                                        \
        Class_TrackInstance(Self, Self->Class.InstanceId);                                                     \
        Self->Owner = Owner;                                                                                   \
        NotificationCenter_AddInstanceObserver("Task", "Start", ((ClassStruct *)Owner)->InstanceId, Self,      \
                                               Type##_OnOwnStart);                                             \
        *Handle = Self;                                                                                        \
        return TRUE;                                                                                           \
    }                                                                                                          \
    void *Type##_AddRef(void *Handle) {                                                                        \
        Class_CheckHandle(Handle, ClassId);                                                                    \
        return Class_AddRef(Handle);                                                                           \
    }                                                                                                          \
    int32 Type##_Release(void **Handle) {                                                                      \
        Debug_CheckPointer(Handle);                                                                            \
        Class_CheckHandle(*Handle, ClassId);                                                                   \
        return Class_Release(Handle);                                                                          \
    }

#define TASKTYPE_INTERFACE_DEFINE(Name, Type)                                                                 \
    const TaskInterface Name##_INTERFACE = {#Name, Type##_Create, Type##_AddRef, Type##_Release};

// Prints "\"<name>\" argument not defined", adds the errors of
// Task_AddMissingArgumentError and completes the task. Always 1.
int32 TaskType_MissingArgument(Task *Owner, const char *Name);
// Whether Code is an exit code the process can end with (a whole number from
// -2147483648 to 2147483647 once cut to its integer part); when not, the task
// gets Task_Error_InvalidArg and a line saying so.
bool TaskType_CheckExitCode(Task *Owner, float64 Code, const char *What);

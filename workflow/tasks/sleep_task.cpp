// Sleep: waits a number of seconds on the notification center's process
// step; a cancel (or any other completion) ends the wait at once.
#include "runtime/time.h"
#include "workflow/task_type_object.h"
#include "workflow/tasks/control_task.h"

struct Sleep {
    ClassStruct Class;
    Task *Owner;
    float64 StartTime;
    float64 EndTime;
    float64 Seconds;
    uint32 Observing;
};

namespace {

void Stamp(char *Buffer, int32 Size) { Time_EncodedString(TIME_FORMAT_LOGSTAMP, Buffer, Size, Time_GetCurrentEncodedLocal(nullptr)); }

int32 OnProcess(void *User, const char *, const char *, const char *, Dictionary *);

void StopObserving(Sleep *Self) {
    if (!Self->Observing) return;
    NotificationCenter_RemoveProcessObserver(Self->Class.InstanceId, Self, OnProcess);
    Self->Observing = FALSE;
}

int32 OnProcess(void *User, const char *, const char *, const char *, Dictionary *) {
    Sleep *Self = static_cast<Sleep *>(User);
    if (Time_GetCurrent() - Self->StartTime < Self->Seconds) return TRUE;
    StopObserving(Self);
    return Task_Complete(Self->Owner, nullptr);
}

int32 OnComplete(void *User, const char *, const char *, const char *, Dictionary *) {
    Sleep *Self = static_cast<Sleep *>(User);
    // A completion a page or a document fired in the task's name: the wait
    // goes on, and ends the task when it is over.
    if (!NotificationCenter_IsOwnFire()) return TRUE;
    NotificationCenter_RemoveInstanceObserver("Task", "Complete", ((ClassStruct *)Self->Owner)->InstanceId, Self,
                                              OnComplete);
    StopObserving(Self);
    Self->EndTime = Time_GetCurrent();
    char Now[64];
    Stamp(Now, (int32)sizeof(Now));
    Task_Print(Self->Owner, "Wait %s - %s\n", Task_IsCancelled(Self->Owner) ? "cancelled" : "completed", Now);
    return TRUE;
}

int32 OnStart(void *User, const char *, const char *, const char *, Dictionary *) {
    Sleep *Self = static_cast<Sleep *>(User);
    if (!Task_HasArgument(Self->Owner, "seconds")) return TaskType_MissingArgument(Self->Owner, "seconds");
    if (!Task_GetNumberArgument(Self->Owner, "seconds", &Self->Seconds)) Self->Seconds = 0;
    if (Task_IsArgumentRefused(Self->Owner)) return Task_Complete(Self->Owner, nullptr);
    Self->StartTime = Time_GetCurrent();
    char Now[64];
    Stamp(Now, (int32)sizeof(Now));
    Task_Print(Self->Owner, "Waiting %.02f seconds - %s\n", Self->Seconds, Now);
    NotificationCenter_AddInstanceObserver("Task", "Complete", ((ClassStruct *)Self->Owner)->InstanceId, Self,
                                           OnComplete);
    NotificationCenter_AddProcessObserver(Self->Class.InstanceId, Self, OnProcess);
    Self->Observing = TRUE;
    return TRUE;
}

void FreeSleep(Sleep *Self) {
    NotificationCenter_RemoveInstanceObserver("Task", "Complete", ((ClassStruct *)Self->Owner)->InstanceId, Self,
                                              OnComplete);
    StopObserving(Self);
}

} // namespace

TASKTYPE_OBJECT_DEFINE(Sleep, Sleep, SLEEP_CLASSID, OnStart, FreeSleep)
TASKTYPE_INTERFACE_DEFINE(Sleep, Sleep)

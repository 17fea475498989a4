// TaskEvent: one run of a sub-action or sub-task of a task, or the task's
// completion. Started under a name, it announces itself on the next
// notification step; completed with a result, it calls its callback on a
// later step and then deletes itself, so that no step of a chain runs inside
// the call that asked for it. The event holds a reference on its task from
// start to end.
#pragma once

#include "workflow/task.h"

#define TASKEVENT_CLASSID 0x071c8536u

RUNTIME_EXTERN_C_BEGIN

typedef struct TaskEvent TaskEvent;

int32 TaskEvent_Create(TaskEvent **Handle);
int32 TaskEvent_Delete(TaskEvent **Handle);
CLASS_DECLARE_REFERENCE(TaskEvent, TaskEvent)
int32 TaskEvent_SetCompleteCallback(TaskEvent *Handle, void *User, Task_SubActionFunc Function);
int32 TaskEvent_SetTaskHandle(TaskEvent *Handle, Task *Owner);
// Fires "Task"/"SubActionStart" and "TaskEvent"/"Start" after 0 ms. The
// event then lives until its completion has been delivered, or until the
// application ends before that.
int32 TaskEvent_Start(TaskEvent *Handle, const char *Name);
// Merges Result (may be null) into the event's result; the callback runs
// when "TaskEvent"/"Complete" is delivered.
int32 TaskEvent_Complete(TaskEvent *Handle, Dictionary *Result);

RUNTIME_EXTERN_C_END

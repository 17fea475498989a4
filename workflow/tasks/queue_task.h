// Queue: runs a list of actions (tasks of the same workflow) as sub-tasks of
// its task, at most "concurrency" at once, and writes "runningActions",
// "completeActions", "totalActions", "progress" and (when serial)
// "currentAction" into the task's status. The "Queue" type uses the
// automatic form (actions from the "actions" argument on the task's start);
// Aggregate and Progress use the manual form and fill and start it
// themselves. A failed action ends the queue: no action starts after it, and
// the task completes with the failed result once none runs.
#pragma once

#include "workflow/task.h"

#define QUEUE_CLASSID 0xe5e1b632u
#define QUEUEACTION_CLASSID 0x1ee408dau
#define QUEUE_ACTION_NAME_SIZE 120

RUNTIME_EXTERN_C_BEGIN

typedef struct Queue Queue;
typedef struct QueueAction QueueAction;

int32 Queue_Create(void **Handle, Task *Owner);
int32 Queue_CreateManual(Queue **Handle, Task *Owner);
int32 Queue_Delete(Queue **Handle);
void *Queue_AddRef(void *Handle);
int32 Queue_Release(void **Handle);

int32 Queue_ActionAdd(Queue *Handle, const char *Name, Dictionary *Arguments);
int32 Queue_ActionRemoveAll(Queue *Handle);
int32 Queue_ActionGetFirst(Queue *Handle, QueueAction **Action);
int32 Queue_ActionGetNext(Queue *Handle, QueueAction *Action, QueueAction **Next);
int32 Queue_ActionGetName(Queue *Handle, QueueAction *Action, char *Buffer, int32 Size);
int32 Queue_ActionGetCount(Queue *Handle, int32 *Count);
// Appends each text of the task's "actions" List, expanded with the task.
int32 Queue_LoadActions(Queue *Handle);
// Fires "Queue"/"Start" under the queue's instance after 0 ms.
int32 Queue_Start(Queue *Handle);
int32 Queue_UpdateProgress(Queue *Handle, Dictionary *Result);

extern const TaskInterface Queue_INTERFACE;

RUNTIME_EXTERN_C_END

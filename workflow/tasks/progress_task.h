// Progress: runs its "actions" one at a time through a manual Queue and
// turns the progress of every task those actions lead to (the task chain,
// walked from the workflow document before the start) into one overall
// figure, reported as "Task"/"Status" with "overallProgress" and
// "#progressBounds". Each chained task has a bound: its weight (given by
// "progressWeight", else a share of what the weighted ones left), how it
// reports (its own "progress" status, timed progress over
// "progressWaitTime" seconds, or as an aggregate onto its task) and its
// "percent". A chained task that never starts gives its weight to the ones
// after it the first time a later bound reports. The overall figure is
// scaled by "maxPercentage" and never goes backwards.
#pragma once

#include "workflow/task.h"
#include "workflow/tasks/queue_task.h"

#define PROGRESS_CLASSID 0x18dab567u

RUNTIME_EXTERN_C_BEGIN

typedef struct Progress Progress;

int32 Progress_Create(void **Handle, Task *Owner);
int32 Progress_CreateManual(Progress **Handle, Task *Owner);
int32 Progress_Delete(Progress **Handle);
void *Progress_AddRef(void *Handle);
int32 Progress_Release(void **Handle);
CLASSPRINT_DECLARE(Progress, Progress)
// Prints when the object is verbose at Level; 0 when it is not.
int32 Progress_VerboseLog(Progress *Handle, int32 Level, const char *Format, ...);
int32 Progress_GetQueueHandle(Progress *Handle, Queue **Found);
// Builds the chain from Name (null: the Progress task's own name); 0 stops.
int32 Progress_BuildTaskChain(Progress *Handle, const char *Name, Dictionary *Chain, int32 Depth);
int32 Progress_GetBoundsIdByTask(Progress *Handle, const char *TaskId, char *Id, int32 Size);
int32 Progress_GetBoundsNumber(Progress *Handle, const char *Id, const char *Key, float64 *Value);
int32 Progress_GetBoundsBoolean(Progress *Handle, const char *Id, const char *Key, uint32 *Value);
int32 Progress_SetBoundsNumber(Progress *Handle, const char *Id, const char *Key, float64 Value);
int32 Progress_SetBoundsProgress(Progress *Handle, const char *Id, float64 Value);

extern const TaskInterface Progress_INTERFACE;

RUNTIME_EXTERN_C_END

// Macro and Aggregate: the engine's data-driven types.
//
// Macro adds macros to its workflow (or, with "global", to the application):
// "key" with "value", then every text item of "keyValuePairs"; the values
// are expanded, keys taken literally, and the pairs become the task's status.
//
// Aggregate runs tasks of its workflow once per entry of its "content" (or
// of the document from "url"): a
// keyed Dictionary (task name -> arguments, or a List of them) or, with
// "target", unkeyed argument Dictionaries for that task. Each run is the
// named task's definition with the entry's arguments merged over it (or
// under the path after "target"'s first "."), queued in a manual Queue that
// completes the task.
//
// Either type fetches its document from "url" instead when it has one (a JSON
// document through the task's request): Macro adds its top-level pairs,
// Aggregate loads it (or the Dictionary at its "source" path), and a failed
// fetch or a bad source completes the task with its errors.
#pragma once

#include "workflow/task.h"

#define MACRO_CLASSID 0xb2e7ee71u
#define AGGREGATE_CLASSID 0x52fa7af1u

RUNTIME_EXTERN_C_BEGIN

typedef struct Macro Macro;
typedef struct Aggregate Aggregate;

int32 Macro_Create(void **Handle, Task *Owner);
int32 Macro_Delete(Macro **Handle);
void *Macro_AddRef(void *Handle);
int32 Macro_Release(void **Handle);
int32 Aggregate_Create(void **Handle, Task *Owner);
int32 Aggregate_Delete(Aggregate **Handle);
void *Aggregate_AddRef(void *Handle);
int32 Aggregate_Release(void **Handle);
// Replaces the queue's actions with the runs the content names and starts it.
int32 Aggregate_LoadContent(Aggregate *Handle, Dictionary *Content);

extern const TaskInterface Macro_INTERFACE;
extern const TaskInterface Aggregate_INTERFACE;

RUNTIME_EXTERN_C_END

// Task types that page scripts implement. "TQX.ScriptTaskHandler" registers a
// type name in the application's task-type list; a workflow task of that type
// gets a ScriptTask object that does nothing by itself: the page hears the
// task's "Task"/"Start", drives the task through "TQX.Task" and ends it with
// complete or cancel.
#pragma once

#include "runtime/containers/dictionary.h"
#include "runtime/types.h"
#include "workflow/task.h"

#define SCRIPTTASK_CLASSID 0xeaca5180u

RUNTIME_EXTERN_C_BEGIN

int32 ScriptTask_Create(void **Handle, Task *Owner);
int32 ScriptTask_Delete(void **Handle);
void *ScriptTask_AddRef(void *Handle);
int32 ScriptTask_Release(void **Handle);

// A page that failed (its handler threw, it was stopped): its running tasks
// of that type, or the one task with that instance id when it is a script
// task, record the reason as their error and complete as failures. The
// number of tasks ended.
int32 ScriptTask_FailType(const char *TypeName, const char *Reason);
int32 ScriptTask_FailTask(const char *TaskInstanceId, const char *Reason);

// The application's task-type list: add a script type (the list copies the
// name, at most 39 characters), remove the first of that name (without
// case; 0 when none), and whether the name is found.
int32 ScriptTaskHandler_Register(const char *Name);
int32 ScriptTaskHandler_Unregister(const char *Name);
int32 ScriptTaskHandler_IsRegistered(const char *Name);
// The dispatcher of "TQX.ScriptTaskHandler" (log name "ScriptTaskHandler").
int32 ScriptTaskHandler_Invoke(void *User, Dictionary *Request, Dictionary *Result);

RUNTIME_EXTERN_C_END

// WorkerTask: runs a task type's blocking work on a thread named
// "WorkerTask" and brings the outcome back to the main thread. Bound to a
// task, it starts on the task's "Task"/"Start" (start callback on the main
// thread, then the run callback on the new thread) and, when the run
// returns, calls the complete callback on the main thread through the main
// event queue. Binding sets the task's delayed cancel, so a cancel reaches
// the type's cancel callback instead of completing the task at once.
//
// Only the run callback runs off the main thread; it may touch the type's
// own data and thread-safe services, never the task. The type's delete calls
// WorkerTask_Join, then WorkerTask_Delete.
#pragma once

#include "workflow/task.h"

#define WORKERTASK_CLASSID 0x675c5107u
#define WORKERTASK_ERROR_SIZE 320

RUNTIME_EXTERN_C_BEGIN

typedef struct WorkerTask WorkerTask;
// Start: 0 refuses (no thread; the complete callback runs at once). Cancel:
// 1 means the type took the cancel over.
typedef int32 (*WorkerTask_Func)(WorkerTask *Handle, void *User);

int32 WorkerTask_Create(WorkerTask **Handle);
// A worker whose thread was never joined is a fatal stop.
int32 WorkerTask_Delete(WorkerTask **Handle);
CLASS_DECLARE_REFERENCE(WorkerTask, WorkerTask)
int32 WorkerTask_SetTaskHandle(WorkerTask *Handle, Task *Owner);
int32 WorkerTask_GetTaskHandle(WorkerTask *Handle, Task **Owner);
int32 WorkerTask_SetStartCallback(WorkerTask *Handle, void *User, WorkerTask_Func Function);
int32 WorkerTask_SetRunCallback(WorkerTask *Handle, void *User, WorkerTask_Func Function);
int32 WorkerTask_SetCancelCallback(WorkerTask *Handle, void *User, WorkerTask_Func Function);
int32 WorkerTask_SetCompleteCallback(WorkerTask *Handle, void *User, WorkerTask_Func Function);
// Asks the thread to exit and waits for it without limit.
int32 WorkerTask_Join(WorkerTask *Handle);
int32 WorkerTask_SetError(WorkerTask *Handle, const char *Format, ...);
int32 WorkerTask_GetError(WorkerTask *Handle, char *Buffer, int32 Size);
int32 WorkerTask_SetErrorFromTranslate(WorkerTask *Handle, const char *Prefix, int32 Code,
                                       Task_TranslateFunc Translate);
int32 WorkerTask_RequireArgument(WorkerTask *Handle, const char *Name);

RUNTIME_EXTERN_C_END

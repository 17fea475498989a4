// What the engine asks of the application that runs it: its macros, its
// verbosity, whether it shuts down or runs as a worker, which workflow a
// task belongs to, its list of default task types and its content URL.
//
// The application sits above the engine (workflow/app/) and hands these in
// at its start (WorkflowApp_Init); until then, each answers as an application
// that has not started would: no macro, quiet, not shutting down, not a
// worker, no task tracked, no default types, no content URL. Set from the
// main thread before workflows run; read from any thread.
#pragma once

#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

// workflow/task_type_list.h
typedef struct TaskTypeList TaskTypeList;

typedef struct WorkflowApplication {
    // The application's macros; a String_ExpandFunc.
    int32 (*ExpandKey)(void *User, const char *Name, const char *Argument, char *Output, int32 Size);
    int32 (*GetVerbose)(void);
    int32 (*IsShuttingDown)(void);
    int32 (*IsWorker)(void);
    int32 (*IsTaskInWorkflow)(const char *TaskId, const char *WorkflowId, uint32 Recursive);
    TaskTypeList *(*GetTaskTypeListHandle)(void);
    // The place of the application's own content (see
    // WorkflowApp_GetContentPlace); 0 with an empty Output when it has none
    // or it does not fit.
    int32 (*GetContentPlace)(char *Output, int32 Size);
} WorkflowApplication;

// Copies the hooks; a null member (or a null Application) answers as above.
int32 WorkflowApplication_Set(const WorkflowApplication *Application);

int32 WorkflowApplication_ExpandKey(void *User, const char *Name, const char *Argument, char *Output, int32 Size);
int32 WorkflowApplication_GetVerbose(void);
int32 WorkflowApplication_IsShuttingDown(void);
int32 WorkflowApplication_IsWorker(void);
int32 WorkflowApplication_IsTaskInWorkflow(const char *TaskId, const char *WorkflowId, uint32 Recursive);
TaskTypeList *WorkflowApplication_GetTaskTypeListHandle(void);
int32 WorkflowApplication_GetContentPlace(char *Output, int32 Size);

RUNTIME_EXTERN_C_END

// Workflow: one loaded workflow document (task name -> task definition) and
// the tasks created from it on demand, kept in a parent/child list. It holds
// the workflow's macros (keys without case), status and errors, its own
// task-type list (looked up before the application's) and its own
// certificate-store table. Runs and the manager create, fill and start
// workflows; task types reach them through GlobalWorkflowVtbl.
//
// Ownership: reference counted; the workflow holds one reference on each of
// its tasks and none on the task that owns it. Main thread only.
#pragma once

#include <stdarg.h>

#include "crypto/trust/cert_store.h"
#include "runtime/class.h"
#include "runtime/containers/dictionary.h"
#include "runtime/text/string_expand.h"
#include "runtime/types.h"
#include "workflow/task.h"
#include "workflow/task_type_list.h"

#define WORKFLOW_CLASSID 0x4b2c3068u
#define WORKFLOW_REMOTE_ID_SIZE 40
#define WORKFLOW_CREATE_ERROR_SIZE 256
// The start of every text of Workflow_GetCreateTaskError.
#define WORKFLOW_CANNOT_MAKE "Cannot make task "

RUNTIME_EXTERN_C_BEGIN

int32 Workflow_Create(Workflow **Handle);
int32 Workflow_Delete(Workflow **Handle);
CLASS_DECLARE_REFERENCE(Workflow, Workflow)
int32 Workflow_ValidHandle(Workflow *Handle);

// ---- Documents ----
// JSON when the extension ends in "json" (without case), else YAML. Sets the
// macros "workflowPath" and "workflowDirectory". 0 (workflow unchanged) when
// the file cannot be read or parsed.
int32 Workflow_LoadFile(Workflow *Handle, const char *Path);
int32 Workflow_LoadBuffer(Workflow *Handle, const void *Bytes, int32 Length);
// Merge 0 empties the document first; tasks of the same name are replaced.
int32 Workflow_LoadDictionary(Workflow *Handle, Dictionary *Document, int32 Merge);
// A workflow with an empty document takes the root Document as its own, by
// reference, not copied (the caller changes it no more); any other merges it.
int32 Workflow_TakeDictionary(Workflow *Handle, Dictionary *Document);

// ---- Tasks ----
int32 Workflow_CanCreateTask(Workflow *Handle, const char *Name);
int32 Workflow_CreateTask(Workflow *Handle, const char *Name, Dictionary *Arguments, Task *Parent, Task **Created);
int32 Workflow_CreateTaskWithMacros(Workflow *Handle, const char *Name, Dictionary *Arguments, Dictionary *Macros,
                                    Task *Parent, Task **Created);
// Why the last Workflow_CreateTask(WithMacros) that failed could not make its
// task, as one line for the user (it begins with WORKFLOW_CANNOT_MAKE): no
// such task, no "type", or a type that is not registered. 0 when none failed.
int32 Workflow_GetCreateTaskError(Workflow *Handle, char *Text, int32 Size);
int32 Workflow_FindTaskByInstanceId(Workflow *Handle, const char *InstanceId, Task **Found);
int32 Workflow_FindTaskByName(Workflow *Handle, const char *Name, Task **Found);
int32 Workflow_GetParentTaskHandle(Workflow *Handle, Task *Child, Task **Parent);
int32 Workflow_GetParentTaskHandleByName(Workflow *Handle, Task *Child, const char *Name, Task **Found);
int32 Workflow_GetRootTaskHandle(Workflow *Handle, Task *Child, Task **Root);
int32 Workflow_GetChildTaskCount(Workflow *Handle, Task *Parent, int32 *Count);
// The level the task was created at: 1 without a parent, else its parent's
// level plus one. 0 (and *Depth 0) for a task not in the workflow.
int32 Workflow_GetTaskDepth(Workflow *Handle, Task *Child, int32 *Depth);
// Marks the workflow as one whose sub-task was refused for a process's task
// budget (task.h): it is failing, and it starts no further sub-tasks but
// those of its "unload", so that a document that multiplies ends rather than
// goes on as fast as tasks finish. Workflow_IsPastBudget answers whether.
int32 Workflow_SetPastBudget(Workflow *Handle);
int32 Workflow_IsPastBudget(Workflow *Handle);
int32 Workflow_GetTaskCount(Workflow *Handle, int32 *Count);
int32 Workflow_IsTaskRunning(Workflow *Handle, const char *Name);
int32 Workflow_IsTaskQueued(Workflow *Handle, const char *Name);
int32 Workflow_IsActivated(Workflow *Handle);
// Nonzero while any event waits in the workflow's queue.
int32 Workflow_HasQueuedEvent(Workflow *Handle);
// 0 while "load" or "unload" runs; cancels the leaf tasks once.
int32 Workflow_CancelTasks(Workflow *Handle);
int32 Workflow_ClearTasks(Workflow *Handle);
int32 Workflow_ClearTasksByHandle(Workflow *Handle, Task *Root);
int32 Workflow_Reset(Workflow *Handle);
int32 Workflow_Complete(Workflow *Handle, Dictionary *Result);

// ---- Task types ----
int32 Workflow_FindTaskHandler(Workflow *Handle, const char *Type, const TaskInterface **Record);
int32 Workflow_RegisterTaskHandler(Workflow *Handle, const TaskInterface *Record);
int32 Workflow_UnregisterTaskHandler(Workflow *Handle, const TaskInterface *Record);
int32 Workflow_RegisterDefaultTasks(Workflow *Handle);
int32 Workflow_UnregisterDefaultTasks(Workflow *Handle);
int32 Workflow_RegisterCustomTasks(Workflow *Handle);
int32 Workflow_UnregisterCustomTasks(Workflow *Handle);
int32 Workflow_SetUseDefaultTaskTypes(Workflow *Handle, uint32 Flag);
int32 Workflow_GetUseDefaultTaskTypes(Workflow *Handle, uint32 *Flag);

// ---- Macros ----
// A macro's value is stored whole or not at all. Held cut, a value with a
// NUL would stand for the text before it (a path up to its NUL), and one
// longer than an expansion's value may be would be cut where it is copied.
// The one check every store of a macro (the workflow's, the application's)
// goes through: 1 when Value (Length bytes) may be stored, else 0 with why
// in Why ("holds a NUL byte", "is N bytes, past the M ...").
int32 Workflow_CheckMacroValue(const char *Value, int32 Length, char *Why, int32 WhySize);
// What a macro of Key and a value of Length bytes holds of the process's
// memory budget (runtime/memory.h) while a table keeps it.
int32 Workflow_GetMacroCost(const char *Key, int32 Length, int64 *Bytes);
// Stores Key = Value (Length bytes) into Macros through that check, charged
// to the memory budget while Macros keeps it (a value it replaces gives its
// charge back); a value it refuses, or one the budget cannot hold, is not
// stored (an ERROR log line says which and why; of refusals by the budget in
// a row, only the first): 0.
int32 Workflow_StoreMacro(Dictionary *Macros, const char *Key, const char *Value, int32 Length);
// A stored value copied into Output (Size bytes) whole: 1. One that does not
// fit is not copied: 2, with why in Output.
int32 Workflow_CopyMacroValue(const char *Value, int32 Length, char *Output, int32 Size);
int32 Workflow_AddMacro(Workflow *Handle, const char *Key, const char *Value);
int32 Workflow_AddMacroLength(Workflow *Handle, const char *Key, const char *Value, int32 Length);
int32 Workflow_AddMacroJSON(Workflow *Handle, const char *JsonText);
int32 Workflow_ExpandString(Workflow *Handle, char *Buffer, int32 Size);
int32 Workflow_ExpandStringInterop(Workflow *Handle, const char *Source, char *Target, int32 Size);
// The workflow's macros, then its expand-string callback. A macro's value
// longer than Size - 1 bytes is never copied cut: 2, with why in Output.
int32 Workflow_ExpandKey(Workflow *Handle, const char *Key, const char *Argument, char *Output, int32 Size);
int32 Workflow_SetExpandStringCallback(Workflow *Handle, void *User, String_ExpandFunc Function);
int32 Workflow_GetExpandStringCallback(Workflow *Handle, void **User, String_ExpandFunc *Function);

// ---- Status and errors (Format is a format; pass outside text as "%s") ----
int32 Workflow_SetStatusString(Workflow *Handle, const char *Key, const char *Text);
int32 Workflow_SetStatusNumber(Workflow *Handle, const char *Key, float64 Number);
int32 Workflow_SetStatus(Workflow *Handle, const char *Text);
int32 Workflow_SetStatusWithDictionary(Workflow *Handle, Dictionary *Change);
int32 Workflow_AddError(Workflow *Handle, const char *Format, ...);
int32 Workflow_ClearErrors(Workflow *Handle);
int32 Workflow_GetErrorCount(Workflow *Handle, int32 *Count);

// ---- Identity and handles ----
int32 Workflow_SetRemoteInstanceId(Workflow *Handle, const char *Text);
int32 Workflow_GetRemoteInstanceId(Workflow *Handle, char *Buffer, int32 Size);
int32 Workflow_GetDictionaryHandle(Workflow *Handle, Dictionary **Document);
int32 Workflow_GetStatusDictionaryHandle(Workflow *Handle, Dictionary **Status);
int32 Workflow_GetMacroDictionaryHandle(Workflow *Handle, Dictionary **Macros);
int32 Workflow_GetAnalyticsDictionaryHandle(Workflow *Handle, Dictionary **Analytics);
CertStoreTable *Workflow_GetCertStoreTableHandle(Workflow *Handle);
TaskTypeList *Workflow_GetTaskTypeListHandle(Workflow *Handle);
int32 Workflow_SetTaskHandle(Workflow *Handle, Task *Owner);
int32 Workflow_GetTaskHandle(Workflow *Handle, Task **Owner);
int32 Workflow_SetGlobal(Workflow *Handle, uint32 Flag);
int32 Workflow_IsGlobal(Workflow *Handle);

// ---- Print family ----
CLASSPRINT_DECLARE(Workflow, Workflow)
int32 Workflow_VerboseLog(Workflow *Handle, int32 Level, const char *Format, ...);

RUNTIME_EXTERN_C_END

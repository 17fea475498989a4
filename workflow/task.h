// Task: one running instance of a task definition of a workflow (the
// Dictionary under the task's name among the workflow's top-level keys).
// The task keeps its definition (arguments, checked against its type's
// declarations and expanded before the type's start, workflow/task_arguments.h;
// the getters answer the values checked, and expand any other on its read), its status and macro Dictionaries, its errors and warnings, its
// certificate-store list, and its type: a TaskInterface record whose Create
// makes the type's own object, which does the work by observing the task's
// "Task" notifications and always ends with Task_Complete.
//
// Ownership: the task owns its three Dictionaries, its store list and (through
// the record's Release) its type object. It holds no reference on its
// workflow; the workflow that created it holds the task's reference.
//
// Threads: main thread only. Worker threads reach a task only through the
// main event queue (workflow/tasks/worker_task.h).
#pragma once

#include <stdarg.h>

#include "crypto/trust/cert_store.h"
#include "runtime/class.h"
#include "runtime/containers/dictionary.h"
#include "runtime/types.h"

#define TASK_CLASSID 0xbfff2674u
#define TASK_NAME_SIZE 120
#define TASK_CERTSTORE_NAME_SIZE 64
// The error identifier of a cancelled task.
#define TASK_ERROR_CANCELLED "Task_Error_Cancelled"
// The start of the line Task_AddMissingArgumentError records.
#define TASK_MISSING_ARGUMENT "Missing argument "
// Tasks nest (Queue actions, sub-actions and their steps, each a child of
// the task that runs it) at most this many levels deep: a document that
// names itself would otherwise nest until memory runs out. A sub-task past
// the limit is not run; the task that would run it records the identifier
// below and a line naming the sub-task and the limit, and fails, and so
// does every task whose step it was.
#define TASK_DEPTH_LIMIT 1000
#define TASK_ERROR_TOO_DEEP "Task_Error_TooDeep"
// Depth does not bound breadth: a Queue that runs itself twice doubles at
// every level. A process holds at most TASK_LIVE_LIMIT tasks (made and not
// yet deleted; a workflow keeps the tasks it ran until it goes), of which at
// most TASK_RUNNING_LIMIT are running (started and not complete: a running
// task costs several times a finished one), and starts at most
// TASK_START_LIMIT in its life. A sub-task past any of them is not run, as
// past the depth limit, with the identifier below and a line naming the
// limit, and its workflow starts no more (Workflow_SetPastBudget). No
// "ignoreError" hides this identifier or a depth limit's.
#define TASK_LIVE_LIMIT 200000
#define TASK_RUNNING_LIMIT 10000
#define TASK_START_LIMIT 2000000
#define TASK_ERROR_TOO_MANY "Task_Error_TooMany"
// Each task keeps its own copy of its definition: a task chain that carries
// a large argument (a long text, a list of 100,000 entries) down a thousand
// levels would hold a thousand copies. The live tasks' definitions, counted
// at what they really cost (Dictionary_GetCost), are charged to the
// process's memory budget (runtime/memory.h) with the documents they come
// from; a sub-task whose copy would pass it is refused, before the copy, as
// past the limits above.

// Kinds of Task_EvaluatePathToObject.
#define TASK_OBJECT_NONE 0
#define TASK_OBJECT_WORKFLOW 1
#define TASK_OBJECT_TASK 2
#define TASK_OBJECT_DICTIONARY 3

RUNTIME_EXTERN_C_BEGIN

typedef struct Task Task;
typedef struct Workflow Workflow;

// A task type's record: its name and the three operations on the type's
// object for one task.
typedef struct TaskInterface {
    const char *Name;
    int32 (*Create)(void **Handle, Task *Owner);
    void *(*AddRef)(void *Handle);
    int32 (*Release)(void **Handle);
} TaskInterface;

// Sub-action completion: (task, user, result or null).
typedef int32 (*Task_SubActionFunc)(Task *Handle, void *User, Dictionary *Result);
// Answers a macro path that starts at the task (see Task_ExpandKey).
typedef int32 (*Task_ExpandStringFunc)(Task *Handle, void *User, const char *Name, char *Output, int32 Size);
// 1: documents fetched for the task must be authenticated.
typedef int32 (*Task_AuthenticateFunc)(void *User, Task *Handle);
// Key-value pairs: (user, expanded key, container, value item as the check of
// the arguments left it: its text expanded); 0 stops.
typedef int32 (*Task_KeyValueFunc)(void *User, const char *Key, Dictionary *Container, DictionaryItem *Value);
// An error-code translation (platform, module errors).
typedef const char *(*Task_TranslateFunc)(int32 Code);

// ---- Object ----
int32 Task_Create(Task **Handle);
int32 Task_Delete(Task **Handle);
CLASS_DECLARE_REFERENCE(Task, Task)
int32 Task_ValidHandle(Task *Handle);

// ---- Definition and identity ----
int32 Task_LoadFromDictionary(Task *Handle, Dictionary *WorkflowDocument, const char *Name);
int32 Task_SetName(Task *Handle, const char *Name);
int32 Task_GetName(Task *Handle, char *Buffer, int32 Size);
const char *Task_GetNamePtr(Task *Handle);
int32 Task_SetWorkflowHandle(Task *Handle, Workflow *Owner);
int32 Task_GetWorkflowHandle(Task *Handle, Workflow **Owner);
int32 Task_GetDictionaryHandle(Task *Handle, Dictionary **Definition);
int32 Task_GetStatusDictionaryHandle(Task *Handle, Dictionary **Status);
int32 Task_GetMacroDictionaryHandle(Task *Handle, Dictionary **Macros);
int32 Task_SetPrivate(Task *Handle, uint32 Flag);
int32 Task_GetPrivate(Task *Handle, uint32 *Flag);
// The task copies the record; Task_GetInterface hands out that copy.
int32 Task_SetInterface(Task *Handle, const TaskInterface *Record);
int32 Task_GetInterface(Task *Handle, const TaskInterface **Record);
int32 Task_GetInterfaceHandle(Task *Handle, void **TypeObject);
// The type's name; a task without a type record is a fatal stop.
const char *Task_GetType(Task *Handle);
int32 Task_Dump(Task *Handle);
int32 Task_SetDefaultCertStore(Task *Handle, const char *Name);
int32 Task_GetDefaultCertStore(Task *Handle, char *Buffer, int32 Size);
int32 Task_GetCertStoreListHandle(Task *Handle, CertStoreList **List);
int32 Task_SetExpandStringCallback(Task *Handle, void *User, Task_ExpandStringFunc Function);
int32 Task_GetExpandStringCallback(Task *Handle, void **User, Task_ExpandStringFunc *Function);
int32 Task_SetAuthenticateCallback(Task *Handle, void *User, Task_AuthenticateFunc Function);
// 1 when documents for the task must be authenticated (its callback).
int32 Task_IsAuthenticationRequired(Task *Handle);
// 1 when a document fetched from Url for the task must be authenticated. The
// default decision is made on Url itself, the URL the request fetches, never
// on "url" as it expands now: a macro set since the fetch's URL was expanded
// would have the decision made about another URL. A task with a callback of
// its own answers by it.
int32 Task_IsAuthenticationRequiredFor(Task *Handle, const char *Url);
int32 Task_DefaultAuthenticateCallback(void *User, Task *Handle);

// ---- Print family (lines go to the log until a print callback is set) ----
CLASSPRINT_DECLARE(Task, Task)
int32 Task_VerboseLog(Task *Handle, int32 Level, const char *Format, ...);

// ---- Arguments ----
int32 Task_HasArgument(Task *Handle, const char *Name);
int32 Task_GetArgumentPtr(Task *Handle, const char *Name, const char **Text);
int32 Task_GetArgumentType(Task *Handle, const char *Name, int32 *Type);
int32 Task_GetStringArgument(Task *Handle, const char *Name, char *Buffer, int32 Size);
int32 Task_GetMultiStringArgument(Task *Handle, const char *Name, char *Buffer, int32 Size);
int32 Task_GetBooleanArgument(Task *Handle, const char *Name, uint32 *Flag);
int32 Task_GetNumberArgument(Task *Handle, const char *Name, float64 *Number);
int32 Task_GetDictionaryArgument(Task *Handle, const char *Name, Dictionary *Target);
// The text getters refuse a value that holds a NUL or does not fit their
// buffer, stored or expanded, rather than cut it: they answer 0 as for an
// absent argument, and the task carries one error, "Task_Error_InvalidArg: "
// and words naming the argument and its limit. 1 when that happened to this task: its
// type must then act on nothing it read.
int32 Task_IsArgumentRefused(Task *Handle);
int32 Task_HasKeyValuePairs(Task *Handle);
int32 Task_EnumerateKeyValuePairs(Task *Handle, void *User, Task_KeyValueFunc Function);
// JSON text to a Dictionary (false when it does not parse).
int32 Task_DecodeJSON(Task *Handle, const char *Text, Dictionary *Target);

// ---- Expansion and object paths ----
int32 Task_ExpandString(Task *Handle, char *Buffer, int32 Size);
int32 Task_ExpandDictionary(Task *Handle, Dictionary *Target);
int32 Task_ExpandKey(Task *Handle, const char *Name, const char *Argument, char *Output, int32 Size);
int32 Task_ExpandMacro(Task *Handle, const char *Name, const char *Argument, char *Output, int32 Size);
int32 Task_EvaluatePathToObject(Task *Handle, const char *Path, int32 *Kind, void **Object);

// ---- Status ----
int32 Task_SetStatusWithDictionary(Task *Handle, Dictionary *Change);
int32 Task_SetStatusString(Task *Handle, const char *Key, const char *Text);
int32 Task_SetStatusNumber(Task *Handle, const char *Key, float64 Number);
int32 Task_SetStatus(Task *Handle, const char *Text);
int32 Task_SetProgress(Task *Handle, float64 Progress);

// ---- Errors and warnings (Format is a format; pass outside text as "%s") ----
int32 Task_AddError(Task *Handle, const char *Format, ...);
int32 Task_AddWarning(Task *Handle, const char *Format, ...);
// Records the identifier whatever "ignoreError" says: cancels and the
// not-built placeholder must never be ignored into a success.
int32 Task_AddErrorAlways(Task *Handle, const char *Identifier);
int32 Task_AddErrorFromMap(Task *Handle, int32 Code, const char *DefaultIdentifier);
int32 Task_AddErrorFromCode(Task *Handle, int32 Code, int32 SubCode);
int32 Task_AddErrorFromTranslate(Task *Handle, const char *Module, int32 Code, Task_TranslateFunc Translate);
int32 Task_AddErrorFromDictionary(Task *Handle, Dictionary *Source);
// A required argument the definition lacks: "Task_Error_MissingArg" and,
// unless "ignoreError" drops that, a line for the user naming the argument
// (Names as the text should show it, quoted), the task and its type, which
// begins with TASK_MISSING_ARGUMENT. The log line stays the caller's.
int32 Task_AddMissingArgumentError(Task *Handle, const char *Names);
int32 Task_AddWarningFromDictionary(Task *Handle, Dictionary *Source);
int32 Task_HasError(Task *Handle, const char *Identifier);
int32 Task_HasWarning(Task *Handle, const char *Text);
int32 Task_GetErrorCount(Task *Handle, int32 *Count);
int32 Task_GetWarningCount(Task *Handle, int32 *Count);
int32 Task_GetError(Task *Handle, int32 Index, char *Buffer, int32 Size);
int32 Task_GetErrorPtr(Task *Handle, int32 Index, const char **Text);
int32 Task_GetWarning(Task *Handle, int32 Index, char *Buffer, int32 Size);
int32 Task_GetWarningPtr(Task *Handle, int32 Index, const char **Text);
int32 Task_CopyErrors(Task *Handle, Dictionary *Target);
int32 Task_CopyWarnings(Task *Handle, Dictionary *Target);
int32 Task_ClearErrors(Task *Handle);
int32 Task_ClearWarnings(Task *Handle);

// ---- Life ----
int32 Task_Start(Task *Handle);
// For the task type's own observer of "Task"/"Start": 1 for the first
// delivery after each Task_Start, 0 (logged) for any other, such as one a
// page or a document fired with the task's id, which must not run the
// type's start a second time while it runs.
int32 Task_TakeStart(Task *Handle);
int32 Task_Complete(Task *Handle, Dictionary *Result);
int32 Task_CompleteInterop(Task *Handle, const char *JsonText);
// 0 when completed, already cancelled, or a delayed cancel already fired.
int32 Task_Cancel(Task *Handle);
int32 Task_SetDelayedCancel(Task *Handle, uint32 Flag);
int32 Task_GetDelayedCancel(Task *Handle, uint32 *Flag);
int32 Task_GetDelayedCancelFired(Task *Handle, uint32 *Flag);
int32 Task_IsCompleted(Task *Handle);
int32 Task_IsCancelled(Task *Handle);
int32 Task_GetTimeElapsed(Task *Handle, float64 *Seconds);

// ---- Sub-actions ----
int32 Task_RunSubAction(Task *Handle, const char *Key, void *User, Task_SubActionFunc Callback);
int32 Task_RunSubActionNext(Task *Handle, const char *Key, Dictionary *NextResult, void *User,
                            Task_SubActionFunc Callback);
int32 Task_RunSubTask(Task *Handle, const char *Name, Dictionary *Arguments, void *User, Task_SubActionFunc Callback);
// Runs the sub-action for a page: its completion raises the page's script
// callback with {"callbackId", "type": "Task", "sender", "info"}.
int32 Task_RunSubActionInterop(Task *Handle, const char *Key, const char *CallbackId);
int32 Task_SubAction_Complete(Task *Handle, void *User, Dictionary *Result);
int32 Task_SubAction_Null(Task *Handle, void *User, Dictionary *Result);

// The operation table handed to task types outside this module; the slot
// order is fixed.
typedef struct GlobalTaskVtblStruct {
    int32 (*SubAction_Null)(Task *, void *, Dictionary *);
    int32 (*SubAction_Complete)(Task *, void *, Dictionary *);
    int32 (*IsCompleted)(Task *);
    int32 (*IsCancelled)(Task *);
    const char *(*GetType)(Task *);
    int32 (*GetTimeElapsed)(Task *, float64 *);
    int32 (*GetName)(Task *, char *, int32);
    const char *(*GetNamePtr)(Task *);
    int32 (*HasArgument)(Task *, const char *);
    int32 (*GetArgumentPtr)(Task *, const char *, const char **);
    int32 (*GetArgumentType)(Task *, const char *, int32 *);
    int32 (*GetStringArgument)(Task *, const char *, char *, int32);
    int32 (*GetMultiStringArgument)(Task *, const char *, char *, int32);
    int32 (*GetBooleanArgument)(Task *, const char *, uint32 *);
    int32 (*GetNumberArgument)(Task *, const char *, float64 *);
    int32 (*SetStatus)(Task *, const char *);
    int32 (*SetStatusString)(Task *, const char *, const char *);
    int32 (*SetStatusNumber)(Task *, const char *, float64);
    int32 (*SetStatusWithDictionary)(Task *, Dictionary *);
    int32 (*SetProgress)(Task *, float64);
    int32 (*RunSubAction)(Task *, const char *, void *, Task_SubActionFunc);
    int32 (*RunSubTask)(Task *, const char *, Dictionary *, void *, Task_SubActionFunc);
    int32 (*Start)(Task *);
    int32 (*Complete)(Task *, Dictionary *);
    int32 (*Cancel)(Task *);
    int32 (*Dump)(Task *);
    int32 (*Print)(Task *, const char *, ...);
    int32 (*VPrint)(Task *, int32, const char *, va_list);
    int32 (*VerboseLog)(Task *, int32, const char *, ...);
    int32 (*ExpandString)(Task *, char *, int32);
    int32 (*LoadFromDictionary)(Task *, Dictionary *, const char *);
    int32 (*HasError)(Task *, const char *);
    int32 (*HasWarning)(Task *, const char *);
    int32 (*GetErrorCount)(Task *, int32 *);
    int32 (*GetWarningCount)(Task *, int32 *);
    int32 (*AddError)(Task *, const char *, ...);
    int32 (*AddErrorFromMap)(Task *, int32, const char *);
    int32 (*GetError)(Task *, int32, char *, int32);
    int32 (*AddWarning)(Task *, const char *, ...);
    int32 (*GetWarning)(Task *, int32, char *, int32);
    int32 (*ClearErrors)(Task *);
    int32 (*ClearWarnings)(Task *);
    int32 (*SetDelayedCancel)(Task *, uint32);
    int32 (*GetDelayedCancel)(Task *, uint32 *);
    int32 (*GetWorkflowHandle)(Task *, Workflow **);
    int32 (*GetDictionaryHandle)(Task *, Dictionary **);
    int32 (*GetStatusDictionaryHandle)(Task *, Dictionary **);
    int32 (*SetExpandStringCallback)(Task *, void *, Task_ExpandStringFunc);
    int32 (*GetExpandStringCallback)(Task *, void **, Task_ExpandStringFunc *);
    // Document requests are not built yet: the slot stays empty.
    int32 (*RequestURL)(Task *, const char *);
} GlobalTaskVtblStruct;
extern const GlobalTaskVtblStruct GlobalTaskVtbl;

RUNTIME_EXTERN_C_END

#ifdef __cplusplus
static_assert(sizeof(GlobalTaskVtblStruct) == 50 * sizeof(void *), "the task table has 50 fixed slots");
#endif

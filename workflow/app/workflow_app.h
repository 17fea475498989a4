// The workflow application's share that the engine stands on: the
// application's task-type list (the default types), its macros, its
// verbosity and whether it is shutting down. This is the application in its
// minimal form; configuration, the tick and the shutdown protocol build on it.
#pragma once

#include "runtime/containers/dictionary.h"
#include "runtime/types.h"
#include "workflow/task_type_list.h"

RUNTIME_EXTERN_C_BEGIN

// Creates the task-type list with the default types and the macro
// Dictionary; 0 when already started. Needs the notification center.
int32 WorkflowApp_Init(void);
int32 WorkflowApp_Remove(void);
// Null before Init.
TaskTypeList *WorkflowApp_GetTaskTypeListHandle(void);
Dictionary *WorkflowApp_GetMacroDictionaryHandle(void);
// The application's content URL: documents there (as the server resolves
// the path) count as the application's own, and the macro {contentUrl}
// starts as it. Only the application sets it (the host from the workflow's
// URL, a loaded configuration's "contentUrl" macro): a macro of that name
// that a task, a page or loaded data sets changes what {contentUrl} expands
// to, never this. 0 with an empty Output when there is none or it does not
// fit.
int32 WorkflowApp_SetContentUrl(const char *Url);
// The content as the folder of the document at Url (the workflow the host
// runs): {contentUrl} starts as Url up to its last "/", and the documents
// that count as the application's own are those in the folder of its path
// read once (URL_Read), decoded and normalized, the same reading that names
// the document: a document URL with no one place, or with a query or a
// fragment, has nothing beside it.
int32 WorkflowApp_SetContentDocument(const char *Url);
// The place documents at or under which (at a whole segment) count as the
// application's own, as URL_ResolvePlace writes a place. 0 with an empty
// Output when nothing does or it does not fit.
int32 WorkflowApp_GetContentPlace(char *Output, int32 Size);
// The application's macros (keys without case); a String_ExpandFunc.
int32 WorkflowApp_ExpandKey(void *User, const char *Name, const char *Argument, char *Output, int32 Size);
int32 WorkflowApp_SetVerbose(int32 Verbose);
int32 WorkflowApp_GetVerbose(void);
// Set once a shutdown has been asked for; sub-tasks outside "unload" then no
// longer start.
int32 WorkflowApp_SetShuttingDown(uint32 Flag);
int32 WorkflowApp_IsShuttingDown(void);

RUNTIME_EXTERN_C_END

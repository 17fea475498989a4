// Document requests of a task: the task owns at most one TaskRequest, which
// drives the asynchronous document loader (net/async_http.h) from the
// notification center's process step, applies the task's HTTP arguments to
// every attempt, retries a failed attempt after 15 x 2^min(failures, 8)
// seconds (at most 3 retries), records each failure as a task error and
// hands the parsed Dictionary (or the raw body) to the task type's callback.
//
// Starting a request deletes the task's previous one without calling its
// callback. A request is deleted right after its callback has run, so a
// callback must not start a new request on its own task.
#pragma once

#include "net/web_get_request.h"
#include "runtime/containers/dictionary.h"
#include "runtime/types.h"
#include "workflow/task.h"

#define TASKREQUEST_CLASSID 0x6506bd2au
#define TASKREQUEST_URL_SIZE 4096
#define TASKREQUEST_CACHE_NAME_SIZE 60
#define TASKREQUEST_MAX_RETRIES 3

RUNTIME_EXTERN_C_BEGIN

typedef struct TaskRequest TaskRequest;
// (task, user, document, error, sub-code); error 0 is success. The document
// is handed on, never copied: one the callback keeps it takes a reference to.
typedef int32 (*Task_RequestFunc)(Task *Handle, void *User, Dictionary *Document, int32 Error, int32 SubCode);
// (task, user, body, length, error, sub-code).
typedef int32 (*Task_RequestURLFunc)(Task *Handle, void *User, const uint8 *Body, int32 Length, int32 Error,
                                     int32 SubCode);

int32 Task_RequestJSON(Task *Handle, const char *Url, void *User, Task_RequestFunc Callback);
int32 Task_RequestXML(Task *Handle, const char *Url, void *User, Task_RequestFunc Callback);
// The parser follows the response's content type (then the extension).
int32 Task_RequestAuto(Task *Handle, const char *Url, void *User, Task_RequestFunc Callback);
// Keeps the raw body; JSON is still parsed as for Task_RequestJSON.
int32 Task_RequestURL(Task *Handle, const char *Url, void *User, Task_RequestURLFunc Callback);
// Applies the task's "verbose", "timeout", "allowProxy", "allowResume",
// "allowGzip", "limitBodySize", "headers" and "cookies" to the request.
int32 Task_RequestConfig(Task *Handle, WebGetRequest *Request);
// A document had that the task refuses (a workflow that is no object) is
// told as a failed fetch is, so that under "ignoreError" its reason is heard.
int32 Task_RequestTellRefused(Task *Handle, const char *Url, const char *Reason);
// Whether the task has a request running.
int32 Task_HasRequest(Task *Handle);
// Deletes the task's request. With Notify, a request not yet finished of a
// completed task reports 956 (user abort) to its callback first.
int32 Task_RequestDelete(Task *Handle, int32 Notify);

RUNTIME_EXTERN_C_END

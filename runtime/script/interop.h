// The script bridge: how page scripts and workflows create native objects by
// class name and call their methods.
//
// One bridge per process (GlobalInterop, Interop_Init ... Interop_Remove) owns:
// - the class families, in registration order: each is five entry points,
//   linked into the program (Interop_Add) or exported by a shared library
//   (Interop_LoadLibrary); a class name is offered to each in turn until one
//   makes an instance. Every family first receives the host's own log,
//   instance table, authorisation and notification functions by name, so a
//   loaded library shares them instead of running copies of its own;
// - the instance table: script-visible instances by id (at most 319
//   characters, compared without case) with their invoke, release and
//   process functions and a reference count. A release that drops the last
//   reference removes the instance (and frees its object) at once, unless a
//   dispatch or step is using it: then the process step removes it after,
//   so a dispatch never sees one vanish, and it answers no further call;
// - script callbacks: records with an id through which native code answers a
//   page later (notification observers, dialog answers ...);
// - page execute registrations and the execute queue: Dictionaries written
//   by Interop_Execute into the next batch as they come (what waits is
//   bounded) and delivered to every registered page as one JSON array per
//   process step.
//
// Threads: dispatch, callbacks, registrations, the queue and the process step
// belong to the main thread (other callers are a fatal stop). The lock guards
// the family list and instance look-ups; it is released while a family's
// create function runs, so a create may itself create or look up instances.
// A family's unload function runs on a thread of its own.
#pragma once

#include "runtime/containers/dictionary.h"
#include "runtime/streams/memory_stream.h"
#include "runtime/types.h"

#define INTEROP_EXECUTECALLBACK_CLASSID 0x021f58fau
// Instance ids and family names: at most 319 characters.
#define INTEROP_ID_SIZE 320
// Script callback ids: at most 39 characters.
#define INTEROP_CALLBACK_ID_SIZE 40
// A request's method name as read for the log: at most 119 characters.
#define INTEROP_METHOD_SIZE 120

// The one symbol of the runtime that a loadable family exports as it is
// (its other four entry points are the family's own).
#define INTEROP_EXPORT __attribute__((visibility("default")))

RUNTIME_EXTERN_C_BEGIN

typedef struct InteropLibrary InteropLibrary;
typedef struct InteropCallback InteropCallback;
typedef struct InteropExecuteCallback InteropExecuteCallback;

// An instance's functions. Invoke answers nonzero when the method ran;
// release receives the address of the user pointer and the instance id.
typedef int32 (*Interop_InvokeFunc)(void *User, Dictionary *Request, Dictionary *Result);
typedef int32 (*Interop_ReleaseFunc)(void **UserAddress, const char *InstanceId);
typedef int32 (*Interop_ProcessFunc)(void *User);
// A page's execution function: (user, registration id, JSON batch, the
// batch's facts as an InteropBatchFacts).
typedef int32 (*Interop_ExecuteFunc)(void *User, const char *InstanceId, const char *Batch, void *Reserved);
// A script callback's function, as function(user, argument).
typedef int32 (*Interop_CallbackFunc)(void *User, void *Argument);

// A family's five entry points.
typedef int32 (*Interop_LoadFunc)(void);
typedef int32 (*Interop_UnloadFunc)(void);
typedef int32 (*Interop_CreateInstanceFunc)(const char *ClassName, char *IdBuffer, int32 IdSize, void *ExecuteUser,
                                            Interop_ExecuteFunc ExecuteFunction, Interop_InvokeFunc *Invoke,
                                            Interop_ReleaseFunc *Release, Interop_ProcessFunc *Process,
                                            void **User);
typedef int32 (*Interop_SetOverrideFunc)(const char *Name, void *Function);
typedef int32 (*Interop_SetOptionFunc)(const char *Name, const char *Value);

// The bridge itself. Init is idempotent; Remove unloads every family, frees
// registrations, callbacks and queued items, and drops the instance table
// without calling release functions (pages' instances are removed before).
int32 Interop_Init(void);
int32 Interop_Remove(void);
int32 Interop_IsInitialized(void);

// Families.
InteropLibrary *Interop_Add(const char *Name, Interop_LoadFunc Load, Interop_UnloadFunc Unload,
                            Interop_CreateInstanceFunc Create, Interop_SetOverrideFunc SetOverride,
                            Interop_SetOptionFunc SetOption);
// Loads a shared library and registers its exports; a library already
// registered gains one reference (and needs one more unload request).
InteropLibrary *Interop_LoadLibrary(const char *Path);
// The same for a library checked through the open Descriptor: that very file
// is loaded (Platform_LoadLibraryOpened) and registered under Path.
InteropLibrary *Interop_LoadLibraryOpened(const char *Path, int32 Descriptor);
int32 Interop_SetLibraryOverride(InteropLibrary *Library, const char *Name, void *Function);
int32 Interop_SetLibraryOption(InteropLibrary *Library, const char *Name, const char *Value);
int32 Interop_DispatchSetOption(const char *Name, const char *Value);
// Unloading is requested here and done by the process step once the family
// has no live instance and every load has been matched by a request.
int32 Interop_FreeLibrary(InteropLibrary *Library);
int32 Interop_FreeLibraryByName(const char *Name);

int32 Interop_SetConfigHandle(Dictionary *Config);
int32 Interop_GetConfigHandle(Dictionary **Config);
int32 Interop_SetVerbose(uint32 Flag);
int32 Interop_GetVerbose(uint32 *Flag);
// A new GUID as 32 lower-case hexadecimal digits.
int32 Interop_GenerateInstanceId(char *Buffer, int32 Size);

// The family side of the hand-over, for a loadable family built on this
// runtime: installs the host's function as the forwarding hook of the
// facility of that name (1), or answers 0 for a name it does not take.
INTEROP_EXPORT int32 Interop_SetOverride(const char *Name, void *Function);
// Installs a host function as the forwarding hook of its facility.
typedef int32 (*Interop_InstallFunc)(void *Function);
// The hand-overs of modules above the runtime ("Authenticate_Enabled",
// "Registry_Authorize", "WebGet_Authorize"), set by those modules at start-up:
// the host's Function that families receive under Name, and Install, the
// family side's setter of its hook. 0 for any other name.
int32 Interop_SetHandOver(const char *Name, void *Function, Interop_InstallFunc Install);

// Instances and dispatch (main thread).
int32 Interop_DispatchCreateInstance(const char *ClassName, char *IdBuffer, int32 IdSize, void *Requester,
                                     void *ExecuteUser, Interop_ExecuteFunc ExecuteFunction);
int32 Interop_DispatchHasInstance(const char *InstanceId);
int32 Interop_DispatchReleaseInstance(const char *InstanceId);
int32 Interop_DispatchInvoke(const char *InstanceId, Dictionary *Request, Dictionary *Result);
// The request is a JSON object with "method" and the parameters; the result
// stream is emptied, then holds one JSON object ({"returnValue":...}) when the
// method ran.
int32 Interop_DispatchInvokeJSON(const char *InstanceId, const char *JsonText, MemoryStream *ResultStream);
int32 Interop_InstancesActiveInRequester(void *Requester);
int32 Interop_InstancesActiveInLibrary(InteropLibrary *Library);
int32 Interop_RemoveInstancesActiveInRequester(void *Requester);

// The process step (main thread): instances, unloading, callbacks, the page
// batch. ProcessEvent is the same step run from the main event queue.
int32 Interop_Process(void);
int32 Interop_ProcessEvent(void *Instance);

// Script callbacks (main thread).
int32 Interop_AddCallback(const char *Id, void *User, Interop_CallbackFunc Function, InteropCallback **Callback);
int32 Interop_GetCallbackById(const char *Id, InteropCallback **Callback);
int32 Interop_RaiseCallback(InteropCallback *Callback, void *Argument);
// Raises an item with Info's members as its "info": a page's batch gets them
// written straight from Info, never copied first. Loop: the item comes of the
// engine's own loop (NotificationCenter_IsLoopFire), which the batch's facts
// mark.
int32 Interop_RaiseCallbackWithInfo(InteropCallback *Callback, Dictionary *Item, Dictionary *Info, int32 Loop);
InteropCallback *Interop_AddRefCallback(InteropCallback *Callback);
int32 Interop_ReleaseCallback(InteropCallback **Callback);
int32 Interop_GetCallbackUserPtr(InteropCallback *Callback, void **User);
const char *Interop_GetCallbackId(InteropCallback *Callback);
// Charges Bytes to the memory budget for what the record's holder keeps
// beside it (0, with nothing charged, when that passes the budget); the
// record gives them back with its last release.
int32 Interop_ChargeCallback(InteropCallback *Callback, int64 Bytes);

// Page execute registrations and the execute queue (main thread). A page
// that registers again with the same user and function shares its
// registration, which then needs one removal per registration.
int32 Interop_AddExecuteCallback(InteropExecuteCallback **Registration, void *User, Interop_ExecuteFunc Function);
int32 Interop_RemoveExecuteCallback(InteropExecuteCallback **Registration);
int32 Interop_GetExecuteCallbackCount(void);
// Writes the Dictionary into the next page batch at once (the batch is built
// once, as its items come, and never read back). What waits for the pages
// is bounded: an item that would take the waiting text (with what
// Interop_Hold holds) past INTEROP_QUEUE_LIMIT bytes is refused (0, with a
// log line once a batch) unless the batch is empty, so that one large item
// still goes alone. The function of every script callback that answers a
// page.
int32 Interop_Execute(void *User, void *DictionaryHandle);
// Bytes the host holds for the pages outside the batch (a page's delayed
// fires, until they fire or are dropped) count against the same bound, so
// that what waits for the pages is bounded as a whole: Hold answers 0, as a
// refusal of Interop_Execute does, when Bytes would take the two past it.
// Unhold gives held bytes back (main thread, as the rest).
int32 Interop_Hold(size_t Bytes);
int32 Interop_Unhold(size_t Bytes);
// How many items Interop_Execute and Interop_Hold have refused since the
// bridge started: a caller that compares it around a fire knows whether all
// of it was taken.
uint32 Interop_GetRefusedCount(void);

// The bound above, and its words for the reasons given.
#define INTEROP_QUEUE_LIMIT ((size_t)64 << 20)
#define INTEROP_QUEUE_LIMIT_TEXT "64 MiB"

// The execute function's last argument: per item of the batch, in order, the
// "sender" it carries (empty when none) and whether "retained" is true, kept
// as the item was queued, so that a page's bridge never parses the batch
// again to release what the center retained for it; and whether it came of
// the engine's own loop (a page that has nothing else waiting is idle).
// Text, when not null, is the batch itself (a std::string) handed to the
// last page called, which may take it whole rather than copy it.
typedef struct InteropBatchFacts {
    int32 Count;
    const char *const *Senders;
    const int32 *Retained;
    const int32 *Loop;
    void *Text;
} InteropBatchFacts;

RUNTIME_EXTERN_C_END

// The script bridge's records, shared by its sources only (interop*.cpp).
//
// Instance walks: the process step keeps its place in the instance table
// between calls, and every walk that may call out (process, release and
// invoke functions can remove instances) registers a cursor. Removing an
// instance moves each cursor that points at its member: "next" cursors to
// the member's successor, "current" cursors to none, so no walk ever resumes
// at, or drops a reference on, a freed record.
#pragma once

#include <string>
#include <vector>

#include "runtime/containers/hash_table.h"
#include "runtime/script/interop.h"
#include "runtime/documents/json.h"
#include "runtime/streams/memory_stream.h"
#include "runtime/containers/pool.h"
#include "runtime/thread.h"

// Budget of each half of the process step, in seconds.
constexpr float64 InteropStepBudget = 0.1;
// Live instances older than this are reported (verbose) and re-stamped.
constexpr float64 InteropActiveReportSeconds = 15.0;
constexpr uint32 InteropPoolChunk = 5;
constexpr uint32 InteropTableBuckets = 512;

struct InteropLibrary {
    int32 RefCount; // loads not yet matched by an honoured unload request
    Interop_CreateInstanceFunc Create;
    Interop_SetOverrideFunc SetOverride;
    Interop_SetOptionFunc SetOption;
    Interop_LoadFunc Load;
    Interop_UnloadFunc Unload;
    void *SharedObject; // dlopen handle; null for a family linked in, or once closed
    void *Identity;     // the dlopen handle as registered, never cleared
    Thread *UnloadThread;
    char Name[INTEROP_ID_SIZE];
    int32 UnloadRequests;
    InteropLibrary *Next;
    InteropLibrary *Prev;
};

struct InteropInstance {
    int32 RefCount;
    // Of RefCount, the references of look-ups and process calls in flight:
    // a release may drop only the others.
    int32 Borrowed;
    float64 Time;
    void *User;
    void *Requester;
    Interop_ReleaseFunc Release;
    Interop_InvokeFunc Invoke;
    Interop_ProcessFunc Process;
    InteropLibrary *Library;
};

struct InteropCallback {
    char Id[INTEROP_CALLBACK_ID_SIZE];
    void *User;
    Interop_CallbackFunc Function;
    uint32 RefCount;
    int64 Charged; // bytes of the memory budget it holds until it is freed
    InteropCallback *Next;
    InteropCallback *Prev;
};

// A page registered for batches. The header's reference count counts the
// script instances that share the registration.
struct InteropExecuteCallback {
    ClassStruct Class;
    void *User;
    Interop_ExecuteFunc Function;
    InteropExecuteCallback *Next;
    InteropExecuteCallback *Prev;
};

// The next page batch, written as its items are queued ("[" and each item's
// JSON object, comma separated), with what the pages' bridges act on after
// it: each item's sender and whether the center retained it.
struct InteropPending {
    std::string Text;
    std::vector<std::string> Senders;
    std::vector<int32> Retained;
    std::vector<int32> Loop;
    // Set once a refusal was logged; cleared when the batch goes out.
    bool Told = false;
    // Bytes of the memory budget the text holds until it is delivered.
    int64 Charged = 0;
};

// A position in the instance table that removals keep valid.
struct InteropCursor {
    HashTableMember *Member;
    int32 Advance; // 1: follow a removed member to its successor; 0: clear
    InteropCursor *Next;
};

template <typename Record> struct InteropList {
    Record *Head;
    Record *Tail;
    uint32 Count;
};

struct InteropStruct {
    uint32 Verbose;
    Dictionary *Config;
    InteropList<InteropLibrary> Libraries;
    InteropList<InteropCallback> Callbacks;
    Pool *CallbackPool;
    InteropList<InteropExecuteCallback> Registrations;
    JSON *Writer;
    int32 Delivering; // 1 while a batch is being handed to the pages
    int32 RaisingLoop; // 1 while an item of the engine's own loop is raised
    InteropPending *Pending;
    uint32 Refused; // items refused for the bound, ever
    size_t Held;    // bytes held for the pages outside the batch
    InteropCursor Saved; // the process step's walk position (Advance 1)
    InteropCursor *Cursors;
    Pool *InstancePool;
    HashTable *Instances;
    void *Lock;
};

extern InteropStruct *GlobalInterop;

// Intrusive list helpers for the records above (Next/Prev links).
template <typename Record> static inline void InteropList_Append(InteropList<Record> &List, Record *Item) {
    Item->Next = nullptr;
    Item->Prev = List.Tail;
    if (List.Tail != nullptr) List.Tail->Next = Item;
    else List.Head = Item;
    List.Tail = Item;
    List.Count++;
}

template <typename Record> static inline void InteropList_Unlink(InteropList<Record> &List, Record *Item) {
    if (Item->Prev != nullptr) Item->Prev->Next = Item->Next;
    else List.Head = Item->Next;
    if (Item->Next != nullptr) Item->Next->Prev = Item->Prev;
    else List.Tail = Item->Prev;
    Item->Next = Item->Prev = nullptr;
    List.Count--;
}

// The bridge, or a fatal stop when it was not started.
InteropStruct *Interop_Global(void);
// A fatal stop off the main thread.
void Interop_CheckMainThread(const char *File, int32 Line);
#define Interop_AssertMainThread() Interop_CheckMainThread(__FILE__, __LINE__)
// Posts the process step to the main event queue.
void Interop_PostProcess(void);

// Instance table (interop_instance.cpp).
int32 Interop_CreateInstanceTable(InteropStruct *Global);
void Interop_DeleteInstanceTable(InteropStruct *Global);
// Finds the id and adds one reference (under the lock); the cursor, when
// given, is registered at the member and must be ended with Interop_CursorEnd.
InteropInstance *Interop_LookUp(const char *InstanceId, InteropCursor *Cursor);
// Drops the look-up reference unless the instance was removed meanwhile.
void Interop_LookUpEnd(InteropInstance *Instance, InteropCursor *Cursor);
void Interop_CursorBegin(InteropCursor *Cursor, HashTableMember *Member, int32 Advance);
void Interop_CursorEnd(InteropCursor *Cursor);
// Calls the release function, removes the id and frees the record.
void Interop_RemoveInstance(HashTableMember *Member);
// Instances that a family created and that are still in the table.
int32 Interop_CountLibraryInstances(InteropLibrary *Library);
// The instance half of the process step; answers 0 when the budget ran out.
int32 Interop_ProcessInstances(float64 Start);

// Families (interop_family.cpp, interop_library.cpp).
InteropLibrary *Interop_InternalAdd(const char *Name, void *SharedObject, Interop_LoadFunc Load,
                                    Interop_UnloadFunc Unload, Interop_CreateInstanceFunc Create,
                                    Interop_SetOverrideFunc SetOverride, Interop_SetOptionFunc SetOption);
void Interop_ProcessLibraries(void);
void Interop_RemoveLibraries(void);

// Callbacks and the page batch (interop_batch.cpp).
void Interop_ProcessCallbacks(float64 Start);
void Interop_ProcessBatch(void);
void Interop_RemoveBatch(InteropStruct *Global);

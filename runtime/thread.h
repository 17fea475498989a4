// Threads: every thread the system starts runs inside a container that gives
// it an event queue, three signals (event: something to do; exit: asked to
// end; done: its function returned and its queue was drained) and a place in
// the process-wide thread list, where other threads find it by its id to post
// to it and wake it. Thread ids are the kernel's (gettid).
//
// The main thread is not in the list. Signals meant for it (and for ids that
// match no started thread) set the main thread's own event signal and call
// the hook the host installs with Thread_SetUnhandledSignal, which schedules
// a flush of the main event queue on the main loop.
//
// Ownership: a thread record is counted. It starts with two references, the
// creator's handle and the thread's own; it is freed when both have gone
// (Thread_Join or Thread_Release for the creator, the container for the
// thread). Thread_FindThreadById hands out one more, which the caller drops
// with Thread_Release. A long-running thread function loops while
// Thread_WaitForExit(0) answers 0, calls Thread_Tick on every pass and
// Thread_Wait when idle; its owner ends it with Thread_SignalExit and then
// Thread_Join. A thread names only itself (Thread_SetName).
#pragma once

#include "runtime/event_queue.h"
#include "runtime/types.h"

// Thread_BeginEx modes: a plain thread, or one that uses the application
// framework (lowered priority).
#define THREAD_MODE_PLAIN 0
#define THREAD_MODE_FRAMEWORK 1

// Longest time a started thread may go without Thread_Tick before
// Thread_CheckForDeadlock stops the process.
#define THREAD_DEADLOCK_SECONDS 60

RUNTIME_EXTERN_C_BEGIN

typedef struct Thread Thread;

// The thread's function; its result is the thread's exit value.
typedef int32 (*Thread_Func)(void *User);
// The host's main-thread hook: (thread id signalled, 1 for an event post).
typedef int32 (*Thread_UnhandledSignalFunc)(uint32 ThreadId, int32 IsEvent);
// A join check: 1 when the thread with this id is blocked waiting for the
// calling thread, so that joining it from here would never end.
typedef int32 (*Thread_JoinCheckFunc)(uint32 ThreadId);

// The module record; the calling thread becomes the main thread.
int32 Thread_Init(void);
int32 Thread_Remove(void);

// Starts a thread running Function(User): 1 and the handle, or 0 and a null
// handle. A null handle address or function is a fatal stop.
int32 Thread_Begin(Thread **Handle, void *User, Thread_Func Function);
int32 Thread_BeginEx(Thread **Handle, int32 Mode, void *User, Thread_Func Function);
// Waits up to TimeoutMS (negative: without end) for the thread to be done,
// joins it, releases the creator's reference and clears the handle: 1. An
// empty handle answers 1. A time-out, or a failed join, answers 0 and keeps
// the handle and its reference. In debug builds (NDEBUG not defined) a join
// without end asks the join check first and again every 100 ms while it
// waits; a thread that waits for the joiner is a fatal stop naming it.
int32 Thread_Join(int32 TimeoutMS, Thread **Handle);
// Names the calling thread (the handle must be its own); names longer than
// 15 bytes are cut.
int32 Thread_SetName(Thread *Handle, const char *Name);
// The thread's id; 0 for a null handle.
uint32 Thread_GetId(Thread *Handle);
uint32 Thread_GetCurrentId(void);
uint32 Thread_GetMainId(void);

// On a started thread: ticks the platform container, stamps the tick time
// and flushes the thread's queue (1). Elsewhere there is nothing to tick (0).
int32 Thread_Tick(void);
// Waits on the calling thread's event signal (the main thread's on threads
// not started here) or its exit signal; answers whether it was set.
int32 Thread_Wait(int32 TimeoutMS);
int32 Thread_WaitForExit(int32 TimeoutMS);
// Sets that thread's event signal, or the main thread's (and calls the hook)
// when the id matches no started thread. SignalEvent marks it as an event post.
int32 Thread_Signal(uint32 ThreadId);
int32 Thread_SignalEvent(uint32 ThreadId);
// Sets the thread's exit and event signals; 0 when no started thread has the id.
int32 Thread_SignalExit(uint32 ThreadId);

// 1 and a counted reference, or 0 and null. The calling thread finds itself
// even after its function returned (during the final drain).
int32 Thread_FindThreadById(uint32 ThreadId, Thread **Record);
// Drops one reference and clears the handle; the last one frees the record
// (a thread that was never joined is joined, or detached when it drops the
// last reference itself, so that its stack is given back).
int32 Thread_Release(Thread **Record);

// Counted references to a queue (drop with EventQueue_Release), or null: for
// ids of no started thread, and on threads not started here. Null stands for
// the main queue in every queue operation.
EventQueue *Thread_GetEventQueueHandle(uint32 ThreadId);
EventQueue *Thread_GetCurrentEventQueueHandle(void);
EventQueue *Thread_GetMainEventQueueHandle(void);

int32 Thread_SetUnhandledSignal(Thread_UnhandledSignalFunc Function);
// Installs the join check (null removes it); it may be set before Thread_Init
// and outlives Thread_Remove. The notification center installs its own while
// it exists. Release builds keep it but never ask it.
int32 Thread_SetJoinCheck(Thread_JoinCheckFunc Function);
// A fatal stop when a started thread has not ticked for more than 60 seconds.
int32 Thread_CheckForDeadlock(void);

RUNTIME_EXTERN_C_END

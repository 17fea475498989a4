// Event queues: deferred calls for one owner thread. Any thread posts an event
// (a function, the instance it is for, a payload copied into the event and a
// due time on the monotonic clock); only the owner thread runs the due events,
// in posting order, when it flushes the queue. Completions of asynchronous
// work reach their owners this way.
//
// The main thread's queue is addressed by the null handle; it is made by
// EventQueue_Init with a flush budget of 0.1 s, so that a long run of events
// cannot starve the main loop. Every thread started by Thread_Begin owns one
// more queue, created for it and drained once more after its function returns.
//
// Concurrency: each queue has its own lock. Event functions run with it
// released (they may post to the same queue); release functions run with it
// held and must not touch the queue. After EventQueue_RemoveInstance returns
// on a foreign thread, no function of that instance runs any more: it waits
// until the owner is outside every event function. The owner never waits.
#pragma once

#include "runtime/class.h"
#include "runtime/types.h"

#define EVENTQUEUE_CLASSID 0xc97be418u
// The largest payload an event carries; posting more is a fatal stop.
#define EVENTQUEUE_MAXPAYLOADSIZE 64

RUNTIME_EXTERN_C_BEGIN

typedef struct EventQueue EventQueue;

// Event and release functions receive the instance and the event's copy of
// the payload (null when none was posted).
typedef int32 (*EventQueue_EventFunc)(void *Instance, void *Payload);
// 1 when the queued event stands for the new one.
typedef int32 (*EventQueue_CompareFunc)(void *NewInstance, void *NewPayload, void *QueuedInstance,
                                        void *QueuedPayload);
// An object's process step, queued at most once per instance and function.
typedef int32 (*EventQueue_ProcessFunc)(void *Instance);

// The main queue: Init makes it (owned by the calling thread; a second call
// does nothing), Remove releases it.
int32 EventQueue_Init(void);
int32 EventQueue_Remove(void);

// A queue owned by the calling thread, without a flush budget.
int32 EventQueue_Create(EventQueue **Handle);
// Calls the release function of every pending event (never its function),
// then frees the queue and clears the handle.
int32 EventQueue_Delete(EventQueue **Handle);
CLASS_DECLARE_REFERENCE(EventQueue, EventQueue)

int32 EventQueue_SetThreadId(EventQueue *Handle, uint32 ThreadId);
// Seconds a flush may spend before it leaves the rest for the next one; 0: no budget.
int32 EventQueue_SetFlushTimeout(EventQueue *Handle, float64 Seconds);

// Adds. A null handle is the main queue. Each answers 1 when it queued a new
// event; only a unique add may answer 0 (an equal event was already queued).
// An event due now wakes the owner thread (Thread_SignalEvent).
int32 EventQueue_AddReal(EventQueue *Handle, void *Instance, const void *Payload, int32 Size,
                         EventQueue_EventFunc Function, const char *File, int32 Line);
int32 EventQueue_AddComplexEvent(EventQueue *Handle, void *Instance, const void *Payload, int32 Size,
                                 EventQueue_EventFunc Function, EventQueue_EventFunc ReleaseFunction);
// When an equal event is queued, its due time is lowered to now (never
// raised) and nothing new is queued. Events marked removed are never equal.
int32 EventQueue_AddUnique(EventQueue *Handle, void *Instance, const void *Payload, int32 Size,
                           EventQueue_EventFunc Function, EventQueue_CompareFunc Compare);
int32 EventQueue_AddDelay(EventQueue *Handle, void *Instance, const void *Payload, int32 Size,
                          EventQueue_EventFunc Function, float64 DelaySeconds);
// Due at the given monotonic time (Time_GetCurrent seconds).
int32 EventQueue_AddTime(EventQueue *Handle, void *Instance, const void *Payload, int32 Size,
                         EventQueue_EventFunc Function, float64 DueTime);
// Queues Function(Instance) unless the same instance and function are queued
// already. Always 1.
int32 EventQueue_AddProcess(EventQueue *Handle, void *Instance, EventQueue_ProcessFunc Function);
// The same on that thread's queue; the main queue when the id matches no
// started thread.
int32 EventQueue_AddProcessByThreadId(uint32 ThreadId, void *Instance, EventQueue_ProcessFunc Function);

// Marks every queued event of the instance as removed; the next flush drops
// them and calls only their release functions.
int32 EventQueue_RemoveInstance(EventQueue *Handle, void *Instance);
int32 EventQueue_RemoveInstanceByThreadId(uint32 ThreadId, void *Instance);

// Runs the due events on the owner thread (any other caller is a fatal stop,
// unless the queue is empty); events posted while the pass runs wait for the
// next flush. 1 when the pass finished, 0 when the budget ran out first (the
// owner is signalled to flush again).
int32 EventQueue_Flush(EventQueue *Handle);

// The run and compare functions behind EventQueue_AddProcess.
int32 EventQueue_ProcessRun(void *Instance, void *Payload);
int32 EventQueue_ProcessCompare(void *NewInstance, void *NewPayload, void *QueuedInstance, void *QueuedPayload);

RUNTIME_EXTERN_C_END

// Posts with the caller's file and line, kept in the event for diagnosis.
#define EventQueue_Add(Handle, Instance, Payload, Size, Function) \
    EventQueue_AddReal((Handle), (Instance), (Payload), (Size), (Function), __FILE__, __LINE__)

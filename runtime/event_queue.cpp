// Event queues (see event_queue.h).
//
// Records come from the queue's pool (through a list of spare records the
// queue keeps in front of it) and are counted: one reference for the list,
// one more while a flush walks over them, so a record unlinked while the lock
// is released stays valid until the walk lets go of it. A record is in the
// list exactly when it has a predecessor or is the head; a flush that finds
// the event it was about to visit unlinked (by a nested flush from inside an
// event function) starts again from the head.
//
// The clock counts whole milliseconds, so a post made during a pass is often
// stamped with the pass's own start time. Each event therefore carries the
// queue's post number, and a pass runs only events posted before it began:
// the rest wait for the next flush, as their later due time would say.
//
// An event due at its post needs no clock reading: the clock never runs
// back, so every pass that begins after the post finds it due, and a pass
// already running holds it back by its post number. Such events carry
// DueAtPost, which sits below every reading: a unique add (due now) never
// lowers it, and the due tests answer yes as the reading would.
#include "runtime/event_queue.h"

#include <string.h>
#include <time.h>

#include "runtime/containers/pool.h"
#include "runtime/critical_section_internal.h"
#include "runtime/debug.h"
#include "runtime/memory.h"
#include "runtime/thread.h"
#include "runtime/time.h"

namespace {

constexpr uint32 EventTag = 0x18c354db;
constexpr uint32 ProcessTag = 0x74495cc2;
constexpr uint32 EventsPerChunk = 5;
// Records a queue keeps for reuse in front of its pool, so a burst of posts
// takes them back without the pool's bookkeeping. The pool keeps its chunks
// until the queue goes anyway, so spares hold no memory it would have given
// back; the bound only caps how many records it counts as out.
constexpr uint32 MaxSpareEvents = 4096;
// The main queue's budget: the single-precision 0.1, widened.
constexpr float64 MainFlushTimeout = (float64)0.1f;
constexpr float64 DueAtPost = -__builtin_inf();

} // namespace

// The payload's room follows the record directly in its pooled block.
struct EventQueueEventStruct {
    uint32 Tag;
    int32 RefCount; // the list's reference, plus one while a flush holds it
    EventQueueEventStruct *Next;
    EventQueueEventStruct *Prev;
    EventQueue_EventFunc Function;
    EventQueue_EventFunc ReleaseFunction;
    void *Instance;
    int32 Removed;
    uint32 Sequence; // the queue's post number (fills the padding before DueTime)
    float64 DueTime; // monotonic seconds; DueAtPost for an event due at its post
    const char *File;
    int32 Line;
    int32 PayloadSize;
};
static_assert(sizeof(EventQueueEventStruct) == 80, "payloads start aligned for any record");

namespace {

constexpr size_t EVENTQUEUE_MAXEVENTSIZE = sizeof(EventQueueEventStruct) + EVENTQUEUE_MAXPAYLOADSIZE;

struct EventQueueList {
    EventQueueEventStruct *Head;
    EventQueueEventStruct *Tail;
    int32 Count;
};

// What EventQueue_AddProcess posts.
struct ProcessPayload {
    uint32 Tag;
    uint32 Zero;
    EventQueue_ProcessFunc Function;
};
static_assert(sizeof(ProcessPayload) == 16);

} // namespace

struct EventQueue {
    ClassStruct Class;
    uint32 ThreadId;    // the owner: the only thread that flushes
    int32 InCallback;   // above 0 while the owner runs an event function unlocked
    float64 FlushTimeout;
    void *Lock;
    Pool *Events;
    EventQueueList List;
    uint32 PostCount; // numbers the posts, so a pass can tell which came after its start
    // Records let go of, kept for the next posts (linked through Next) and
    // handed back to the pool when the queue goes.
    EventQueueEventStruct *Spare;
    uint32 SpareCount;
};

namespace {

EventQueue *GlobalEventQueue = nullptr;

// A null handle is the main queue.
[[gnu::always_inline]] inline EventQueue *ResolveQueue(EventQueue *Handle) {
    if (Handle == nullptr) {
        Debug_CheckPointer(GlobalEventQueue);
        return GlobalEventQueue;
    }
    Class_CheckHandle(Handle, EVENTQUEUE_CLASSID);
    return Handle;
}

// The queue's lock is taken twice per event, so its uncontended paths are inlined.
[[gnu::always_inline]] inline void LockQueue(EventQueue *Queue) {
    CriticalSectionInt_Lock(Queue->Lock, __FILE__, __LINE__);
}
[[gnu::always_inline]] inline void UnlockQueue(EventQueue *Queue) {
    CriticalSectionInt_Unlock(Queue->Lock, __FILE__, __LINE__);
}

uint32 OwnerOf(EventQueue *Queue) { return __atomic_load_n(&Queue->ThreadId, __ATOMIC_ACQUIRE); }

void *PayloadOf(EventQueueEventStruct *Event) {
    return Event->PayloadSize > 0 ? reinterpret_cast<uint8 *>(Event + 1) : nullptr;
}

// Counts change only under the queue lock, so they need no atomic steps.
void HoldEvent(EventQueueEventStruct *Event) { Event->RefCount++; }

// Queue lock held.
[[gnu::always_inline]] inline void DropEvent(EventQueue *Queue, EventQueueEventStruct *Event) {
    if (--Event->RefCount != 0) return;
    Event->Tag = 0;
    if (Queue->SpareCount < MaxSpareEvents) {
        Event->Next = Queue->Spare;
        Queue->Spare = Event;
        Queue->SpareCount++;
        return;
    }
    Pool_Free(Queue->Events, &Event, (int32)EVENTQUEUE_MAXEVENTSIZE);
}

// Queue lock held.
[[gnu::always_inline]] inline EventQueueEventStruct *TakeEvent(EventQueue *Queue) {
    EventQueueEventStruct *Event = Queue->Spare;
    if (Event == nullptr)
        return static_cast<EventQueueEventStruct *>(Pool_Alloc(Queue->Events, (int32)EVENTQUEUE_MAXEVENTSIZE));
    Queue->Spare = Event->Next;
    Queue->SpareCount--;
    return Event;
}

bool IsLinked(EventQueue *Queue, EventQueueEventStruct *Event) {
    return Event->Prev != nullptr || Queue->List.Head == Event;
}

[[gnu::always_inline]] inline void LinkEvent(EventQueue *Queue, EventQueueEventStruct *Event) {
    Event->Prev = Queue->List.Tail;
    Event->Next = nullptr;
    if (Queue->List.Tail != nullptr)
        Queue->List.Tail->Next = Event;
    else
        Queue->List.Head = Event;
    Queue->List.Tail = Event;
    // Written under the lock; read without it only to skip an empty flush.
    __atomic_store_n(&Queue->List.Count, Queue->List.Count + 1, __ATOMIC_RELEASE);
}

// Takes the event out of the list and drops the list's reference.
[[gnu::always_inline]] inline void UnlinkEvent(EventQueue *Queue, EventQueueEventStruct *Event) {
    if (Event->Prev != nullptr)
        Event->Prev->Next = Event->Next;
    else
        Queue->List.Head = Event->Next;
    if (Event->Next != nullptr)
        Event->Next->Prev = Event->Prev;
    else
        Queue->List.Tail = Event->Prev;
    Event->Next = Event->Prev = nullptr;
    __atomic_store_n(&Queue->List.Count, Queue->List.Count - 1, __ATOMIC_RELEASE);
    DropEvent(Queue, Event);
}

void SleepOneMillisecond() {
    timespec Remaining{0, 1000000};
    while (nanosleep(&Remaining, &Remaining) != 0) {
    }
}

// Now: the clock as the caller read it for an event due after a delay (so a
// post reads the clock once), or NoReading to read it when it is needed.
constexpr float64 NoReading = -1.0;

// The body behind every add. The plain adds due at once inline it, so that
// the hottest posts get a copy without the branches they never take; the
// others share EventQueue_AddTimeInternal below.
[[gnu::always_inline]] inline int32 AddEvent(EventQueue *Handle, void *Instance, const void *Payload, int32 Size,
                                             EventQueue_EventFunc Function, EventQueue_EventFunc ReleaseFunction,
                                             EventQueue_CompareFunc Compare, float64 DueTime, float64 Now,
                                             const char *File, int32 Line) {
    EventQueue *Queue = ResolveQueue(Handle);
    Debug_CheckPointer(Function);
    // A negative size reads as a huge one and stops here too.
    uint32 InternalEventSize = (uint32)Size;
    Debug_Assert(sizeof(EventQueueEventStruct) + InternalEventSize <= EVENTQUEUE_MAXEVENTSIZE,
                 "Event exceed max size");

    LockQueue(Queue);
    if (Compare != nullptr) {
        for (EventQueueEventStruct *Queued = Queue->List.Head; Queued != nullptr; Queued = Queued->Next) {
            // A removed twin will never run, so it must not stand in for the new event.
            if (Queued->Removed) continue;
            if (Compare(Instance, const_cast<void *>(Payload), Queued->Instance, PayloadOf(Queued)) != 1) continue;
            // Only a queued event due later than its post needs the reading.
            if (Queued->DueTime != DueAtPost) {
                if (Now == NoReading) Now = Time_GetCurrent();
                if (DueTime == DueAtPost) DueTime = Now;
                if (DueTime < Queued->DueTime) Queued->DueTime = DueTime;
            }
            bool DueNow = Queued->DueTime == DueAtPost || Queued->DueTime <= Now;
            UnlockQueue(Queue);
            if (DueNow) Thread_SignalEvent(OwnerOf(Queue));
            return FALSE;
        }
    }

    // Every field is set here and the payload room past the payload is
    // cleared, so the record is as a zeroed one would be.
    EventQueueEventStruct *Event = TakeEvent(Queue);
    const size_t Copied = Payload != nullptr && Size >= 1 ? (size_t)Size : 0;
    // The whole room at a fixed size is a few wide stores; the copy then lands on it.
    memset(Event + 1, 0, EVENTQUEUE_MAXPAYLOADSIZE);
    Event->Tag = EventTag;
    Event->RefCount = 1;
    Event->Removed = 0;
    Event->Sequence = ++Queue->PostCount;
    Event->DueTime = DueTime;
    Event->Instance = Instance;
    Event->PayloadSize = Size;
    if (Copied > 0) memcpy(Event + 1, Payload, Copied);
    Event->Function = Function;
    Event->ReleaseFunction = ReleaseFunction;
    Event->File = File;
    Event->Line = Line;
    LinkEvent(Queue, Event);
    UnlockQueue(Queue);

    if (DueTime == DueAtPost || DueTime <= (Now != NoReading ? Now : Time_GetCurrent()))
        Thread_SignalEvent(OwnerOf(Queue));
    return TRUE;
}

int32 EventQueue_AddTimeInternal(EventQueue *Handle, void *Instance, const void *Payload, int32 Size,
                                 EventQueue_EventFunc Function, EventQueue_EventFunc ReleaseFunction,
                                 EventQueue_CompareFunc Compare, float64 DueTime, float64 Now, const char *File,
                                 int32 Line) {
    return AddEvent(Handle, Instance, Payload, Size, Function, ReleaseFunction, Compare, DueTime, Now, File, Line);
}

int32 DeleteThroughClass(void *HandleAddress) { return EventQueue_Delete(static_cast<EventQueue **>(HandleAddress)); }

} // namespace

CLASS_DEFINE_REFERENCE(EventQueue, EventQueue, EVENTQUEUE_CLASSID)

int32 EventQueue_Init(void) {
    if (GlobalEventQueue != nullptr) return TRUE;
    EventQueue *Queue = nullptr;
    EventQueue_Create(&Queue);
    EventQueue_SetFlushTimeout(Queue, MainFlushTimeout);
    GlobalEventQueue = Queue;
    return TRUE;
}

int32 EventQueue_Remove(void) {
    if (GlobalEventQueue == nullptr) return FALSE;
    EventQueue *Queue = GlobalEventQueue;
    GlobalEventQueue = nullptr;
    EventQueue_Release(&Queue);
    return TRUE;
}

int32 EventQueue_Create(EventQueue **Handle) {
    Debug_CheckPointer(Handle);
    EventQueue *Queue = Memory_New(EventQueue);
    Class_InitHeader(Queue, EVENTQUEUE_CLASSID, DeleteThroughClass);
    Queue->ThreadId = Thread_GetCurrentId();
    Pool_Create(&Queue->Events);
    Pool_SetMemorySize(Queue->Events, (uint32)EVENTQUEUE_MAXEVENTSIZE);
    Pool_SetChunkSize(Queue->Events, EventsPerChunk);
    Pool_SetZeroOnAlloc(Queue->Events, 0);
    CriticalSection_Create(&Queue->Lock);
    Debug_CheckPointer(Queue->Lock);
    *Handle = Queue;
    return TRUE;
}

int32 EventQueue_Delete(EventQueue **Handle) {
    Debug_CheckPointer(Handle);
    EventQueue *Queue = *Handle;
    Class_CheckHandle(Queue, EVENTQUEUE_CLASSID);
    LockQueue(Queue);
    while (EventQueueEventStruct *Event = Queue->List.Head) {
        HoldEvent(Event);
        UnlinkEvent(Queue, Event);
        if (Event->ReleaseFunction != nullptr) Event->ReleaseFunction(Event->Instance, PayloadOf(Event));
        DropEvent(Queue, Event);
    }
    while (EventQueueEventStruct *Event = Queue->Spare) {
        Queue->Spare = Event->Next;
        Pool_Free(Queue->Events, &Event, (int32)EVENTQUEUE_MAXEVENTSIZE);
    }
    Queue->SpareCount = 0;
    UnlockQueue(Queue);
    Pool_Reset(Queue->Events);
    Pool_Delete(&Queue->Events);
    CriticalSection_Delete(&Queue->Lock);
    Queue->Class.ClassId = 0;
    Memory_Delete(Queue);
    *Handle = nullptr;
    return TRUE;
}

int32 EventQueue_SetThreadId(EventQueue *Handle, uint32 ThreadId) {
    Class_CheckHandle(Handle, EVENTQUEUE_CLASSID);
    __atomic_store_n(&Handle->ThreadId, ThreadId, __ATOMIC_RELEASE);
    return TRUE;
}

int32 EventQueue_SetFlushTimeout(EventQueue *Handle, float64 Seconds) {
    Class_CheckHandle(Handle, EVENTQUEUE_CLASSID);
    CriticalSection_Lock(Handle->Lock);
    Handle->FlushTimeout = Seconds;
    CriticalSection_Unlock(Handle->Lock);
    return TRUE;
}

int32 EventQueue_AddReal(EventQueue *Handle, void *Instance, const void *Payload, int32 Size,
                         EventQueue_EventFunc Function, const char *File, int32 Line) {
    return AddEvent(Handle, Instance, Payload, Size, Function, nullptr, nullptr, DueAtPost, NoReading, File, Line);
}

int32 EventQueue_AddComplexEvent(EventQueue *Handle, void *Instance, const void *Payload, int32 Size,
                                 EventQueue_EventFunc Function, EventQueue_EventFunc ReleaseFunction) {
    return AddEvent(Handle, Instance, Payload, Size, Function, ReleaseFunction, nullptr, DueAtPost, NoReading, nullptr,
                    0);
}

int32 EventQueue_AddUnique(EventQueue *Handle, void *Instance, const void *Payload, int32 Size,
                           EventQueue_EventFunc Function, EventQueue_CompareFunc Compare) {
    return EventQueue_AddTimeInternal(Handle, Instance, Payload, Size, Function, nullptr, Compare, DueAtPost, NoReading,
                                      nullptr, 0);
}

int32 EventQueue_AddDelay(EventQueue *Handle, void *Instance, const void *Payload, int32 Size,
                          EventQueue_EventFunc Function, float64 DelaySeconds) {
    const float64 Now = Time_GetCurrent();
    return EventQueue_AddTimeInternal(Handle, Instance, Payload, Size, Function, nullptr, nullptr, Now + DelaySeconds,
                                      Now, nullptr, 0);
}

int32 EventQueue_AddTime(EventQueue *Handle, void *Instance, const void *Payload, int32 Size,
                         EventQueue_EventFunc Function, float64 DueTime) {
    return EventQueue_AddTimeInternal(Handle, Instance, Payload, Size, Function, nullptr, nullptr, DueTime, NoReading,
                                      nullptr, 0);
}

int32 EventQueue_AddProcess(EventQueue *Handle, void *Instance, EventQueue_ProcessFunc Function) {
    Debug_CheckPointer(Function);
    ProcessPayload Payload{ProcessTag, 0, Function};
    EventQueue_AddTimeInternal(Handle, Instance, &Payload, (int32)sizeof(Payload), EventQueue_ProcessRun, nullptr,
                               EventQueue_ProcessCompare, DueAtPost, NoReading, nullptr, 0);
    return TRUE;
}

int32 EventQueue_AddProcessByThreadId(uint32 ThreadId, void *Instance, EventQueue_ProcessFunc Function) {
    EventQueue *Queue = Thread_GetEventQueueHandle(ThreadId);
    int32 Result = EventQueue_AddProcess(Queue, Instance, Function);
    if (Queue != nullptr) EventQueue_Release(&Queue);
    return Result;
}

int32 EventQueue_RemoveInstance(EventQueue *Handle, void *Instance) {
    EventQueue *Queue = ResolveQueue(Handle);
    LockQueue(Queue);
    // A foreign caller waits until the owner is outside every event function,
    // so that none of this instance's functions is still running on return.
    while (Queue->InCallback != 0 && Thread_GetCurrentId() != OwnerOf(Queue)) {
        UnlockQueue(Queue);
        SleepOneMillisecond();
        LockQueue(Queue);
    }
    for (EventQueueEventStruct *Event = Queue->List.Head; Event != nullptr; Event = Event->Next)
        if (Event->Instance == Instance) Event->Removed = 1;
    UnlockQueue(Queue);
    return TRUE;
}

int32 EventQueue_RemoveInstanceByThreadId(uint32 ThreadId, void *Instance) {
    EventQueue *Queue = Thread_GetEventQueueHandle(ThreadId);
    int32 Result = EventQueue_RemoveInstance(Queue, Instance);
    if (Queue != nullptr) EventQueue_Release(&Queue);
    return Result;
}

int32 EventQueue_Flush(EventQueue *Handle) {
    EventQueue *Queue = ResolveQueue(Handle);
    // An empty queue, the common case of a tick, needs no reading.
    if (__atomic_load_n(&Queue->List.Count, __ATOMIC_ACQUIRE) == 0) return TRUE;
    const float64 Start = Time_GetCurrent();
    if (Thread_GetCurrentId() != OwnerOf(Queue))
        Debug_Abort("Assertion failed (Thread_GetCurrentId() == EventQueue->ThreadId)\n"
                    "Unable to flush event queue on invalid thread");

    LockQueue(Queue);
    float64 Timeout = Queue->FlushTimeout;
    const uint32 LastPost = Queue->PostCount;
    EventQueueEventStruct *Event = Queue->List.Head;
    if (Event != nullptr) HoldEvent(Event);
    while (Event != nullptr) {
        EventQueueEventStruct *Next = Event->Next;
        if (Next != nullptr) HoldEvent(Next);
        // Wrapping difference: posts of this pass number above LastPost.
        const bool PostedBefore = (int32)(Event->Sequence - LastPost) <= 0;
        if (Event->Removed || (PostedBefore && Event->DueTime <= Start)) {
            UnlinkEvent(Queue, Event);
            if (!Event->Removed) {
                Queue->InCallback++;
                UnlockQueue(Queue);
                Event->Function(Event->Instance, PayloadOf(Event));
                LockQueue(Queue);
                Queue->InCallback--;
            }
            if (Event->ReleaseFunction != nullptr) Event->ReleaseFunction(Event->Instance, PayloadOf(Event));
        }
        DropEvent(Queue, Event);

        if (Timeout > 0 && Time_GetCurrent() - Start >= Timeout) {
            bool Rest = Next != nullptr;
            if (Next != nullptr) DropEvent(Queue, Next);
            UnlockQueue(Queue);
            Thread_Signal(OwnerOf(Queue));
            return Rest ? FALSE : TRUE;
        }
        if (Next != nullptr && !IsLinked(Queue, Next)) {
            // A nested flush ran it already; its links are stale.
            DropEvent(Queue, Next);
            Next = Queue->List.Head;
            if (Next != nullptr) HoldEvent(Next);
        }
        Event = Next;
    }
    UnlockQueue(Queue);
    return TRUE;
}

int32 EventQueue_ProcessRun(void *Instance, void *Payload) {
    auto *Process = static_cast<ProcessPayload *>(Payload);
    Class_CheckTag(Process, Tag, ProcessTag);
    return Process->Function(Instance);
}

int32 EventQueue_ProcessCompare(void *NewInstance, void *NewPayload, void *QueuedInstance, void *QueuedPayload) {
    if (NewInstance != QueuedInstance || NewPayload == nullptr || QueuedPayload == nullptr) return FALSE;
    auto *New = static_cast<ProcessPayload *>(NewPayload);
    auto *Queued = static_cast<ProcessPayload *>(QueuedPayload);
    return Queued->Tag == ProcessTag && New->Function == Queued->Function;
}

// Threads: the module record, the thread records and their container (see
// thread.h).
//
// The module lock guards the thread list and the record pool. Reference
// counts change atomically. A record stays in the list only while its
// function runs; the thread's own reference outlives that, so a record found
// in the list under the lock always has a live reference to borrow from.
#include "runtime/thread.h"

#include <pthread.h>

#include <atomic>

#include "runtime/class.h"
#include "runtime/containers/pool.h"
#include "runtime/critical_section.h"
#include "runtime/debug.h"
#include "runtime/log.h"
#include "runtime/memory.h"
#include "runtime/posix/platform.h"
#include "runtime/signal.h"
#include "runtime/time.h"

struct Thread {
    uint32 Tag;
    Signal *EventSignal; // auto-reset: something to do
    Signal *ExitSignal;  // asked to end
    Signal *DoneSignal;  // function returned and queue drained
    int32 RefCount;
    uint32 ThreadId;
    int32 Mode;
    float64 LastTickTime; // monotonic seconds; written by Thread_Tick, read by the deadlock check
    void *PlatformHandle;
    EventQueue *Queue;
    void *User;
    Thread_Func Function;
    Thread *Next;
    Thread *Prev;
    int32 Joined; // the platform thread was joined (Thread_Join)
};

namespace {

constexpr uint32 ModuleTag = 0x8b68c676;
constexpr uint32 ThreadTag = 0x25b3fa47;
constexpr uint32 RecordsPerChunk = 10;

struct ThreadList {
    Thread *Head;
    Thread *Tail;
    int32 Count;
};

struct ThreadModule {
    uint32 Tag;
    uint32 MainThreadId;
    Pool *Records;
    Signal *MainEventSignal; // auto-reset
    Signal *MainExitSignal;
    void *Lock;
    Thread_UnhandledSignalFunc UnhandledSignal;
    ThreadList Threads; // started threads whose function has not returned
};

ThreadModule *GlobalThread = nullptr;
// Outside the module record: the notification center may install it before
// Thread_Init and remove it after Thread_Remove.
Thread_JoinCheckFunc JoinCheck = nullptr;
// The record of the thread running here; null on the main thread and on
// threads not started by Thread_BeginEx.
thread_local Thread *CurrentThread = nullptr;

ThreadModule *Module() {
    Debug_CheckPointer(GlobalThread);
    return GlobalThread;
}

void LinkThread(ThreadModule *Handle, Thread *Record) {
    Record->Prev = Handle->Threads.Tail;
    Record->Next = nullptr;
    if (Handle->Threads.Tail != nullptr)
        Handle->Threads.Tail->Next = Record;
    else
        Handle->Threads.Head = Record;
    Handle->Threads.Tail = Record;
    Handle->Threads.Count++;
}

void UnlinkThread(ThreadModule *Handle, Thread *Record) {
    if (Record->Prev != nullptr)
        Record->Prev->Next = Record->Next;
    else
        Handle->Threads.Head = Record->Next;
    if (Record->Next != nullptr)
        Record->Next->Prev = Record->Prev;
    else
        Handle->Threads.Tail = Record->Prev;
    Record->Next = Record->Prev = nullptr;
    Handle->Threads.Count--;
}

// The last reference is gone: nothing else can reach the record. A thread
// that was never joined would keep its stack for good, so it is joined here
// (it has dropped its own reference, so it is ending) or, when it drops the
// last reference itself, detached so that it frees its stack as it ends.
void FreeRecord(Thread *Record) {
    if (Record->PlatformHandle != nullptr && !Record->Joined) {
        if (Record->ThreadId == Thread_GetCurrentId())
            pthread_detach(pthread_self());
        else if (!Platform_ThreadJoin(Record->PlatformHandle))
            Log_Error("Unable to join thread %d [LE: %d]\n", (int32)Record->ThreadId, Platform_GetLastError());
    }
    if (Record->Queue != nullptr) EventQueue_Release(&Record->Queue);
    if (Record->EventSignal != nullptr) Signal_Delete(&Record->EventSignal);
    if (Record->ExitSignal != nullptr) Signal_Delete(&Record->ExitSignal);
    if (Record->DoneSignal != nullptr) Signal_Delete(&Record->DoneSignal);
    if (Record->PlatformHandle != nullptr) Platform_ThreadEnd(&Record->PlatformHandle);
    Record->Tag = 0;
    ThreadModule *Handle = Module();
    CriticalSection_Lock(Handle->Lock);
    Pool_Free(Handle->Records, &Record, (int32)sizeof(Thread));
    CriticalSection_Unlock(Handle->Lock);
}

// Runs on the new thread around the thread's function.
int32 Thread_ThreadContainer(void *Context) {
    Thread *Record = static_cast<Thread *>(Context);
    CurrentThread = Record;
    // The creator holds the lock until the record is complete and listed.
    CriticalSection_Lock(GlobalThread->Lock);
    CriticalSection_Unlock(GlobalThread->Lock);

    EventQueue_SetThreadId(Record->Queue, Thread_GetCurrentId());
    Platform_ThreadContainerStart(Record->PlatformHandle, Record->Mode);
    int32 Result = Record->Function(Record->User);

    CriticalSection_Lock(GlobalThread->Lock);
    UnlinkThread(GlobalThread, Record);
    CriticalSection_Unlock(GlobalThread->Lock);
    // Events posted just before the function returned still run here.
    while (!EventQueue_Flush(Record->Queue)) {
    }
    Platform_ThreadContainerEnd(Record->PlatformHandle);
    Signal_Set(Record->DoneSignal, 1);
    CurrentThread = nullptr; // the record may be freed by the release below
    Thread_Release(&Record);
    return Result;
}

// Inlined into both signal calls: every due post goes through here.
[[gnu::always_inline]] inline int32 SignalThread(uint32 ThreadId, int32 IsEvent) {
    ThreadModule *Handle = GlobalThread;
    if (Handle == nullptr) return FALSE;
    Thread *Record = nullptr;
    // The main thread is never in the list: posts to it skip the search and its lock.
    if (ThreadId != Handle->MainThreadId && Thread_FindThreadById(ThreadId, &Record)) {
        Signal_Set(Record->EventSignal, 1);
        Thread_Release(&Record);
        return TRUE;
    }
    // The main thread, or a thread that has ended: the main loop takes it.
    Signal_Set(Handle->MainEventSignal, 1);
    Thread_UnhandledSignalFunc Hook = __atomic_load_n(&Handle->UnhandledSignal, __ATOMIC_ACQUIRE);
    if (Hook != nullptr) Hook(ThreadId, IsEvent);
    return TRUE;
}

int32 WaitOn(Signal *Handle, int32 TimeoutMS) {
    int32 Signalled = 0;
    Signal_Wait(Handle, &Signalled, TimeoutMS);
    return Signalled;
}

// Waits for the thread to be done; in debug builds a wait without end asks
// the join check in slices and stops the process when the joined thread waits
// for this one (the join would never end, and neither would its wait). The
// check runs again after each slice because the joined thread may start
// waiting for the joiner after the join began.
int32 WaitForDone(Thread *Record, int32 TimeoutMS) {
#ifndef NDEBUG
    constexpr int32 JoinCheckSliceMS = 100;
    if (TimeoutMS < 0) {
        for (;;) {
            Thread_JoinCheckFunc Check = __atomic_load_n(&JoinCheck, __ATOMIC_ACQUIRE);
            if (Check == nullptr) break;
            if (Check(Record->ThreadId))
                Debug_Abort("Assertion failed (!JoinCheck(Thread->ThreadId))\n"
                            "Thread_Join - Thread %d is blocked waiting for the joining thread %d, the join "
                            "would never end\n",
                            (int32)Record->ThreadId, (int32)Thread_GetCurrentId());
            if (WaitOn(Record->DoneSignal, JoinCheckSliceMS)) return TRUE;
        }
    }
#endif
    return WaitOn(Record->DoneSignal, TimeoutMS);
}

} // namespace

int32 Thread_Init(void) {
    if (GlobalThread != nullptr) return FALSE;
    ThreadModule *Handle = Memory_New(ThreadModule);
    Handle->Tag = ModuleTag;
    Handle->MainThreadId = Platform_ThreadGetCurrentId();
    Pool_Create(&Handle->Records);
    Pool_SetMemorySize(Handle->Records, (uint32)sizeof(Thread));
    Pool_SetChunkSize(Handle->Records, RecordsPerChunk);
    Signal_Create(&Handle->MainEventSignal);
    Signal_SetAutoReset(Handle->MainEventSignal, TRUE);
    Signal_Create(&Handle->MainExitSignal);
    CriticalSection_Create(&Handle->Lock);
    Debug_CheckPointer(Handle->Lock);
    GlobalThread = Handle;
    return TRUE;
}

int32 Thread_Remove(void) {
    ThreadModule *Handle = GlobalThread;
    if (Handle == nullptr) return FALSE;
    if (Handle->Threads.Count != 0) Log_Error("Threads still running at remove (%d)\n", Handle->Threads.Count);
    GlobalThread = nullptr;
    Signal_Delete(&Handle->MainEventSignal);
    Signal_Delete(&Handle->MainExitSignal);
    CriticalSection_Delete(&Handle->Lock);
    Pool_Delete(&Handle->Records);
    Handle->Tag = 0;
    Memory_Delete(Handle);
    return TRUE;
}

int32 Thread_Begin(Thread **Handle, void *User, Thread_Func Function) {
    return Thread_BeginEx(Handle, THREAD_MODE_PLAIN, User, Function);
}

int32 Thread_BeginEx(Thread **Handle, int32 Mode, void *User, Thread_Func Function) {
    Debug_CheckPointer(Handle);
    Debug_CheckPointer(Function);
    ThreadModule *State = Module();
    *Handle = nullptr;

    CriticalSection_Lock(State->Lock);
    auto *Record = static_cast<Thread *>(Pool_Alloc(State->Records, (int32)sizeof(Thread)));
    *Record = Thread{};
    Record->Tag = ThreadTag;
    Record->Function = Function;
    Record->Mode = Mode;
    Record->User = User;
    Record->LastTickTime = Time_GetCurrent();
    Record->RefCount = 2; // the creator's handle and the thread itself
    Signal_Create(&Record->EventSignal);
    Signal_SetAutoReset(Record->EventSignal, TRUE);
    Signal_Create(&Record->ExitSignal);
    Signal_Create(&Record->DoneSignal);
    EventQueue_Create(&Record->Queue);
    *Handle = Record;

    uint32 ThreadId = 0;
    void *PlatformHandle = nullptr;
    if (Platform_ThreadBegin(Thread_ThreadContainer, Record, &ThreadId, &PlatformHandle)) {
        Record->ThreadId = ThreadId;
        Record->PlatformHandle = PlatformHandle;
        // The container claims the queue too, but a post made right after
        // this returns must already wake the new thread, not its creator.
        EventQueue_SetThreadId(Record->Queue, ThreadId);
        LinkThread(State, Record);
        CriticalSection_Unlock(State->Lock);
        return TRUE;
    }
    int32 Error = Platform_GetLastError();
    Record->RefCount = 1; // no thread holds it
    CriticalSection_Unlock(State->Lock);
    Log_Error("Unable to start thread [LE: %d]\n", Error);
    Thread_Release(Handle);
    return FALSE;
}

int32 Thread_Join(int32 TimeoutMS, Thread **Handle) {
    Debug_CheckPointer(Handle);
    Thread *Record = *Handle;
    if (Record == nullptr) return TRUE;
    Class_CheckTag(Record, Tag, ThreadTag);
    if (!WaitForDone(Record, TimeoutMS)) return FALSE;
    if (!Platform_ThreadJoin(Record->PlatformHandle)) {
        Log_Error("Unable to join thread %d [LE: %d]\n", (int32)Record->ThreadId, Platform_GetLastError());
        return FALSE;
    }
    Record->Joined = TRUE;
    Thread_Release(Handle);
    return TRUE;
}

int32 Thread_SetName(Thread *Handle, const char *Name) {
    Class_CheckTag(Handle, Tag, ThreadTag);
    Debug_CheckPointer(Name);
    return Platform_ThreadSetDescription(Handle->PlatformHandle, Handle->ThreadId, Name);
}

uint32 Thread_GetId(Thread *Handle) {
    if (Handle == nullptr) return 0;
    Class_CheckTag(Handle, Tag, ThreadTag);
    return Handle->ThreadId;
}

uint32 Thread_GetCurrentId(void) { return Platform_ThreadGetCurrentId(); }

uint32 Thread_GetMainId(void) { return Module()->MainThreadId; }

int32 Thread_Tick(void) {
    Thread *Record = CurrentThread;
    if (Record == nullptr) return FALSE;
    Platform_ThreadTick(Record->PlatformHandle);
    std::atomic_ref<float64>(Record->LastTickTime).store(Time_GetCurrent(), std::memory_order_relaxed);
    EventQueue_Flush(Record->Queue);
    return TRUE;
}

int32 Thread_Wait(int32 TimeoutMS) {
    Thread *Record = CurrentThread;
    return WaitOn(Record != nullptr ? Record->EventSignal : Module()->MainEventSignal, TimeoutMS);
}

int32 Thread_WaitForExit(int32 TimeoutMS) {
    Thread *Record = CurrentThread;
    return WaitOn(Record != nullptr ? Record->ExitSignal : Module()->MainExitSignal, TimeoutMS);
}

int32 Thread_Signal(uint32 ThreadId) { return SignalThread(ThreadId, 0); }

int32 Thread_SignalEvent(uint32 ThreadId) { return SignalThread(ThreadId, 1); }

int32 Thread_SignalExit(uint32 ThreadId) {
    Thread *Record = nullptr;
    if (!Thread_FindThreadById(ThreadId, &Record)) return FALSE;
    Signal_Set(Record->ExitSignal, 1);
    Signal_Set(Record->EventSignal, 1);
    Thread_Release(&Record);
    return TRUE;
}

int32 Thread_FindThreadById(uint32 ThreadId, Thread **Record) {
    Debug_CheckPointer(Record);
    *Record = nullptr;
    ThreadModule *Handle = GlobalThread;
    if (Handle == nullptr) return FALSE;
    Thread *Found = nullptr;
    if (ThreadId == Thread_GetCurrentId()) {
        Found = CurrentThread;
        if (Found != nullptr) __atomic_add_fetch(&Found->RefCount, 1, __ATOMIC_SEQ_CST);
    } else {
        CriticalSection_Lock(Handle->Lock);
        for (Found = Handle->Threads.Head; Found != nullptr; Found = Found->Next)
            if (Found->ThreadId == ThreadId) break;
        if (Found != nullptr) __atomic_add_fetch(&Found->RefCount, 1, __ATOMIC_SEQ_CST);
        CriticalSection_Unlock(Handle->Lock);
    }
    *Record = Found;
    return Found != nullptr;
}

int32 Thread_Release(Thread **Record) {
    Debug_CheckPointer(Record);
    Thread *Old = *Record;
    Class_CheckTag(Old, Tag, ThreadTag);
    *Record = nullptr;
    if (__atomic_sub_fetch(&Old->RefCount, 1, __ATOMIC_SEQ_CST) == 0) FreeRecord(Old);
    return TRUE;
}

EventQueue *Thread_GetEventQueueHandle(uint32 ThreadId) {
    Thread *Record = nullptr;
    if (!Thread_FindThreadById(ThreadId, &Record)) return nullptr;
    EventQueue *Queue = EventQueue_AddRef(Record->Queue);
    Thread_Release(&Record);
    return Queue;
}

EventQueue *Thread_GetCurrentEventQueueHandle(void) {
    Thread *Record = CurrentThread;
    return Record != nullptr ? EventQueue_AddRef(Record->Queue) : nullptr;
}

EventQueue *Thread_GetMainEventQueueHandle(void) { return nullptr; }

int32 Thread_SetUnhandledSignal(Thread_UnhandledSignalFunc Function) {
    __atomic_store_n(&Module()->UnhandledSignal, Function, __ATOMIC_RELEASE);
    return TRUE;
}

int32 Thread_SetJoinCheck(Thread_JoinCheckFunc Function) {
    __atomic_store_n(&JoinCheck, Function, __ATOMIC_RELEASE);
    return TRUE;
}

int32 Thread_CheckForDeadlock(void) {
    ThreadModule *Handle = Module();
    CriticalSection_Lock(Handle->Lock);
    float64 CurrentTime = Time_GetCurrent();
    for (Thread *Record = Handle->Threads.Head; Record != nullptr; Record = Record->Next) {
        float64 LastTickTime = std::atomic_ref<float64>(Record->LastTickTime).load(std::memory_order_relaxed);
        if (!(CurrentTime - LastTickTime <= (float64)THREAD_DEADLOCK_SECONDS))
            Debug_Abort("Assertion failed (CurrentTime - Thread->LastTickTime <= 60.f)\n"
                        "Deadlock detected on thread %d",
                        (int32)Record->ThreadId);
    }
    CriticalSection_Unlock(Handle->Lock);
    return TRUE;
}

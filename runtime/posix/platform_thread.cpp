// Atomics, bit scans, raw threads and sleeping.
//
// A thread's id is its kernel thread id (gettid): a pthread_t is an address,
// and its low 32 bits may repeat between threads. The id is only known on the
// new thread, so Platform_ThreadBegin waits until the thread has published it.
// The thread record belongs to its creator: the new thread reads it only
// before that hand-shake, so Platform_ThreadEnd may free it at any time after.
#include <errno.h>
#include <pthread.h>
#include <sched.h>
#include <semaphore.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "runtime/class.h"
#include "runtime/log.h"
#include "runtime/memory.h"
#include "runtime/posix/platform.h"
#include "runtime/text/unicode_codec.h"

namespace {

struct PlatformThreadStruct {
    ClassStruct Class;
    pthread_t Thread;
    int32 Mode;
    Platform_ThreadFunc Function;
    void *Context;
    // Per-loop memory pool of container mode 1; this platform has none.
    void *Pool;
    uint32 ThreadId;
};

// Lives on the creator's stack for the duration of Platform_ThreadBegin.
struct ThreadStart {
    PlatformThreadStruct *Record;
    sem_t Started;
};

constexpr int32 MinimumSleepMS = 15;
constexpr int32 ThreadNameMaxBytes = 15; // the kernel's comm field holds 15 bytes and a NUL

void *ThreadTrampoline(void *Argument) {
    auto *Start = static_cast<ThreadStart *>(Argument);
    Platform_ThreadFunc Function = Start->Record->Function;
    void *Context = Start->Record->Context;
    Start->Record->ThreadId = (uint32)gettid();
    sem_post(&Start->Started); // after this neither Start nor the record is ours
    return reinterpret_cast<void *>((intptr)Function(Context));
}

} // namespace

extern "C" int32 Platform_Increment(int32 *Value) {
    Debug_CheckPointer(Value);
    Debug_Assert(((unsigned long)Value & 3) == 0, "Unaligned value");
    return __atomic_add_fetch(Value, 1, __ATOMIC_SEQ_CST);
}

extern "C" int32 Platform_Decrement(int32 *Value) {
    Debug_CheckPointer(Value);
    Debug_Assert(((unsigned long)Value & 3) == 0, "Unaligned value");
    return __atomic_sub_fetch(Value, 1, __ATOMIC_SEQ_CST);
}

extern "C" int32 Platform_Add(int32 *Value, int32 Amount) {
    Debug_CheckPointer(Value);
    Debug_Assert(((unsigned long)Value & 3) == 0, "Unaligned value");
    return __atomic_add_fetch(Value, Amount, __ATOMIC_SEQ_CST);
}

extern "C" int32 Platform_CAS(int32 *Destination, int32 Exchange, int32 Comparand) {
    Debug_CheckPointer(Destination);
    int32 *Value = Destination;
    Debug_Assert(((unsigned long)Value & 3) == 0, "Unaligned value");
    __atomic_compare_exchange_n(Value, &Comparand, Exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return Comparand; // on failure the builtin stored the value it found
}

extern "C" void *Platform_CASPointer(void **Destination, void *Exchange, void *Comparand) {
    Debug_CheckPointer(Destination);
    void **Pointer = Destination;
    Debug_Assert(((intptr)Pointer & (sizeof(void *) - 1)) == 0, "Unaligned value");
    __atomic_compare_exchange_n(Pointer, &Comparand, Exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return Comparand;
}

extern "C" int32 Platform_CTZ(uint32 Value) { return __builtin_ctz(Value); }
extern "C" int32 Platform_CLZ(uint32 Value) { return __builtin_clz(Value); }

extern "C" int32 Platform_ThreadBegin(Platform_ThreadFunc Function, void *Context, uint32 *ThreadId, void **Handle) {
    Debug_CheckPointer(Function);
    Debug_CheckPointer(ThreadId);
    Debug_CheckPointer(Handle);
    *ThreadId = 0;
    *Handle = nullptr;
    auto *Record = Memory_New(PlatformThreadStruct);
    if (Record == nullptr) return 0;
    Record->Class.ClassId = PLATFORMTHREAD_CLASSID;
    Record->Class.RefCount = 1;
    Record->Function = Function;
    Record->Context = Context;

    ThreadStart Start{Record, {}};
    int Result = sem_init(&Start.Started, 0, 0) == 0 ? 0 : errno;
    if (Result == 0) {
        pthread_attr_t Attributes;
        Result = pthread_attr_init(&Attributes);
        if (Result == 0) {
            pthread_attr_setdetachstate(&Attributes, PTHREAD_CREATE_JOINABLE);
            Result = pthread_create(&Record->Thread, &Attributes, ThreadTrampoline, &Start);
            pthread_attr_destroy(&Attributes);
        }
        if (Result == 0)
            while (sem_wait(&Start.Started) != 0 && errno == EINTR) {
            }
        sem_destroy(&Start.Started);
    }
    if (Result != 0) {
        Memory_Delete(Record);
        errno = Result;
        return 0;
    }
    *ThreadId = Record->ThreadId;
    *Handle = Record;
    return 1;
}

extern "C" int32 Platform_ThreadEnd(void **Handle) {
    Debug_CheckPointer(Handle);
    Class_CheckHandle(*Handle, PLATFORMTHREAD_CLASSID);
    auto *Record = static_cast<PlatformThreadStruct *>(*Handle);
    Record->Class.ClassId = 0;
    Memory_Delete(Record);
    *Handle = nullptr;
    return 1;
}

extern "C" int32 Platform_ThreadJoin(void *Thread) {
    Class_CheckHandle(Thread, PLATFORMTHREAD_CLASSID);
    int Result = pthread_join(static_cast<PlatformThreadStruct *>(Thread)->Thread, nullptr);
    if (Result != 0) errno = Result;
    return Result == 0;
}

extern "C" int32 Platform_ThreadContainerStart(void *Thread, int32 Mode) {
    Class_CheckHandle(Thread, PLATFORMTHREAD_CLASSID);
    if (Mode != PLATFORM_THREAD_MODE_COCOA) return 1;
    auto *Record = static_cast<PlatformThreadStruct *>(Thread);
    // 20 % of the current policy's priority range above its minimum. The
    // default policy's range is 0..0, so ordinary threads keep priority 0.
    int Policy = 0;
    sched_param Parameter{};
    bool Done = pthread_getschedparam(pthread_self(), &Policy, &Parameter) == 0;
    if (Done) {
        int Minimum = sched_get_priority_min(Policy), Maximum = sched_get_priority_max(Policy);
        Parameter.sched_priority = (int)(Minimum + 0.2 * (Maximum - Minimum));
        Done = Minimum != -1 && Maximum != -1 && pthread_setschedparam(pthread_self(), Policy, &Parameter) == 0;
    }
    if (!Done) Log_Debug("Unable to set thread priority\n");
    Record->Mode = PLATFORM_THREAD_MODE_COCOA;
    return 1;
}

extern "C" int32 Platform_ThreadTick(void *Thread) {
    Class_CheckHandle(Thread, PLATFORMTHREAD_CLASSID);
    return 1;
}

extern "C" int32 Platform_ThreadContainerEnd(void *Thread) {
    Class_CheckHandle(Thread, PLATFORMTHREAD_CLASSID);
    return 1;
}

// The id is read on every log line and every fire, so each thread keeps its
// own copy; a forked child starts with the parent's copy and must drop it.
static thread_local uint32 CachedThreadId = 0;
static void ForgetThreadIdInChild(void) { CachedThreadId = 0; }

extern "C" uint32 Platform_ThreadGetCurrentId(void) {
    if (CachedThreadId == 0) {
        static pthread_once_t AtForkOnce = PTHREAD_ONCE_INIT;
        pthread_once(&AtForkOnce, [] { pthread_atfork(nullptr, nullptr, ForgetThreadIdInChild); });
        CachedThreadId = (uint32)gettid();
    }
    return CachedThreadId;
}

extern "C" int32 Platform_ThreadSetDescription(void *Thread, uint32 ThreadId, const char *Name) {
    Class_CheckHandle(Thread, PLATFORMTHREAD_CLASSID);
    Debug_CheckPointer(Name);
    Debug_Assert(Platform_ThreadGetCurrentId() == ThreadId,
                 "The thread name must be set from within the thread on Mac OS X");
    // Cut to the kernel's 15 bytes, back to the start of a UTF-8 character.
    char Cut[ThreadNameMaxBytes + 1];
    size_t Length = strnlen(Name, ThreadNameMaxBytes + 1);
    if (Length > ThreadNameMaxBytes) Length = unicode::CutLengthUtf8(Name, ThreadNameMaxBytes);
    memcpy(Cut, Name, Length);
    Cut[Length] = 0;
    int Result = pthread_setname_np(pthread_self(), Cut);
    if (Result != 0) errno = Result;
    return Result == 0;
}

extern "C" int32 Platform_SleepMS(int32 Milliseconds) {
    if (Milliseconds < MinimumSleepMS) Milliseconds = MinimumSleepMS;
    timespec Remaining{Milliseconds / 1000, (long)(Milliseconds % 1000) * 1000000L};
    while (nanosleep(&Remaining, &Remaining) != 0 && errno == EINTR) {
    }
    return 1;
}

// Signals over a pthread mutex and a condition variable on the monotonic
// clock (see signal.h).
#include "runtime/signal.h"

#include <errno.h>
#include <pthread.h>
#include <time.h>

#include "runtime/debug.h"
#include "runtime/memory.h"

struct Signal {
    int32 AutoReset; // 1: a wait consumes the flag and a set wakes one waiter
    int32 State;     // 0 or 1; changed by compare-and-swap under Mutex only
    pthread_mutex_t Mutex;
    pthread_cond_t Condition;
};

namespace {

// No positive wait is shorter than this.
constexpr int32 MinimumWaitMS = 15;

#define Signal_CheckAt(Handle, File, Line)                                                 \
    do {                                                                                   \
        if ((Handle) == nullptr) Debug_AbortInt((File), (Line), "Pointer is NULL\n");      \
    } while (0)

// Answers whether the flag was set; in auto-reset mode a set flag is cleared
// by the same exchange, so only one waiter can take it. Mutex held.
bool TakeState(Signal *Handle) {
    if (__atomic_load_n(&Handle->AutoReset, __ATOMIC_RELAXED) == 1) {
        int32 Expected = 1;
        return __atomic_compare_exchange_n(&Handle->State, &Expected, 0, false, __ATOMIC_SEQ_CST,
                                           __ATOMIC_SEQ_CST);
    }
    return __atomic_load_n(&Handle->State, __ATOMIC_SEQ_CST) == 1;
}

timespec DeadlineAfter(int32 Milliseconds) {
    timespec Now{};
    clock_gettime(CLOCK_MONOTONIC, &Now);
    int64 Nanoseconds = (int64)Now.tv_nsec + (int64)(Milliseconds % 1000) * 1000000;
    Now.tv_sec += Milliseconds / 1000 + (time_t)(Nanoseconds / 1000000000);
    Now.tv_nsec = (long)(Nanoseconds % 1000000000);
    return Now;
}

} // namespace

int32 Signal_Create(Signal **Handle) {
    Debug_CheckPointer(Handle);
    Signal *Created = Memory_New(Signal);
    pthread_mutex_init(&Created->Mutex, nullptr);
    pthread_condattr_t Attributes;
    pthread_condattr_init(&Attributes);
    pthread_condattr_setclock(&Attributes, CLOCK_MONOTONIC);
    pthread_cond_init(&Created->Condition, &Attributes);
    pthread_condattr_destroy(&Attributes);
    *Handle = Created;
    return TRUE;
}

int32 Signal_Delete(Signal **Handle) {
    Debug_CheckPointer(Handle);
    Signal *Old = *Handle;
    Debug_CheckPointer(Old);
    pthread_cond_destroy(&Old->Condition);
    pthread_mutex_destroy(&Old->Mutex);
    Memory_Delete(Old);
    *Handle = nullptr;
    return TRUE;
}

int32 Signal_SetInt(Signal *Handle, int32 State, const char *File, int32 Line) {
    Signal_CheckAt(Handle, File, Line);
    int32 From = State == 1 ? 0 : 1;
    int32 To = 1 - From;
    // A flag that already holds the new state would not change and would wake
    // nobody: a post to a busy thread, whose flag is still set, skips the mutex.
    // A waiter that consumes the flag after this read consumes it on this
    // set's behalf, so no wake is lost.
    if (__atomic_load_n(&Handle->State, __ATOMIC_SEQ_CST) == To) return TRUE;
    pthread_mutex_lock(&Handle->Mutex);
    // Only a change wakes anyone: setting a set signal is silent.
    bool Changed = __atomic_compare_exchange_n(&Handle->State, &From, To, false, __ATOMIC_SEQ_CST,
                                               __ATOMIC_SEQ_CST);
    if (Changed && To == 1) {
        if (__atomic_load_n(&Handle->AutoReset, __ATOMIC_RELAXED) == 1)
            pthread_cond_signal(&Handle->Condition);
        else
            pthread_cond_broadcast(&Handle->Condition);
    }
    pthread_mutex_unlock(&Handle->Mutex);
    return TRUE;
}

int32 Signal_Get(Signal *Handle, int32 *State) {
    Debug_CheckPointer(Handle);
    Debug_CheckPointer(State);
    *State = __atomic_load_n(&Handle->State, __ATOMIC_SEQ_CST);
    return TRUE;
}

int32 Signal_WaitInt(Signal *Handle, int32 *Signalled, int32 TimeoutMS, const char *File, int32 Line) {
    Signal_CheckAt(Handle, File, Line);
    int32 Result = TRUE;
    pthread_mutex_lock(&Handle->Mutex);
    bool Taken = TakeState(Handle);
    if (!Taken && TimeoutMS < 0) {
        while (!(Taken = TakeState(Handle))) {
            int Error = pthread_cond_wait(&Handle->Condition, &Handle->Mutex);
            if (Error != 0) {
                Result = FALSE;
                break;
            }
        }
    } else if (!Taken && TimeoutMS > 0) {
        timespec Deadline = DeadlineAfter(TimeoutMS < MinimumWaitMS ? MinimumWaitMS : TimeoutMS);
        for (;;) {
            int Error = pthread_cond_timedwait(&Handle->Condition, &Handle->Mutex, &Deadline);
            // A set that raced with the deadline still counts.
            if ((Taken = TakeState(Handle)) || Error == ETIMEDOUT) break;
            if (Error != 0 && Error != EINTR) {
                Result = FALSE;
                break;
            }
        }
    }
    pthread_mutex_unlock(&Handle->Mutex);
    if (Signalled != nullptr) *Signalled = Taken ? 1 : 0;
    return Result;
}

int32 Signal_SetAutoReset(Signal *Handle, int32 AutoReset) {
    Debug_CheckPointer(Handle);
    pthread_mutex_lock(&Handle->Mutex);
    __atomic_store_n(&Handle->AutoReset, AutoReset == 1 ? 1 : 0, __ATOMIC_RELAXED);
    pthread_mutex_unlock(&Handle->Mutex);
    return TRUE;
}

int32 Signal_GetAutoReset(Signal *Handle, int32 *AutoReset) {
    Debug_CheckPointer(Handle);
    Debug_CheckPointer(AutoReset);
    *AutoReset = __atomic_load_n(&Handle->AutoReset, __ATOMIC_RELAXED);
    return TRUE;
}

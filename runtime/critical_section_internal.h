// The critical section's record and its uncontended paths, inline. Only
// critical_section.cpp and the modules that lock on every event, record or
// fire (the event queue, the pool, the notification center) include this
// header; everyone else goes through critical_section.h.
//
// The futex word is 0 when free, 1 when held and 2 when held with threads
// asleep on it. Only the holder writes the owner and the depth, so a thread
// that reads itself as the owner holds the section and may re-enter it
// without an atomic step.
#pragma once

#include <pthread.h>

#include <atomic>

#include "runtime/class.h"
#include "runtime/critical_section.h"

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#define CRITICALSECTION_TSAN 1
#else
#define CRITICALSECTION_TSAN 0
#endif

struct CriticalSectionStruct {
    ClassStruct Class;
    std::atomic<uint32> Word;
    uint32 Depth; // re-entries of the owner; written by the owner only
    std::atomic<uintptr_t> Owner;
};

// The slow halves: a lock that found the word taken, an unlock that found sleepers.
void CriticalSectionInt_LockContended(CriticalSectionStruct *Section);
void CriticalSectionInt_WakeOne(CriticalSectionStruct *Section);

// The thread's control block: unique among live threads and read without a call.
inline uintptr_t CriticalSectionInt_CurrentOwner() {
#if defined(__x86_64__) || defined(__aarch64__)
    return (uintptr_t)__builtin_thread_pointer();
#else
    return (uintptr_t)pthread_self();
#endif
}

// The class check, reported at the caller's file and line.
inline CriticalSectionStruct *CriticalSectionInt_Checked(void *Handle, const char *File, int32 Line) {
    auto *Section = static_cast<CriticalSectionStruct *>(Handle);
    Class_CheckTagAt(Section, Class.ClassId, CRITICALSECTION_CLASSID, File, Line);
    return Section;
}

inline int32 CriticalSectionInt_Lock(void *Handle, const char *File, int32 Line) {
    CriticalSectionStruct *Section = CriticalSectionInt_Checked(Handle, File, Line);
    const uintptr_t Self = CriticalSectionInt_CurrentOwner();
#if CRITICALSECTION_TSAN
    __tsan_mutex_pre_lock(Section, 0);
#endif
    if (Section->Owner.load(std::memory_order_relaxed) == Self) {
        Section->Depth++;
    } else {
        uint32 Free = 0;
        if (!Section->Word.compare_exchange_strong(Free, 1, std::memory_order_acquire, std::memory_order_relaxed))
            CriticalSectionInt_LockContended(Section);
        Section->Owner.store(Self, std::memory_order_relaxed);
        Section->Depth = 1;
    }
#if CRITICALSECTION_TSAN
    __tsan_mutex_post_lock(Section, 0, 0);
#endif
    return 1;
}

inline int32 CriticalSectionInt_Unlock(void *Handle, const char *File, int32 Line) {
    CriticalSectionStruct *Section = CriticalSectionInt_Checked(Handle, File, Line);
    if (Section->Owner.load(std::memory_order_relaxed) != CriticalSectionInt_CurrentOwner()) return 0;
#if CRITICALSECTION_TSAN
    __tsan_mutex_pre_unlock(Section, 0);
#endif
    if (--Section->Depth == 0) {
        Section->Owner.store(0, std::memory_order_relaxed);
        if (Section->Word.exchange(0, std::memory_order_release) == 2) CriticalSectionInt_WakeOne(Section);
    }
#if CRITICALSECTION_TSAN
    __tsan_mutex_post_unlock(Section, 0);
#endif
    return 1;
}

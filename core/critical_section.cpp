// Critical sections (see critical_section.h).
//
// The futex word is 0 when free, 1 when held and 2 when held with threads
// asleep on it. Only the holder writes the owner and the depth, so a thread
// that reads itself as the owner holds the section and may re-enter it
// without an atomic step. A contended lock spins briefly before it sleeps:
// most sections guard a few stores.
#include "core/critical_section.h"

#include <linux/futex.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <new>

#include "core/class.h"
#include "core/memory.h"

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#define SECTION_TSAN 1
#else
#define SECTION_TSAN 0
#endif

namespace {

struct CriticalSectionStruct {
    ClassStruct Class;
    std::atomic<uint32> Word;
    uint32 Depth; // re-entries of the owner; written by the owner only
    std::atomic<uintptr_t> Owner;
};

constexpr int32 SpinsBeforeSleep = 100;

// The thread's control block: unique among live threads and read without a call.
uintptr_t CurrentOwner() {
#if defined(__x86_64__) || defined(__aarch64__)
    return (uintptr_t)__builtin_thread_pointer();
#else
    return (uintptr_t)pthread_self();
#endif
}

void FutexWait(std::atomic<uint32> *Word, uint32 Expected) {
    syscall(SYS_futex, reinterpret_cast<uint32 *>(Word), FUTEX_WAIT_PRIVATE, Expected, nullptr, nullptr, 0);
}

void FutexWakeOne(std::atomic<uint32> *Word) {
    syscall(SYS_futex, reinterpret_cast<uint32 *>(Word), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

void LockContended(CriticalSectionStruct *Section) {
    for (int32 Spin = 0; Spin < SpinsBeforeSleep; Spin++) {
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#endif
        uint32 Free = 0;
        if (Section->Word.load(std::memory_order_relaxed) == 0 &&
            Section->Word.compare_exchange_weak(Free, 1, std::memory_order_acquire, std::memory_order_relaxed))
            return;
    }
    // Marked as slept on, so the unlock that frees it wakes a sleeper; a
    // thread that takes it this way keeps the mark, as others may sleep too.
    while (Section->Word.exchange(2, std::memory_order_acquire) != 0) FutexWait(&Section->Word, 2);
}

// The class check, reported at the caller's file and line rather than here.
CriticalSectionStruct *CheckedSection(void *Handle, const char *File, int32 Line) {
    auto *Section = static_cast<CriticalSectionStruct *>(Handle);
    Class_CheckTagAt(Section, Class.ClassId, CRITICALSECTION_CLASSID, File, Line);
    return Section;
}

} // namespace

extern "C" int32 CriticalSection_CreateInt(void **Handle, const char *File, int32 Line) {
    if (Handle == nullptr) return 0;
    *Handle = nullptr;
    auto *Section = static_cast<CriticalSectionStruct *>(
        Memory_AllocInt((int32)sizeof(CriticalSectionStruct), MEMORY_FLAG_ZERO, File, Line));
    if (Section == nullptr) return 0;
    new (&Section->Word) std::atomic<uint32>(0);
    new (&Section->Owner) std::atomic<uintptr_t>(0);
    Section->Depth = 0;
#if SECTION_TSAN
    __tsan_mutex_create(Section, __tsan_mutex_write_reentrant);
#endif
    Section->Class.ClassId = CRITICALSECTION_CLASSID;
    Section->Class.RefCount = 1;
    *Handle = Section;
    return 1;
}

extern "C" int32 CriticalSection_LockInt(void *Handle, const char *File, int32 Line) {
    CriticalSectionStruct *Section = CheckedSection(Handle, File, Line);
    const uintptr_t Self = CurrentOwner();
#if SECTION_TSAN
    __tsan_mutex_pre_lock(Section, 0);
#endif
    if (Section->Owner.load(std::memory_order_relaxed) == Self) {
        Section->Depth++;
    } else {
        uint32 Free = 0;
        if (!Section->Word.compare_exchange_strong(Free, 1, std::memory_order_acquire, std::memory_order_relaxed))
            LockContended(Section);
        Section->Owner.store(Self, std::memory_order_relaxed);
        Section->Depth = 1;
    }
#if SECTION_TSAN
    __tsan_mutex_post_lock(Section, 0, 0);
#endif
    return 1;
}

extern "C" int32 CriticalSection_UnlockInt(void *Handle, const char *File, int32 Line) {
    CriticalSectionStruct *Section = CheckedSection(Handle, File, Line);
    if (Section->Owner.load(std::memory_order_relaxed) != CurrentOwner()) return 0;
#if SECTION_TSAN
    __tsan_mutex_pre_unlock(Section, 0);
#endif
    if (--Section->Depth == 0) {
        Section->Owner.store(0, std::memory_order_relaxed);
        if (Section->Word.exchange(0, std::memory_order_release) == 2) FutexWakeOne(&Section->Word);
    }
#if SECTION_TSAN
    __tsan_mutex_post_unlock(Section, 0);
#endif
    return 1;
}

extern "C" int32 CriticalSection_ValidHandle(void *Handle) {
    return Handle != nullptr && static_cast<ClassStruct *>(Handle)->ClassId == CRITICALSECTION_CLASSID;
}

extern "C" int32 CriticalSection_Delete(void **Handle) {
    Debug_CheckPointer(Handle);
    if (!CriticalSection_ValidHandle(*Handle)) return 0;
    auto *Section = static_cast<CriticalSectionStruct *>(*Handle);
#if SECTION_TSAN
    __tsan_mutex_destroy(Section, 0);
#endif
    // A stale handle copy must not pass the class check after the free.
    Section->Class.ClassId = 0;
    Memory_Free(Section, (int32)sizeof(CriticalSectionStruct));
    *Handle = nullptr;
    return 1;
}

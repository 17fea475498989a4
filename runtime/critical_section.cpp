// Critical sections (see critical_section.h; the record and the uncontended
// paths are in critical_section_internal.h). A contended lock sleeps on the
// futex word.
#include "runtime/critical_section.h"

#include <linux/futex.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <new>

#include "runtime/critical_section_internal.h"
#include "runtime/memory.h"

// The taker marks the word as slept on, so the unlock that frees it wakes a
// sleeper; a thread that takes it this way keeps the mark, as others may
// sleep too. No spinning first: under the tracked allocator's eight-thread
// load a spin measured no better, and often worse.
void CriticalSectionInt_LockContended(CriticalSectionStruct *Section) {
    while (Section->Word.exchange(2, std::memory_order_acquire) != 0)
        syscall(SYS_futex, reinterpret_cast<uint32 *>(&Section->Word), FUTEX_WAIT_PRIVATE, 2, nullptr, nullptr, 0);
}

void CriticalSectionInt_WakeOne(CriticalSectionStruct *Section) {
    syscall(SYS_futex, reinterpret_cast<uint32 *>(&Section->Word), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

extern "C" int32 CriticalSection_CreateInt(void **Handle, const char *File, int32 Line) {
    if (Handle == nullptr) return 0;
    *Handle = nullptr;
    auto *Section = static_cast<CriticalSectionStruct *>(
        Memory_AllocInt((int32)sizeof(CriticalSectionStruct), MEMORY_FLAG_ZERO, File, Line));
    if (Section == nullptr) return 0;
    new (&Section->Word) std::atomic<uint32>(0);
    new (&Section->Owner) std::atomic<uintptr_t>(0);
    Section->Depth = 0;
#if CRITICALSECTION_TSAN
    __tsan_mutex_create(Section, __tsan_mutex_write_reentrant);
#endif
    Section->Class.ClassId = CRITICALSECTION_CLASSID;
    Section->Class.RefCount = 1;
    *Handle = Section;
    return 1;
}

extern "C" int32 CriticalSection_LockInt(void *Handle, const char *File, int32 Line) {
    return CriticalSectionInt_Lock(Handle, File, Line);
}

extern "C" int32 CriticalSection_UnlockInt(void *Handle, const char *File, int32 Line) {
    return CriticalSectionInt_Unlock(Handle, File, Line);
}

extern "C" int32 CriticalSection_ValidHandle(void *Handle) {
    return Handle != nullptr && static_cast<ClassStruct *>(Handle)->ClassId == CRITICALSECTION_CLASSID;
}

extern "C" int32 CriticalSection_Delete(void **Handle) {
    Debug_CheckPointer(Handle);
    if (!CriticalSection_ValidHandle(*Handle)) return 0;
    auto *Section = static_cast<CriticalSectionStruct *>(*Handle);
#if CRITICALSECTION_TSAN
    __tsan_mutex_destroy(Section, 0);
#endif
    // A stale handle copy must not pass the class check after the free.
    Section->Class.ClassId = 0;
    Memory_Free(Section, (int32)sizeof(CriticalSectionStruct));
    *Handle = nullptr;
    return 1;
}

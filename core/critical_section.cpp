// Critical sections over recursive pthread mutexes (see critical_section.h).
#include "core/critical_section.h"

#include <pthread.h>

#include "core/class.h"
#include "core/memory.h"

namespace {

struct CriticalSectionStruct {
    ClassStruct Class;
    pthread_mutex_t Mutex;
};

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

    pthread_mutexattr_t Attributes;
    bool Made = pthread_mutexattr_init(&Attributes) == 0;
    if (Made) {
        Made = pthread_mutexattr_settype(&Attributes, PTHREAD_MUTEX_RECURSIVE) == 0 &&
               pthread_mutex_init(&Section->Mutex, &Attributes) == 0;
        pthread_mutexattr_destroy(&Attributes);
    }
    if (!Made) {
        Memory_FreeInt(Section, (int32)sizeof(CriticalSectionStruct), File, Line);
        return 0;
    }
    Section->Class.ClassId = CRITICALSECTION_CLASSID;
    Section->Class.RefCount = 1;
    *Handle = Section;
    return 1;
}

extern "C" int32 CriticalSection_LockInt(void *Handle, const char *File, int32 Line) {
    return pthread_mutex_lock(&CheckedSection(Handle, File, Line)->Mutex) == 0;
}

extern "C" int32 CriticalSection_UnlockInt(void *Handle, const char *File, int32 Line) {
    return pthread_mutex_unlock(&CheckedSection(Handle, File, Line)->Mutex) == 0;
}

extern "C" int32 CriticalSection_ValidHandle(void *Handle) {
    return Handle != nullptr && static_cast<ClassStruct *>(Handle)->ClassId == CRITICALSECTION_CLASSID;
}

extern "C" int32 CriticalSection_Delete(void **Handle) {
    Debug_CheckPointer(Handle);
    if (!CriticalSection_ValidHandle(*Handle)) return 0;
    auto *Section = static_cast<CriticalSectionStruct *>(*Handle);
    pthread_mutex_destroy(&Section->Mutex);
    // A stale handle copy must not pass the class check after the free.
    Section->Class.ClassId = 0;
    Memory_Free(Section, (int32)sizeof(CriticalSectionStruct));
    *Handle = nullptr;
    return 1;
}

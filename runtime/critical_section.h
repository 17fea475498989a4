// Critical sections: the recursive locks used everywhere in the runtime. The
// memory and log modules take their own lock again from within, so a thread
// may lock a section it already holds; every lock needs its unlock.
//
// A section is a class-header object (class id 0xff945dbc) that owns one
// recursive lock: an owner and a depth beside a futex word, so an uncontended
// lock or unlock is one atomic step and a re-entry none. It is allocated from
// the runtime allocator with the creating caller's file and line, so a leaked
// lock is reported where it was made. Sections are created before the class registry exists (the memory
// lock is the first object of the process), so creation fills only the class
// id and reference count of the header, never an instance id.
#pragma once

#include "runtime/types.h"

#define CRITICALSECTION_CLASSID 0xff945dbcu

RUNTIME_EXTERN_C_BEGIN

// 1 and a new section in *Handle; 0 when Handle is null or the allocation or
// mutex set-up fails (*Handle stays null then).
int32 CriticalSection_CreateInt(void **Handle, const char *File, int32 Line);
// Lock and unlock; File and Line are for diagnosis only. A null or foreign
// handle is a fatal stop at the caller's line. Unlocking a section the calling
// thread does not hold changes nothing and answers 0.
int32 CriticalSection_LockInt(void *Handle, const char *File, int32 Line);
int32 CriticalSection_UnlockInt(void *Handle, const char *File, int32 Line);
// 1 when Handle is not null and carries the section's class id.
int32 CriticalSection_ValidHandle(void *Handle);
// Frees a valid section and clears *Handle; 0 (nothing freed) for an invalid one.
int32 CriticalSection_Delete(void **Handle);

RUNTIME_EXTERN_C_END

#define CriticalSection_Create(Handle) CriticalSection_CreateInt((Handle), __FILE__, __LINE__)
#define CriticalSection_Lock(Handle) CriticalSection_LockInt((Handle), __FILE__, __LINE__)
#define CriticalSection_Unlock(Handle) CriticalSection_UnlockInt((Handle), __FILE__, __LINE__)

#ifdef __cplusplus
// Holds a section for a scope. A null section means "no lock wanted" (a
// module not started yet, or an object made without a lock) and is skipped.
class CriticalSectionGuard {
  public:
    explicit CriticalSectionGuard(void *Section) : Section(Section) {
        if (Section != nullptr) CriticalSection_Lock(Section);
    }
    ~CriticalSectionGuard() {
        if (Section != nullptr) CriticalSection_Unlock(Section);
    }
    CriticalSectionGuard(const CriticalSectionGuard &) = delete;
    CriticalSectionGuard &operator=(const CriticalSectionGuard &) = delete;

  private:
    void *Section;
};
#endif

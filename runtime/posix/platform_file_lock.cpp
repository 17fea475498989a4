// Byte-range locks, sparse mode, memory maps and the group access descriptor
// (see platform_file.h).
//
// Locks are open-file-description locks: they belong to the descriptor's open
// file, not to the process, so closing another descriptor of the same file
// (a second File on the path, a library reading it) does not drop them, and
// they conflict with the classic record locks of other processes.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "runtime/class.h"
#include "runtime/debug.h"
#include "runtime/memory.h"
#include "runtime/posix/platform.h"
#include "runtime/posix/platform_file_internal.h"

struct PlatformSecurity {
    ClassStruct Class;
    PlatformSecurityDescriptor Descriptor;
};

namespace {

constexpr int32 LockAttempts = 10;

#define PlatformSecurity_Check(Handle) Class_CheckHandle((Handle), PLATFORMSECURITY_CLASSID)

} // namespace

extern "C" int32 Platform_Lock(int32 Descriptor, int32 LockType, int64 Length) {
    struct flock Range;
    memset(&Range, 0, sizeof(Range));
    Range.l_whence = SEEK_CUR;
    Range.l_start = 0;
    Range.l_len = (off_t)Length;
    Range.l_pid = 0; // required for open-file-description locks
    int Request = F_OFD_SETLK;
    switch (LockType) {
    case PLATFORM_LOCK_UNLOCK: Range.l_type = F_UNLCK; break;
    case PLATFORM_LOCK_EXCLUSIVE: Range.l_type = F_WRLCK; break;
    case PLATFORM_LOCK_EXCLUSIVE_WAIT: Range.l_type = F_WRLCK; Request = F_OFD_SETLKW; break;
    case PLATFORM_LOCK_SHARED: Range.l_type = F_RDLCK; break;
    case PLATFORM_LOCK_SHARED_WAIT: Range.l_type = F_RDLCK; Request = F_OFD_SETLKW; break;
    default: errno = EINVAL; return -1;
    }
    int Result = -1;
    for (int32 Attempt = 0; Attempt < LockAttempts && Result != 0; Attempt++) Result = fcntl(Descriptor, Request, &Range);
    return Result;
}

extern "C" int32 Platform_SparseMode(int32 Descriptor) {
    (void)Descriptor;
    errno = EOPNOTSUPP;
    return 0;
}

extern "C" int32 Platform_MapViewOfFile(int32 Descriptor, int32 Access, const char *Name, void **Address,
                                        uint64 *Length) {
    (void)Name;
    Debug_CheckPointer(Address);
    Debug_CheckPointer(Length);
    *Address = nullptr;
    if (*Length == 0) {
        struct stat Status;
        if (fstat(Descriptor, &Status) != 0) return 0;
        *Length = (uint64)Status.st_size;
    }
    if (*Length == 0 || *Length > (uint64)SIZE_MAX / 2) {
        errno = EINVAL; // nothing to map (mmap refuses an empty view)
        return 0;
    }
    const int Protection = PROT_READ | ((Access & PLATFORM_MAP_WRITE) ? PROT_WRITE : 0);
    void *View = mmap(nullptr, (size_t)*Length, Protection, MAP_SHARED, Descriptor, 0);
    if (View == MAP_FAILED) return 0;
    *Address = View;
    return 1;
}

extern "C" int32 Platform_UnmapViewOfFile(void **Address, uint64 Length) {
    Debug_CheckPointer(Address);
    if (*Address == nullptr) return 1;
    if (munmap(*Address, (size_t)Length) != 0) return 0;
    *Address = nullptr;
    return 1;
}

extern "C" int32 Platform_SecurityCreate(const char *GroupName, void **Handle) {
    Debug_CheckPointer(GroupName);
    Debug_CheckPointer(Handle);
    *Handle = nullptr;
    gid_t Group;
    if (!PlatformFile_LookUpGroup(GroupName, &Group)) {
        errno = ENOENT;
        return 0;
    }
    PlatformSecurity *Security = Memory_New(PlatformSecurity);
    Class_InitHeader(Security, PLATFORMSECURITY_CLASSID, nullptr);
    Security->Descriptor.GroupId = Group;
    Security->Descriptor.FileMode = 0660;
    Security->Descriptor.DirectoryMode = 0770;
    *Handle = Security;
    return 1;
}

extern "C" int32 Platform_SecurityGetDescriptor(void *Handle, PlatformSecurityDescriptor **Descriptor) {
    auto *Security = static_cast<PlatformSecurity *>(Handle);
    PlatformSecurity_Check(Security);
    Debug_CheckPointer(Descriptor);
    *Descriptor = &Security->Descriptor;
    return 1;
}

extern "C" int32 Platform_SecurityDelete(void **Handle) {
    Debug_CheckPointer(Handle);
    auto *Security = static_cast<PlatformSecurity *>(*Handle);
    PlatformSecurity_Check(Security);
    Security->Class.ClassId = 0;
    Memory_Delete(Security);
    *Handle = nullptr;
    return 1;
}

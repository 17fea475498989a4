// File-system primitives over the system calls (see platform_file.h): opening,
// status, access tests, links, attributes, times, ownership, directories and
// free space. Copying and moving live in platform_file_copy.cpp, the directory
// search in platform_file_find.cpp, locks and maps in platform_file_lock.cpp.
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <linux/fs.h>
#include <pwd.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <string>

#include "runtime/debug.h"
#include "runtime/files/path.h"
#include "runtime/log.h"
#include "runtime/posix/platform.h"
#include "runtime/posix/platform_file_internal.h"
#include "runtime/text/string.h"
#include "runtime/time.h"

namespace {

mode_t CreationMode(int32 Permissions) {
    mode_t Mode = 0;
    if (Permissions & PLATFORM_PERMISSION_READ) Mode |= 0444;
    if (Permissions & PLATFORM_PERMISSION_WRITE) Mode |= 0222;
    if (Permissions & PLATFORM_PERMISSION_EXECUTE) Mode |= 0111;
    return Mode;
}

// statx without following a final link; Descriptor above 0 reads the open
// file instead of Path.
bool StatX(const char *Path, int32 Descriptor, struct statx *Status) {
    if (Descriptor > 0) return statx(Descriptor, "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_BTIME, Status) == 0;
    return statx(AT_FDCWD, Path, AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, Status) == 0;
}

bool BrokenDownTime(int64 Seconds, struct tm *Output) {
    if (Output == nullptr) return true;
    time_t Value = (time_t)Seconds;
    return gmtime_r(&Value, Output) != nullptr;
}

bool EncodedSeconds(const struct tm *Time, struct timespec *Output) {
    float64 Encoded = 0;
    if (!Time_ConvertTmToEncoded(Time, &Encoded)) {
        errno = EINVAL;
        return false;
    }
    Output->tv_sec = (time_t)Encoded;
    Output->tv_nsec = (long)((Encoded - (float64)Output->tv_sec) * 1e6) * 1000L;
    return true;
}

// Sets one of the two times (index 0 access, 1 modification), leaving the
// other, on the link itself when Path is one.
bool SetOneTime(const char *Path, int32 Descriptor, int Index, const struct tm *Time) {
    struct timespec Times[2] = {{0, UTIME_OMIT}, {0, UTIME_OMIT}};
    if (!EncodedSeconds(Time, &Times[Index])) return false;
    if (Descriptor > 0) return futimens(Descriptor, Times) == 0;
    return utimensat(AT_FDCWD, Path, Times, AT_SYMLINK_NOFOLLOW) == 0;
}

bool StartsWithWithoutCase(const char *Text, const char *Prefix) {
    return strncasecmp(Text, Prefix, strlen(Prefix)) == 0;
}

// getpwnam_r / getgrnam_r with a buffer that grows while the entry does not fit.
bool LookUpUser(const char *Name, uid_t *User) {
    std::string Buffer(1024, 0);
    for (;;) {
        struct passwd Entry, *Found = nullptr;
        int Result = getpwnam_r(Name, &Entry, Buffer.data(), Buffer.size(), &Found);
        if (Result == ERANGE && Buffer.size() < (1u << 20)) {
            Buffer.resize(Buffer.size() * 2);
            continue;
        }
        if (Found == nullptr) return false;
        *User = Found->pw_uid;
        return true;
    }
}

} // namespace

bool PlatformFile_Resolve(const char *Path, char (&Resolved)[PLATFORM_RESOLVED_PATH_SIZE]) {
    Path_Resolve(Path, Resolved, PLATFORM_RESOLVED_PATH_SIZE);
    if (strlen(Resolved) < (size_t)PLATFORM_RESOLVED_PATH_SIZE - 1) return true;
    errno = ENAMETOOLONG;
    return false;
}

bool PlatformFile_LookUpGroup(const char *Name, gid_t *Group) {
    std::string Buffer(1024, 0);
    for (;;) {
        struct group Entry, *Found = nullptr;
        int Result = getgrnam_r(Name, &Entry, Buffer.data(), Buffer.size(), &Found);
        if (Result == ERANGE && Buffer.size() < (1u << 20)) {
            Buffer.resize(Buffer.size() * 2);
            continue;
        }
        if (Found == nullptr) return false;
        *Group = Found->gr_gid;
        return true;
    }
}

namespace {

// Set by the bundle module (Platform_SetBundleResolver); none until then.
Platform_BundleExecutableFunc BundleResolver = nullptr;

} // namespace

extern "C" int32 Platform_SetBundleResolver(Platform_BundleExecutableFunc Resolver) {
    // Every start-up sets the same resolver again: only a change is written.
    if (__atomic_load_n(&BundleResolver, __ATOMIC_ACQUIRE) != Resolver)
        __atomic_store_n(&BundleResolver, Resolver, __ATOMIC_RELEASE);
    return 1;
}

extern "C" int32 Platform_Open(const char *Path, int32 OpenFlags, int32 Share, int32 Permissions) {
    (void)Share;
    Debug_CheckPointer(Path);
    char Resolved[PLATFORM_RESOLVED_PATH_SIZE];
    if (!PlatformFile_Resolve(Path, Resolved)) return -1;
    // An application bundle is a folder: its executable is what opens.
    char Executable[PLATFORM_RESOLVED_PATH_SIZE];
    Platform_BundleExecutableFunc Resolver = __atomic_load_n(&BundleResolver, __ATOMIC_ACQUIRE);
    if (Resolver != nullptr && Resolver(Resolved, Executable, sizeof(Executable)))
        String_CopyLength(Resolved, Executable, sizeof(Resolved));
    return Platform_OpenRegular(Resolved, OpenFlags, CreationMode(Permissions));
}

extern "C" int32 Platform_OpenRegular(const char *Path, int32 OpenFlags, uint32 Mode) {
    Debug_CheckPointer(Path);
    // What is no file is refused before it is opened: an open wakes a writer
    // waiting on a FIFO and runs a device's driver (a watchdog arms, a tape
    // rewinds). The descriptor's own type is still checked below, for a path
    // changed between the two.
    struct stat Before;
    const int Looked = (OpenFlags & O_NOFOLLOW) != 0 ? lstat(Path, &Before) : stat(Path, &Before);
    if (Looked == 0 && !S_ISREG(Before.st_mode) && !S_ISDIR(Before.st_mode) && !S_ISLNK(Before.st_mode)) {
        errno = EINVAL;
        return -1;
    }
    int Descriptor;
    do {
        Descriptor = open(Path, OpenFlags | O_NONBLOCK | O_CLOEXEC, (mode_t)Mode);
    } while (Descriptor < 0 && errno == EINTR);
    if (Descriptor < 0) return -1;
    struct stat Status;
    int Refusal = 0;
    if (fstat(Descriptor, &Status) != 0) Refusal = errno;
    else if (S_ISDIR(Status.st_mode)) Refusal = EISDIR;
    else if (!S_ISREG(Status.st_mode)) Refusal = EINVAL;
    else if (!(OpenFlags & O_NONBLOCK) && fcntl(Descriptor, F_SETFL, fcntl(Descriptor, F_GETFL) & ~O_NONBLOCK) != 0)
        Refusal = errno;
    if (Refusal == 0) return Descriptor;
    close(Descriptor);
    errno = Refusal;
    return -1;
}

extern "C" int32 Platform_Stat(const char *Path, struct stat *Status) {
    Debug_CheckPointer(Path);
    Debug_CheckPointer(Status);
    memset(Status, 0, sizeof(*Status));
    char Resolved[PLATFORM_RESOLVED_PATH_SIZE];
    if (!PlatformFile_Resolve(Path, Resolved)) return 0;
    return lstat(Resolved, Status) == 0;
}

extern "C" int32 Platform_FileExists(const char *Path) {
    struct stat Status;
    return Platform_Stat(Path, &Status);
}

extern "C" int32 Platform_Access(const char *Path, int32 Access, int32 NearestExisting) {
    Debug_CheckPointer(Path);
    char Resolved[PLATFORM_RESOLVED_PATH_SIZE];
    if (!PlatformFile_Resolve(Path, Resolved)) return 0;
    int Mode = F_OK;
    if (Access & PLATFORM_ACCESS_READ) Mode |= R_OK;
    if (Access & PLATFORM_ACCESS_WRITE) Mode |= W_OK;
    if (NearestExisting == 1) {
        struct stat Status;
        while (!(stat(Resolved, &Status) == 0 && S_ISDIR(Status.st_mode))) {
            char *Slash = strrchr(Resolved, '/');
            if (Slash == nullptr) {
                errno = ENOENT;
                return 0;
            }
            // Cut the component and the separator before it; "/x" keeps "/".
            Slash[Slash == Resolved ? 1 : 0] = 0;
            if (Resolved[0] == 0) {
                errno = ENOENT;
                return 0;
            }
        }
    }
    // The effective ids decide, as they do for the open that follows.
    return faccessat(AT_FDCWD, Resolved, Mode, AT_EACCESS) == 0;
}

extern "C" int32 Platform_ChangeMode(void *Reserved, const char *Path, uint32 Mode) {
    (void)Reserved;
    Debug_CheckPointer(Path);
    // AT_SYMLINK_NOFOLLOW refuses a link (EOPNOTSUPP) without a window between
    // a test and the change.
    return fchmodat(AT_FDCWD, Path, Mode & 07777, AT_SYMLINK_NOFOLLOW) == 0;
}

extern "C" int32 Platform_EnsurePathMutable(const char *Path) {
    Debug_CheckPointer(Path);
    char Resolved[PLATFORM_RESOLVED_PATH_SIZE];
    if (!PlatformFile_Resolve(Path, Resolved)) return 0;
    struct statx Status;
    if (!StatX(Resolved, 0, &Status)) return 0;
    if (!(Status.stx_attributes_mask & STATX_ATTR_IMMUTABLE) || !(Status.stx_attributes & STATX_ATTR_IMMUTABLE))
        return 1;
    // Links carry no flags; only files and directories get here.
    int Descriptor = open(Resolved, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (Descriptor < 0) return 0;
    int Flags = 0;
    bool Cleared = ioctl(Descriptor, FS_IOC_GETFLAGS, &Flags) == 0;
    if (Cleared && (Flags & FS_IMMUTABLE_FL)) {
        Flags &= ~FS_IMMUTABLE_FL;
        Cleared = ioctl(Descriptor, FS_IOC_SETFLAGS, &Flags) == 0;
    }
    int Saved = errno;
    close(Descriptor);
    errno = Saved;
    return Cleared ? 1 : 0;
}

extern "C" int32 Platform_CreateSymLink(const char *LinkPath, const char *Target, int32 Flags) {
    (void)Flags;
    Debug_CheckPointer(LinkPath);
    Debug_CheckPointer(Target);
    char Resolved[MAX_PATH_SIZE];
    Path_Resolve(LinkPath, Resolved, sizeof(Resolved));
    Path_Fix(Resolved, sizeof(Resolved), PATH_FIX_REMOVE_TRAILING);
    if (strlen(Resolved) >= MAX_PATH_SIZE - 1) {
        errno = ENAMETOOLONG;
        Log_Error("Unable to create symbolic link [%s][%d]\n", LinkPath, errno);
        return 0;
    }
    int32 Error = 0;
    if (!Path_CreateDirectory(Resolved, 1, &Error)) {
        Log_Error("Unable to create symlink parent directory [%s (%d)]\n", LinkPath, Error);
        errno = Error > PLATFORM_ERROR_ERRNO_BASE ? Error - PLATFORM_ERROR_ERRNO_BASE : EIO;
        return 0;
    }
    if (symlink(Target, Resolved) != 0) {
        int Saved = errno;
        Log_Error("Unable to create symbolic link [%s][%d]\n", LinkPath, Saved);
        errno = Saved;
        return 0;
    }
    return 1;
}

extern "C" int32 Platform_GetSymLink(const char *Path, char *Buffer, int32 Length) {
    Debug_CheckPointer(Path);
    Debug_CheckPointer(Buffer);
    if (Length < 2) Debug_Abort("Assertion failed (MaxTarget > 1)\n%s: Invalid args", "Platform_GetSymLink");
    char Resolved[PLATFORM_RESOLVED_PATH_SIZE];
    ssize_t Count = -1;
    if (PlatformFile_Resolve(Path, Resolved)) Count = readlink(Resolved, Buffer, (size_t)Length - 1);
    if (Count < 0) {
        int Saved = errno;
        Buffer[0] = 0;
        Log_Error("Unable to read symbolic link [%s][%d]\n", Path, Saved);
        errno = Saved;
        return 0;
    }
    Buffer[Count] = 0;
    return 1;
}

extern "C" int32 Platform_DeleteFile(void *Reserved, const char *Path) {
    (void)Reserved;
    Debug_CheckPointer(Path);
    char Resolved[PLATFORM_RESOLVED_PATH_SIZE];
    if (!PlatformFile_Resolve(Path, Resolved)) return 0;
    return unlink(Resolved) == 0;
}

extern "C" int32 Platform_DeleteFileOnReboot(const char *Path) { return Platform_DeleteFile(nullptr, Path); }

uint32 PlatformFile_Attributes(const char *Name, const struct statx *Status) {
    uint32 Attributes = 0;
    if (Name != nullptr && Name[0] == '.') Attributes |= PLATFORM_ATTRIBUTE_HIDDEN;
    if (Status == nullptr) return Attributes;
    const mode_t Mode = Status->stx_mode;
    if (S_ISLNK(Mode)) Attributes |= PLATFORM_ATTRIBUTE_SYMLINK;
    if (S_ISDIR(Mode)) Attributes |= PLATFORM_ATTRIBUTE_DIRECTORY;
    // A link's own mode is always 0777 and says nothing about it.
    if (S_ISLNK(Mode)) return Attributes;
    if ((Mode & 0111) == 0111) Attributes |= PLATFORM_ATTRIBUTE_EXECUTABLE;
    const bool Immutable = (Status->stx_attributes_mask & STATX_ATTR_IMMUTABLE) &&
                           (Status->stx_attributes & STATX_ATTR_IMMUTABLE);
    if (!(Mode & S_IWUSR) || Immutable) Attributes |= PLATFORM_ATTRIBUTE_READONLY;
    return Attributes;
}

extern "C" int32 Platform_GetFileAttributes(void *Reserved, const char *Path, uint32 *Attributes) {
    (void)Reserved;
    Debug_CheckPointer(Path);
    Debug_CheckPointer(Attributes);
    const char *Name;
    Path_ParseFilenamePtr(Path, &Name);
    char Resolved[PLATFORM_RESOLVED_PATH_SIZE];
    struct statx Status;
    const bool Known = PlatformFile_Resolve(Path, Resolved) && StatX(Resolved, 0, &Status);
    *Attributes = PlatformFile_Attributes(Name, Known ? &Status : nullptr);
    return 1;
}

extern "C" int32 Platform_SetFileAttributes(void *Reserved, const char *Path, uint32 Attributes) {
    (void)Reserved;
    Debug_CheckPointer(Path);
    char Resolved[PLATFORM_RESOLVED_PATH_SIZE];
    if (!PlatformFile_Resolve(Path, Resolved)) return 0;
    if (Attributes & PLATFORM_ATTRIBUTE_HIDDEN) {
        const char *Name;
        Path_ParseFilenamePtr(Resolved, &Name);
        if (Name[0] != '.') {
            Log_Error("Hidden attribute not applied (file does not begin with dot) [%s]\n", Path);
            errno = EACCES;
            return 0;
        }
    }
    if (!(Attributes & (PLATFORM_ATTRIBUTE_EXECUTABLE | PLATFORM_ATTRIBUTE_READONLY))) return 1;
    struct stat Status;
    if (lstat(Resolved, &Status) != 0) return 0;
    if (S_ISLNK(Status.st_mode)) return 1;
    mode_t Mode = Status.st_mode & 07777;
    if (Attributes & PLATFORM_ATTRIBUTE_EXECUTABLE) Mode |= 0111;
    if (Attributes & PLATFORM_ATTRIBUTE_READONLY) Mode &= ~(mode_t)0222;
    if (Mode == (Status.st_mode & 07777)) return 1;
    return fchmodat(AT_FDCWD, Resolved, Mode, AT_SYMLINK_NOFOLLOW) == 0;
}

extern "C" int32 Platform_GetFileTime(const char *Path, int32 Descriptor, void *Reserved, struct tm *Creation,
                                      struct tm *Access, struct tm *Modified) {
    (void)Reserved;
    char Resolved[PLATFORM_RESOLVED_PATH_SIZE] = "";
    if (Descriptor <= 0) {
        Debug_CheckPointer(Path);
        if (!PlatformFile_Resolve(Path, Resolved)) return 0;
    }
    struct statx Status;
    if (!StatX(Resolved, Descriptor, &Status)) return 0;
    // A file system without birth times answers the last status change.
    const int64 Birth = (Status.stx_mask & STATX_BTIME) ? Status.stx_btime.tv_sec : Status.stx_ctime.tv_sec;
    return BrokenDownTime(Birth, Creation) && BrokenDownTime(Status.stx_atime.tv_sec, Access) &&
           BrokenDownTime(Status.stx_mtime.tv_sec, Modified);
}

extern "C" int32 Platform_SetFileTime(const char *Path, int32 Descriptor, void *Reserved, const struct tm *Creation,
                                      const struct tm *Access, const struct tm *Modified) {
    (void)Reserved;
    (void)Creation; // the birth time cannot be set here
    char Resolved[PLATFORM_RESOLVED_PATH_SIZE] = "";
    if (Descriptor <= 0) {
        Debug_CheckPointer(Path);
        if (!PlatformFile_Resolve(Path, Resolved)) return 0;
    }
    if (Access != nullptr && !SetOneTime(Resolved, Descriptor, 0, Access)) return 0;
    if (Modified != nullptr && !SetOneTime(Resolved, Descriptor, 1, Modified)) return 0;
    return 1;
}

extern "C" int32 Platform_SetFileGroup(const char *Path, const char *Name) {
    Debug_CheckPointer(Path);
    Debug_CheckPointer(Name);
    char Resolved[PLATFORM_RESOLVED_PATH_SIZE];
    if (!PlatformFile_Resolve(Path, Resolved)) return 0;
    if (StartsWithWithoutCase(Name, "Everyone"))
        return fchmodat(AT_FDCWD, Resolved, 0777, AT_SYMLINK_NOFOLLOW) == 0;
    if (StartsWithWithoutCase(Name, "Users") || StartsWithWithoutCase(Name, "Authenticated"))
        return fchmodat(AT_FDCWD, Resolved, 0775, AT_SYMLINK_NOFOLLOW) == 0;
    uid_t User;
    if (LookUpUser(Name, &User)) return lchown(Resolved, User, (gid_t)-1) == 0;
    gid_t Group;
    if (PlatformFile_LookUpGroup(Name, &Group)) return lchown(Resolved, (uid_t)-1, Group) == 0;
    errno = EINVAL;
    return 0;
}

extern "C" int32 Platform_CreateDirectory(const char *Path) {
    Debug_CheckPointer(Path);
    char Resolved[PLATFORM_RESOLVED_PATH_SIZE];
    if (!PlatformFile_Resolve(Path, Resolved)) return 0;
    return mkdir(Resolved, 0777) == 0;
}

extern "C" int32 Platform_RemoveDirectory(const char *Path) {
    Debug_CheckPointer(Path);
    char Resolved[PLATFORM_RESOLVED_PATH_SIZE];
    if (!PlatformFile_Resolve(Path, Resolved)) return 0;
    return rmdir(Resolved) == 0;
}

extern "C" int32 Platform_GetFreeDiskSpace(const char *DirectoryPath, uint64 *Bytes) {
    Debug_CheckPointer(DirectoryPath);
    Debug_CheckPointer(Bytes);
    *Bytes = 0;
    char Resolved[PLATFORM_RESOLVED_PATH_SIZE];
    if (!PlatformFile_Resolve(DirectoryPath, Resolved)) return 0;
    const size_t Length = strlen(Resolved);
    if (Length == 0 || Resolved[Length - 1] != '/') {
        Log_Debug("Path is invalid (%s)\n", Resolved);
        errno = EINVAL;
        return 0;
    }
    struct statvfs Volume;
    if (statvfs(Resolved, &Volume) != 0) return 0;
    *Bytes = (uint64)Volume.f_bavail * (uint64)Volume.f_frsize;
    return 1;
}

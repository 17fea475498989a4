// The find-first/find-next directory search (see platform_file.h). The handle
// is the open directory stream; entries are examined relative to it, so an
// entry's status never depends on the length of the directory's path.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>

#include "runtime/debug.h"
#include "runtime/posix/platform.h"
#include "runtime/posix/platform_file_internal.h"
#include "runtime/text/string.h"

namespace {

void BrokenDown(int64 Seconds, struct tm *Output) {
    time_t Value = (time_t)Seconds;
    if (gmtime_r(&Value, Output) == nullptr) memset(Output, 0, sizeof(*Output));
}

// The wildcard part of the stored pattern (behind its last "/").
const char *Wildcard(const PlatformFindEntry *Entry) {
    const char *Slash = strrchr(Entry->Pattern, '/');
    return Slash == nullptr ? Entry->Pattern : Slash + 1;
}

} // namespace

extern "C" int32 Platform_FindReadEntry(int Directory, const char *Name, PlatformFindEntry *Entry) {
    Debug_CheckPointer(Name);
    Debug_CheckPointer(Entry);
    String_CopyLength(Entry->Name, Name, sizeof(Entry->Name));
    Entry->Attributes = 0;
    Entry->Size = Entry->AllocatedSize = 0;
    memset(&Entry->CreationTime, 0, sizeof(Entry->CreationTime));
    memset(&Entry->LastAccessTime, 0, sizeof(Entry->LastAccessTime));
    memset(&Entry->LastWriteTime, 0, sizeof(Entry->LastWriteTime));
    struct statx Status;
    if (statx(Directory, Name, AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &Status) != 0) {
        int Saved = errno;
        Entry->Attributes = PlatformFile_Attributes(Name, nullptr);
        errno = Saved;
        return 0;
    }
    Entry->Attributes = PlatformFile_Attributes(Name, &Status);
    const int64 Birth = (Status.stx_mask & STATX_BTIME) ? Status.stx_btime.tv_sec : Status.stx_ctime.tv_sec;
    BrokenDown(Birth, &Entry->CreationTime);
    BrokenDown(Status.stx_atime.tv_sec, &Entry->LastAccessTime);
    BrokenDown(Status.stx_mtime.tv_sec, &Entry->LastWriteTime);
    Entry->Size = Status.stx_size;
    Entry->AllocatedSize = Status.stx_blocks * 512;
    return 1;
}

extern "C" int32 Platform_FindFirstFile(const char *Pattern, PlatformFindEntry *Entry, void **Handle) {
    Debug_CheckPointer(Pattern);
    Debug_CheckPointer(Entry);
    Debug_CheckPointer(Handle);
    *Handle = nullptr;
    memset(Entry, 0, sizeof(*Entry));
    // Resolving keeps a trailing "/", which says "everything in this directory".
    char Resolved[PLATFORM_RESOLVED_PATH_SIZE];
    if (!PlatformFile_Resolve(Pattern, Resolved)) return 0;
    if (strlen(Resolved) >= sizeof(Entry->Pattern)) {
        errno = ENAMETOOLONG;
        return 0;
    }
    strcpy(Entry->Pattern, Resolved);
    const char *Slash = strrchr(Resolved, '/');
    char Directory[PLATFORM_RESOLVED_PATH_SIZE];
    if (Slash == nullptr) strcpy(Directory, ".");
    else if (Slash == Resolved) strcpy(Directory, "/");
    else {
        memcpy(Directory, Resolved, (size_t)(Slash - Resolved));
        Directory[Slash - Resolved] = 0;
    }
    DIR *Search = opendir(Directory);
    if (Search == nullptr) return 0;
    // opendir's descriptor is close-on-exec already (glibc opens it O_CLOEXEC).
    if (!Platform_FindNextFile(Search, Entry)) {
        int Saved = errno;
        closedir(Search);
        errno = Saved == 0 ? ENOENT : Saved;
        return 0;
    }
    *Handle = Search;
    return 1;
}

extern "C" int32 Platform_FindNextFile(void *Handle, PlatformFindEntry *Entry) {
    Debug_CheckPointer(Handle);
    Debug_CheckPointer(Entry);
    DIR *Search = static_cast<DIR *>(Handle);
    const char *Match = Wildcard(Entry);
    for (;;) {
        errno = 0;
        struct dirent *Found = readdir(Search);
        if (Found == nullptr) return 0;
        if (Match[0] != 0 && !String_CompareWildcardWithoutCase(Found->d_name, Match)) continue;
        if (strlen(Found->d_name) >= sizeof(Entry->Name)) continue; // cannot be named in 320 bytes
        Platform_FindReadEntry(dirfd(Search), Found->d_name, Entry);
        return 1;
    }
}

extern "C" int32 Platform_FindClose(void **Handle) {
    Debug_CheckPointer(Handle);
    if (*Handle == nullptr) return 1;
    DIR *Search = static_cast<DIR *>(*Handle);
    *Handle = nullptr;
    return closedir(Search) == 0;
}

// File-system primitives: the thin layer between the runtime's file, path,
// directory and asynchronous-file modules and the system calls. Every path
// argument first goes through Path_Resolve ("~" becomes the home directory,
// the path is normalised) into a 1,024-byte buffer unless said otherwise; a
// path that does not fit fails with ENAMETOOLONG before anything on disk is
// touched. Results are 1 or 0 with the cause in errno (Platform_GetLastError);
// Platform_Open answers a descriptor or -1 and Platform_Lock the system's
// answer (0 or -1).
//
// Invariants kept here for every caller:
// - every descriptor is close-on-exec;
// - status never follows a final link, and no metadata change (mode, owner,
//   times, flags) goes through a link: a link's mode is never changed and
//   times and owners are set on the link itself;
// - copies and cross-volume moves write a temporary file beside the target
//   and rename it into place, so a failed or cancelled copy leaves no partial
//   file and a replaced target stays until its successor is complete; a move
//   deletes its source only after a complete, uncancelled copy.
//
// Linux stand-ins: "read-only" is the absence of the owner's write bit (or the
// immutable inode flag); setting it clears every write bit. A file's birth
// time can be read but not set. Byte-range locks are open-file-description
// locks, so closing another descriptor of the same file keeps them. There are
// no application bundles and no deferred deletion.
#pragma once

#include <sys/stat.h>
#include <time.h>

#include "runtime/types.h"

// Permission bits of Platform_Open: read, write, execute for owner, group and
// others (0444, 0222, 0111), less the process's file-creation mask.
#define PLATFORM_PERMISSION_READ 0x100
#define PLATFORM_PERMISSION_WRITE 0x80
#define PLATFORM_PERMISSION_EXECUTE 0x40

// Attribute bits (shared with the file, path and directory modules). System is
// never set on this platform.
#define PLATFORM_ATTRIBUTE_READONLY 0x1
#define PLATFORM_ATTRIBUTE_HIDDEN 0x2
#define PLATFORM_ATTRIBUTE_SYSTEM 0x4
#define PLATFORM_ATTRIBUTE_EXECUTABLE 0x8
#define PLATFORM_ATTRIBUTE_DIRECTORY 0x10
#define PLATFORM_ATTRIBUTE_SYMLINK 0x20

// Platform_Access tests.
#define PLATFORM_ACCESS_EXISTS 0
#define PLATFORM_ACCESS_READ 1
#define PLATFORM_ACCESS_WRITE 2

// Platform_MoveFile flags.
#define PLATFORM_MOVE_COPY_ALLOWED 1
#define PLATFORM_MOVE_REPLACE_EXISTING 2
#define PLATFORM_MOVE_WRITE_THROUGH 4

// Platform_Lock types.
#define PLATFORM_LOCK_UNLOCK 0
#define PLATFORM_LOCK_EXCLUSIVE 1      // does not wait
#define PLATFORM_LOCK_EXCLUSIVE_WAIT 2
#define PLATFORM_LOCK_SHARED 3         // does not wait
#define PLATFORM_LOCK_SHARED_WAIT 4

// Platform_MapViewOfFile access: the view is always readable; this bit makes
// it writable too.
#define PLATFORM_MAP_WRITE 2

#define PLATFORMSECURITY_CLASSID 0x3934b7a7u

RUNTIME_EXTERN_C_BEGIN

// One directory entry of a find. Times are broken-down universal times in
// whole seconds; the allocated size counts 512-byte blocks. Pattern keeps the
// resolved search pattern between calls.
typedef struct PlatformFindEntry {
    uint32 Attributes;
    struct tm CreationTime;
    struct tm LastAccessTime;
    struct tm LastWriteTime;
    uint64 Size;
    uint64 AllocatedSize;
    char Name[MAX_PATH_SIZE];
    char Pattern[MAX_PATH_SIZE];
} PlatformFindEntry;

// Progress of a copy or move: bytes copied so far and the total. Answer
// nonzero to go on, 0 to stop (the copy then fails and leaves nothing behind).
typedef int32 (*Platform_CopyProgressFunc)(void *User, const char *Source, const char *Destination, int64 Copied,
                                           int64 Total);

// ---- Opening and status ----

// Opens Path with the system's O_* flags (close-on-exec added) without
// opening what is no file (a FIFO, a device: refused on its type first) and answers
// the descriptor only when it names a regular file: -1 with errno EISDIR for
// a folder, EINVAL for anything else that is not a regular file, else the
// open's own. The descriptor blocks again unless OpenFlags asked otherwise.
// Every open of a path that a page, a document or a user names goes
// through here: the caller is never held, and reads always end.
int32 Platform_OpenRegular(const char *Path, int32 OpenFlags, uint32 Mode);

// OpenFlags are the system's O_* flags, handed over unchanged (close-on-exec
// is always added, so launched programs never inherit runtime descriptors).
// Only regular files open (as Platform_OpenRegular). Share is not used on
// this platform.
int32 Platform_Open(const char *Path, int32 OpenFlags, int32 Share, int32 Permissions);
// An application bundle is a folder whose executable is what Platform_Open
// opens. The bundle module sits above this layer and hands down its reader of
// a bundle's executable path at start-up (1 and the path in Out when Path is
// a bundle); until then every path opens as it is.
typedef int32 (*Platform_BundleExecutableFunc)(const char *Path, char *Out, int32 Size);
int32 Platform_SetBundleResolver(Platform_BundleExecutableFunc Resolver);
// Status without following a final symbolic link; Status is zeroed first.
int32 Platform_Stat(const char *Path, struct stat *Status);
int32 Platform_FileExists(const char *Path);
// Access PLATFORM_ACCESS_*. With NearestExisting 1 and Path not an existing
// directory, the last component is cut off repeatedly until an existing
// directory remains, which is tested instead (an empty remainder answers 0).
int32 Platform_Access(const char *Path, int32 Access, int32 NearestExisting);
// Sets the permission bits of Path (not resolved); a link is refused
// (EOPNOTSUPP), since changing it would change its target.
int32 Platform_ChangeMode(void *Reserved, const char *Path, uint32 Mode);
// Clears the immutable flag when set: 1 when there was nothing to clear or
// clearing succeeded, 0 when status fails or the flag stays.
int32 Platform_EnsurePathMutable(const char *Path);

// ---- Links ----

// Creates LinkPath (normalised, its missing parents made) pointing at Target
// (stored as given). Flags is not used.
int32 Platform_CreateSymLink(const char *LinkPath, const char *Target, int32 Flags);
// The link text, cut to Length - 1 bytes and terminated. Length below 2 is a
// fatal stop.
int32 Platform_GetSymLink(const char *Path, char *Buffer, int32 Length);

// ---- Copy, move, delete ----

// Copies a regular file (a link source is followed) with its data,
// permissions, owner (when allowed), times and extended attributes (which
// carry access-control lists). 0 when a path is null, the source is missing
// or not a regular file, or FailIfExists is set and the destination exists
// (also when it appears during the copy). Paths are not resolved here.
int32 Platform_CopyFile(const char *Source, const char *Destination, int32 FailIfExists);
int32 Platform_CopyFileWithProgress(const char *Source, const char *Destination, int32 FailIfExists, void *User,
                                    Platform_CopyProgressFunc Callback);
// Moves with PLATFORM_MOVE_* flags. Without a callback the move is always a
// rename (so it fails across volumes even with COPY_ALLOWED); with one, a move
// across volumes copies (replacing only with REPLACE_EXISTING) and then
// deletes the source; a same-volume move calls it once with (size, size).
int32 Platform_MoveFile(void *Reserved, const char *Source, const char *Destination, int32 Flags);
int32 Platform_MoveFileWithProgress(const char *Source, const char *Destination, int32 Flags, void *User,
                                    Platform_CopyProgressFunc Callback);
// Removes a file or a link (never a link's target, never a directory).
int32 Platform_DeleteFile(void *Reserved, const char *Path);
// No deferred deletion on this platform: removes at once.
int32 Platform_DeleteFileOnReboot(const char *Path);

// ---- Attributes, times, ownership ----

// Always 1; *Attributes holds PLATFORM_ATTRIBUTE_* (only "hidden" when status
// fails).
int32 Platform_GetFileAttributes(void *Reserved, const char *Path, uint32 *Attributes);
// Only adds: HIDDEN needs a name that begins with "." (else EACCES, a level-0
// log line and nothing applied); EXECUTABLE adds 0111; READONLY clears every
// write bit. Mode changes skip a link.
int32 Platform_SetFileAttributes(void *Reserved, const char *Path, uint32 Attributes);
// Broken-down universal times (whole seconds) of birth, last access and last
// modification; each output may be null. Descriptor: when above 0, the open
// file's times are read instead of Path's; Reserved is not used.
int32 Platform_GetFileTime(const char *Path, int32 Descriptor, void *Reserved, struct tm *Creation,
                           struct tm *Access, struct tm *Modified);
// Sets the non-null times in order, each only when the one before succeeded.
// The birth time cannot be set on this platform and is skipped. Times are set
// on a link itself, never on its target.
int32 Platform_SetFileTime(const char *Path, int32 Descriptor, void *Reserved, const struct tm *Creation,
                           const struct tm *Access, const struct tm *Modified);
// "Everyone..." sets mode 0777, "Users..."/"Authenticated..." 0775 (without
// case; a link is refused); another name is tried as a user (owner changed),
// then as a group (group changed), on a link itself; neither: 0.
int32 Platform_SetFileGroup(const char *Path, const char *Name);

// ---- Directories and volumes ----

// One level, permissions 0777 less the process's file-creation mask.
int32 Platform_CreateDirectory(const char *Path);
// Must be empty.
int32 Platform_RemoveDirectory(const char *Path);
// Bytes available to unprivileged users on the volume of DirectoryPath, which
// must end with "/" (else 0, *Bytes 0 and a level-3 log line).
int32 Platform_GetFreeDiskSpace(const char *DirectoryPath, uint64 *Bytes);
// Pattern: a directory path and a file-name wildcard ("*" matches any run,
// compared without case; empty matches all). 1 with the first match in Entry
// and the search in *Handle; 0 with *Handle null when nothing matches (the
// directory is closed). "." and ".." are not skipped.
int32 Platform_FindFirstFile(const char *Pattern, PlatformFindEntry *Entry, void **Handle);
// 1 with the next match, 0 at the end.
int32 Platform_FindNextFile(void *Handle, PlatformFindEntry *Entry);
// 1 and *Handle null (also when it already was); 0 when closing fails.
int32 Platform_FindClose(void **Handle);
// Fills Entry (all but the pattern) for the entry Name of the open directory
// Directory, as a find does, without following a final link. 0 (errno set)
// when its status cannot be read: only the name and "hidden" are then filled.
int32 Platform_FindReadEntry(int Directory, const char *Name, PlatformFindEntry *Entry);

// ---- Locks, sparse files, maps ----

// An advisory lock of Length bytes (0: to the end of the file and beyond)
// from the descriptor's current position; PLATFORM_LOCK_* types. A refused
// request is repeated at once, 10 attempts in all. Answers the system's last
// answer: 0 on success, -1 on failure.
int32 Platform_Lock(int32 Descriptor, int32 LockType, int64 Length);
// Sparse files are not supported: always 0 with EOPNOTSUPP.
int32 Platform_SparseMode(int32 Descriptor);
// Maps *Length bytes from offset 0, shared and readable (writable with
// PLATFORM_MAP_WRITE). *Length 0 maps the whole file and writes its size back.
// Name is not used. 0 with *Address null on failure.
int32 Platform_MapViewOfFile(int32 Descriptor, int32 Access, const char *Name, void **Address, uint64 *Length);
// 1 and *Address null (at once when it already was); 0 when unmapping fails.
int32 Platform_UnmapViewOfFile(void **Address, uint64 Length);

// ---- Access-control descriptor for a group ----

// A descriptor granting the named group read and write access (mode 0660 for
// files, 0770 for directories, owned by that group). Nothing in the runtime
// applies one yet. Create: 0 when no such group exists.
typedef struct PlatformSecurityDescriptor {
    uint32 GroupId;
    uint32 FileMode;
    uint32 DirectoryMode;
} PlatformSecurityDescriptor;
int32 Platform_SecurityCreate(const char *GroupName, void **Handle);
int32 Platform_SecurityGetDescriptor(void *Handle, PlatformSecurityDescriptor **Descriptor);
int32 Platform_SecurityDelete(void **Handle);

RUNTIME_EXTERN_C_END

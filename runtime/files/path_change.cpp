// Path changes: links, making writable, and erasing, moving and copying files
// and directory trees, with a number of attempts one second apart for files
// that may be busy.
//
// Every path is resolved and fixed before anything is done, and a path that
// does not fit its buffer fails with ENAMETOOLONG first: a cut path would
// name another file. Links are never followed by a change: erasing a link
// removes the link, and a tree copy recreates a link without giving its
// target the entry's mode, times or attributes.
#include <errno.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "runtime/debug.h"
#include "runtime/files/directory_list.h"
#include "runtime/files/path.h"
#include "runtime/files/path_internal.h"
#include "runtime/log.h"
#include "runtime/posix/platform.h"
#include "runtime/text/string.h"
#include "runtime/time.h"

namespace {

constexpr int32 RetryMilliseconds = 1000;
constexpr uint32 OwnerWrite = 0200;
// Attribute bits a copy carries over (the type bits are not settable).
constexpr uint32 CopiedAttributes =
    PLATFORM_ATTRIBUTE_READONLY | PLATFORM_ATTRIBUTE_HIDDEN | PLATFORM_ATTRIBUTE_EXECUTABLE;

int32 *OrIgnored(int32 *Error, int32 *Ignored) { return Error != nullptr ? Error : Ignored; }

// Runs Attempt up to Attempts times, sleeping between tries and logging each
// retry with Retry(error, try, attempts); false with *Error set after the
// last failure.
template <typename AttemptFunc, typename RetryFunc>
bool WithRetries(int32 Attempts, int32 *Error, AttemptFunc Attempt, RetryFunc Retry) {
    for (int32 Try = 0;; Try++) {
        if (Attempt()) return true;
        *Error = Platform_GetLastError();
        if (Try + 1 >= Attempts) return false;
        Time_SleepForRetry(RetryMilliseconds);
        Retry(*Error, Try, Attempts);
    }
}

// Removes one (empty) directory, made writable first.
int32 EraseDirectoryStep(const char *Path, int32 Attempts, int32 *Error) {
    if (Attempts < 1) {
        Log_Debug("ErasePath(%s) failed [LE: %d]\n", Path, 0);
        return 0;
    }
    bool Done = WithRetries(
        Attempts, Error,
        [&] {
            Path_EnsureWritable(Path);
            return Platform_RemoveDirectory(Path) == 1;
        },
        [&](int32 Cause, int32 Try, int32 Count) {
            Log_Debug("Retrying ErasePath(%s) [LE: %d Try: %d/%d]\n", Path, Cause, Try, Count);
        });
    if (Done) return 1;
    Log_Debug("ErasePath(%s) failed [LE: %d]\n", Path, *Error);
    return 0;
}

// Clears the immutable flag of the open file or folder; true when it is not
// (or no longer) set.
bool ClearImmutable(int Descriptor) {
    int Flags = 0;
    if (ioctl(Descriptor, FS_IOC_GETFLAGS, &Flags) != 0) return errno == ENOTTY || errno == EOPNOTSUPP;
    if (!(Flags & FS_IMMUTABLE_FL)) return true;
    Flags &= ~FS_IMMUTABLE_FL;
    return ioctl(Descriptor, FS_IOC_SETFLAGS, &Flags) == 0;
}

// Makes the open folder one whose entries can go: owner-writable, not
// immutable.
void MakeFolderWritable(int Folder) {
    struct stat Status;
    if (fstat(Folder, &Status) == 0 && !(Status.st_mode & OwnerWrite))
        fchmod(Folder, (Status.st_mode | OwnerWrite) & 07777);
    ClearImmutable(Folder);
}

// The entry Name of the open Folder made writable, as Path_EnsureWritable
// does, but reached through the folder: never through a link, whatever the
// entry's path leads to by now. A link itself is left as it is.
void MakeEntryWritable(int Folder, const char *Name) {
    struct stat Status;
    if (fstatat(Folder, Name, &Status, AT_SYMLINK_NOFOLLOW) != 0 || S_ISLNK(Status.st_mode)) return;
    if (S_ISREG(Status.st_mode) || S_ISDIR(Status.st_mode)) {
        const int Entry = openat(Folder, Name, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
        if (Entry >= 0) {
            struct stat Opened;
            if (fstat(Entry, &Opened) == 0 && Opened.st_dev == Status.st_dev && Opened.st_ino == Status.st_ino) {
                ClearImmutable(Entry);
                if (!(Opened.st_mode & OwnerWrite)) fchmod(Entry, (Opened.st_mode | OwnerWrite) & 07777);
            }
            close(Entry);
        }
    }
}

struct EraseWalk {
    int32 Attempts;
    int32 Error;
    std::string WritableFolder; // the path of the folder last made writable
};

// Each entry goes by its name in the folder the walk has open (see
// DirectoryList_GetWalkFolder), never by its path: a folder of the tree that
// someone who may write in it moves away and replaces with a link, between
// the listing and the removal, would have the removal (and the flags and
// modes changed before it) reach the link's target, outside the tree.
uint32 EraseEntry(DirectoryList *Level, void *User, int32 Depth, const char *Path) {
    (void)Depth;
    auto *Walk = static_cast<EraseWalk *>(User);
    const int Folder = DirectoryList_GetWalkFolder(Level);
    std::string Name(Path);
    while (Name.size() > 1 && Name.back() == '/') Name.pop_back(); // a directory's own name
    const size_t Slash = Name.rfind('/');
    std::string Parent = Slash == std::string::npos ? std::string() : Name.substr(0, Slash);
    Name.erase(0, Slash + 1);
    if (Folder < 0 || Name.empty()) {
        errno = EINVAL;
        Walk->Error = Platform_GetLastError();
        return 0;
    }
    // An entry leaves only a writable folder (whatever the entry's own mode),
    // also for a user other than root: the folders of the tree are made so
    // before their entries go, as everything erased is.
    if (Parent != Walk->WritableFolder) {
        MakeFolderWritable(Folder);
        Walk->WritableFolder = std::move(Parent);
    }
    const bool Directory = DirectoryList_IsDirectory(Level) && !DirectoryList_IsSymLink(Level);
    const char *Shown = Directory ? "ErasePath" : "EraseFile";
    if (Walk->Attempts < 1) {
        Log_Debug("%s(%s) failed [LE: %d]\n", Shown, Path, 0);
        return 0;
    }
    int32 Error = 0;
    bool Done = WithRetries(
        Walk->Attempts, &Error,
        [&] {
            MakeEntryWritable(Folder, Name.c_str());
            return unlinkat(Folder, Name.c_str(), Directory ? AT_REMOVEDIR : 0) == 0 || errno == ENOENT;
        },
        [&](int32 Cause, int32 Try, int32 Count) {
            Log_Debug("Retrying %s(%s) [LE: %d Try: %d/%d]\n", Shown, Path, Cause, Try, Count);
        });
    if (Done) return 1;
    Log_Debug("%s(%s) failed [LE: %d]\n", Shown, Path, Error);
    Walk->Error = Error;
    return 0;
}

struct CopyWalk {
    const char *SourceRoot;
    const char *TargetRoot;
    int32 Overwrite;
    int32 Recursive;
    int32 Error;
};

uint32 CopyFailed(CopyWalk *Walk, int32 Error) {
    Walk->Error = Error != 0 ? Error : Platform_GetLastError();
    return 0;
}

uint32 CopyEntry(DirectoryList *Level, void *User, int32 Depth, const char *Path) {
    auto *Walk = static_cast<CopyWalk *>(User);
    if (Depth > 0 && Walk->Recursive == 0) return 1;
    const bool IsLink = DirectoryList_IsSymLink(Level) == 1;
    const bool IsDirectory = DirectoryList_IsDirectory(Level) == 1 && !IsLink;

    std::string Target = std::string(Walk->TargetRoot) + (Path + strlen(Walk->SourceRoot));
    char Fixed[MAX_PATH_SIZE];
    if (!PathInt_ResolveFitting(Target.c_str(), Fixed, IsDirectory ? PATH_FIX_ENSURE_TRAILING
                                                                   : PATH_FIX_REMOVE_TRAILING))
        return CopyFailed(Walk, PathInt_NameTooLong());

    int32 Error = 0;
    uint32 Attributes = 0, Mode = 0;
    float64 Modified = 0;
    if (!Path_GetAttributes(Path, &Attributes, &Error) || !Path_GetModifiedTime(Path, &Modified, &Error) ||
        !Path_GetMode(Path, &Mode, &Error))
        return CopyFailed(Walk, Error);

    if (Path_Exists(Fixed)) {
        if (Walk->Overwrite == 0) return 1;
        if (!Path_EnsureWritable(Fixed)) return CopyFailed(Walk, 0);
    }
    if (IsLink) {
        char Text[MAX_PATH_SIZE];
        if (!Path_ReadLink(Path, Text, sizeof(Text))) return CopyFailed(Walk, 0);
        // An existing file or link in the way is replaced; never a directory.
        if (Path_Exists(Fixed) && !Path_IsDirectory(Fixed) && !Platform_DeleteFile(nullptr, Fixed))
            return CopyFailed(Walk, 0);
        if (!Path_CreateSymLink(Fixed, Text, 0)) return CopyFailed(Walk, 0);
        return 1; // a link's metadata would land on its target
    }
    if (IsDirectory) {
        if (Walk->Recursive == 0) return 1;
        if (!Path_CreateDirectory(Fixed, 0, &Error)) return CopyFailed(Walk, Error);
    } else if (!Path_CopyFile(Path, Fixed, 0, 1, &Error, nullptr, nullptr)) {
        return CopyFailed(Walk, Error);
    }
    if (!Path_EnsureWritable(Fixed) || !Path_SetModifiedTime(Fixed, &Error, Modified) ||
        !Path_SetMode(Fixed, Mode, &Error))
        return CopyFailed(Walk, Error);
    if ((Attributes & CopiedAttributes) != 0 && !Path_SetAttributes(Fixed, Attributes & CopiedAttributes, &Error))
        return CopyFailed(Walk, Error);
    return 1;
}

} // namespace

extern "C" int32 Path_CreateSymLink(const char *LinkPath, const char *Target, int32 IsDirectory) {
    Debug_CheckPointer(LinkPath);
    Debug_CheckPointer(Target);
    char Fixed[MAX_PATH_SIZE];
    if (!PathInt_ResolveFitting(LinkPath, Fixed, PATH_FIX_REMOVE_TRAILING)) return 0;
    return Platform_CreateSymLink(Fixed, Target, IsDirectory);
}

extern "C" int32 Path_EnsureWritable(const char *Path) {
    Debug_CheckPointer(Path);
    char Fixed[MAX_PATH_SIZE];
    if (!PathInt_ResolveFitting(Path, Fixed, PATH_FIX_REMOVE_TRAILING)) return 0;
    Platform_EnsurePathMutable(Fixed);
    int32 Error;
    uint32 Mode = 0;
    if (!Path_GetMode(Fixed, &Mode, &Error)) return 0;
    // A link's own mode means nothing and changing it would change its target.
    if (!S_ISLNK(Mode) && (Mode & OwnerWrite) == 0) {
        if (!Path_SetMode(Fixed, (Mode | OwnerWrite) & 07777, &Error) || !Path_GetMode(Fixed, &Mode, &Error) ||
            (Mode & OwnerWrite) == 0)
            return 0;
    }
    uint32 Attributes = 0;
    if (!Path_GetAttributes(Fixed, &Attributes, &Error)) return 0;
    if ((Attributes & PLATFORM_ATTRIBUTE_DIRECTORY) || !(Attributes & PLATFORM_ATTRIBUTE_READONLY)) return 1;
    // Read-only without a missing write bit: the immutable flag, cleared above.
    return Path_GetAttributes(Fixed, &Attributes, &Error) && !(Attributes & PLATFORM_ATTRIBUTE_READONLY) ? 1 : 0;
}

extern "C" int32 Path_EraseFile(const char *Path, int32 Attempts, int32 *Error) {
    Debug_CheckPointer(Path);
    int32 Ignored;
    Error = OrIgnored(Error, &Ignored);
    *Error = 0;
    char Fixed[MAX_PATH_SIZE];
    if (!PathInt_ResolveFitting(Path, Fixed, PATH_FIX_REMOVE_TRAILING)) {
        *Error = PathInt_NameTooLong();
        Log_Debug("EraseFile(%s) failed [LE: %d]\n", Path, *Error);
        return 0;
    }
    if (!Path_Exists(Fixed)) return 1;
    if (Path_IsDirectory(Fixed)) {
        Log_Debug("Unable to erase path that is not a file (%s)\n", Path);
        return 0;
    }
    if (Attempts < 1) {
        Log_Debug("EraseFile(%s) failed [LE: %d]\n", Path, 0);
        return 0;
    }
    bool Done = WithRetries(
        Attempts, Error,
        [&] {
            Path_EnsureWritable(Fixed);
            return Platform_DeleteFile(nullptr, Fixed) == 1;
        },
        [&](int32 Cause, int32 Try, int32 Count) {
            Log_Debug("Retrying EraseFile(%s) [LE: %d Try: %d/%d]\n", Path, Cause, Try, Count);
        });
    if (Done) return 1;
    Log_Debug("EraseFile(%s) failed [LE: %d]\n", Path, *Error);
    return 0;
}

extern "C" int32 Path_EraseDirectory(const char *Path, int32 Attempts, int32 *Error) {
    Debug_CheckPointer(Path);
    int32 Ignored;
    Error = OrIgnored(Error, &Ignored);
    *Error = 0;
    // Without a trailing separator: "link/" would name the link's target.
    char Fixed[MAX_PATH_SIZE];
    if (!PathInt_ResolveFitting(Path, Fixed, PATH_FIX_REMOVE_TRAILING) || strlen(Fixed) + 1 >= MAX_PATH_SIZE) {
        *Error = PathInt_NameTooLong();
        return 0;
    }
    struct stat Status;
    if (!Platform_Stat(Fixed, &Status)) {
        *Error = Platform_GetLastError();
        return Platform_ErrorMissing(*Error) ? 1 : 0;
    }
    // A link to a directory is removed itself; walking it would empty its target.
    if (S_ISLNK(Status.st_mode)) return Path_EraseFile(Fixed, Attempts, Error);

    EraseWalk Walk{Attempts, 0, {}};
    DirectoryList List;
    DirectoryList_Stack(&List);
    DirectoryList_SetWalkOrder(&List, DIRECTORYLIST_ORDER_POST);
    DirectoryList_SetWalkCallback(&List, &Walk, EraseEntry);
    int32 Walked = DirectoryList_Walk(&List, Fixed, nullptr);
    if (!Walked && Walk.Error == 0) Walk.Error = Platform_GetLastError();
    DirectoryList_Unstack(&List);
    int32 Result = 0;
    if (Walked) {
        int32 RootError = 0;
        Result = EraseDirectoryStep(Fixed, Attempts, &RootError);
        if (!Result) Walk.Error = RootError;
    }
    *Error = Walk.Error;
    return Result;
}

extern "C" int32 Path_MoveFile(const char *Source, const char *Target, int32 ReplaceExisting, int32 Attempts,
                               int32 *Error, void *User, Platform_CopyProgressFunc Progress) {
    Debug_CheckPointer(Source);
    Debug_CheckPointer(Target);
    Debug_CheckPointer(Error);
    *Error = 0;
    char FixedSource[MAX_PATH_SIZE], FixedTarget[MAX_PATH_SIZE];
    if (!PathInt_ResolveFitting(Source, FixedSource, PATH_FIX_REMOVE_TRAILING) ||
        !PathInt_ResolveFitting(Target, FixedTarget, PATH_FIX_REMOVE_TRAILING)) {
        *Error = PathInt_NameTooLong();
        Log_Debug("MoveFile(%s, %s) failed [LE: %d]\n", Source, Target, *Error);
        return 0;
    }
    if (!Path_Exists(FixedSource)) {
        *Error = Platform_GetLastError();
        Log_Debug("MoveFile(%s, %s) source does not exist\n", Source, Target);
        return 0;
    }
    if (!Path_CreateDirectory(FixedTarget, 1, Error)) {
        Log_Debug("MoveFile(%s, %s) unable to create destination directory [LE: %d]\n", Source, Target, *Error);
        return 0;
    }
    // The target is replaced by the move itself, so it stays whole until
    // the new one is complete; only a read-only flag in the way is cleared.
    int32 Flags = PLATFORM_MOVE_COPY_ALLOWED | PLATFORM_MOVE_WRITE_THROUGH;
    if (ReplaceExisting == 1) {
        Flags |= PLATFORM_MOVE_REPLACE_EXISTING;
        if (Path_Exists(FixedTarget) && !Path_IsDirectory(FixedTarget)) Path_EnsureWritable(FixedTarget);
    }
    bool Done = Attempts > 0 &&
                WithRetries(
                    Attempts, Error,
                    [&] { return Platform_MoveFileWithProgress(FixedSource, FixedTarget, Flags, User, Progress) == 1; },
                    [&](int32 Cause, int32 Try, int32 Count) {
                        Log_Debug("Retrying MoveFile(%s, %s) [LE: %d Try: %d/%d]\n", Source, Target, Cause, Try,
                                  Count);
                    });
    if (Done) {
        *Error = 0;
        return 1;
    }
    Log_Debug("MoveFile(%s, %s) failed [LE: %d]\n", Source, Target, *Error);
    return 0;
}

extern "C" int32 Path_RenameFile(const char *Source, const char *Target, int32 Attempts, int32 *Error) {
    return Path_MoveFile(Source, Target, 1, Attempts, Error, nullptr, nullptr);
}

extern "C" int32 Path_CopyFile(const char *Source, const char *Target, int32 FailIfExists, int32 Attempts,
                               int32 *Error, void *User, Platform_CopyProgressFunc Progress) {
    Debug_CheckPointer(Source);
    Debug_CheckPointer(Target);
    if (FailIfExists != 0 && FailIfExists != 1)
        Debug_Abort("Assertion failed (((FailIfExists) == FALSE || (FailIfExists) == TRUE))\n"
                    "Variable '%s' is not boolean\n",
                    "FailIfExists");
    if (Attempts < 1) Debug_Abort("Assertion failed (Attempts > 0)\nNumber of attempts must be at least 1");
    int32 Ignored;
    Error = OrIgnored(Error, &Ignored);
    *Error = 0;
    char FixedSource[MAX_PATH_SIZE], FixedTarget[MAX_PATH_SIZE];
    if (!PathInt_ResolveFitting(Source, FixedSource, PATH_FIX_REMOVE_TRAILING) ||
        !PathInt_ResolveFitting(Target, FixedTarget, PATH_FIX_REMOVE_TRAILING)) {
        *Error = PathInt_NameTooLong();
        Log_Debug("CopyFile(%s, %s) failed [LE: %d]\n", Source, Target, *Error);
        return 0;
    }
    if (!Path_CreateDirectory(FixedTarget, 1, Error)) {
        Log_Debug("CopyFile(%s, %s) unable to create destination directory [LE: %d]\n", Source, Target, *Error);
        return 0;
    }
    bool Done = WithRetries(
        Attempts, Error,
        [&] { return Platform_CopyFileWithProgress(FixedSource, FixedTarget, FailIfExists, User, Progress) == 1; },
        [&](int32 Cause, int32 Try, int32 Count) {
            Log_Debug("Retrying CopyFile(%s, %s) [LE: %d Try: %d/%d]\n", Source, Target, Cause, Try, Count);
        });
    if (Done) {
        *Error = 0;
        return 1;
    }
    Log_Debug("CopyFile(%s, %s) failed [LE: %d]\n", Source, Target, *Error);
    return 0;
}

extern "C" int32 Path_MoveDirectory(const char *Source, const char *Target) {
    Debug_CheckPointer(Source);
    Debug_CheckPointer(Target);
    char FixedSource[MAX_PATH_SIZE], FixedTarget[MAX_PATH_SIZE];
    if (!PathInt_ResolveFitting(Source, FixedSource, PATH_FIX_ENSURE_TRAILING) ||
        !PathInt_ResolveFitting(Target, FixedTarget, PATH_FIX_ENSURE_TRAILING)) {
        Log_Debug("MoveDirectory(%s, %s) failed [LE: %d]\n", Source, Target, PathInt_NameTooLong());
        return 0;
    }
    if (Platform_MoveFile(nullptr, FixedSource, FixedTarget, PLATFORM_MOVE_COPY_ALLOWED)) return 1;
    Log_Debug("MoveDirectory(%s, %s) failed [LE: %d]\n", Source, Target, Platform_GetLastError());
    return 0;
}

extern "C" int32 Path_CopyDirectory(const char *Source, const char *Target, int32 Overwrite, int32 Recursive) {
    Debug_CheckPointer(Source);
    Debug_CheckPointer(Target);
    char FixedSource[MAX_PATH_SIZE], FixedTarget[MAX_PATH_SIZE];
    if (!PathInt_ResolveFitting(Source, FixedSource, PATH_FIX_ENSURE_TRAILING) ||
        !PathInt_ResolveFitting(Target, FixedTarget, PATH_FIX_ENSURE_TRAILING))
        return 0;
    CopyWalk Walk{FixedSource, FixedTarget, Overwrite, Recursive, 0};
    DirectoryList List;
    DirectoryList_Stack(&List);
    if (Recursive == 0) DirectoryList_SetMaxDepth(&List, 0);
    DirectoryList_SetWalkCallback(&List, &Walk, CopyEntry);
    int32 Result = DirectoryList_Walk(&List, FixedSource, "*");
    DirectoryList_Unstack(&List);
    return Result;
}

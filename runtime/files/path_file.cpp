// Path examination: links, sizes, times, mode, owner and attribute bits of
// one path. Each operation resolves "~" and fixes the path first; a path
// that does not fit its buffer fails with ENAMETOOLONG before the disk is
// asked anything.
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>

#include "runtime/debug.h"
#include "runtime/files/directory_list.h"
#include "runtime/files/path.h"
#include "runtime/files/path_internal.h"
#include "runtime/log.h"
#include "runtime/posix/platform.h"
#include "runtime/text/string.h"
#include "runtime/time.h"

namespace {

// How many links Path_FollowLink follows before giving up on a chain.
constexpr int32 MaxLinkChain = 25;

// Resolves Path; on failure records the platform error in *Error (when
// given) and logs Message with the path and that error.
bool Resolved(const char *Path, char (&Fixed)[MAX_PATH_SIZE], int32 *Error, const char *Message) {
    if (PathInt_ResolveFitting(Path, Fixed, PATH_FIX_REMOVE_TRAILING)) return true;
    if (Error != nullptr) *Error = PathInt_NameTooLong();
    if (Message != nullptr) Log_Debug(Message, Path, PathInt_NameTooLong());
    return false;
}

int32 Failed(const char *Message, const char *Path, int32 *Error) {
    int32 Cause = Platform_GetLastError();
    if (Error != nullptr) *Error = Cause;
    Log_Debug(Message, Path, Cause);
    return 0;
}

int32 GetTime(const char *Path, float64 *Time, int32 *Error, bool Creation, const char *Message) {
    Debug_CheckPointer(Path);
    Debug_CheckPointer(Time);
    *Time = 0;
    if (Error != nullptr) *Error = 0;
    char Fixed[MAX_PATH_SIZE];
    if (!Resolved(Path, Fixed, Error, Message)) return 0;
    struct tm BrokenDown;
    if (!Platform_GetFileTime(Fixed, 0, nullptr, Creation ? &BrokenDown : nullptr, nullptr,
                              Creation ? nullptr : &BrokenDown))
        return Failed(Message, Path, Error);
    Time_ConvertTmToEncoded(&BrokenDown, Time);
    return 1;
}

bool IsAbsoluteLinkText(const char *Text) {
    return Text[0] == '/' || Text[0] == '\\' ||
           (((Text[0] | 0x20) >= 'a' && (Text[0] | 0x20) <= 'z') && Text[1] == ':');
}

} // namespace

extern "C" int32 Path_IsDirectoryEmpty(const char *Path) {
    Debug_CheckPointer(Path);
    char Directory[MAX_PATH_SIZE];
    // A path that does not fit cannot be listed (a cut one would list another).
    if (!PathInt_ResolveFitting(Path, Directory, PATH_FIX_ENSURE_TRAILING)) return 1;
    DirectoryList List;
    DirectoryList_Stack(&List);
    int32 Empty = 1;
    for (int32 More = DirectoryList_Start(&List, 0, Directory); More && Empty; More = DirectoryList_GetNext(&List))
        if (!DirectoryList_IsDots(&List)) Empty = 0;
    DirectoryList_Unstack(&List);
    return Empty;
}

extern "C" int32 Path_IsSymLink(const char *Path) {
    Debug_CheckPointer(Path);
    char Fixed[MAX_PATH_SIZE];
    if (!Resolved(Path, Fixed, nullptr, nullptr)) return 0;
    uint32 Attributes = 0;
    if (!Platform_GetFileAttributes(nullptr, Fixed, &Attributes)) return 0;
    return (Attributes & PLATFORM_ATTRIBUTE_SYMLINK) != 0 ? 1 : 0;
}

extern "C" int32 Path_ReadLink(const char *Path, char *Output, int32 Size) {
    Debug_CheckPointer(Path);
    Debug_CheckPointer(Output);
    if (Size < 1) return 0;
    Output[0] = 0;
    char Fixed[MAX_PATH_SIZE];
    if (Size < 2 || !Resolved(Path, Fixed, nullptr, nullptr)) return 0;
    return Platform_GetSymLink(Fixed, Output, Size);
}

extern "C" int32 Path_FollowLink(const char *Path, char *Output, int32 Size) {
    Debug_CheckPointer(Path);
    Debug_CheckPointer(Output);
    if (Size < 1) return 0;
    Output[0] = 0;
    char Current[MAX_PATH_SIZE];
    if (!Resolved(Path, Current, nullptr, nullptr)) return 0;
    for (int32 Links = 0;; Links++) {
        if (!Path_IsSymLink(Current)) {
            String_CopyLength(Output, Current, std::min<int32>(Size, MAX_PATH_SIZE));
            return 1;
        }
        char Target[MAX_PATH_SIZE];
        if (Links == MaxLinkChain || !Platform_GetSymLink(Current, Target, sizeof(Target))) return 0;
        char Next[MAX_PATH_SIZE * 2];
        if (IsAbsoluteLinkText(Target)) {
            String_CopyLength(Next, Target, sizeof(Next));
        } else {
            const char *Filename;
            Path_ParseFilenamePtr(Current, &Filename);
            snprintf(Next, sizeof(Next), "%.*s%s", (int)(Filename - Current), Current, Target);
        }
        // A chain that leads to a path too long to hold is not followed.
        if (!PathInt_ResolveFitting(Next, Current, PATH_FIX_REMOVE_TRAILING)) return 0;
    }
}

extern "C" int32 Path_GetFileSize(const char *Path, uint64 *Size) {
    Debug_CheckPointer(Size);
    struct stat Status;
    int32 Found = Path_Stat(Path, &Status);
    *Size = Found ? (uint64)Status.st_size : 0;
    return Found;
}

extern "C" int32 Path_GetCreationTime(const char *Path, float64 *Time, int32 *Error) {
    return GetTime(Path, Time, Error, true, "GetCreationTime(%s) failed [LE: %d]\n");
}

extern "C" int32 Path_GetModifiedTime(const char *Path, float64 *Time, int32 *Error) {
    return GetTime(Path, Time, Error, false, "GetModifiedTime(%s) failed [LE: %d]\n");
}

extern "C" int32 Path_SetModifiedTime(const char *Path, int32 *Error, float64 Time) {
    Debug_CheckPointer(Path);
    constexpr const char *Message = "SetModifiedTime(%s) failed [LE: %d]\n";
    if (Error != nullptr) *Error = 0;
    char Fixed[MAX_PATH_SIZE];
    if (!Resolved(Path, Fixed, Error, Message)) return 0;
    struct tm Modified;
    if (!Time_ConvertEncodedToTm(&Modified, Time)) {
        errno = EINVAL;
        return Failed(Message, Path, Error);
    }
    if (!Platform_SetFileTime(Fixed, 0, nullptr, nullptr, nullptr, &Modified)) return Failed(Message, Path, Error);
    return 1;
}

extern "C" int32 Path_GetMode(const char *Path, uint32 *Mode, int32 *Error) {
    Debug_CheckPointer(Path);
    Debug_CheckPointer(Mode);
    constexpr const char *Message = "GetMode(%s) failed [LE: %d]\n";
    *Mode = 0;
    if (Error != nullptr) *Error = 0;
    char Fixed[MAX_PATH_SIZE];
    if (!Resolved(Path, Fixed, Error, Message)) return 0;
    struct stat Status;
    if (!Platform_Stat(Fixed, &Status)) return Failed(Message, Path, Error);
    *Mode = Status.st_mode & 0xFFFF;
    return 1;
}

extern "C" int32 Path_SetMode(const char *Path, uint32 Mode, int32 *Error) {
    Debug_CheckPointer(Path);
    constexpr const char *Message = "SetMode(%s) failed [LE: %d]\n";
    if (Error != nullptr) *Error = 0;
    char Fixed[MAX_PATH_SIZE];
    if (!Resolved(Path, Fixed, Error, Message)) return 0;
    if (!Platform_ChangeMode(nullptr, Fixed, Mode & 07777)) return Failed(Message, Path, Error);
    return 1;
}

extern "C" int32 Path_SetGroup(const char *Path, const char *Name) {
    Debug_CheckPointer(Path);
    Debug_CheckPointer(Name);
    char Fixed[MAX_PATH_SIZE];
    if (!Resolved(Path, Fixed, nullptr, nullptr)) return 0;
    return Platform_SetFileGroup(Fixed, Name);
}

extern "C" int32 Path_GetAttributes(const char *Path, uint32 *Attributes, int32 *Error) {
    Debug_CheckPointer(Path);
    Debug_CheckPointer(Attributes);
    // Logged only when the caller takes no error.
    const char *Message = Error == nullptr ? "GetAttributes(%s) failed [LE: %d]\n" : nullptr;
    *Attributes = 0;
    if (Error != nullptr) *Error = 0;
    char Fixed[MAX_PATH_SIZE];
    if (!Resolved(Path, Fixed, Error, Message)) return 0;
    if (Platform_GetFileAttributes(nullptr, Fixed, Attributes)) return 1;
    int32 Cause = Platform_GetLastError();
    if (Error != nullptr) *Error = Cause;
    if (Message != nullptr) Log_Debug(Message, Path, Cause);
    return 0;
}

extern "C" int32 Path_SetAttributes(const char *Path, uint32 Attributes, int32 *Error) {
    Debug_CheckPointer(Path);
    constexpr const char *Message = "SetAttributes(%s) failed [LE: %d]\n";
    if (Error != nullptr) *Error = 0;
    char Fixed[MAX_PATH_SIZE];
    if (!Resolved(Path, Fixed, Error, Message)) return 0;
    if (!Platform_SetFileAttributes(nullptr, Fixed, Attributes)) return Failed(Message, Path, Error);
    return 1;
}

extern "C" int32 Path_HasChanged(const struct stat *A, const struct stat *B) {
    Debug_CheckPointer(A);
    Debug_CheckPointer(B);
    return A->st_dev != B->st_dev || A->st_ino != B->st_ino || A->st_mode != B->st_mode ||
           A->st_nlink != B->st_nlink || A->st_uid != B->st_uid || A->st_gid != B->st_gid ||
           A->st_rdev != B->st_rdev || A->st_size != B->st_size || A->st_mtim.tv_sec != B->st_mtim.tv_sec ||
           A->st_ctim.tv_sec != B->st_ctim.tv_sec;
}

extern "C" int32 Path_ResetChanged(struct stat *Status) {
    Debug_CheckPointer(Status);
    memset(Status, 0, sizeof(*Status));
    return 1;
}

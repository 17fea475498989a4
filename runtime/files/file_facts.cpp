// File: byte-range locks, sparse mode, size at open and times of the open
// file (see file.h).
#include <errno.h>
#include <string.h>
#include <unistd.h>

#include "runtime/debug.h"
#include "runtime/files/file_internal.h"
#include "runtime/posix/platform.h"
#include "runtime/time.h"

namespace {

// Locks or unlocks [Start, End) from the file's position Start; the position
// is put back afterwards.
int32 ChangeLock(File *Handle, int64 Start, int64 End, int32 LockType, const char *Name) {
    File_Check(Handle);
    Stream_ClearLastError(&Handle->Stream);
    int64 Position = 0;
    if (!File_Tell(Handle, &Position)) return FALSE;
    if (Position != Start && !File_Seek(Handle, Start, STREAM_SEEK_SET)) return FALSE;
    // A length of 0 would mean "to the end of the file and beyond".
    const int32 Result = End > Start ? Platform_Lock(Handle->Descriptor, LockType, End - Start) : -1;
    if (End <= Start) errno = EINVAL;
    const int32 Error = Platform_GetLastError();
    if (Position != Start) File_Seek(Handle, Position, STREAM_SEEK_SET);
    if (Result == 0) return TRUE;
    Stream_SetLastError(&Handle->Stream, Error);
    File_VerboseLog(Handle, "Failed to %s %d [%s](%I64d - %I64d)\n", Name, Result, Handle->Path, Start, End);
    return FALSE;
}

int32 GetTime(File *Handle, float64 *Time, bool Creation) {
    File_Check(Handle);
    Debug_CheckPointer(Time);
    *Time = 0;
    struct tm BrokenDown;
    if (!Platform_GetFileTime(Handle->Path, Handle->Descriptor, nullptr, Creation ? &BrokenDown : nullptr, nullptr,
                              Creation ? nullptr : &BrokenDown)) {
        Stream_SetLastError(&Handle->Stream, Platform_GetLastError());
        return FALSE;
    }
    return Time_ConvertTmToEncoded(&BrokenDown, Time);
}

int32 SetTime(File *Handle, float64 Time, bool Creation) {
    File_Check(Handle);
    struct tm BrokenDown;
    if (!Time_ConvertEncodedToTm(&BrokenDown, Time)) return FALSE;
    if (!Platform_SetFileTime(Handle->Path, Handle->Descriptor, nullptr, Creation ? &BrokenDown : nullptr, nullptr,
                              Creation ? nullptr : &BrokenDown)) {
        Stream_SetLastError(&Handle->Stream, Platform_GetLastError());
        return FALSE;
    }
    return TRUE;
}

} // namespace

int32 File_GetFilesizeBytes(File *Handle, int64 *Size) {
    File_Check(Handle);
    Debug_CheckPointer(Size);
    *Size = (int64)Handle->Status.st_size;
    return TRUE;
}

int32 File_Lock(File *Handle, int64 Start, int64 End) {
    return ChangeLock(Handle, Start, End, PLATFORM_LOCK_EXCLUSIVE, "Lock");
}

int32 File_Unlock(File *Handle, int64 Start, int64 End) {
    return ChangeLock(Handle, Start, End, PLATFORM_LOCK_UNLOCK, "Unlock");
}

int32 File_EnableSparseMode(File *Handle) {
    File_Check(Handle);
    if (Handle->Descriptor == 0) return FALSE;
    if (Platform_SparseMode(Handle->Descriptor)) return TRUE;
    const int32 Error = Platform_GetLastError();
    Stream_SetLastError(&Handle->Stream, Error);
    File_VerboseLog(Handle, "Failed to set file to sparse mode (%d:%.8X)\n", Error, (uint32)Error);
    return FALSE;
}

int32 File_GetCreationTime(File *Handle, float64 *Time) { return GetTime(Handle, Time, true); }
int32 File_GetModifiedTime(File *Handle, float64 *Time) { return GetTime(Handle, Time, false); }
int32 File_SetCreationTime(File *Handle, float64 Time) { return SetTime(Handle, Time, true); }
int32 File_SetModifiedTime(File *Handle, float64 Time) { return SetTime(Handle, Time, false); }

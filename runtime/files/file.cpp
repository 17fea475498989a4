// File: the synchronous file handle as a Stream (see file.h). This source
// holds life, settings, open and close and the stream operations; locks,
// times and facts of the open file are in file_facts.cpp, the memory map in
// file_map.cpp.
//
// Descriptor 0 is the record's "nothing open", so an open that the system
// answers with descriptor 0 (standard input was closed) moves it higher.
#include "runtime/files/file.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "runtime/debug.h"
#include "runtime/files/file_internal.h"
#include "runtime/files/file_open_retry.h"
#include "runtime/files/path.h"
#include "runtime/memory.h"
#include "runtime/posix/platform.h"
#include "runtime/text/string.h"
#include "runtime/time.h"

namespace {

// Wait between open attempts of an existing file.
constexpr int32 RetryDelayMs = 1000;
// Bits of the access word that only the "Unable to open file" message shows.
constexpr int32 TextModeWord = 0x4000;
constexpr int32 ByteModeWord = 0x8000;

int32 DeleteThroughClass(void *HandleAddress) { return File_Delete(static_cast<File **>(HandleAddress)); }

File *Self(void *Handle) { return static_cast<File *>(Handle); }

void FillSlots(File *Handle) {
    StreamStruct *Record = &Handle->Stream;
    Record->Handle = Handle;
    Record->Write = [](void *H, const void *B, uint32 L, uint32 *C) { return File_Write(Self(H), B, L, C); };
    Record->Read = [](void *H, void *B, uint32 L, uint32 *C) { return File_Read(Self(H), B, L, C); };
    Record->Seek = [](void *H, int64 O, int32 W) { return File_Seek(Self(H), O, W); };
    Record->Flush = [](void *H) { return File_Flush(Self(H)); };
    Record->Tell = [](void *H, int64 *P) { return File_Tell(Self(H), P); };
    Record->Length = [](void *H, int64 *L) { return File_Length(Self(H), L); };
    Record->IsOpen = [](void *H) { return File_IsOpen(Self(H)); };
    Record->Close = [](void *H) { return File_Close(Self(H)); };
}

// The system's open flags of a flag word; no access bit is a fatal stop.
int AccessFlags(uint32 Flags) {
    const bool Read = Flags & FILE_READ, Write = Flags & FILE_WRITE;
    if (Read && Write) return O_RDWR | ((Flags & FILE_APPEND) ? 0 : O_CREAT);
    if (Write) return O_WRONLY | O_CREAT;
    if (Read) return O_RDONLY;
    Debug_Abort("Unknown mode [%d]\n", (int32)Flags);
    return 0;
}

int32 ShareValue(uint32 Flags) {
    const bool Read = Flags & FILE_SHAREREAD, Write = Flags & FILE_SHAREWRITE;
    if (Read && Write) return 0x80;
    if (Write) return 0x40;
    if (Read) return 0x20;
    return 0x10;
}

int32 Fail(File *Handle) {
    const int32 Error = Platform_GetLastError();
    Stream_SetLastError(&Handle->Stream, Error);
    return Error;
}

// A descriptor of at least 1, close-on-exec; -1 (errno set) on failure.
int KeepAboveZero(int Descriptor) {
    if (Descriptor != 0) return Descriptor;
    int Moved = fcntl(Descriptor, F_DUPFD_CLOEXEC, 1);
    int Saved = errno;
    close(Descriptor);
    errno = Saved;
    return Moved;
}

// After a successful open: the status of what was opened (its size before
// any truncation), then appending and truncating. false (errno set, closed)
// when a step fails, since a file that should have been emptied must not be
// handed out with its old content.
bool Prepare(File *Handle, int Descriptor) {
    bool Done = fstat(Descriptor, &Handle->Status) == 0;
    if (Done && (Handle->Flags & FILE_APPEND)) Done = lseek(Descriptor, 0, SEEK_END) >= 0;
    if (Done && (Handle->Flags & FILE_TRUNCATE)) Done = lseek(Descriptor, 0, SEEK_SET) == 0 && ftruncate(Descriptor, 0) == 0;
    if (Done) {
        Handle->Descriptor = Descriptor;
        return true;
    }
    int Saved = errno;
    close(Descriptor);
    errno = Saved;
    return false;
}

bool QuietFailure(File *Handle, int32 Error) {
    return (Handle->Flags & FILE_QUIETMISSING) && Platform_ErrorMissing(Error);
}

int32 OpenFailed(File *Handle, int32 AccessWord) {
    const int32 Error = Fail(Handle);
    Handle->Descriptor = 0;
    if (!QuietFailure(Handle, Error))
        File_Print(Handle, "Unable to open file [%s][%.8X](%d : %.8X)\n", Handle->Path, (uint32)AccessWord, Error,
                   (uint32)Error);
    return FALSE;
}

// Opens the stored path once; true with the descriptor in the record.
bool OpenOnce(File *Handle, int OpenFlags, int32 Share) {
    int Descriptor = Platform_Open(Handle->Path, OpenFlags, Share, PLATFORM_PERMISSION_READ | PLATFORM_PERMISSION_WRITE);
    if (Descriptor >= 0) Descriptor = KeepAboveZero(Descriptor);
    return Descriptor > 0 && Prepare(Handle, Descriptor);
}

} // namespace

CLASS_DEFINE_REFERENCE(File, File, FILE_CLASSID)
CLASSPRINT_DEFINE(File, File, FILE_CLASSID, "File", Print)

int32 File_Create(File **Handle) {
    Debug_CheckPointer(Handle);
    File *Object = Memory_New(File);
    Class_InitHeader(Object, FILE_CLASSID, DeleteThroughClass);
    FillSlots(Object);
    Object->Retries = FILE_DEFAULT_RETRIES;
    Object->AutoCreateDirectories = TRUE;
    *Handle = Object;
    return TRUE;
}

int32 File_Delete(File **Handle) {
    Debug_CheckPointer(Handle);
    File *Object = *Handle;
    File_Check(Object);
    if (Object->Descriptor != 0) File_Print(Object, "File not properly closed on delete [%s]\n", Object->Path);
    File_Reset(Object);
    Object->Class.ClassId = 0;
    Memory_Delete(Object);
    *Handle = nullptr;
    return TRUE;
}

int32 File_GetStreamHandle(File *Handle, StreamStruct **Stream) {
    File_Check(Handle);
    Debug_CheckPointer(Stream);
    *Stream = &Handle->Stream;
    return TRUE;
}

int32 File_SetRetries(File *Handle, int32 Retries) {
    File_Check(Handle);
    Handle->Retries = Retries;
    return TRUE;
}

int32 File_GetRetries(File *Handle, int32 *Retries) {
    File_Check(Handle);
    Debug_CheckPointer(Retries);
    *Retries = Handle->Retries;
    return TRUE;
}

int32 File_SetAutoCreateDirectories(File *Handle, int32 AutoCreate) {
    File_Check(Handle);
    Handle->AutoCreateDirectories = AutoCreate;
    return TRUE;
}

int32 File_GetAutoCreateDirectories(File *Handle, int32 *AutoCreate) {
    File_Check(Handle);
    Debug_CheckPointer(AutoCreate);
    *AutoCreate = Handle->AutoCreateDirectories;
    return TRUE;
}

int32 File_VerboseLog(File *Handle, const char *Format, ...) {
    File_Check(Handle);
    if (!File_IsVerboseLevel(Handle, 0)) return FALSE;
    va_list Arguments;
    va_start(Arguments, Format);
    const int32 Result = File_VPrint(Handle, 0, Format, Arguments);
    va_end(Arguments);
    return Result;
}

int32 File_Open(File *Handle, const char *Path, uint32 Flags) {
    File_Check(Handle);
    Debug_CheckPointer(Path);
    if (Flags & FILE_NOBUFFER)
        Debug_Abort("Assertion failed (ThisIsNot(Flags, FILE_NOBUFFER))\nUnbuffered I/O not supported in synchronous files");
    if (Handle->Descriptor != 0)
        Debug_Abort("Assertion failed (File->AccessPtr == 0)\nPrevious file [%s] must be closed before opening [%s]\n",
                    Handle->Path, Path);
    Stream_ClearLastError(&Handle->Stream);
    const int OpenFlags = AccessFlags(Flags);
    const int32 AccessWord = OpenFlags | ((Flags & FILE_TEXT) ? TextModeWord : ByteModeWord);
    const int32 Share = ShareValue(Flags);
    Handle->Flags = Flags;

    // A path that does not fit is refused: cut, it would name another file.
    char Resolved[MAX_PATH_SIZE * 4];
    Path_Resolve(Path, Resolved, sizeof(Resolved));
    Path_Fix(Resolved, sizeof(Resolved), PATH_FIX_REMOVE_TRAILING);
    String_CopyLength(Handle->Path, Resolved, sizeof(Handle->Path));
    if (strlen(Resolved) >= sizeof(Handle->Path)) {
        errno = ENAMETOOLONG;
        return OpenFailed(Handle, AccessWord);
    }
    if (Handle->Retries < 1) {
        errno = EINVAL;
        return OpenFailed(Handle, AccessWord);
    }

    int32 Attempt = 0;
    const FileOpenOutcome Outcome = File_OpenWithRetries(
        {Handle->Retries, RetryDelayMs, false}, &Attempt, [&] { return Path_Stat(Handle->Path, &Handle->Status) != 0; },
        [&] { return OpenOnce(Handle, OpenFlags, Share) != 0; },
        [&](int32 Failed) {
            const int32 Error = Platform_GetLastError();
            if (!QuietFailure(Handle, Error))
                File_Print(Handle, "Retrying open file (%s) (%d) [Err: %d]", Handle->Path, Failed, Error);
        });
    if (Outcome == FileOpenOutcome::Opened) return TRUE;
    if (Outcome == FileOpenOutcome::Failed) return OpenFailed(Handle, AccessWord);

    if (!(Flags & FILE_WRITE)) return OpenFailed(Handle, AccessWord);
    if (Attempt == 0 && Handle->AutoCreateDirectories == 1) {
        char Directory[MAX_PATH_SIZE];
        String_CopyLength(Directory, Handle->Path, sizeof(Directory));
        Path_RemoveFilename(Directory);
        if (Directory[0] != 0 && !Path_DirectoryExists(Directory)) Path_CreateDirectory(Directory, 0, nullptr);
    }
    if (OpenOnce(Handle, OpenFlags, Share)) return TRUE;
    return OpenFailed(Handle, AccessWord);
}

int32 File_Close(File *Handle) {
    File_Check(Handle);
    if (Handle->Descriptor == 0) return TRUE;
    Stream_ClearLastError(&Handle->Stream);
    // Linux releases the descriptor even when close reports an error, so
    // keeping it would later close another file's descriptor; the error is
    // still reported.
    if (close(Handle->Descriptor) != 0 && errno != EINTR) {
        const int32 Error = Fail(Handle);
        File_Print(Handle, "Unable to close [%s] [Err: %d]", Handle->Path, Error);
        Handle->Descriptor = 0;
        return FALSE;
    }
    Handle->Descriptor = 0;
    return TRUE;
}

int32 File_IsOpen(File *Handle) {
    File_Check(Handle);
    return Handle->Descriptor != 0;
}

int32 File_Reset(File *Handle) {
    File_Check(Handle);
    Stream_ClearLastError(&Handle->Stream);
    return File_Close(Handle);
}

bool FileInt_HasDescriptor(File *Handle, const char *Operation, bool WithLength, uint32 Length) {
    if (Handle->Descriptor != 0) return true;
    if (WithLength)
        File_Print(Handle, "No file handle is open - cannot %s [%s] (%d)", Operation, Handle->Path, (int32)Length);
    else
        File_Print(Handle, "No file handle is open - cannot %s", Operation);
    return false;
}

int32 File_Read(File *Handle, void *Buffer, uint32 Length, uint32 *Count) {
    File_Check(Handle);
    Debug_CheckPointer(Buffer);
    Debug_CheckPointer(Count);
    *Count = 0;
    Stream_ClearLastError(&Handle->Stream);
    if (!FileInt_HasDescriptor(Handle, "read", true, Length)) return FALSE;
    ssize_t Done;
    do {
        Done = read(Handle->Descriptor, Buffer, Length);
    } while (Done < 0 && errno == EINTR);
    if (Done > 0) {
        *Count = (uint32)Done;
        return TRUE;
    }
    if (Done < 0)
        File_Print(Handle, "Failed to read [%s] %d [Err: %d]", Handle->Path, (int32)Length, Fail(Handle));
    return FALSE;
}

int32 File_Write(File *Handle, const void *Buffer, uint32 Length, uint32 *Count) {
    File_Check(Handle);
    Debug_CheckPointer(Buffer);
    Debug_CheckPointer(Count);
    *Count = 0;
    Stream_ClearLastError(&Handle->Stream);
    if (!FileInt_HasDescriptor(Handle, "write", true, Length)) return FALSE;
    // A write may take fewer bytes than given (a full disk, a size limit, a
    // signal); the rest is written on, and a failure reports what did land.
    const uint8 *Data = static_cast<const uint8 *>(Buffer);
    uint32 Written = 0;
    while (Written < Length) {
        ssize_t Done = write(Handle->Descriptor, Data + Written, Length - Written);
        if (Done < 0 && errno == EINTR) continue;
        if (Done <= 0) {
            if (Done == 0) errno = EIO;
            *Count = Written;
            File_Print(Handle, "Failed to write [%s] %d (%d)", Handle->Path, (int32)Length, Fail(Handle));
            return FALSE;
        }
        Written += (uint32)Done;
    }
    *Count = Written;
    return TRUE;
}

int32 File_Seek(File *Handle, int64 Offset, int32 Origin) {
    File_Check(Handle);
    Stream_ClearLastError(&Handle->Stream);
    if (!FileInt_HasDescriptor(Handle, "seek", false, 0)) return FALSE;
    int Whence = Origin == STREAM_SEEK_SET ? SEEK_SET : Origin == STREAM_SEEK_CUR ? SEEK_CUR : Origin == STREAM_SEEK_END ? SEEK_END : -1;
    if (Whence < 0) errno = EINVAL;
    if (Whence < 0 || lseek(Handle->Descriptor, (off_t)Offset, Whence) < 0) {
        File_Print(Handle, "Failed to seek [%s] (%d:%I64d) [Err: %d]", Handle->Path, Origin, Offset, Fail(Handle));
        return FALSE;
    }
    return TRUE;
}

int32 File_Tell(File *Handle, int64 *Position) {
    File_Check(Handle);
    Debug_CheckPointer(Position);
    *Position = 0;
    if (!FileInt_HasDescriptor(Handle, "tell", false, 0)) return FALSE;
    off_t At = lseek(Handle->Descriptor, 0, SEEK_CUR);
    if (At < 0) return FALSE;
    *Position = At;
    return TRUE;
}

int32 File_Length(File *Handle, int64 *Length) {
    File_Check(Handle);
    Debug_CheckPointer(Length);
    *Length = 0;
    int64 Position = 0;
    if (!File_Tell(Handle, &Position)) return FALSE;
    if (!File_Seek(Handle, 0, STREAM_SEEK_END)) return FALSE;
    if (!File_Tell(Handle, Length)) return FALSE;
    return File_Seek(Handle, Position, STREAM_SEEK_SET);
}

int32 File_Flush(File *Handle) {
    File_Check(Handle);
    Stream_ClearLastError(&Handle->Stream);
    if (!FileInt_HasDescriptor(Handle, "flush", false, 0)) return FALSE;
    if (fsync(Handle->Descriptor) != 0) {
        File_Print(Handle, "Failed to flush [%s] [Err: %d]", Handle->Path, Fail(Handle));
        return FALSE;
    }
    return TRUE;
}

int32 File_Truncate(File *Handle) {
    File_Check(Handle);
    Stream_ClearLastError(&Handle->Stream);
    int64 Position = 0;
    if (!File_Tell(Handle, &Position)) {
        if (errno == 0) errno = EBADF;
        Fail(Handle);
        return FALSE;
    }
    if (ftruncate(Handle->Descriptor, (off_t)Position) != 0) {
        const int32 Error = Fail(Handle);
        File_Print(Handle, "Unable to truncate file [%s] [%I64d] [LE: %d]", Handle->Path, Position, Error);
        return FALSE;
    }
    return TRUE;
}

int32 File_TruncateAt(File *Handle, int64 Length) {
    File_Check(Handle);
    if (!File_Seek(Handle, Length, STREAM_SEEK_SET)) {
        File_Print(Handle, "Unable to seek to position for truncation [%s] [%I64d]", Handle->Path, Length);
        return FALSE;
    }
    return File_Truncate(Handle);
}

int32 File_GetLastError(File *Handle) {
    File_Check(Handle);
    return Stream_GetLastError(&Handle->Stream);
}

const char *File_GetPathPtr(File *Handle) {
    File_Check(Handle);
    return Handle->Path;
}

int32 File_GetPath(File *Handle, char *Output, int32 Size) {
    File_Check(Handle);
    Debug_CheckPointer(Output);
    if (Size < 1) return FALSE;
    String_CopyLength(Output, Handle->Path, Size);
    return TRUE;
}

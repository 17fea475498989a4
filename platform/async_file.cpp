// AsyncFile: see async_file.h.
//
// A request is a pread/pwrite loop at its absolute offset, in chunks that are
// metered as they pass. (The offsets are not made relative to the position at
// open: that correction belongs to channels that count from it, and here it
// would move every request of a FILE_APPEND file.) The file's mutex guards the
// channel pointer and the count of issued requests, which Close waits on.
#include "platform/async_file.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>

#include "runtime/containers/pool.h"
#include "runtime/debug.h"
#include "runtime/files/file_open_retry.h"
#include "runtime/files/path.h"
#include "runtime/log.h"
#include "runtime/memory.h"
#include "runtime/posix/platform.h"
#include "runtime/text/string.h"
#include "runtime/time.h"
#include "runtime/work_queue.h"

namespace {

constexpr int MaxThreads = 64;
constexpr int32 RecordsPerChunk = 30;
constexpr int32 RetryDelayMs = 100;
// One system call moves at most this much, so the meter sees large requests
// as they progress.
constexpr uint32 ChunkBytes = 1 << 20;

// The channel holds no reference to its file: requests do, and the last
// release closes a file still open, so a file an owner forgot to close is
// not kept (and its channel counted) for ever.
struct Channel {
    ClassStruct Class;
    int Descriptor;
    int64 BaseOffset; // the position when the channel was made
};

struct Request {
    int64 Offset;
    int32 Error;
    uint32 Length;
    uint32 Done;
    bool Write;
    void *Buffer;
    void *User;
    AsyncFile_CompleteFunc Callback;
};

struct GlobalAsyncFileStruct {
    ClassStruct Class;
    WorkQueue Queue{"com.velmarsh.asyncfile", MaxThreads};
    Pool *Requests = nullptr;
    Pool *Channels = nullptr;
    std::mutex Lock;
    std::condition_variable ChannelsGone;
    int32 OpenChannels = 0;
};

GlobalAsyncFileStruct *GlobalAsyncFile = nullptr;

// The file whose completion callback the current thread runs, so that a
// close from inside that callback does not wait for itself.
thread_local AsyncFile *CallbackFile = nullptr;

} // namespace

struct AsyncFile {
    ClassStruct Class;
    ClassPrintStruct Print;
    StreamStruct Stream;
    std::atomic<int32> Descriptor{-1};
    MeterRW *Meter = nullptr;
    std::mutex Lock; // guards Channel and Issued
    std::condition_variable Drained;
    int32 Issued = 0; // requests handed to the pool and not yet finished
    std::atomic<int32> PendingReads{0};
    std::atomic<int32> PendingWrites{0};
    char Path[MAX_PATH_SIZE] = {};
    int32 Retries = ASYNCFILE_DEFAULT_RETRIES;
    uint32 Flags = 0;
    int32 AutoCreateDirectories = TRUE;
    std::atomic<float64> LastUsed{0};
    Channel *Open = nullptr;
};

CLASS_DEFINE_REFERENCE(AsyncFile, AsyncFile, ASYNCFILE_CLASSID)
CLASSPRINT_DEFINE(AsyncFile, AsyncFile, ASYNCFILE_CLASSID, "AsyncFile", Print)

namespace {

#define AsyncFile_Check(Handle) Class_CheckHandle((Handle), ASYNCFILE_CLASSID)

GlobalAsyncFileStruct &Global() {
    Debug_CheckPointer(GlobalAsyncFile);
    return *GlobalAsyncFile;
}

void Touch(AsyncFile *Handle) { Handle->LastUsed.store(Time_GetCurrent(), std::memory_order_relaxed); }

int32 Fail(AsyncFile *Handle) {
    const int32 Error = Platform_GetLastError();
    Stream_SetLastError(&Handle->Stream, Error);
    return FALSE;
}

// Clears the last error and sets the last-used time: the start of every
// operation but the requests and the getters.
void Begin(AsyncFile *Handle) {
    AsyncFile_Check(Handle);
    Stream_ClearLastError(&Handle->Stream);
    Touch(Handle);
}

AsyncFile *Self(void *Handle) { return static_cast<AsyncFile *>(Handle); }

void FillSlots(AsyncFile *Handle) {
    StreamStruct *Record = &Handle->Stream;
    Record->Handle = Handle;
    Record->WriteAsync = [](void *H, int64 O, const void *B, uint32 L, void *C, void *U) {
        return AsyncFile_Write(Self(H), O, B, L, U, reinterpret_cast<AsyncFile_CompleteFunc>(C));
    };
    Record->ReadAsync = [](void *H, int64 O, void *B, uint32 L, void *C, void *U) {
        return AsyncFile_Read(Self(H), O, B, L, U, reinterpret_cast<AsyncFile_CompleteFunc>(C));
    };
    Record->Seek = [](void *H, int64 O, int32 W) { return AsyncFile_Seek(Self(H), O, W); };
    Record->Tell = [](void *H, int64 *P) { return AsyncFile_Tell(Self(H), P); };
    Record->IsOpen = [](void *H) { return AsyncFile_IsOpen(Self(H)); };
    Record->Close = [](void *H) { return AsyncFile_Close(Self(H)); };
}

int32 DeleteThroughClass(void *HandleAddress) { return AsyncFile_Delete(static_cast<AsyncFile **>(HandleAddress)); }

// The system's open flags of a flag word. Write-only empties an existing file
// unless the caller asked to append to it.
int AccessFlags(uint32 Flags) {
    const bool Read = Flags & FILE_READ, Write = Flags & FILE_WRITE;
    if (Read && Write) return O_RDWR | ((Flags & FILE_APPEND) ? 0 : O_CREAT);
    if (Write) return O_WRONLY | O_CREAT | ((Flags & FILE_APPEND) ? 0 : O_TRUNC);
    if (Read) return O_RDONLY;
    Debug_Abort("Unknown mode [%d]\n", (int32)Flags);
}

void DropFromCache(int Descriptor, int64 Offset, uint32 Length) {
    posix_fadvise(Descriptor, Offset, Length, POSIX_FADV_DONTNEED);
}

// The clean-up after close, on the pool: the descriptor, the record and the
// open-channel count.
void CleanUp(Channel *Record) {
    GlobalAsyncFileStruct &State = Global();
    close(Record->Descriptor);
    Record->Class.ClassId = 0;
    Pool_Free(State.Channels, &Record, (int32)sizeof(Channel));
    std::lock_guard Guard(State.Lock);
    if (--State.OpenChannels == 0) State.ChannelsGone.notify_all();
}

bool MakeChannel(AsyncFile *Handle, int Descriptor) {
    GlobalAsyncFileStruct &State = Global();
    std::lock_guard Guard(Handle->Lock);
    if (Handle->Open != nullptr) Debug_Abort("Assertion failed (AsyncFile->Context == NULL)\nFile channel already created");
    Channel *Record = static_cast<Channel *>(Pool_Alloc(State.Channels, (int32)sizeof(Channel)));
    Class_InitHeader(Record, ASYNCFILE_CHANNEL_CLASSID, nullptr);
    Record->Descriptor = Descriptor;
    Record->BaseOffset = lseek(Descriptor, 0, SEEK_CUR);
    {
        std::lock_guard Count(State.Lock);
        State.OpenChannels++;
    }
    Handle->Open = Record;
    Handle->Descriptor.store(Descriptor);
    return true;
}

// After a successful open: uncached I/O, appending, truncating, the channel.
bool Prepare(AsyncFile *Handle, int Descriptor) {
    if ((Handle->Flags & FILE_NOBUFFER) && posix_fadvise(Descriptor, 0, 0, POSIX_FADV_DONTNEED) != 0)
        Stream_SetLastError(&Handle->Stream, Platform_GetLastError());
    bool Done = true;
    if (Handle->Flags & FILE_APPEND) Done = lseek(Descriptor, 0, SEEK_END) >= 0;
    if (Done && (Handle->Flags & FILE_TRUNCATE)) Done = lseek(Descriptor, 0, SEEK_SET) == 0 && ftruncate(Descriptor, 0) == 0;
    if (!Done) {
        const int Saved = errno;
        close(Descriptor);
        errno = Saved;
        return false;
    }
    return MakeChannel(Handle, Descriptor);
}

bool OpenOnce(AsyncFile *Handle, int OpenFlags) {
    const int Descriptor =
        Platform_Open(Handle->Path, OpenFlags, 0, PLATFORM_PERMISSION_READ | PLATFORM_PERMISSION_WRITE);
    return Descriptor >= 0 && Prepare(Handle, Descriptor);
}

int32 OpenFailed(AsyncFile *Handle, int OpenFlags) {
    const int32 Error = Platform_GetLastError();
    Stream_SetLastError(&Handle->Stream, Error);
    Handle->Descriptor.store(-1);
    if (!((Handle->Flags & FILE_QUIETMISSING) && Platform_ErrorMissing(Error)))
        AsyncFile_Print(Handle, "Unable to open file [%s][%.8X](%d : %.8X)\n", Handle->Path, (uint32)OpenFlags, Error,
                        (uint32)Error);
    return FALSE;
}

// Moves the request's bytes; error 0 or the errno that stopped it.
void Transfer(AsyncFile *Handle, Channel *Record, Request *Work) {
    const int Descriptor = Record->Descriptor;
    while (Work->Done < Work->Length) {
        const uint32 Size = std::min(Work->Length - Work->Done, ChunkBytes);
        const int64 At = Work->Offset + Work->Done;
        char *Memory = static_cast<char *>(Work->Buffer) + Work->Done;
        const ssize_t Count = Work->Write ? pwrite(Descriptor, Memory, Size, At) : pread(Descriptor, Memory, Size, At);
        if (Count < 0) {
            if (errno == EINTR) continue;
            Work->Error = errno;
            break;
        }
        if (Count == 0) {
            if (Work->Write) Work->Error = EIO; // a write that moves nothing would loop
            break;                              // a read at the end of the file
        }
        Work->Done += (uint32)Count;
        if (Work->Write) MeterRW_ReportWrite(Handle->Meter, (int32)Count);
        else MeterRW_ReportRead(Handle->Meter, (int32)Count);
    }
    if ((Handle->Flags & FILE_NOBUFFER) && Work->Done > 0) {
        if (Work->Write) fdatasync(Descriptor); // dirty pages are not dropped
        DropFromCache(Descriptor, Work->Offset, Work->Done);
    }
}

// The end of every request: callback, counts, record. Counted marks a
// request that Close waits for, whose callback may close its own file.
void Finish(AsyncFile *Handle, Request *Work, bool Counted) {
    if (Work->Callback != nullptr) {
        AsyncFile *Outer = CallbackFile;
        if (Counted) CallbackFile = Handle;
        Work->Callback(Handle, Work->User, Work->Offset, Work->Buffer, Work->Done, Work->Error);
        CallbackFile = Outer;
    }
    (Work->Write ? Handle->PendingWrites : Handle->PendingReads).fetch_sub(1);
    Pool_Free(Global().Requests, &Work, (int32)sizeof(Request));
}

int32 Issue(AsyncFile *Handle, int64 Offset, void *Buffer, uint32 Length, void *User, AsyncFile_CompleteFunc Callback,
            bool Write) {
    AsyncFile_Check(Handle);
    if (Handle->Descriptor.load() == -1)
        Debug_Abort("Assertion failed (AsyncFile->Handle != -1)\nAttempted to use an invalid handle");
    if (Length > 0) Debug_CheckPointer(Buffer);
    Touch(Handle);
    GlobalAsyncFileStruct &State = Global();
    (Write ? Handle->PendingWrites : Handle->PendingReads).fetch_add(1);
    Request *Work = static_cast<Request *>(Pool_Alloc(State.Requests, (int32)sizeof(Request)));
    *Work = Request{Offset, 0, Length, 0, Write, Buffer, User, Callback};

    std::unique_lock Guard(Handle->Lock);
    Channel *Record = Handle->Open;
    if (Record == nullptr || Offset < 0) {
        Guard.unlock();
        Work->Error = Record == nullptr ? EBADF : EINVAL;
        Finish(Handle, Work, false);
        return TRUE;
    }
    Handle->Issued++;
    AsyncFile_AddRef(Handle);
    Guard.unlock();
    State.Queue.Post([Handle, Record, Work] {
        AsyncFile *Owner = Handle;
        Transfer(Owner, Record, Work);
        Finish(Owner, Work, true);
        {
            std::lock_guard Done(Owner->Lock);
            if (--Owner->Issued == 0) Owner->Drained.notify_all();
        }
        AsyncFile_Release(&Owner);
    });
    return TRUE;
}

int32 GetTime(AsyncFile *Handle, float64 *Time, bool Creation) {
    Begin(Handle);
    Debug_CheckPointer(Time);
    *Time = 0;
    struct tm BrokenDown;
    if (!Platform_GetFileTime(Handle->Path, Handle->Descriptor.load(), nullptr, Creation ? &BrokenDown : nullptr,
                              nullptr, Creation ? nullptr : &BrokenDown))
        return Fail(Handle);
    if (Time_ConvertTmToEncoded(&BrokenDown, Time)) return TRUE;
    Stream_SetLastError(&Handle->Stream, 22);
    return FALSE;
}

} // namespace

int32 AsyncFile_Init(void) {
    if (GlobalAsyncFile != nullptr)
        Debug_Abort("Assertion failed (GlobalAsyncFile == NULL)\nAsyncFile already initialized");
    GlobalAsyncFileStruct *State = new GlobalAsyncFileStruct();
    Class_InitHeader(State, GLOBALASYNCFILE_CLASSID, nullptr);
    for (Pool **Made : {&State->Requests, &State->Channels}) {
        Pool_Create(Made);
        Pool_SetMemorySize(*Made, Made == &State->Requests ? (uint32)sizeof(Request) : (uint32)sizeof(Channel));
        Pool_SetChunkSize(*Made, RecordsPerChunk);
        Pool_SetAllowLock(*Made, 1);
    }
    GlobalAsyncFile = State;
    return TRUE;
}

int32 AsyncFile_Remove(void) {
    GlobalAsyncFileStruct *State = GlobalAsyncFile;
    if (State == nullptr) return TRUE;
    {
        std::unique_lock Guard(State->Lock);
        State->ChannelsGone.wait(Guard, [State] { return State->OpenChannels == 0; });
    }
    State->Queue.Stop();
    Pool_Delete(&State->Requests);
    Pool_Delete(&State->Channels);
    GlobalAsyncFile = nullptr;
    delete State;
    return TRUE;
}

int32 AsyncFile_Create(AsyncFile **Handle) {
    Debug_CheckPointer(Handle);
    AsyncFile *Object = new AsyncFile();
    Class_InitHeader(Object, ASYNCFILE_CLASSID, DeleteThroughClass);
    FillSlots(Object);
    MeterRW_Create(&Object->Meter);
    Touch(Object);
    *Handle = Object;
    return TRUE;
}

int32 AsyncFile_Delete(AsyncFile **Handle) {
    Debug_CheckPointer(Handle);
    AsyncFile *Object = *Handle;
    AsyncFile_Check(Object);
    AsyncFile_Close(Object);
    MeterRW_Release(&Object->Meter);
    Object->Class.ClassId = 0;
    delete Object;
    *Handle = nullptr;
    return TRUE;
}

int32 AsyncFile_GetStreamHandle(AsyncFile *Handle, StreamStruct **Stream) {
    AsyncFile_Check(Handle);
    Debug_CheckPointer(Stream);
    *Stream = &Handle->Stream;
    return TRUE;
}

int32 AsyncFile_Open(AsyncFile *Handle, const char *Path, uint32 Flags) {
    AsyncFile_Check(Handle);
    Debug_CheckPointer(Path);
    Stream_ClearLastError(&Handle->Stream);
    if (Handle->Descriptor.load() != -1)
        Debug_Abort("Assertion failed (AsyncFile->Handle == -1)\nPrevious file [%s] must be closed before opening [%s]\n",
                    Handle->Path, Path);
    const int OpenFlags = AccessFlags(Flags);
    Touch(Handle);
    Handle->Flags = Flags;

    // A path that does not fit is refused: cut, it would name another file.
    char Resolved[MAX_PATH_SIZE * 4];
    Path_Resolve(Path, Resolved, sizeof(Resolved));
    Path_Fix(Resolved, sizeof(Resolved), PATH_FIX_REMOVE_TRAILING);
    String_CopyLength(Handle->Path, Resolved, sizeof(Handle->Path));
    if (strlen(Resolved) >= sizeof(Handle->Path)) {
        errno = ENAMETOOLONG;
        return OpenFailed(Handle, OpenFlags);
    }
    if (Handle->Retries < 1) {
        errno = EINVAL;
        return OpenFailed(Handle, OpenFlags);
    }

    int32 Attempt = 0;
    const FileOpenOutcome Outcome = File_OpenWithRetries(
        {Handle->Retries, RetryDelayMs, true}, &Attempt, [&] { return Path_Exists(Handle->Path) != 0; },
        [&] { return OpenOnce(Handle, OpenFlags) != 0; }, [](int32) {});
    if (Outcome == FileOpenOutcome::Opened) return TRUE;
    if (Outcome == FileOpenOutcome::Failed) return OpenFailed(Handle, OpenFlags);
    if (!(Flags & FILE_WRITE)) return OpenFailed(Handle, OpenFlags);
    if (Attempt == 0 && Handle->AutoCreateDirectories == 1) {
        char Directory[MAX_PATH_SIZE];
        String_CopyLength(Directory, Handle->Path, sizeof(Directory));
        Path_RemoveFilename(Directory);
        if (Directory[0] != 0 && !Path_DirectoryExists(Directory)) Path_CreateDirectory(Directory, 0, nullptr);
    }
    if (OpenOnce(Handle, OpenFlags)) return TRUE;
    return OpenFailed(Handle, OpenFlags);
}

int32 AsyncFile_Close(AsyncFile *Handle) {
    AsyncFile_Check(Handle);
    if (Handle->Descriptor.load() == -1) return TRUE;
    Stream_ClearLastError(&Handle->Stream);
    Channel *Record = nullptr;
    {
        std::unique_lock Guard(Handle->Lock);
        // A close from this file's own completion callback waits for the others.
        const int32 Own = CallbackFile == Handle ? 1 : 0;
        Handle->Drained.wait(Guard, [Handle, Own] { return Handle->Issued <= Own; });
        Record = Handle->Open;
        Handle->Open = nullptr;
        Handle->Descriptor.store(-1);
    }
    Touch(Handle);
    if (Record != nullptr) Global().Queue.Post([Record] { CleanUp(Record); });
    return TRUE;
}

int32 AsyncFile_IsOpen(AsyncFile *Handle) {
    AsyncFile_Check(Handle);
    return Handle->Descriptor.load() != -1;
}

int32 AsyncFile_Read(AsyncFile *Handle, int64 Offset, void *Buffer, uint32 Length, void *User,
                     AsyncFile_CompleteFunc Callback) {
    return Issue(Handle, Offset, Buffer, Length, User, Callback, false);
}

int32 AsyncFile_Write(AsyncFile *Handle, int64 Offset, const void *Buffer, uint32 Length, void *User,
                      AsyncFile_CompleteFunc Callback) {
    return Issue(Handle, Offset, const_cast<void *>(Buffer), Length, User, Callback, true);
}

int32 AsyncFile_HasPendingReads(AsyncFile *Handle) {
    AsyncFile_Check(Handle);
    return Handle->PendingReads.load() > 0;
}

int32 AsyncFile_HasPendingWrites(AsyncFile *Handle) {
    AsyncFile_Check(Handle);
    return Handle->PendingWrites.load() > 0;
}

int32 AsyncFile_Seek(AsyncFile *Handle, int64 Offset, int32 Origin) {
    Begin(Handle);
    const int Whence = Origin == STREAM_SEEK_CUR ? SEEK_CUR : Origin == STREAM_SEEK_END ? SEEK_END : SEEK_SET;
    if (lseek(Handle->Descriptor.load(), Offset, Whence) < 0) return Fail(Handle);
    return TRUE;
}

int32 AsyncFile_Tell(AsyncFile *Handle, int64 *Position) {
    Begin(Handle);
    Debug_CheckPointer(Position);
    *Position = 0;
    const off_t At = lseek(Handle->Descriptor.load(), 0, SEEK_CUR);
    if (At < 0) return Fail(Handle);
    *Position = At;
    return TRUE;
}

int32 AsyncFile_TruncateAt(AsyncFile *Handle, int64 Length) {
    Begin(Handle);
    if (ftruncate(Handle->Descriptor.load(), Length) == 0) return TRUE;
    Fail(Handle);
    const int32 Error = Handle->Stream.LastError;
    AsyncFile_Print(Handle, "Unable to truncate file [%s] [%d:%.8X]\n", Handle->Path, Error, (uint32)Error);
    return FALSE;
}

int32 AsyncFile_GetFilesizeBytes(AsyncFile *Handle, int64 *Size) {
    Begin(Handle);
    Debug_CheckPointer(Size);
    uint64 Bytes = 0;
    const int32 Result = Path_GetFileSize(Handle->Path, &Bytes);
    *Size = (int64)Bytes;
    if (!Result) return Fail(Handle);
    return TRUE;
}

int32 AsyncFile_EnableSparseMode(AsyncFile *Handle) {
    Begin(Handle);
    return FALSE;
}

int32 AsyncFile_GetCreationTime(AsyncFile *Handle, float64 *Time) { return GetTime(Handle, Time, true); }

int32 AsyncFile_GetModifiedTime(AsyncFile *Handle, float64 *Time) { return GetTime(Handle, Time, false); }

int32 AsyncFile_SetModifiedTime(AsyncFile *Handle, float64 Time) {
    Begin(Handle);
    struct tm BrokenDown;
    if (!Time_ConvertEncodedToTm(&BrokenDown, Time)) {
        Stream_SetLastError(&Handle->Stream, 22);
        return FALSE;
    }
    if (!Platform_SetFileTime(Handle->Path, Handle->Descriptor.load(), nullptr, nullptr, nullptr, &BrokenDown))
        return Fail(Handle);
    return TRUE;
}

int32 AsyncFile_GetAttributes(AsyncFile *Handle, uint32 *Attributes) {
    Begin(Handle);
    Debug_CheckPointer(Attributes);
    if (!Platform_GetFileAttributes(nullptr, Handle->Path, Attributes)) return Fail(Handle);
    return TRUE;
}

int32 AsyncFile_SetAttributes(AsyncFile *Handle, uint32 Attributes) {
    Begin(Handle);
    if (!Platform_SetFileAttributes(nullptr, Handle->Path, Attributes)) return Fail(Handle);
    return TRUE;
}

int32 AsyncFile_Rename(AsyncFile *Handle, const char *NewPath) {
    Begin(Handle);
    Debug_CheckPointer(NewPath);
    char Resolved[MAX_PATH_SIZE * 4];
    Path_Resolve(NewPath, Resolved, sizeof(Resolved));
    if (strlen(Resolved) >= sizeof(Handle->Path)) {
        Stream_SetLastError(&Handle->Stream, PLATFORM_ERROR_ERRNO_BASE + ENAMETOOLONG);
        return FALSE;
    }
    if (!Platform_MoveFile(nullptr, Handle->Path, Resolved, PLATFORM_MOVE_REPLACE_EXISTING | PLATFORM_MOVE_WRITE_THROUGH))
        return Fail(Handle);
    String_CopyLength(Handle->Path, Resolved, sizeof(Handle->Path));
    return TRUE;
}

int32 AsyncFile_GetOverallUsage(AsyncFile *Handle, int64 *Read, int64 *Written) {
    AsyncFile_Check(Handle);
    return MeterRW_GetOverallUsage(Handle->Meter, Read, Written);
}

int32 AsyncFile_GetMaxBandwidth(AsyncFile *Handle, float64 *Read, float64 *Write) {
    AsyncFile_Check(Handle);
    return MeterRW_GetMaxBandwidth(Handle->Meter, Read, Write);
}

int32 AsyncFile_GetCurrentBandwidth(AsyncFile *Handle, float64 *Read, float64 *Write) {
    AsyncFile_Check(Handle);
    return MeterRW_GetCurrentBandwidth(Handle->Meter, Read, Write);
}

int32 AsyncFile_GetLimitBandwidth(AsyncFile *Handle, int32 *Read, int32 *Write) {
    AsyncFile_Check(Handle);
    return MeterRW_GetLimitBandwidth(Handle->Meter, Read, Write);
}

int32 AsyncFile_SetLimitBandwidth(AsyncFile *Handle, int32 ReadLimit, int32 WriteLimit) {
    Begin(Handle);
    return MeterRW_SetLimitBandwidth(Handle->Meter, ReadLimit, WriteLimit);
}

int32 AsyncFile_GetMeterRWHandle(AsyncFile *Handle, MeterRW **Meter) {
    AsyncFile_Check(Handle);
    Debug_CheckPointer(Meter);
    *Meter = Handle->Meter;
    return TRUE;
}

int32 AsyncFile_GetOpenFlags(AsyncFile *Handle, uint32 *Flags) {
    AsyncFile_Check(Handle);
    Debug_CheckPointer(Flags);
    *Flags = Handle->Flags;
    return TRUE;
}

int32 AsyncFile_SetRetries(AsyncFile *Handle, int32 Retries) {
    Begin(Handle);
    Handle->Retries = Retries;
    return TRUE;
}

int32 AsyncFile_GetRetries(AsyncFile *Handle, int32 *Retries) {
    AsyncFile_Check(Handle);
    Debug_CheckPointer(Retries);
    *Retries = Handle->Retries;
    return TRUE;
}

int32 AsyncFile_SetAutoCreateDirectories(AsyncFile *Handle, int32 AutoCreate) {
    Begin(Handle);
    Handle->AutoCreateDirectories = AutoCreate;
    return TRUE;
}

int32 AsyncFile_GetAutoCreateDirectories(AsyncFile *Handle, int32 *AutoCreate) {
    AsyncFile_Check(Handle);
    Debug_CheckPointer(AutoCreate);
    *AutoCreate = Handle->AutoCreateDirectories;
    return TRUE;
}

int32 AsyncFile_GetPath(AsyncFile *Handle, char *Output, int32 Size) {
    AsyncFile_Check(Handle);
    Debug_CheckPointer(Output);
    String_CopyLength(Output, Handle->Path, Size);
    return TRUE;
}

int32 AsyncFile_GetLastUsedTime(AsyncFile *Handle, float64 *Seconds) {
    AsyncFile_Check(Handle);
    Debug_CheckPointer(Seconds);
    *Seconds = Handle->LastUsed.load();
    return TRUE;
}

int32 AsyncFile_GetLastError(AsyncFile *Handle) {
    AsyncFile_Check(Handle);
    return Stream_GetLastError(&Handle->Stream);
}

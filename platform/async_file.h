// AsyncFile: the file handle whose reads and writes complete later. Each
// request names an absolute file offset, a caller buffer and a completion
// callback; it runs on the process-wide file pool ("com.velmarsh.asyncfile"),
// is counted as pending until it completes, and is metered on the file's own
// MeterRW, which an owner may hang under its meter. An AsyncFile is a Stream
// whose asynchronous slots (and Seek, Tell, IsOpen, Close) are filled.
//
// Ownership and life: the owner holds a reference and every request in
// flight holds one more, so an owner may release the file while requests run
// and no completion ever meets a freed file; the last release closes a file
// still open. Close waits for every issued request (without a limit) and
// never cancels; the descriptor is closed by the clean-up that follows on the
// pool. AsyncFile_Remove waits until every channel's clean-up has run.
//
// Completion callbacks run on pool threads, several at a time. A write's
// buffer is not copied: it must stay valid and unchanged until its callback.
// The callback's error is the system error number (errno), 0 on success; a
// read that meets the end of the file completes with fewer bytes and error 0.
#pragma once

#include "runtime/class.h"
#include "runtime/files/file.h"
#include "runtime/streams/meter.h"
#include "runtime/streams/stream.h"
#include "runtime/types.h"

#define ASYNCFILE_CLASSID 0x36bbe9bau
#define ASYNCFILE_CHANNEL_CLASSID 0x28b822feu
#define GLOBALASYNCFILE_CLASSID 0xdef01425u
#define ASYNCFILE_DEFAULT_RETRIES 20

RUNTIME_EXTERN_C_BEGIN

typedef struct AsyncFile AsyncFile;

typedef int32 (*AsyncFile_CompleteFunc)(AsyncFile *File, void *User, int64 Offset, void *Buffer, uint32 BytesDone,
                                        int32 Error);

// Module start and stop. A second Init is a fatal stop; Remove without Init is 1.
int32 AsyncFile_Init(void);
int32 AsyncFile_Remove(void);

// Closed, Retries 20, AutoCreateDirectories 1, a new meter, one reference.
int32 AsyncFile_Create(AsyncFile **Handle);
// Closes (waiting for requests), deletes meter and lock, frees, clears *Handle.
int32 AsyncFile_Delete(AsyncFile **Handle);
CLASS_DECLARE_REFERENCE(AsyncFile, AsyncFile)
CLASSPRINT_DECLARE(AsyncFile, AsyncFile)
int32 AsyncFile_GetStreamHandle(AsyncFile *Handle, StreamStruct **Stream);

// Opens Path ("~" resolved, normalised) with the FILE_* flags. Unlike File,
// FILE_WRITE without FILE_READ empties an existing file (kept with
// FILE_APPEND). An existing file that cannot be opened is tried Retries
// times, 100 ms apart, with one message at the end; FILE_NOBUFFER keeps the
// transferred data out of the page cache. A file still open or a word
// without FILE_READ and FILE_WRITE are fatal stops.
int32 AsyncFile_Open(AsyncFile *Handle, const char *Path, uint32 Flags);
// Waits for every issued request, then closes the channel. Always 1.
int32 AsyncFile_Close(AsyncFile *Handle);
int32 AsyncFile_IsOpen(AsyncFile *Handle);

// Queue one request; always 1, every outcome arrives through Callback.
// Using a file that is not open is a fatal stop.
int32 AsyncFile_Read(AsyncFile *Handle, int64 Offset, void *Buffer, uint32 Length, void *User,
                     AsyncFile_CompleteFunc Callback);
int32 AsyncFile_Write(AsyncFile *Handle, int64 Offset, const void *Buffer, uint32 Length, void *User,
                      AsyncFile_CompleteFunc Callback);
int32 AsyncFile_HasPendingReads(AsyncFile *Handle);
int32 AsyncFile_HasPendingWrites(AsyncFile *Handle);

// The descriptor's position; requests carry their own offsets and ignore it.
int32 AsyncFile_Seek(AsyncFile *Handle, int64 Offset, int32 Origin);
int32 AsyncFile_Tell(AsyncFile *Handle, int64 *Position);
int32 AsyncFile_TruncateAt(AsyncFile *Handle, int64 Length);
// The size of the file at its path now.
int32 AsyncFile_GetFilesizeBytes(AsyncFile *Handle, int64 *Size);
// Not supported on this platform: always 0.
int32 AsyncFile_EnableSparseMode(AsyncFile *Handle);
int32 AsyncFile_GetCreationTime(AsyncFile *Handle, float64 *Time);
int32 AsyncFile_GetModifiedTime(AsyncFile *Handle, float64 *Time);
int32 AsyncFile_SetModifiedTime(AsyncFile *Handle, float64 Time);
int32 AsyncFile_GetAttributes(AsyncFile *Handle, uint32 *Attributes);
int32 AsyncFile_SetAttributes(AsyncFile *Handle, uint32 Attributes);
// Renames the file (replacing an existing one, data forced to disk, never a
// copy across volumes); success stores the new path.
int32 AsyncFile_Rename(AsyncFile *Handle, const char *NewPath);

// Bandwidth, passed on to the file's MeterRW.
int32 AsyncFile_GetOverallUsage(AsyncFile *Handle, int64 *Read, int64 *Written);
int32 AsyncFile_GetMaxBandwidth(AsyncFile *Handle, float64 *Read, float64 *Write);
int32 AsyncFile_GetCurrentBandwidth(AsyncFile *Handle, float64 *Read, float64 *Write);
int32 AsyncFile_GetLimitBandwidth(AsyncFile *Handle, int32 *Read, int32 *Write);
int32 AsyncFile_SetLimitBandwidth(AsyncFile *Handle, int32 ReadLimit, int32 WriteLimit);
int32 AsyncFile_GetMeterRWHandle(AsyncFile *Handle, MeterRW **Meter);

int32 AsyncFile_GetOpenFlags(AsyncFile *Handle, uint32 *Flags);
int32 AsyncFile_SetRetries(AsyncFile *Handle, int32 Retries);
int32 AsyncFile_GetRetries(AsyncFile *Handle, int32 *Retries);
int32 AsyncFile_SetAutoCreateDirectories(AsyncFile *Handle, int32 AutoCreate);
int32 AsyncFile_GetAutoCreateDirectories(AsyncFile *Handle, int32 *AutoCreate);
int32 AsyncFile_GetPath(AsyncFile *Handle, char *Output, int32 Size);
int32 AsyncFile_GetLastUsedTime(AsyncFile *Handle, float64 *Seconds);
int32 AsyncFile_GetLastError(AsyncFile *Handle);

RUNTIME_EXTERN_C_END

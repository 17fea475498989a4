// File: the synchronous file handle. One descriptor on one path, opened with
// a small flag word (access, creation, truncation, appending, sharing), with a
// number of open attempts a second apart and the creation of missing parent
// directories. It is a Stream: every reader and writer of streams takes the
// record from File_GetStreamHandle.
//
// Ownership: the File owns its descriptor; Delete closes one still open (and
// logs that it was not closed). A File has no lock: one thread uses it at a
// time. Failures set the stream's last error to the platform error number of
// the failing call, after clearing it at the start of the operation.
//
// FileMap maps an open File read-only into memory; a user of the view holds a
// reference to the map (FileMap_GetPointer / FileMap_ReleasePointer).
#pragma once

#include <sys/stat.h>

#include "runtime/class.h"
#include "runtime/streams/stream.h"
#include "runtime/types.h"

#define FILE_CLASSID 0xd2d88d63u
#define FILEMAP_CLASSID 0x19ef7243u

// Open flag word (shared with asynchronous files).
#define FILE_READ 0x1
#define FILE_WRITE 0x2         // a missing file is created (0666 less the umask)
#define FILE_TEXT 0x4          // no translation on this platform
#define FILE_TRUNCATE 0x8      // an existing file is cut to 0 after opening
#define FILE_APPEND 0x10       // an existing file is positioned at its end; with READ|WRITE: no creation
#define FILE_SHAREREAD 0x20    // no sharing restrictions on this platform
#define FILE_SHAREWRITE 0x40
#define FILE_QUIETMISSING 0x80 // a "missing" failure is not logged
#define FILE_NOBUFFER 0x100    // asynchronous files only (fatal stop here)

// Open attempts of a new File.
#define FILE_DEFAULT_RETRIES 20

RUNTIME_EXTERN_C_BEGIN

typedef struct File File;
typedef struct FileMap FileMap;

// ---- Life ----

// Closed, Retries 20, AutoCreateDirectories 1, one reference.
int32 File_Create(File **Handle);
// Closes a descriptor still open (logged), frees the record, clears *Handle.
int32 File_Delete(File **Handle);
CLASS_DECLARE_REFERENCE(File, File)
int32 File_GetStreamHandle(File *Handle, StreamStruct **Stream);

// ---- Settings and diagnostics ----

int32 File_SetRetries(File *Handle, int32 Retries);
int32 File_GetRetries(File *Handle, int32 *Retries);
int32 File_SetAutoCreateDirectories(File *Handle, int32 AutoCreate);
int32 File_GetAutoCreateDirectories(File *Handle, int32 *AutoCreate);
CLASSPRINT_DECLARE(File, File)
// Prints only when the file's verbose level admits level 0.
int32 File_VerboseLog(File *Handle, const char *Format, ...);

// ---- Open and close ----

// Opens Path ("~" resolved, normalised, at most 319 bytes) with FILE_* flags.
// An existing file that cannot be opened is tried Retries times, one second
// apart ("Retrying open file" logged before each new attempt); a missing one
// is not retried. FILE_WRITE creates a missing file and, with
// AutoCreateDirectories, its missing parent directories. No access bit,
// FILE_NOBUFFER, or a file still open are fatal stops.
int32 File_Open(File *Handle, const char *Path, uint32 Flags);
// 1 when nothing is open; on failure the descriptor stays open.
int32 File_Close(File *Handle);
int32 File_IsOpen(File *Handle);
// Clears the last error and closes.
int32 File_Reset(File *Handle);

// ---- Stream operations ----

// One read at the position: 1 with *Count bytes; 0 at the end of the file
// (last error 0, nothing logged) or on an error (logged).
int32 File_Read(File *Handle, void *Buffer, uint32 Length, uint32 *Count);
// Writes all Length bytes: 1 with *Count = Length; on an error 0 with *Count
// the bytes that did reach the file.
int32 File_Write(File *Handle, const void *Buffer, uint32 Length, uint32 *Count);
// Origins STREAM_SEEK_*.
int32 File_Seek(File *Handle, int64 Offset, int32 Origin);
int32 File_Tell(File *Handle, int64 *Position);
// The length now (the position is kept).
int32 File_Length(File *Handle, int64 *Length);
// Forces the data to the device.
int32 File_Flush(File *Handle);
// Cuts the file at the position / at Length (the position moves there).
int32 File_Truncate(File *Handle);
int32 File_TruncateAt(File *Handle, int64 Length);

// ---- Facts of the open file ----

// The size the file had when it was opened, before an open's truncation; not
// updated by writes. Always 1.
int32 File_GetFilesizeBytes(File *Handle, int64 *Size);
// Byte-range lock of [Start, End) (64-bit), exclusive and not waiting; the
// position is kept. Other processes' locks on the range make it fail.
int32 File_Lock(File *Handle, int64 Start, int64 End);
int32 File_Unlock(File *Handle, int64 Start, int64 End);
// Not supported on this platform: 0 (with the last error set when open).
int32 File_EnableSparseMode(File *Handle);
// Encoded times (seconds since 1970); 0 with *Time 0 on failure. The birth
// time cannot be set on this platform: setting it succeeds without effect.
int32 File_GetCreationTime(File *Handle, float64 *Time);
int32 File_GetModifiedTime(File *Handle, float64 *Time);
int32 File_SetCreationTime(File *Handle, float64 Time);
int32 File_SetModifiedTime(File *Handle, float64 Time);

int32 File_GetLastError(File *Handle);
// The resolved path of the open (or last opened) file.
const char *File_GetPathPtr(File *Handle);
int32 File_GetPath(File *Handle, char *Output, int32 Size);

// ---- Memory-mapped view ----

int32 FileMap_Create(FileMap **Handle);
// Unmaps a view still mapped (logged), frees the record, clears *Handle.
int32 FileMap_Delete(FileMap **Handle);
CLASS_DECLARE_REFERENCE(FileMap, FileMap)
// Maps the File's size at open, read-only, from offset 0. A view already
// mapped is a fatal stop. 0 (size 0) on failure.
int32 FileMap_MapViewOfFile(FileMap *Handle, File *Source);
// 1 when nothing is mapped; else unmaps.
int32 FileMap_UnmapViewOfFile(FileMap *Handle);
int32 FileMap_IsViewMapped(FileMap *Handle);
// The view and its size, and one more reference to the map; 0 (both 0) when
// nothing is mapped. ReleasePointer clears *Address and drops that reference.
int32 FileMap_GetPointer(FileMap *Handle, void **Address, uint64 *Size);
int32 FileMap_ReleasePointer(FileMap *Handle, void **Address);

RUNTIME_EXTERN_C_END

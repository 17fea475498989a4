// HashFile: the digest of one file, computed a slice at a time so that a
// large file never blocks the loop that drives it. The caller binds an
// algorithm, sets the path and callbacks, starts it and calls Process on
// later ticks until it completes; each tick reads at most 64 KiB.
//
// It is running exactly while its file is open. The complete callback runs
// once per started run (also when the open fails), from inside Start or
// Process, on the driving thread. A run that cannot go on (a read error, or
// a file that shrank below the size it had at the start) completes with
// result 0; the file error, if any, stays readable. A file that grows is
// hashed up to the size it had at the start.
#pragma once

#include "crypto/digests/hash.h"
#include "runtime/class.h"
#include "runtime/types.h"

#define HASHFILE_CLASSID 0xF8AF52B7u
// The longest path kept (with its terminator); longer ones are cut.
#define HASHFILE_PATH_SIZE 320
// Bytes read per tick.
#define HASHFILE_SLICE_SIZE 65536

RUNTIME_EXTERN_C_BEGIN

typedef struct HashFile HashFile;

typedef int32 (*HashFile_StartFunc)(HashFile *Handle, void *User);
typedef int32 (*HashFile_CompleteFunc)(HashFile *Handle, void *User, int32 Result);

int32 HashFile_Create(HashFile **Handle);
// Closes the file, deletes the Hash and frees the object.
int32 HashFile_Delete(HashFile **Handle);
CLASS_DECLARE_REFERENCE(HashFile, HashFile)
CLASSPRINT_DECLARE(HashFile, HashFile)
// Prints only when the object's verbose level admits level 0.
int32 HashFile_VerboseLog(HashFile *Handle, const char *Format, ...);

int32 HashFile_SetInterface(HashFile *Handle, const HashInterface *Interface);
int32 HashFile_SetPath(HashFile *Handle, const char *Path);
int32 HashFile_GetPath(HashFile *Handle, char *Output, int32 Size);
int32 HashFile_SetStartCallback(HashFile *Handle, void *User, HashFile_StartFunc Function);
int32 HashFile_SetCompleteCallback(HashFile *Handle, void *User, HashFile_CompleteFunc Function);

// Opens the file. Already running: 1 and nothing else. An empty path
// completes with 0 (answer 1); a failed open completes with 0 (answer 0) and
// keeps the error. The Hash is not reset: reset a reused object first.
int32 HashFile_Start(HashFile *Handle);
// One slice. 0 when not running, or when the run had to end early (completed
// with 0); else 1, and after the last slice the digest is ready and the run
// has completed with 1.
int32 HashFile_Process(HashFile *Handle);
// Closes the file, resets the Hash and clears the path.
int32 HashFile_Reset(HashFile *Handle);
int32 HashFile_IsRunning(HashFile *Handle);

int32 HashFile_GetString(HashFile *Handle, int32 Format, char *Output, int32 Size);
int32 HashFile_GetDigest(HashFile *Handle, void *Output, int32 Size);
int32 HashFile_GetFileSize(HashFile *Handle, int64 *Size);
int32 HashFile_GetBytesLeft(HashFile *Handle, int64 *Bytes);
int32 HashFile_GetBytesRead(HashFile *Handle, int64 *Bytes);
// 0, or the platform error number of the failed open or read.
int32 HashFile_GetLastFileError(HashFile *Handle);

RUNTIME_EXTERN_C_END

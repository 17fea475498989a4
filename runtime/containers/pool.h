// Pool: the record allocator behind Dictionaries, hash-table members and
// many request records. In fixed mode, records of one size are carved from
// chunks of several records and recycled through a free list (the record
// freed last is handed out next). In string mode, texts of any size are
// bump-allocated from chunks and all released together. In debug mode every
// request goes to the general allocator, so its guards and tracking see each
// record.
//
// Ownership: the pool owns its chunks; a record belongs to its holder from
// Pool_AllocInt until Pool_FreeInt (fixed and debug mode), or until the pool
// is reset (string mode). Every fixed-mode record has a descriptor directly
// in front of it that names its pool, its holder's source location and
// whether it is handed out, so a free finds it without a search and a second
// free of the same record is a fatal stop. Fixed- and debug-mode records start
// at a 16-byte boundary, so they may embed fields that need it; string-mode
// texts are packed without alignment.
//
// Modes and sizes are set right after creation and before the first
// allocation. Without AllowLock a pool belongs to one thread at a time; with
// it, allocation, free, reset, remove-all and the member-size change run
// under the pool's lock (setters and getters do not lock).
#pragma once

#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

typedef struct Pool Pool;

// A zeroed pool with ZeroOnAlloc on; File and Line name the creator in the
// leak message. Always 1.
int32 Pool_CreateInt(Pool **Handle, const char *File, int32 Line);
// Logs the records still out, frees every chunk and the pool, clears the handle.
int32 Pool_Delete(Pool **Handle);

// Configuration (1 each). Member size: records are that size rounded up to a
// multiple of 8; a new rounded size frees all chunks first. Chunk size:
// records per chunk, at least 1 before the first fixed-mode allocation and
// exactly 1 for string mode.
int32 Pool_SetMemorySize(Pool *Handle, uint32 Size);
int32 Pool_SetChunkSize(Pool *Handle, uint32 Records);
int32 Pool_SetStringMode(Pool *Handle, uint32 Flag);
int32 Pool_SetDebugMode(Pool *Handle, uint32 Flag);
int32 Pool_SetAllowLock(Pool *Handle, uint32 Flag);
int32 Pool_SetZeroOnAlloc(Pool *Handle, uint32 Flag);
int32 Pool_SetVerbose(Pool *Handle, uint32 Flag);

// One record of Size bytes (fixed mode: exactly the member size), attributed
// to File and Line.
void *Pool_AllocInt(Pool *Handle, int32 Size, const char *File, int32 Line);
// Takes back the record whose pointer is at RecordAddress (the address of the
// caller's pointer, of any pointer type), clears that pointer and returns
// null for the caller to store. A null record changes nothing.
void *Pool_FreeInt(Pool *Handle, void *RecordAddress, int32 Size, const char *File, int32 Line);
// Forgets every record at once; fixed mode keeps the chunks for reuse.
int32 Pool_Reset(Pool *Handle);
// Frees every chunk and clears the counts.
int32 Pool_RemoveAll(Pool *Handle);

// Getters (1 each).
int32 Pool_GetActiveCount(Pool *Handle, uint32 *Count);
int32 Pool_GetMaximumCount(Pool *Handle, uint32 *Count);
int32 Pool_GetMemoryInUse(Pool *Handle, uint32 *Bytes);
int32 Pool_GetAllowLock(Pool *Handle, uint32 *Flag);
int32 Pool_GetMemorySize(Pool *Handle, uint32 *Size);
int32 Pool_GetChunkSize(Pool *Handle, uint32 *Records);
int32 Pool_GetStringMode(Pool *Handle, uint32 *Flag);
int32 Pool_GetDebugMode(Pool *Handle, uint32 *Flag);
int32 Pool_GetZeroOnAlloc(Pool *Handle, uint32 *Flag);
int32 Pool_GetVerbose(Pool *Handle, uint32 *Flag);
// Unused bytes after each string chunk's cursor, summed.
int32 Pool_GetStringMemoryLeftOver(Pool *Handle, uint32 *Bytes);
// The number of chunks.
int32 Pool_GetBlocksInUse(Pool *Handle, uint32 *Count);

// 1 for a non-null handle of the pool's class.
int32 Pool_ValidHandle(Pool *Handle);

// Calls Visit with every record of a fixed-mode pool that is handed out, in
// the order they lie in memory (not the order they were taken). For an owner
// that lets go of many records at once and has to look into each first: a
// walk through memory in order instead of along the owner's own links.
// Nothing for a pool in string or debug mode. The pool must not change
// during the walk.
void PoolInt_VisitRecords(Pool *Handle, void (*Visit)(void *Record, void *User), void *User);

RUNTIME_EXTERN_C_END

// Callers pass their own source location with every request.
#define Pool_Create(Handle) Pool_CreateInt((Handle), __FILE__, __LINE__)
#define Pool_Alloc(Handle, Size) Pool_AllocInt((Handle), (Size), __FILE__, __LINE__)
#define Pool_Free(Handle, RecordAddress, Size) Pool_FreeInt((Handle), (RecordAddress), (Size), __FILE__, __LINE__)

// DuplexStream: the pair of queue-style memory streams that sits between a
// network connection and its consumer. The read side holds bytes that arrived
// and wait to be consumed; the write side holds bytes that wait to be sent.
// The socket code puts into the read side and takes from the write side,
// while the protocol code on another thread does the opposite.
//
// Both sides grow on demand up to 1 MiB each and have their own recursive
// lock, so a thread filling one side never waits for a thread working on
// the other. A side's transaction holds that side's lock until it ends (a
// record or request head goes in as one unit, rolled back when a put fails).
// The duplex stream owns both memory streams; it has no Stream record of its
// own. Every operation forwards to one side (Read... to the read side,
// Write... to the write side) and answers as that memory-stream operation.
#pragma once

#include "runtime/class.h"
#include "runtime/streams/memory_stream.h"
#include "runtime/types.h"

#define DUPLEXSTREAM_CLASSID 0x6d8a9d1fu
// Growth bound of each side.
#define DUPLEXSTREAM_MAXCAPACITY 0x100000

RUNTIME_EXTERN_C_BEGIN

typedef struct DuplexStream DuplexStream;

// Both sides with AutoGrow, the 1 MiB bound and locks; one reference.
int32 DuplexStream_Create(DuplexStream **Handle);
// Deletes both memory streams, frees the record, clears the handle.
int32 DuplexStream_Delete(DuplexStream **Handle);
CLASS_DECLARE_REFERENCE(DuplexStream, DuplexStream)

int32 DuplexStream_ReadLock(DuplexStream *Handle);
int32 DuplexStream_ReadUnlock(DuplexStream *Handle);
int32 DuplexStream_ReadTransactionActive(DuplexStream *Handle);
int32 DuplexStream_ReadTransactionStart(DuplexStream *Handle);
int32 DuplexStream_ReadTransactionEnd(DuplexStream *Handle, int32 Rollback);
// Bytes held, and room left under the bound (1 each).
int32 DuplexStream_ReadGetBufferUsed(DuplexStream *Handle, int32 *Bytes);
int32 DuplexStream_ReadGetBufferLeft(DuplexStream *Handle, int32 *Bytes);
int32 DuplexStream_ReadGet(DuplexStream *Handle, void *Buffer, uint32 Length, uint32 *Count);
// 1 when at least one byte was put (the count is not reported).
int32 DuplexStream_ReadPut(DuplexStream *Handle, const void *Data, uint32 Length);
int32 DuplexStream_ReadPutFormat(DuplexStream *Handle, const char *Format, ...);
int32 DuplexStream_ReadVPutFormat(DuplexStream *Handle, const char *Format, va_list Arguments);
// Moves Other's read-side bytes to the end of this read side.
int32 DuplexStream_ReadFill(DuplexStream *Handle, DuplexStream *Other);
// Pins the side's buffer (see MemoryStream_GetPointer) and gives its used bytes.
int32 DuplexStream_ReadGetPointer(DuplexStream *Handle, void *PointerAddress, int32 *Used);
int32 DuplexStream_ReadReleasePointer(DuplexStream *Handle, void *PointerAddress);

int32 DuplexStream_WriteLock(DuplexStream *Handle);
int32 DuplexStream_WriteUnlock(DuplexStream *Handle);
int32 DuplexStream_WriteTransactionActive(DuplexStream *Handle);
int32 DuplexStream_WriteTransactionStart(DuplexStream *Handle);
int32 DuplexStream_WriteTransactionEnd(DuplexStream *Handle, int32 Rollback);
int32 DuplexStream_WriteGetBufferUsed(DuplexStream *Handle, int32 *Bytes);
int32 DuplexStream_WriteGetBufferLeft(DuplexStream *Handle, int32 *Bytes);
int32 DuplexStream_WriteGet(DuplexStream *Handle, void *Buffer, uint32 Length, uint32 *Count);
int32 DuplexStream_WritePut(DuplexStream *Handle, const void *Data, uint32 Length);
int32 DuplexStream_WritePutFormat(DuplexStream *Handle, const char *Format, ...);
int32 DuplexStream_WriteVPutFormat(DuplexStream *Handle, const char *Format, va_list Arguments);
int32 DuplexStream_WriteFill(DuplexStream *Handle, DuplexStream *Other);
int32 DuplexStream_WriteGetPointer(DuplexStream *Handle, void *PointerAddress, int32 *Used);
int32 DuplexStream_WriteReleasePointer(DuplexStream *Handle, void *PointerAddress);

// The sides themselves (no new reference); 1 when the side exists.
int32 DuplexStream_GetReadMemoryStreamHandle(DuplexStream *Handle, MemoryStream **Side);
int32 DuplexStream_GetWriteMemoryStreamHandle(DuplexStream *Handle, MemoryStream **Side);

// Empties both sides.
int32 DuplexStream_Reset(DuplexStream *Handle);
// Sets both sides' lock setting; the getter reads the read side's.
int32 DuplexStream_SetAllowLock(DuplexStream *Handle, int32 Allow);
int32 DuplexStream_GetAllowLock(DuplexStream *Handle, int32 *Allow);

RUNTIME_EXTERN_C_END

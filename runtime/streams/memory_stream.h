// MemoryStream: the growable in-memory byte buffer. It serves two styles at
// once: a file-like stream with one position (Read, Write, Seek, Tell through
// its Stream record), and a queue whose data always starts at byte 0 (Put
// appends, Get takes from the front; the duplex streams of connections use
// it so). It can also wrap a caller's block without owning it (SetPointer):
// such a foreign buffer is never grown, resized or freed.
//
// Invariants: 0 <= Used <= Size <= Capacity and 0 <= Position <= Used; the
// data is the first Used bytes of the buffer. Size is the bound for writes;
// growth is geometric (50 % headroom over a request, writes grow by at least
// 4,096 bytes) and never beyond a nonzero MaxCapacity, so a write near that
// bound takes only what fits. Discards never take more than is held.
//
// Pointers into the buffer (GetPointer and its siblings) are pinned: until
// each is released, closing or resizing the buffer is a fatal stop. With
// AllowLock 1 a recursive critical section guards the data; a transaction
// holds it from start to end, so another thread's put or get waits until the
// transaction ends; the used and room queries lock too. Seek, Tell, IsOpen,
// GetSize, GetCapacity and the pointer functions do not lock.
#pragma once

#include "runtime/class.h"
#include "runtime/streams/stream.h"
#include "runtime/types.h"

#define MEMORYSTREAM_CLASSID 0xa2214518u

RUNTIME_EXTERN_C_BEGIN

typedef struct MemoryStream MemoryStream;

// A callback transfer: Pointer and Bytes describe the data offered (or the
// room); the callback sets Done to the bytes it took (or produced) and
// answers 1 on success.
typedef int32 (*MemoryStream_TransferFunc)(void *User, uint8 *Pointer, int32 Bytes, int32 *Done);

// Life. A new stream has no buffer, AutoGrow 0, no MaxCapacity, no lock and
// one reference; Delete closes it (pins must be released), deletes the lock,
// frees the record and clears the handle.
int32 MemoryStream_Create(MemoryStream **Handle);
int32 MemoryStream_Delete(MemoryStream **Handle);
CLASS_DECLARE_REFERENCE(MemoryStream, MemoryStream)
int32 MemoryStream_GetStreamHandle(MemoryStream *Handle, StreamStruct **Record);

// Settings (1 each). AllowLock 1 creates the lock when missing, 0 deletes it.
int32 MemoryStream_SetAutoGrow(MemoryStream *Handle, int32 Flag);
int32 MemoryStream_GetAutoGrow(MemoryStream *Handle, int32 *Flag);
int32 MemoryStream_SetMaxCapacity(MemoryStream *Handle, int32 Bytes);
int32 MemoryStream_SetAllowLock(MemoryStream *Handle, int32 Allow);
int32 MemoryStream_GetAllowLock(MemoryStream *Handle, int32 *Allow);

// Makes the buffer hold Size bytes; File and Line name the caller. A Size of 0
// closes the stream. With KeepData 1 the data (as much as fits) and the
// position stay, otherwise both are cleared. Reallocate 1 always allocates a
// new buffer. Size becomes the request cut to the capacity, which a nonzero
// MaxCapacity bounds. 0 for a foreign buffer or a negative size.
int32 MemoryStream_SizeInt(MemoryStream *Handle, int32 Size, int32 KeepData, int32 Reallocate, const char *File,
                           int32 Line);
// Frees an owned buffer and empties the stream; the settings, the lock and an
// open transaction stay. Pins must be released (fatal stop otherwise).
int32 MemoryStream_Close(MemoryStream *Handle);
// Forgets the data (Used and Position 0) and keeps the buffer.
int32 MemoryStream_DiscardAll(MemoryStream *Handle);
// Closes, then makes the caller's block the buffer (null Data only closes).
// 0 (nothing changed) when Used is not within 0 ... Capacity.
int32 MemoryStream_SetPointer(MemoryStream *Handle, void *Data, int32 Used, int32 Capacity);

// Pins: the address of the buffer at Offset (0, Used) in the caller's pointer
// of any type at PointerAddress; 1 and one more pin when there is a buffer and
// the offset lies within 0 ... Capacity, else 0 with the pointer null.
int32 MemoryStream_GetPointerAt(MemoryStream *Handle, int32 Offset, void *PointerAddress);
int32 MemoryStream_GetPointer(MemoryStream *Handle, void *PointerAddress);
int32 MemoryStream_GetAvailablePointer(MemoryStream *Handle, void *PointerAddress);
// Drops one pin for a non-null pointer and clears it; 1.
int32 MemoryStream_ReleasePointer(MemoryStream *Handle, void *PointerAddress);

// Queries (values, not results).
int32 MemoryStream_GetUsed(MemoryStream *Handle);
int32 MemoryStream_GetAvailable(MemoryStream *Handle);         // Size - Used
int32 MemoryStream_GetAvailableCapacity(MemoryStream *Handle); // MaxCapacity - Used; 0 without a bound
int32 MemoryStream_GetSize(MemoryStream *Handle);
int32 MemoryStream_GetCapacity(MemoryStream *Handle);

// Stream slots. Write and Read move the position; a write of 0 bytes, one
// that fits nothing, and a read that delivers nothing answer 0. Seek targets
// within 0 ... Used (origin 2 goes to Used and ignores the offset).
int32 MemoryStream_Write(MemoryStream *Handle, const void *Data, uint32 Length, uint32 *Count);
int32 MemoryStream_Read(MemoryStream *Handle, void *Buffer, uint32 Length, uint32 *Count);
int32 MemoryStream_Seek(MemoryStream *Handle, int64 Offset, int32 Origin);
int32 MemoryStream_Tell(MemoryStream *Handle, int64 *Position);
int32 MemoryStream_Length(MemoryStream *Handle, int64 *Length);
int32 MemoryStream_IsOpen(MemoryStream *Handle);

// Queue operations. Put appends (position unchanged); Get copies from the
// front and drops what it copied, or with a null buffer drops Length bytes;
// DiscardBegin answers 1 while data remains; Claim counts bytes written
// through GetAvailablePointer as data (0, nothing changed, past Size); Fill
// moves the front of Source to the end of Destination within its bound.
int32 MemoryStream_Put(MemoryStream *Handle, const void *Data, uint32 Length, uint32 *Count);
int32 MemoryStream_Get(MemoryStream *Handle, void *Buffer, uint32 Length, uint32 *Count);
int32 MemoryStream_DiscardBegin(MemoryStream *Handle, int32 Bytes);
int32 MemoryStream_DiscardEnd(MemoryStream *Handle, int32 Bytes);
int32 MemoryStream_Claim(MemoryStream *Handle, int32 Bytes);
int32 MemoryStream_Fill(MemoryStream *Destination, MemoryStream *Source);

// Callback transfers under the lock. ReadToWrite offers the bytes from the
// position and drops what the callback took from the front (a queue reader);
// WriteFromRead offers the room behind the data and adds what the callback
// produced (a queue writer). Count gets the bytes moved; the result is the
// callback's (ReadToWrite answers 1 without a call when nothing is offered).
int32 MemoryStream_ReadToWriteCallback(MemoryStream *Handle, void *User, MemoryStream_TransferFunc Callback,
                                       int32 *Count);
int32 MemoryStream_WriteFromReadCallback(MemoryStream *Handle, void *User, MemoryStream_TransferFunc Callback,
                                         int32 *Count);

// Appends formatted text behind the data (terminated, the terminator not
// counted); grows with AutoGrow, else 0 when it does not fit.
int32 MemoryStream_Print(MemoryStream *Handle, const char *Format, ...);
int32 MemoryStream_VPrint(MemoryStream *Handle, const char *Format, va_list Arguments);

// Transactions: Start takes the lock and keeps it until End; End with
// Rollback 1 drops every byte added since Start. Starting twice or ending
// without a start is a fatal stop.
int32 MemoryStream_TransactionActive(MemoryStream *Handle);
int32 MemoryStream_TransactionStart(MemoryStream *Handle);
int32 MemoryStream_TransactionEnd(MemoryStream *Handle, int32 Rollback);
// Holds the lock across several calls; 0 when locks are not allowed.
int32 MemoryStream_Lock(MemoryStream *Handle);
int32 MemoryStream_Unlock(MemoryStream *Handle);

RUNTIME_EXTERN_C_END

#define MemoryStream_Size(Handle, Size, KeepData, Reallocate) \
    MemoryStream_SizeInt((Handle), (Size), (KeepData), (Reallocate), __FILE__, __LINE__)

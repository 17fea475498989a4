// Stream: the one byte-stream abstraction of the system. It is not a class
// but a record of operation slots that every stream object embeds in itself
// and hands out by address (MemoryStream_GetStreamHandle and the like); all
// generic code (document readers and writers, hashing, copying) works only
// through the Stream_* operations below.
//
// The implementing object fills the slots it supports when it is created,
// sets Handle to itself and leaves the others null; every slot receives
// Handle first. The record has no class header and lives and dies with its
// object. A layered stream (buffered, Base64, cipher) keeps the stream beneath
// it in BaseStreamHandle and calls it through these same operations.
//
// Slots answer 1 for success and 0 for failure; a missing slot is never fatal
// (the generic operation answers 0). Lengths are 32-bit unsigned, byte counts
// 32-bit out-values, positions signed 64-bit. Seek origins: 0 from the start,
// 1 from the current position, 2 to the end. Every implementation that can
// run out of data answers a Read or Peek that delivers no bytes with 0.
//
// The record has no lock; each implementation decides its own locking.
#pragma once

#include "runtime/types.h"

#define STREAM_SEEK_SET 0
#define STREAM_SEEK_CUR 1
#define STREAM_SEEK_END 2

RUNTIME_EXTERN_C_BEGIN

typedef int32 (*Stream_PeekFunc)(void *Handle, void *Buffer, uint32 Length, uint32 *Count);
typedef int32 (*Stream_WriteFunc)(void *Handle, const void *Buffer, uint32 Length, uint32 *Count);
typedef int32 (*Stream_ReadFunc)(void *Handle, void *Buffer, uint32 Length, uint32 *Count);
// Asynchronous requests name an absolute file offset; completion is reported
// through Callback, whose form the implementing object defines.
typedef int32 (*Stream_WriteAsyncFunc)(void *Handle, int64 Offset, const void *Buffer, uint32 Length,
                                       void *Callback, void *User);
typedef int32 (*Stream_ReadAsyncFunc)(void *Handle, int64 Offset, void *Buffer, uint32 Length, void *Callback,
                                      void *User);
typedef int32 (*Stream_SeekFunc)(void *Handle, int64 Offset, int32 Origin);
typedef int32 (*Stream_FlushFunc)(void *Handle);
typedef int32 (*Stream_TellFunc)(void *Handle, int64 *Position);
typedef int32 (*Stream_LengthFunc)(void *Handle, int64 *Length);
typedef int32 (*Stream_IsOpenFunc)(void *Handle);
typedef int32 (*Stream_CloseFunc)(void *Handle);

// The slot order is fixed: other runtimes' objects and interop libraries
// fill and read it by position.
typedef struct StreamStruct {
    void *Handle;
    Stream_PeekFunc Peek;
    Stream_WriteFunc Write;
    Stream_WriteAsyncFunc WriteAsync;
    Stream_ReadFunc Read;
    Stream_ReadAsyncFunc ReadAsync;
    Stream_SeekFunc Seek;
    Stream_FlushFunc Flush;
    Stream_TellFunc Tell;
    Stream_LengthFunc Length;
    Stream_IsOpenFunc IsOpen;
    Stream_CloseFunc Close;
    int32 LastError;                        // platform error number; 0 = none
    struct StreamStruct *BaseStreamHandle;  // the stream a layered stream sits on
} StreamStruct;

// Slot tests: 1 when the slot is filled.
int32 Stream_CanPeek(StreamStruct *Stream);
int32 Stream_CanWrite(StreamStruct *Stream);
int32 Stream_CanWriteAsync(StreamStruct *Stream);
int32 Stream_CanRead(StreamStruct *Stream);
int32 Stream_CanReadAsync(StreamStruct *Stream);
int32 Stream_CanSeek(StreamStruct *Stream);
int32 Stream_CanFlush(StreamStruct *Stream);
int32 Stream_CanTell(StreamStruct *Stream);
int32 Stream_CanLength(StreamStruct *Stream);
int32 Stream_CanIsOpen(StreamStruct *Stream);
int32 Stream_CanClose(StreamStruct *Stream);

// Generic operations: the slot's result, or 0 for an empty slot. Buffers and
// out-values must not be null (fatal stop); counts and positions are cleared
// before the slot is called.
int32 Stream_Peek(StreamStruct *Stream, void *Buffer, uint32 Length, uint32 *Count);
int32 Stream_Write(StreamStruct *Stream, const void *Buffer, uint32 Length, uint32 *Count);
int32 Stream_Read(StreamStruct *Stream, void *Buffer, uint32 Length, uint32 *Count);
int32 Stream_WriteAsync(StreamStruct *Stream, int64 Offset, const void *Buffer, uint32 Length, void *Callback,
                        void *User);
int32 Stream_ReadAsync(StreamStruct *Stream, int64 Offset, void *Buffer, uint32 Length, void *Callback, void *User);
int32 Stream_Seek(StreamStruct *Stream, int64 Offset, int32 Origin);
int32 Stream_Flush(StreamStruct *Stream);
int32 Stream_Tell(StreamStruct *Stream, int64 *Position);
int32 Stream_Length(StreamStruct *Stream, int64 *Length);
int32 Stream_IsOpen(StreamStruct *Stream);
int32 Stream_Close(StreamStruct *Stream);

// Typed writes through Stream_Write, answering its result (a short write is
// not detected here: callers compare the count). Integers are written in the
// machine's byte order (little-endian); WriteChar writes the low 8 bits and
// WriteString the text without its terminator.
int32 Stream_WriteChar(StreamStruct *Stream, int32 Character, uint32 *Count);
int32 Stream_WriteString(StreamStruct *Stream, const char *Text, uint32 *Count);
int32 Stream_WriteInt16(StreamStruct *Stream, int16 Value, uint32 *Count);
int32 Stream_WriteUInt16(StreamStruct *Stream, uint16 Value, uint32 *Count);
int32 Stream_WriteInt32(StreamStruct *Stream, int32 Value, uint32 *Count);
int32 Stream_WriteUInt32(StreamStruct *Stream, uint32 Value, uint32 *Count);
int32 Stream_WriteInt64(StreamStruct *Stream, int64 Value, uint32 *Count);
int32 Stream_WriteUInt64(StreamStruct *Stream, uint64 Value, uint32 *Count);
// Formats with the print engine, handing each piece to Stream_Write; answers
// the engine's result, or 0 when the stream took less than a piece held.
int32 Stream_WritePrint(StreamStruct *Stream, const char *Format, ...);
// The print engine's write callback behind Stream_WritePrint (User = stream).
int32 Stream_PrintCallback(void *User, const char *Text, int32 Length, uint32 *Written);

// Typed reads through Stream_Read. ReadChar answers Stream_Read's result; the
// integer forms answer 1 only when exactly the value's size arrived (the
// bytes land as stored, no byte-order conversion).
int32 Stream_ReadChar(StreamStruct *Stream, uint8 *Byte, uint32 *Count);
int32 Stream_ReadInt16(StreamStruct *Stream, int16 *Value, uint32 *Count);
int32 Stream_ReadUInt16(StreamStruct *Stream, uint16 *Value, uint32 *Count);
int32 Stream_ReadInt32(StreamStruct *Stream, int32 *Value, uint32 *Count);
int32 Stream_ReadUInt32(StreamStruct *Stream, uint32 *Value, uint32 *Count);
int32 Stream_ReadInt64(StreamStruct *Stream, int64 *Value, uint32 *Count);
int32 Stream_ReadUInt64(StreamStruct *Stream, uint64 *Value, uint32 *Count);

// Copies the source from its position to its end: 1 when the source ran out
// (a read that delivers no bytes) with every byte taken by the destination, 0
// when the destination cannot write or takes fewer bytes than it was given.
// A source without Read copies nothing and answers 1.
int32 Stream_Copy(StreamStruct *Destination, StreamStruct *Source);
// Copies exactly Length bytes in pieces of at most 16,384: 1 when all were
// read and written (at once for a Length of 0), 0 for a negative Length, a
// missing slot, a failed or empty read, or a short write.
int32 Stream_CopyLength(StreamStruct *Destination, StreamStruct *Source, int64 Length);

// Error state (implementations clear it at the start of each operation that
// can fail) and layering.
int32 Stream_HasError(StreamStruct *Stream); // 1 when LastError is above 0
int32 Stream_ClearLastError(StreamStruct *Stream);
int32 Stream_SetLastError(StreamStruct *Stream, int32 Code);
int32 Stream_GetLastError(StreamStruct *Stream);
int32 Stream_SetBaseStreamHandle(StreamStruct *Stream, StreamStruct *Base);

RUNTIME_EXTERN_C_END

#ifdef __cplusplus
// For implementations over a known end: the position a seek asks for, from
// the stream's position and end (a seek to the end lands on it whatever the
// offset). False for an unknown origin or a position past the int64 range;
// each stream applies its own bounds to the target.
bool Stream_ResolveSeek(int64 Position, int64 End, int64 Offset, int32 Origin, int64 *Target);

static_assert(offsetof(StreamStruct, Handle) == 0);
static_assert(offsetof(StreamStruct, Peek) == 8);
static_assert(offsetof(StreamStruct, Write) == 16);
static_assert(offsetof(StreamStruct, WriteAsync) == 24);
static_assert(offsetof(StreamStruct, Read) == 32);
static_assert(offsetof(StreamStruct, ReadAsync) == 40);
static_assert(offsetof(StreamStruct, Seek) == 48);
static_assert(offsetof(StreamStruct, Flush) == 56);
static_assert(offsetof(StreamStruct, Tell) == 64);
static_assert(offsetof(StreamStruct, Length) == 72);
static_assert(offsetof(StreamStruct, IsOpen) == 80);
static_assert(offsetof(StreamStruct, Close) == 88);
static_assert(offsetof(StreamStruct, LastError) == 96);
static_assert(offsetof(StreamStruct, BaseStreamHandle) == 104);
static_assert(sizeof(StreamStruct) == 112);
#endif

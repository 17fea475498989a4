// StreamView: a stream over a memory block that belongs to the caller
// (pointer, bytes of data, capacity). It reads and writes inside the block
// and never owns, frees or grows it; the browser-engine glue wraps a script
// request's bytes in one so that the JSON reader can parse them in place.
//
// Invariant: 0 <= Position <= Used <= Capacity. Reads deliver the first Used
// bytes; writes may extend Used up to Capacity and take only what fits. The
// block must outlive the view's use of it.
#pragma once

#include "runtime/class.h"
#include "runtime/streams/stream.h"
#include "runtime/types.h"

#define STREAMVIEW_CLASSID 0x48929fc0u

RUNTIME_EXTERN_C_BEGIN

typedef struct StreamView StreamView;

// A closed view (no block) with one reference.
int32 StreamView_Create(StreamView **Handle);
// Closes, frees the record and clears the handle; the block is not touched.
int32 StreamView_Delete(StreamView **Handle);
CLASS_DECLARE_REFERENCE(StreamView, StreamView)
int32 StreamView_GetStreamHandle(StreamView *Handle, StreamStruct **Record);

// Closes the view, then (for non-null Data) views the block from position 0;
// 0 (nothing changed) when Used is not within 0 ... Capacity.
int32 StreamView_SetPointer(StreamView *Handle, void *Data, int32 Used, int32 Capacity);

// Stream slots. Peek and Read answer 1 when at least one byte was copied
// (Peek does not move); Write answers 1 when at least one byte fitted; Seek
// targets within 0 ... Used (origin 2 goes to Used, ignoring the offset).
int32 StreamView_Peek(StreamView *Handle, void *Buffer, uint32 Length, uint32 *Count);
int32 StreamView_Read(StreamView *Handle, void *Buffer, uint32 Length, uint32 *Count);
int32 StreamView_Write(StreamView *Handle, const void *Data, uint32 Length, uint32 *Count);
int32 StreamView_Seek(StreamView *Handle, int64 Offset, int32 Origin);
int32 StreamView_Tell(StreamView *Handle, int64 *Position);
int32 StreamView_Length(StreamView *Handle, int64 *Length);
int32 StreamView_IsOpen(StreamView *Handle);
int32 StreamView_Close(StreamView *Handle);

RUNTIME_EXTERN_C_END

// BufferedStream: a read buffer and a write buffer in front of another stream
// (the base stream), so that parsers and writers that move one character at a
// time do not call the base stream for every byte. Document loaders read
// through a 4,096-byte read buffer; savers write through a 4,096-byte write
// buffer and flush it before closing. It is a Stream whose slots call the
// base stream through the generic Stream operations, and it counts its
// copies and base calls, reported as efficiency when it is closed.
//
// The stream is used in one direction at a time: a write after reading
// repositions the base stream to the logical position first; a read after
// writing leaves the pending output in the write buffer (flush it first).
// Position is the base-stream position the buffers are anchored to: just
// behind the read buffer's bytes while reading, at the write buffer's first
// byte while writing. The stream does not own its base stream: Delete neither
// flushes nor closes it. Buffer sizes are set before use (a new size drops
// what the old buffer held).
#pragma once

#include "runtime/class.h"
#include "runtime/streams/stream.h"
#include "runtime/types.h"

// Shared with NullStream: a handle check cannot tell the two apart.
#define BUFFEREDSTREAM_CLASSID 0xfe7794fau

RUNTIME_EXTERN_C_BEGIN

typedef struct BufferedStream BufferedStream;

// No buffers, no base stream, one reference.
int32 BufferedStream_Create(BufferedStream **Handle);
// Frees both buffers and the record and clears the handle.
int32 BufferedStream_Delete(BufferedStream **Handle);
CLASS_DECLARE_REFERENCE(BufferedStream, BufferedStream)
CLASSPRINT_DECLARE(BufferedStream, BufferedStream)
// Prints only when the stream's verbose level admits Level.
int32 BufferedStream_VerboseLog(BufferedStream *Handle, int32 Level, const char *Format, ...);

int32 BufferedStream_SetBaseStreamHandle(BufferedStream *Handle, StreamStruct *Base);
// A size of 1 or more allocates that buffer; below 1 leaves the stream
// without it (a stream without a write buffer cannot write). 1.
int32 BufferedStream_SetReadBufferSize(BufferedStream *Handle, int32 Size);
int32 BufferedStream_SetWriteBufferSize(BufferedStream *Handle, int32 Size);
int32 BufferedStream_GetStreamHandle(BufferedStream *Handle, StreamStruct **Record);

// Stream slots. Read answers 0 at the end of the base stream together with
// the bytes it could still deliver; Write answers 0 when a flush it needed
// failed; Flush answers 0 when there was nothing to write or the base stream
// took nothing (the buffer then keeps the bytes not yet written). Seek moves
// within the buffered bytes where it can, otherwise writes pending output,
// repositions the base stream and empties both buffers. Length and IsOpen
// are the base stream's; Close flushes, reports the efficiency and closes the
// base stream.
int32 BufferedStream_Read(BufferedStream *Handle, void *Buffer, uint32 Length, uint32 *Count);
int32 BufferedStream_Write(BufferedStream *Handle, const void *Data, uint32 Length, uint32 *Count);
int32 BufferedStream_Flush(BufferedStream *Handle);
int32 BufferedStream_Seek(BufferedStream *Handle, int64 Offset, int32 Origin);
int32 BufferedStream_Tell(BufferedStream *Handle, int64 *Position);
int32 BufferedStream_Length(BufferedStream *Handle, int64 *Length);
int32 BufferedStream_IsOpen(BufferedStream *Handle);
int32 BufferedStream_Close(BufferedStream *Handle);

RUNTIME_EXTERN_C_END

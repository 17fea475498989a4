// NullStream: a stream that swallows everything written to it and only keeps
// count. Document savers write into one to learn the size of their text
// before they allocate the real buffer; the notification end point measures
// outgoing bodies with one and closes it to start a new measurement.
//
// Length is the highest position written (a write that starts past the end,
// after a seek, only moves the position). Nothing can be read back: a read
// delivers no bytes.
#pragma once

#include "runtime/class.h"
#include "runtime/streams/stream.h"
#include "runtime/types.h"

// Shared with BufferedStream: a handle check cannot tell the two apart.
#define NULLSTREAM_CLASSID 0xfe7794fau

RUNTIME_EXTERN_C_BEGIN

typedef struct NullStream NullStream;

int32 NullStream_Create(NullStream **Handle);
// Frees the record and clears the handle.
int32 NullStream_Delete(NullStream **Handle);
CLASS_DECLARE_REFERENCE(NullStream, NullStream)
int32 NullStream_GetStreamHandle(NullStream *Handle, StreamStruct **Record);
// The size of what was written.
int64 NullStream_GetUsed(NullStream *Handle);

// Stream slots. Write takes every byte (count = length, 1); Read answers 0
// with count 0; Seek with origin 2 goes to the length (offset ignored), a
// target below 0 answers 0 and an unknown origin is a fatal stop; Flush and
// IsOpen answer 1; Close returns the position and length to 0 (the stream
// stays usable).
int32 NullStream_Write(NullStream *Handle, const void *Data, uint32 Length, uint32 *Count);
int32 NullStream_Read(NullStream *Handle, void *Buffer, uint32 Length, uint32 *Count);
int32 NullStream_Seek(NullStream *Handle, int64 Offset, int32 Origin);
int32 NullStream_Flush(NullStream *Handle);
int32 NullStream_Tell(NullStream *Handle, int64 *Position);
int32 NullStream_Length(NullStream *Handle, int64 *Length);
int32 NullStream_IsOpen(NullStream *Handle);
int32 NullStream_Close(NullStream *Handle);

RUNTIME_EXTERN_C_END

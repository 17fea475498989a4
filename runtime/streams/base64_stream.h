// Base64Stream: a Stream over a base stream that turns the base's bytes into
// Base64 text on Read and Base64 text into bytes for the base on Write. The
// base stream is not owned: it must outlive its use here or be replaced
// first (Base64Stream_SetBaseStreamHandle).
//
// Read encodes whole groups of three bytes and pads the last one or two
// bytes only once the base reports that it has no more; it delivers whole
// groups of four characters, so a Size below 4 delivers nothing, and a read
// that delivers nothing answers 0 (the end of the text for Stream_Copy).
//
// Write keeps an unfinished group of four characters across calls, skips
// characters outside the alphabet (line breaks included) and lets "=" end a
// group; its bytes pass through a 1,024-byte buffer that is written to the
// base whenever it fills and before every call returns. A lone character
// left in front of "=" carries no whole byte and is dropped.
//
// Seek allows only the start and, like Close, forgets buffered bytes and the
// unfinished group. Flush, Tell, Length and IsOpen pass through to the base.
#pragma once

#include "runtime/class.h"
#include "runtime/streams/stream.h"
#include "runtime/types.h"

#define BASE64STREAM_CLASSID 0x2448faa3u

RUNTIME_EXTERN_C_BEGIN

typedef struct Base64Stream Base64Stream;

// A stream without a base, with one reference and an instance id.
int32 Base64Stream_Create(Base64Stream **Handle);
// Frees the record and clears the handle; the base is not touched.
int32 Base64Stream_Delete(Base64Stream **Handle);
CLASS_DECLARE_REFERENCE(Base64Stream, Base64Stream)
// The embedded Stream record (Write, Read, Seek, Flush, Tell, Length, IsOpen
// and Close filled).
int32 Base64Stream_GetStreamHandle(Base64Stream *Handle, StreamStruct **Record);
int32 Base64Stream_SetBaseStreamHandle(Base64Stream *Handle, StreamStruct *Base);

// At most Size characters, in whole groups of four: 1 with Count characters;
// 0 without a readable base, and once every byte of the base was delivered.
int32 Base64Stream_Read(Base64Stream *Handle, void *Output, uint32 Size, uint32 *Count);
// Count is the characters consumed. 0 without a writable base, or when the
// base took fewer bytes than it was given (those bytes are lost).
int32 Base64Stream_Write(Base64Stream *Handle, const void *Text, uint32 Length, uint32 *Count);
// Only offset 0 from origin 0; seeks the base there.
int32 Base64Stream_Seek(Base64Stream *Handle, int64 Offset, int32 Origin);
// The base's flush, when the base is writable.
int32 Base64Stream_Flush(Base64Stream *Handle);
// The base's byte position and length (not counted in characters).
int32 Base64Stream_Tell(Base64Stream *Handle, int64 *Position);
int32 Base64Stream_Length(Base64Stream *Handle, int64 *Length);
int32 Base64Stream_IsOpen(Base64Stream *Handle);
// Forgets buffered state and closes the base.
int32 Base64Stream_Close(Base64Stream *Handle);

RUNTIME_EXTERN_C_END

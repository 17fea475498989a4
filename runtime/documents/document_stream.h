// The streams the document formats load from and save to, around a format's
// own LoadStream/SaveStream: a caller's bytes, a read buffer over another
// stream, printed text, a caller's buffer to fill, and a counter that keeps
// nothing. Shared by the document formats.
#pragma once

#include <stdarg.h>

#include <functional>

#include "runtime/streams/stream.h"
#include "runtime/types.h"

using DocumentLoad = std::function<int32(StreamStruct *Stream)>;
using DocumentSave = std::function<int32(StreamStruct *Stream)>;

// Loads Size bytes at Bytes (none when Size < 1) as a stream.
int32 DocumentStream_LoadBuffer(const void *Bytes, int32 Size, const DocumentLoad &Load);
// Loads Stream through a 4,096-byte read buffer.
int32 DocumentStream_LoadBuffered(StreamStruct *Stream, const DocumentLoad &Load);
// Prints Format into a zero-ended text of its own and hands it over with its
// length (without the zero).
int32 DocumentStream_LoadPrinted(const char *Format, va_list Arguments,
                                 const std::function<int32(const char *Text, int32 Length)> &Load);
// Saves into Buffer, at most Capacity bytes; *Written is how many were used.
int32 DocumentStream_SaveBuffer(void *Buffer, int32 Capacity, int32 *Written, const DocumentSave &Save);
// Saves into nothing; *Size is how many bytes the text takes (INT32_MAX at most).
int32 DocumentStream_SaveEstimate(int32 *Size, const DocumentSave &Save);

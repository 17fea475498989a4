// UDIF disk images: recognised by the "koly" trailer in their last 512
// bytes, whose reserved area names the region that may hold the data store.
#pragma once

#include "runtime/streams/stream.h"
#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

int32 DMGFile_IsValid(const char *Path);
int32 DMGFile_IsValidStream(StreamStruct *Stream);
// The region (offset at trailer byte 296, length in the low 32 bits of the
// 8 bytes at 304, both big-endian) when its length is not 0; else 0 with both
// cleared.
int32 DMGFile_GetDataStoreOffset(StreamStruct *Stream, uint64 *Offset, uint64 *Size);

RUNTIME_EXTERN_C_END

#ifdef __cplusplus
#include "content/executable_file.h"

// Whether the file has the trailer; its region (possibly empty) in Offset, Size.
bool DmgFile_ReadTrailer(const ExecutableSource &File, uint64 &Offset, uint64 &Size);
#endif

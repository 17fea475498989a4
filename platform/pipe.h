// Pipe: a reference-counted named FIFO in the pipe directory that is also a
// Stream (read, write, peek, flush) and can be ticked. A ticked input pipe
// reads what has arrived (one read of up to 4,096 bytes per tick) and fires
// ("Pipe", "Read") for itself with {"buffer": the bytes in Base64}.
//
// A Pipe is in the instance table under its instance id, so scripts and a
// Process find it by id. Its name is one file name inside the pipe
// directory: a name holding "/", or "." or "..", is refused at open, so no
// name reaches another folder. The name is not read as macros.
#pragma once

#include "runtime/class.h"
#include "runtime/streams/stream.h"
#include "runtime/types.h"

#define PIPE_CLASSID 0xd37c58a8u
#define PIPE_NAME_SIZE 320
#define PIPE_TICK_SIZE 4096

RUNTIME_EXTERN_C_BEGIN

typedef struct Pipe Pipe;
typedef struct PlatformPipe PlatformPipe;

int32 Pipe_Create(Pipe **Handle);
int32 Pipe_Delete(Pipe **Handle);
CLASS_DECLARE_REFERENCE(Pipe, Pipe)
CLASSPRINT_DECLARE(Pipe, Pipe)
int32 Pipe_VerboseLog(Pipe *Handle, const char *Format, ...);
// 1 for a non-null object of the Pipe class.
int32 Pipe_ValidHandle(void *Pointer);

int32 Pipe_SetName(Pipe *Handle, const char *Name);
int32 Pipe_GetName(Pipe *Handle, char *Output, int32 Length);
int32 Pipe_GetNamePtr(Pipe *Handle, const char **Name);
// Sizes below 1 are refused (0) and the old size kept.
int32 Pipe_SetBufferSize(Pipe *Handle, int32 Size);
int32 Pipe_GetBufferSize(Pipe *Handle, uint32 *Size);
int32 Pipe_SetBlocking(Pipe *Handle, uint32 Blocking);
int32 Pipe_GetBlocking(Pipe *Handle, uint32 *Blocking);
int32 Pipe_SetOpenExisting(Pipe *Handle, uint32 OpenExisting);
int32 Pipe_GetOpenExisting(Pipe *Handle, uint32 *OpenExisting);
// 1 (default): the host reads from the pipe; 0: the host writes into it.
int32 Pipe_SetIsIn(Pipe *Handle, uint32 IsIn);
int32 Pipe_GetIsIn(Pipe *Handle, uint32 *IsIn);

// Closes what is open, then opens (or makes) the FIFO.
int32 Pipe_Open(Pipe *Handle);
int32 Pipe_Start(Pipe *Handle);
// Closes and resets both byte counts; 1.
int32 Pipe_Close(Pipe *Handle);
int32 Pipe_IsOpen(Pipe *Handle);
int32 Pipe_Read(Pipe *Handle, void *Buffer, uint32 Length, uint32 *Read);
int32 Pipe_Write(Pipe *Handle, const void *Buffer, uint32 Length, uint32 *Written);
int32 Pipe_Peek(Pipe *Handle, void *Buffer, uint32 Length, uint32 *Count);
int32 Pipe_Flush(Pipe *Handle);
int32 Pipe_GetBytesRead(Pipe *Handle, uint64 *Bytes);
int32 Pipe_GetBytesWritten(Pipe *Handle, uint64 *Bytes);
int32 Pipe_GetStandardHandle(Pipe *Handle, PlatformPipe **Standard);
int32 Pipe_GetStreamHandle(Pipe *Handle, StreamStruct **Stream);
int32 Pipe_Process(Pipe *Handle);
// Connections and remote ids mean nothing for a FIFO: both answer 0.
int32 Pipe_Accept(Pipe *Handle);
int32 Pipe_GetRemoteProcessId(Pipe *Handle);

int32 Pipe_PeekCallback(void *Handle, void *Buffer, uint32 Length, uint32 *Count);
int32 Pipe_WriteCallback(void *Handle, const void *Buffer, uint32 Length, uint32 *Count);
int32 Pipe_ReadCallback(void *Handle, void *Buffer, uint32 Length, uint32 *Count);

RUNTIME_EXTERN_C_END

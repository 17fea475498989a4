// Named pipe primitives: a named pipe is a FIFO special file, normally in the
// pipe directory (Platform_GetPipeDirectory); both ends open the same file.
//
// Open flags: PLATFORM_PIPE_EXISTING connects to a FIFO that must already be
// there (a file of another kind, or a link, is refused); without it a FIFO is
// made with mode 0600, replacing a stale FIFO of this user's own at the
// name; any other file there fails the open (EEXIST, and a log line saying
// why) and stays as it is. The FIFO is opened for reading and writing, so the open never
// waits for the other end, and is non-blocking unless PLATFORM_PIPE_BLOCKING.
// Closing removes the file only while the name still shows the FIFO that
// was opened.
#pragma once

#include "runtime/class.h"
#include "runtime/types.h"

#define PLATFORMPIPE_CLASSID 0x309a40cdu
#define PLATFORM_PIPE_EXISTING 1
#define PLATFORM_PIPE_BLOCKING 2
#define PLATFORM_PIPE_IN 4

RUNTIME_EXTERN_C_BEGIN

typedef struct PlatformPipe PlatformPipe;

int32 Platform_PipeOpen(PlatformPipe **Pipe, const char *Path, int32 Mode, int32 Flags);
int32 Platform_PipeIsOpen(PlatformPipe *Pipe);
// *Available = 1 when data waits (waits at most 1 ms, consumes nothing).
int32 Platform_PipePeek(PlatformPipe *Pipe, void *Ignored, int32 IgnoredLength, int32 *Available);
// One read or write; "would block" is 1 with a count of 0.
int32 Platform_PipeRead(PlatformPipe *Pipe, void *Buffer, int32 Length, int32 *Read);
int32 Platform_PipeWrite(PlatformPipe *Pipe, const void *Buffer, int32 Length, int32 *Written);
int32 Platform_PipeFlush(PlatformPipe *Pipe);
int32 Platform_PipeClose(PlatformPipe **Pipe);
const char *Platform_PipeGetPath(PlatformPipe *Pipe);
// A new blocking descriptor on the very FIFO this pipe opened, for a child's
// standard stream (Write 1: its writing end), or -1 with errno when the name
// no longer leads to that FIFO. Opening it never blocks.
int Platform_PipeOpenEnd(PlatformPipe *Pipe, int32 Write);
// Accepting connections and the remote process id have no meaning for a
// FIFO: both answer 0.
int32 Platform_PipeAccept(PlatformPipe *Pipe);
int32 Platform_PipeGetRemoteProcessId(PlatformPipe *Pipe, int32 *ProcessId);

RUNTIME_EXTERN_C_END

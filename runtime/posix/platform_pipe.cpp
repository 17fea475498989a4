// Named pipe primitives: see platform_pipe.h.
#include "runtime/posix/platform_pipe.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "runtime/log.h"
#include "runtime/memory.h"
#include "runtime/posix/platform_folder.h"
#include "runtime/text/string.h"

struct PlatformPipe {
    ClassStruct Class;
    char Path[320];
    int32 Mode;
    int32 SavedFlags;
    int32 Descriptor;
    dev_t Device; // the FIFO that was opened, so a close removes only it
    ino_t Inode;
};

#define PlatformPipe_Check(Handle) Class_CheckHandle((Handle), PLATFORMPIPE_CLASSID)

namespace {

// Clears the pipe's name: a stale FIFO of this user's own there (a pipe that
// was not closed) is removed; any other file there is not this pipe's to
// remove, and the open fails, saying why.
bool ClearName(const char *Path) {
    struct stat Status {};
    if (lstat(Path, &Status) != 0) return errno == ENOENT;
    if (!S_ISFIFO(Status.st_mode) || Status.st_uid != geteuid()) {
        Log_Error("Unable to open pipe (%s): %s is in the way\n", Path,
                  S_ISFIFO(Status.st_mode) ? "another user's FIFO" : "a file that is not a FIFO");
        errno = EEXIST;
        return false;
    }
    return unlink(Path) == 0 || errno == ENOENT;
}

// Makes the FIFO under a name of its own beside Path, opens it, and only
// then gives it Path (never over a file that appeared there meanwhile): the
// descriptor is the FIFO the pipe made, whatever someone puts at Path.
int MakeFifo(const char *Path) {
    static unsigned Made = 0;
    char Private[sizeof(PlatformPipe::Path) + 32];
    const char *Slash = strrchr(Path, '/');
    const int Folder = Slash != nullptr ? (int)(Slash - Path) + 1 : 0;
    snprintf(Private, sizeof(Private), "%.*s.fifo.%d.%u", Folder, Path, (int)getpid(), Made++);
    if (!ClearName(Path) || mkfifo(Private, 0600) != 0) return -1;
    const int Descriptor = open(Private, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    const bool Renamed = Descriptor >= 0 && renameat2(AT_FDCWD, Private, AT_FDCWD, Path, RENAME_NOREPLACE) == 0;
    // A file system without the flag: a hard link never replaces either.
    const bool Named = Renamed || (Descriptor >= 0 && errno == EINVAL && link(Private, Path) == 0);
    const int Code = errno;
    if (!Renamed) unlink(Private);
    if (Named) return Descriptor;
    if (Descriptor >= 0) close(Descriptor);
    errno = Code;
    return -1;
}

} // namespace

int32 Platform_PipeOpen(PlatformPipe **Pipe, const char *Path, int32 Mode, int32 Flags) {
    Debug_CheckPointer(Pipe);
    *Pipe = nullptr;
    if (Path == nullptr || *Path == 0 || strlen(Path) >= sizeof(PlatformPipe::Path)) {
        errno = Path == nullptr || *Path == 0 ? ENOENT : ENAMETOOLONG;
        return FALSE;
    }
    const int Descriptor = Flags & PLATFORM_PIPE_EXISTING ? open(Path, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)
                                                          : MakeFifo(Path);
    if (Descriptor < 0) return FALSE;
    struct stat Status {};
    if (fstat(Descriptor, &Status) != 0 || !S_ISFIFO(Status.st_mode)) {
        close(Descriptor);
        errno = ENXIO;
        return FALSE;
    }
    const int Saved = fcntl(Descriptor, F_GETFL) & ~O_NONBLOCK;
    if (Flags & PLATFORM_PIPE_BLOCKING) fcntl(Descriptor, F_SETFL, Saved);
    PlatformPipe *Object = Memory_New(PlatformPipe);
    Class_InitHeader(Object, PLATFORMPIPE_CLASSID, nullptr);
    String_CopyLength(Object->Path, Path, (int32)sizeof(Object->Path));
    Object->Mode = Mode;
    Object->SavedFlags = Saved;
    Object->Descriptor = Descriptor;
    Object->Device = Status.st_dev;
    Object->Inode = Status.st_ino;
    *Pipe = Object;
    return TRUE;
}

int32 Platform_PipeIsOpen(PlatformPipe *Pipe) {
    PlatformPipe_Check(Pipe);
    return Pipe->Descriptor >= 0 ? TRUE : FALSE;
}

int32 Platform_PipePeek(PlatformPipe *Pipe, void *Ignored, int32 IgnoredLength, int32 *Available) {
    (void)Ignored;
    (void)IgnoredLength;
    PlatformPipe_Check(Pipe);
    Debug_CheckPointer(Available);
    *Available = 0;
    if (Pipe->Descriptor < 0) return FALSE;
    pollfd Poll{Pipe->Descriptor, POLLIN, 0};
    const int Result = poll(&Poll, 1, 1);
    if (Result < 0) return errno == EINTR ? TRUE : FALSE;
    *Available = Result > 0 && (Poll.revents & POLLIN) ? 1 : 0;
    return TRUE;
}

int32 Platform_PipeRead(PlatformPipe *Pipe, void *Buffer, int32 Length, int32 *Read) {
    PlatformPipe_Check(Pipe);
    Debug_CheckPointer(Read);
    *Read = 0;
    if (Pipe->Descriptor < 0 || Length < 0) return FALSE;
    const ssize_t Count = read(Pipe->Descriptor, Buffer, (size_t)Length);
    if (Count < 0) return errno == EAGAIN || errno == EINTR ? TRUE : FALSE;
    *Read = (int32)Count;
    return TRUE;
}

int32 Platform_PipeWrite(PlatformPipe *Pipe, const void *Buffer, int32 Length, int32 *Written) {
    PlatformPipe_Check(Pipe);
    Debug_CheckPointer(Written);
    *Written = 0;
    if (Pipe->Descriptor < 0 || Length < 0) return FALSE;
    const ssize_t Count = write(Pipe->Descriptor, Buffer, (size_t)Length);
    if (Count < 0) return errno == EAGAIN || errno == EINTR ? TRUE : FALSE;
    *Written = (int32)Count;
    return TRUE;
}

int32 Platform_PipeFlush(PlatformPipe *Pipe) {
    PlatformPipe_Check(Pipe);
    if (Pipe->Descriptor < 0) return FALSE;
    // A FIFO has nothing to write back: fsync reports EINVAL for it.
    return fsync(Pipe->Descriptor) == 0 || errno == EINVAL ? TRUE : FALSE;
}

int32 Platform_PipeClose(PlatformPipe **Pipe) {
    Debug_CheckPointer(Pipe);
    PlatformPipe *Object = *Pipe;
    PlatformPipe_Check(Object);
    if (Object->Descriptor >= 0) {
        close(Object->Descriptor);
        Object->Descriptor = -1;
        struct stat Status {};
        if (lstat(Object->Path, &Status) == 0 && S_ISFIFO(Status.st_mode) && Status.st_dev == Object->Device &&
            Status.st_ino == Object->Inode)
            unlink(Object->Path);
    }
    Memory_Delete(Object);
    *Pipe = nullptr;
    return TRUE;
}

int Platform_PipeOpenEnd(PlatformPipe *Pipe, int32 Write) {
    PlatformPipe_Check(Pipe);
    if (Pipe->Descriptor < 0) {
        errno = EBADF;
        return -1;
    }
    // Opened here, never by the child by name: the child's blocking open
    // would hold this process too (its start waits for the child's exec)
    // when the name has come to stand for a FIFO with no other end since.
    const int Descriptor = open(Pipe->Path, (Write ? O_WRONLY : O_RDONLY) | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (Descriptor < 0) return -1;
    struct stat Status {};
    if (fstat(Descriptor, &Status) != 0 || !S_ISFIFO(Status.st_mode) || Status.st_dev != Pipe->Device ||
        Status.st_ino != Pipe->Inode || fcntl(Descriptor, F_SETFL, fcntl(Descriptor, F_GETFL) & ~O_NONBLOCK) != 0) {
        close(Descriptor);
        errno = ENXIO;
        return -1;
    }
    return Descriptor;
}

const char *Platform_PipeGetPath(PlatformPipe *Pipe) {
    PlatformPipe_Check(Pipe);
    return Pipe->Path;
}

int32 Platform_PipeAccept(PlatformPipe *Pipe) {
    PlatformPipe_Check(Pipe);
    errno = ENOTSUP;
    return FALSE;
}

int32 Platform_PipeGetRemoteProcessId(PlatformPipe *Pipe, int32 *ProcessId) {
    PlatformPipe_Check(Pipe);
    if (ProcessId != nullptr) *ProcessId = 0;
    errno = ENOTSUP;
    return FALSE;
}

// Copying and moving files (see platform_file.h).
//
// A copy is written to a temporary file in the destination's directory and
// renamed into place only when data and metadata are complete, so readers
// never see a partial file, a failed or cancelled copy leaves nothing behind,
// and a replaced target stays whole until then. "Fail if exists" is kept
// atomically by a rename that refuses to replace, so of two copies racing for
// one target exactly one wins. A move across volumes deletes its source only
// after such a complete copy.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "runtime/debug.h"
#include "runtime/log.h"
#include "runtime/posix/platform.h"
#include "runtime/posix/platform_file_internal.h"

namespace {

// Bytes moved per system call, and so between progress reports.
constexpr size_t CopyChunk = 8u << 20;
constexpr size_t FallbackBuffer = 1u << 20;

// Closes a descriptor at scope end, keeping errno.
struct Descriptor {
    int Value = -1;
    ~Descriptor() { Close(); }
    int Close() {
        if (Value < 0) return 0;
        int Saved = errno;
        int Result = close(Value);
        Value = -1;
        if (Result == 0) errno = Saved;
        return Result;
    }
};

// A temporary file beside the target, removed at scope end unless kept.
struct TemporaryFile {
    std::string Path;
    bool Kept = false;
    ~TemporaryFile() {
        if (Path.empty() || Kept) return;
        int Saved = errno;
        unlink(Path.c_str());
        errno = Saved;
    }
};

std::string DirectoryOf(const std::string &Path) {
    size_t Slash = Path.rfind('/');
    if (Slash == std::string::npos) return ".";
    if (Slash == 0) return "/";
    return Path.substr(0, Slash);
}

// Creates the temporary file (mode 0600, close-on-exec) beside Destination.
int CreateTemporary(const char *Destination, TemporaryFile *Temporary) {
    std::string Template = DirectoryOf(Destination) + "/.copy-XXXXXX";
    int Result = mkostemp(Template.data(), O_CLOEXEC);
    if (Result >= 0) Temporary->Path = Template;
    return Result;
}

// Renames the finished temporary file onto the destination; without Replace
// the rename refuses an existing destination atomically.
bool Publish(const std::string &Temporary, const char *Destination, bool Replace) {
    if (Replace) return rename(Temporary.c_str(), Destination) == 0;
    if (renameat2(AT_FDCWD, Temporary.c_str(), AT_FDCWD, Destination, RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system without the no-replace rename: a hard link also refuses
    // an existing name.
    if (link(Temporary.c_str(), Destination) != 0) return false;
    unlink(Temporary.c_str());
    return true;
}

bool Report(const char *Source, const char *Destination, int64 Copied, int64 Total, void *User,
            Platform_CopyProgressFunc Callback) {
    if (Callback == nullptr || Callback(User, Source, Destination, Copied, Total) != 0) return true;
    errno = ECANCELED;
    return false;
}

bool WriteAll(int Output, const uint8 *Data, size_t Length) {
    while (Length > 0) {
        ssize_t Written = write(Output, Data, Length);
        if (Written < 0 && errno == EINTR) continue;
        if (Written <= 0) {
            if (Written == 0) errno = EIO;
            return false;
        }
        Data += Written;
        Length -= (size_t)Written;
    }
    return true;
}

// Copies the data from the input's start to its end, in-kernel where the
// file systems allow it. Progress is reported after every CopyChunk bytes and
// at the end, whichever way the bytes move.
bool CopyData(int Input, int Output, const char *Source, const char *Destination, int64 Total, void *User,
              Platform_CopyProgressFunc Callback) {
    int64 Copied = 0, Reported = 0;
    bool InKernel = true;
    std::vector<uint8> Buffer;
    for (;;) {
        ssize_t Count;
        if (InKernel) {
            Count = copy_file_range(Input, nullptr, Output, nullptr, CopyChunk, 0);
            if (Count < 0 && Copied == 0 &&
                (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP || errno == EPERM)) {
                InKernel = false;
                continue;
            }
        } else {
            if (Buffer.empty()) Buffer.resize(FallbackBuffer);
            Count = read(Input, Buffer.data(), Buffer.size());
            if (Count > 0 && !WriteAll(Output, Buffer.data(), (size_t)Count)) return false;
        }
        if (Count < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        Copied += Count;
        const bool Done = Count == 0;
        if ((Done && Copied > Reported) || Copied - Reported >= (int64)CopyChunk) {
            if (!Report(Source, Destination, Copied, Total, User, Callback)) return false;
            Reported = Copied;
        }
        if (Done) return true;
    }
}

// Extended attributes, which also carry access-control lists. A destination
// that cannot hold one (another file system, a namespace it refuses) does
// not fail the copy.
bool CopyAttributes(int Input, int Output) {
    ssize_t Size = flistxattr(Input, nullptr, 0);
    if (Size < 0) return errno == ENOTSUP || errno == EOPNOTSUPP;
    std::vector<char> Names((size_t)Size + 1);
    Size = flistxattr(Input, Names.data(), Names.size());
    if (Size < 0) return false;
    std::vector<char> Value;
    for (const char *Name = Names.data(); Name < Names.data() + Size; Name += strlen(Name) + 1) {
        ssize_t Length = fgetxattr(Input, Name, nullptr, 0);
        if (Length < 0) continue;
        Value.resize((size_t)Length + 1);
        Length = fgetxattr(Input, Name, Value.data(), Value.size());
        if (Length < 0) continue;
        if (fsetxattr(Output, Name, Value.data(), (size_t)Length, 0) != 0 && errno != ENOTSUP &&
            errno != EOPNOTSUPP && errno != EPERM && errno != EACCES)
            return false;
    }
    return true;
}

// Owner (where allowed: only a privileged process may give a file away),
// then the mode, which a change of owner may have cut, then the times.
bool CopyStatus(int Output, const struct stat &Status) {
    if (fchown(Output, Status.st_uid, Status.st_gid) != 0) {
        if (errno != EPERM) return false;
        if (geteuid() == 0) return false;
        // A group the user belongs to may still be kept.
        if (fchown(Output, (uid_t)-1, Status.st_gid) != 0 && errno != EPERM) return false;
    }
    if (fchmod(Output, Status.st_mode & 07777) != 0) return false;
    const struct timespec Times[2] = {Status.st_atim, Status.st_mtim};
    return futimens(Output, Times) == 0;
}

int32 CopyRegular(const char *Source, const char *Destination, bool Replace, void *User,
                  Platform_CopyProgressFunc Callback) {
    Descriptor Input;
    // Non-blocking, so that a pipe or device named as the source cannot stall
    // the open; it is refused below, and reads of a regular file never block.
    Input.Value = Platform_OpenRegular(Source, O_RDONLY, 0);
    if (Input.Value < 0) return 0;
    struct stat Status;
    if (fstat(Input.Value, &Status) != 0) return 0;
    TemporaryFile Temporary;
    Descriptor Output;
    Output.Value = CreateTemporary(Destination, &Temporary);
    if (Output.Value < 0) return 0;
    if (!CopyData(Input.Value, Output.Value, Source, Destination, (int64)Status.st_size, User, Callback)) return 0;
    if (!CopyAttributes(Input.Value, Output.Value) || !CopyStatus(Output.Value, Status)) return 0;
    if (Output.Close() != 0) return 0;
    if (!Publish(Temporary.Path, Destination, Replace)) return 0;
    Temporary.Kept = true;
    return 1;
}

// A link moved across volumes stays a link to the same text.
int32 CopyLink(const char *Source, const char *Destination, bool Replace) {
    std::vector<char> Target(PATH_MAX + 1);
    ssize_t Length = readlink(Source, Target.data(), Target.size() - 1);
    if (Length < 0) return 0;
    Target[(size_t)Length] = 0;
    TemporaryFile Temporary;
    Temporary.Path = DirectoryOf(Destination) + "/.copy-XXXXXX";
    // mkostemp only picks a free name; the link takes its place.
    int Placeholder = mkostemp(Temporary.Path.data(), O_CLOEXEC);
    if (Placeholder < 0) {
        Temporary.Path.clear();
        return 0;
    }
    close(Placeholder);
    if (unlink(Temporary.Path.c_str()) != 0 || symlink(Target.data(), Temporary.Path.c_str()) != 0) return 0;
    if (!Publish(Temporary.Path, Destination, Replace)) return 0;
    Temporary.Kept = true;
    return 1;
}

// The device that would hold Path: its own, or its nearest existing
// ancestor's.
bool DestinationDevice(const char *Path, dev_t *Device) {
    struct stat Status;
    if (lstat(Path, &Status) == 0) {
        *Device = Status.st_dev;
        return true;
    }
    std::string Ancestor = Path;
    while (!Ancestor.empty()) {
        size_t Slash = Ancestor.rfind('/');
        if (Slash == std::string::npos) Ancestor.clear();
        else Ancestor.resize(Slash == 0 ? 1 : Slash);
        if (stat(Ancestor.empty() ? "." : Ancestor.c_str(), &Status) == 0) {
            *Device = Status.st_dev;
            return true;
        }
        if (Ancestor == "/") break;
    }
    return false;
}

bool FlushToDisk(const char *Path) {
    // Non-blocking: a FIFO moved here would hold the open for ever.
    int Output = open(Path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (Output < 0) return errno == ELOOP; // a link has no data of its own
    struct stat Status;
    // Nor has a FIFO, a socket or a device.
    bool Flushed = fstat(Output, &Status) == 0 && (!S_ISREG(Status.st_mode) || fsync(Output) == 0);
    int Saved = errno;
    close(Output);
    errno = Saved;
    return Flushed;
}

} // namespace

extern "C" int32 Platform_CopyFile(const char *Source, const char *Destination, int32 FailIfExists) {
    return Platform_CopyFileWithProgress(Source, Destination, FailIfExists, nullptr, nullptr);
}

extern "C" int32 Platform_CopyFileWithProgress(const char *Source, const char *Destination, int32 FailIfExists,
                                               void *User, Platform_CopyProgressFunc Callback) {
    if (Source == nullptr || Destination == nullptr) {
        errno = EINVAL;
        return 0;
    }
    struct stat Status;
    if (FailIfExists && lstat(Destination, &Status) == 0) {
        errno = EEXIST;
        return 0;
    }
    return CopyRegular(Source, Destination, !FailIfExists, User, Callback);
}

extern "C" int32 Platform_MoveFile(void *Reserved, const char *Source, const char *Destination, int32 Flags) {
    (void)Reserved;
    return Platform_MoveFileWithProgress(Source, Destination, Flags, nullptr, nullptr);
}

extern "C" int32 Platform_MoveFileWithProgress(const char *Source, const char *Destination, int32 Flags, void *User,
                                               Platform_CopyProgressFunc Callback) {
    if (Source == nullptr || Destination == nullptr) {
        errno = EINVAL;
        return 0;
    }
    char From[PLATFORM_RESOLVED_PATH_SIZE], To[PLATFORM_RESOLVED_PATH_SIZE];
    if (!PlatformFile_Resolve(Source, From) || !PlatformFile_Resolve(Destination, To)) return 0;
    const bool Replace = (Flags & PLATFORM_MOVE_REPLACE_EXISTING) != 0;
    struct stat Status;
    if (!Replace && lstat(To, &Status) == 0) {
        errno = EEXIST;
        return 0;
    }
    if (lstat(From, &Status) != 0) return 0;
    dev_t Device;
    if (!DestinationDevice(To, &Device)) return 0;
    const bool Across = Device != Status.st_dev;
    if (Across && !(Flags & PLATFORM_MOVE_COPY_ALLOWED)) {
        errno = EXDEV;
        return 0;
    }
    if (Callback == nullptr || !Across) {
        if (!Publish(From, To, Replace)) return 0;
        if (Callback != nullptr) Callback(User, From, To, (int64)Status.st_size, (int64)Status.st_size);
    } else {
        int32 Copied;
        if (S_ISLNK(Status.st_mode)) Copied = CopyLink(From, To, Replace);
        else if (S_ISREG(Status.st_mode)) Copied = CopyRegular(From, To, Replace, User, Callback);
        else {
            errno = EXDEV;
            Copied = 0;
        }
        if (!Copied) return 0;
        // The copy is complete and in place: only now may the source go.
        if (unlink(From) != 0) {
            int Saved = errno;
            Log_Error("Unable to delete moved file [%s] [LE: %d]\n", From, PLATFORM_ERROR_ERRNO_BASE + Saved);
            errno = Saved;
            return 0;
        }
    }
    if ((Flags & PLATFORM_MOVE_WRITE_THROUGH) && !FlushToDisk(To)) return 0;
    return 1;
}

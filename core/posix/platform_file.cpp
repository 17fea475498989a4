// File-system primitives over the system calls (see platform_file.h).
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/debug.h"
#include "core/path.h"
#include "core/posix/platform.h"

namespace {

constexpr int32 ResolvedPathSize = 1024;

// Resolves Path into Resolved; a path that does not fit is refused rather than
// cut, since a cut path names another file.
bool Resolve(const char *Path, char (&Resolved)[ResolvedPathSize]) {
    Path_Resolve(Path, Resolved, ResolvedPathSize);
    if (strlen(Resolved) < (size_t)ResolvedPathSize - 1) return true;
    errno = ENAMETOOLONG;
    return false;
}

mode_t CreationMode(int32 Permissions) {
    mode_t Mode = 0;
    if (Permissions & PLATFORM_PERMISSION_READ) Mode |= 0444;
    if (Permissions & PLATFORM_PERMISSION_WRITE) Mode |= 0222;
    if (Permissions & PLATFORM_PERMISSION_EXECUTE) Mode |= 0111;
    return Mode;
}

} // namespace

extern "C" int32 Platform_Open(const char *Path, int32 OpenFlags, int32 Share, int32 Permissions) {
    (void)Share;
    Debug_CheckPointer(Path);
    char Resolved[ResolvedPathSize];
    if (!Resolve(Path, Resolved)) return -1;
    int Descriptor;
    do {
        Descriptor = open(Resolved, OpenFlags | O_CLOEXEC, CreationMode(Permissions));
    } while (Descriptor < 0 && errno == EINTR);
    return Descriptor;
}

extern "C" int32 Platform_Stat(const char *Path, struct stat *Status) {
    Debug_CheckPointer(Path);
    Debug_CheckPointer(Status);
    memset(Status, 0, sizeof(*Status));
    char Resolved[ResolvedPathSize];
    if (!Resolve(Path, Resolved)) return 0;
    return lstat(Resolved, Status) == 0;
}

extern "C" int32 Platform_FileExists(const char *Path) {
    struct stat Status;
    return Platform_Stat(Path, &Status);
}

extern "C" int32 Platform_CreateDirectory(const char *Path) {
    Debug_CheckPointer(Path);
    char Resolved[ResolvedPathSize];
    if (!Resolve(Path, Resolved)) return 0;
    return mkdir(Resolved, 0777) == 0;
}

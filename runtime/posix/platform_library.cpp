// Shared libraries (see platform_folder.h): the system loader behind the
// interop libraries of the script bridge.
//
// dlerror() is per thread and cleared by reading, so each failure reads it
// at once, before anything else may call the loader.
#include <dlfcn.h>
#include <errno.h>
#include <string.h>
#include <sys/stat.h>

#include "runtime/debug.h"
#include "runtime/files/path.h"
#include "runtime/log.h"
#include "runtime/posix/platform.h"

namespace {

constexpr int32 LoaderPathSize = 1024;

} // namespace

extern "C" void *Platform_LoadLibrary(const char *Path, int32 LogFailure) {
    Debug_CheckPointer(Path);
    char Resolved[LoaderPathSize];
    Path_Resolve(Path, Resolved, (int32)sizeof(Resolved));
    // The loader searches its library path for a name without a slash, so a
    // relative path the fixing left without one ("./x.so" gives "x.so") gets
    // its "./" back.
    if (strchr(Path, '/') != nullptr && strchr(Resolved, '/') == nullptr && strlen(Resolved) + 3 <= sizeof(Resolved)) {
        memmove(Resolved + 2, Resolved, strlen(Resolved) + 1);
        memcpy(Resolved, "./", 2);
    }
    void *Handle = nullptr;
    const char *Failure;
    if (strlen(Resolved) >= sizeof(Resolved) - 1) {
        // A cut path would load another file.
        errno = ENAMETOOLONG;
        Failure = "path too long";
    } else if (struct stat Status; strchr(Resolved, '/') != nullptr && stat(Resolved, &Status) == 0 &&
                                    !S_ISREG(Status.st_mode)) {
        // The loader's own open would wait on a FIFO for ever.
        errno = S_ISDIR(Status.st_mode) ? EISDIR : EINVAL;
        Failure = "not a regular file";
    } else {
        Handle = dlopen(Resolved, RTLD_LAZY | RTLD_LOCAL);
        Failure = Handle == nullptr ? dlerror() : nullptr;
    }
    if (Handle == nullptr && LogFailure == 1)
        Log_Debug("Unable to load library (%s) (%s)\n", Path, Failure != nullptr ? Failure : "");
    return Handle;
}

extern "C" void *Platform_LoadSystemLibrary(const char *Path, int32 LogFailure) {
    return Platform_LoadLibrary(Path, LogFailure);
}

extern "C" int32 Platform_FreeLibrary(void *Handle) {
    if (Handle == nullptr) return 0;
    return dlclose(Handle) == 0 ? 1 : 0;
}

extern "C" void *Platform_GetProcAddress(void *Handle, const char *Symbol) {
    Debug_CheckPointer(Symbol);
    if (Handle == nullptr) return nullptr;
    return dlsym(Handle, Symbol);
}

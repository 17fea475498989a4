// Shared libraries (see platform_folder.h): the system loader behind the
// interop libraries of the script bridge.
//
// dlerror() is per thread and cleared by reading, so each failure reads it
// at once, before anything else may call the loader.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <link.h>
#include <stdio.h>
#include <unistd.h>
#include <string.h>
#include <sys/stat.h>

#include <vector>

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

// The loader knows a library by the name it was loaded under and answers a
// later load of that name with it: a descriptor's name ("/proc/self/fd/N")
// already taken by a library still loaded names another file now, so the
// descriptor is copied to a number whose name no loaded library has.
extern "C" void *Platform_LoadLibraryOpened(int32 Descriptor, const char *Shown, int32 LogFailure) {
    Debug_CheckPointer(Shown);
    std::vector<int> Copies;
    int Number = Descriptor;
    char Name[40];
    for (;;) {
        snprintf(Name, sizeof(Name), "/proc/self/fd/%d", Number);
        auto Taken = [](struct dl_phdr_info *Info, size_t, void *Data) -> int {
            return Info->dlpi_name != nullptr && strcmp(Info->dlpi_name, static_cast<const char *>(Data)) == 0;
        };
        if (dl_iterate_phdr(Taken, Name) == 0) break;
        Number = fcntl(Descriptor, F_DUPFD_CLOEXEC, Number + 1);
        if (Number < 0 || Copies.size() >= 64) {
            for (int Each : Copies) close(Each);
            if (LogFailure == 1) Log_Debug("Unable to load library (%s) (no free descriptor)\n", Shown);
            return nullptr;
        }
        Copies.push_back(Number);
    }
    void *Handle = dlopen(Name, RTLD_LAZY | RTLD_LOCAL);
    const char *Failure = Handle == nullptr ? dlerror() : nullptr;
    for (int Each : Copies) close(Each);
    if (Handle == nullptr && LogFailure == 1)
        Log_Debug("Unable to load library (%s) (%s)\n", Shown, Failure != nullptr ? Failure : "");
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

// Version information of executables (see executable.h): no format reader is
// built yet, so nothing is found and nothing is cached.
#include "core/executable.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include "core/debug.h"

namespace {

int32 NotFound(char *Text, int32 Size) {
    Debug_CheckPointer(Text);
    if (Size > 0) Text[0] = 0;
    return 0;
}

// A whole ELF file header: the identification, a known class and the rest
// of the header of that class (52 bytes for 32-bit files, 64 for 64-bit).
bool IsElfFile(const char *Path) {
    const int Descriptor = open(Path, O_RDONLY | O_CLOEXEC);
    if (Descriptor < 0) return false;
    unsigned char Header[64];
    size_t Have = 0;
    while (Have < sizeof(Header)) {
        const ssize_t Got = read(Descriptor, Header + Have, sizeof(Header) - Have);
        if (Got < 0 && errno == EINTR) continue;
        if (Got <= 0) break;
        Have += (size_t)Got;
    }
    close(Descriptor);
    if (Have < 52 || Header[0] != 0x7F || Header[1] != 'E' || Header[2] != 'L' || Header[3] != 'F') return false;
    return Header[4] == 1 || (Header[4] == 2 && Have == 64);
}

} // namespace

int32 Executable_Authenticate(CertStoreInterface *Store, const char *Path) {
    (void)Store;
    Debug_CheckPointer(Path);
    return IsElfFile(Path) ? 1 : 0;
}

int32 Executable_GetFileVersion(const char *, char *Text, int32 Size) { return NotFound(Text, Size); }
int32 Executable_GetProductVersion(const char *, char *Text, int32 Size) { return NotFound(Text, Size); }
int32 Executable_GetProductName(const char *, char *Text, int32 Size) { return NotFound(Text, Size); }
int32 Executable_GetCompanyName(const char *, char *Text, int32 Size) { return NotFound(Text, Size); }
int32 Executable_Shutdown(void) { return 1; }

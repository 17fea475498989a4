// Version information of executables (see executable.h): no format reader is
// built yet, so nothing is found and nothing is cached.
#include "core/executable.h"

#include "core/debug.h"

namespace {

int32 NotFound(char *Text, int32 Size) {
    Debug_CheckPointer(Text);
    if (Size > 0) Text[0] = 0;
    return 0;
}

} // namespace

int32 Executable_GetFileVersion(const char *, char *Text, int32 Size) { return NotFound(Text, Size); }
int32 Executable_GetProductVersion(const char *, char *Text, int32 Size) { return NotFound(Text, Size); }
int32 Executable_GetProductName(const char *, char *Text, int32 Size) { return NotFound(Text, Size); }
int32 Executable_GetCompanyName(const char *, char *Text, int32 Size) { return NotFound(Text, Size); }
int32 Executable_Shutdown(void) { return 1; }

#include "tests/support/log_capture.h"

#include <stdarg.h>
#include <string.h>
#include <unistd.h>

#include "runtime/text/string_print.h"

std::string Captured;

int32 CaptureLog(const char *Text) {
    Captured += Text;
    return 1;
}

int32 CaptureLogMirrored(const char *Text) {
    Captured += Text;
    ssize_t Ignored = write(2, Text, strlen(Text));
    (void)Ignored;
    return 1;
}

int32 CapturePrintLine(void *User, const char *Format, ...) {
    char Line[8192];
    va_list Arguments;
    va_start(Arguments, Format);
    String_VPrint(Line, (int32)sizeof(Line), Format, Arguments);
    va_end(Arguments);
    static_cast<std::vector<std::string> *>(User)->emplace_back(Line);
    return 1;
}

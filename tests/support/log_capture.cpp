#include "tests/support/log_capture.h"

#include <string.h>
#include <unistd.h>

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

#include "tests/support/runtime.h"

#include <string.h>
#include <unistd.h>

#include <string>

#include "core/log.h"

static int32 MirrorToStderr(const char *Text) {
    ssize_t Ignored = write(2, Text, strlen(Text));
    (void)Ignored;
    return 1;
}

static void StartRuntime(uint32 Flags) {
    // The log goes nowhere unless a test asks for file output; fatal-stop
    // messages always reach stderr through the print callback.
    Debug_Init("/tmp/runtime-test.log", nullptr, Flags);
    Debug_PrintCallback(MirrorToStderr);
}

void RuntimeTest::SetUp() { StartRuntime(Flags); }
void RuntimeTest::TearDown() { Debug_Remove(); }

RuntimeScope::RuntimeScope(uint32 Flags) { StartRuntime(Flags); }
RuntimeScope::~RuntimeScope() { Debug_Remove(); }

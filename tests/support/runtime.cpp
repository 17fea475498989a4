#include "tests/support/runtime.h"

#include <errno.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "content/content_register.h"
#include "crypto/crypto_register.h"
#include "net/net_register.h"
#include "platform/platform_register.h"
#include "runtime/log.h"
#include "tests/support/temp_root.h"

static int32 MirrorToStderr(const char *Text) {
    ssize_t Ignored = write(2, Text, strlen(Text));
    (void)Ignored;
    return 1;
}

// The log file, written only when a test asks for one: named per process,
// so that concurrent runs (and runs as other users) never share it.
static std::string LogPath() {
    return TempRoot() + "/" + program_invocation_short_name + "-" + std::to_string(getpid()) + ".log";
}

static void StartRuntime(uint32 Flags) {
    // What the program hands the runtime before it starts (host/main.cpp).
    Crypto_Register();
    PlatformServices_Register();
    Content_Register();
    Net_Register();
    // External print enables logging without console or file, so every log
    // line reaches the print callback and with it stderr, next to the
    // fatal-stop messages that Debug_AbortInt always writes there.
    Debug_Init(LogPath().c_str(), nullptr, Flags | DEBUG_FLAG_EXTERNALPRINT);
    Debug_PrintCallback(MirrorToStderr);
}

// The leak report of Debug_Remove still reaches stderr.
static void EndRuntime() {
    Debug_Remove();
    Debug_PrintCallback(nullptr);
    unlink(LogPath().c_str());
}

void RuntimeTest::SetUp() { StartRuntime(Flags); }
void RuntimeTest::TearDown() { EndRuntime(); }

RuntimeScope::RuntimeScope(uint32 Flags) { StartRuntime(Flags); }
RuntimeScope::~RuntimeScope() { EndRuntime(); }

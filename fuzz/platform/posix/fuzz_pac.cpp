// Proxy auto-config evaluation on arbitrary input: the bytes up to the first
// NUL are the script, the rest the URL. Checks: the evaluation answers 1 or
// 0 within its time limit and never writes past the answer buffer, and the
// host parser answers a host that is part of the URL.
#include <stdint.h>
#include <string.h>

#include <string>

#include "platform/posix/platform_proxy.h"
#include "runtime/debug.h"
#include "runtime/posix/platform.h"
#include "runtime/text/url.h"

namespace {

void Check(bool Condition) {
    if (!Condition) __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    static const bool Started = Debug_Init("/tmp/fuzz-pac.log", nullptr, 0) != 0 && PlatformJSCore_SetTimeLimit(50);
    (void)Started;
    if (Size > 1 << 16) return 0;
    const std::string Input(reinterpret_cast<const char *>(Data), Size);
    const size_t Split = Input.find('\0');
    const std::string Script = Input.substr(0, Split);
    const std::string URL = Split == std::string::npos ? "http://example.com/" : Input.substr(Split + 1).c_str();

    char Host[64];
    if (URL_ParseHostWithoutPort(URL.c_str(), Host, sizeof(Host))) Check(Host[0] != 0 && strlen(Host) < sizeof(Host));
    char Answer[32];
    memset(Answer, 0x55, sizeof(Answer));
    const int32 Result = Platform_ProxyGetForURLWithScript(Script.c_str(), nullptr, URL.c_str(), Answer, 16);
    Check(Result == 0 || Result == 1);
    Check(memchr(Answer, 0, 16) != nullptr);
    for (size_t Index = 16; Index < sizeof(Answer); Index++) Check((uint8_t)Answer[Index] == 0x55);
    return 0;
}

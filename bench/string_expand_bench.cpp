// Macro expansion cost: a text without macros (the common case of every
// configurable text), a typical path with a platform folder and a nested
// built-in, and a long template with many callback macros.
#include <benchmark/benchmark.h>
#include <string.h>

#include <string>

#include "runtime/text/string_expand.h"
#include "content/content_register.h"
#include "crypto/crypto_register.h"
#include "net/net_register.h"
#include "platform/platform_register.h"

namespace {

int32 Workflow(void *, const char *Name, const char *, char *Output, int32 Size) {
    if (strcmp(Name, "Task") != 0) return 0;
    strncpy(Output, "download-42", (size_t)Size);
    return 1;
}

void ExpandText(benchmark::State &State, const std::string &Text) {
    // Every provider the program has: the modules above the runtime add theirs.
    static const bool Registered = Crypto_Register() && PlatformServices_Register() && Content_Register() &&
                                   Net_Register();
    (void)Registered;
    char Buffer[STRING_EXPAND_WORK_SIZE];
    for (auto _ : State) {
        memcpy(Buffer, Text.c_str(), Text.size() + 1);
        benchmark::DoNotOptimize(String_Expand(Buffer, sizeof(Buffer), nullptr, Workflow));
    }
    State.SetBytesProcessed((int64_t)State.iterations() * (int64_t)Text.size());
}

void BM_ExpandPlainText(benchmark::State &State) { ExpandText(State, std::string(200, 'p') + "/file.txt"); }
BENCHMARK(BM_ExpandPlainText);

void BM_ExpandPath(benchmark::State &State) { ExpandText(State, "{Temp}{Lower:{Task}}/{Upper:part}-{Add:1,2}.bin"); }
BENCHMARK(BM_ExpandPath);

void BM_ExpandTemplate(benchmark::State &State) {
    std::string Text;
    for (int i = 0; i < 200; i++) Text += "<li>{Task}</li>";
    ExpandText(State, Text);
}
BENCHMARK(BM_ExpandTemplate);
} // namespace

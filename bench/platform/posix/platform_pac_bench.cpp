// PAC evaluations per second: a typical auto-config script (host and domain
// tests, shell patterns, a network test on an address) evaluated for one URL
// at a time, as the proxy resolver asks; the script is handed over on every
// call, as the resolver does.
#include <benchmark/benchmark.h>

#include "platform/posix/platform_proxy.h"
#include "runtime/debug.h"
#include "runtime/posix/platform.h"

namespace {

constexpr const char Script[] = R"JS(
function FindProxyForURL(url, host) {
    if (isPlainHostName(host) || dnsDomainIs(host, ".intranet.example") || localHostOrDomainIs(host, "www"))
        return "DIRECT";
    if (shExpMatch(url, "*.cdn.example/*") || shExpMatch(host, "10.*")) return "DIRECT";
    if (isValidIpAddress(host) && isInNet(host, "192.168.0.0", "255.255.0.0")) return "DIRECT";
    if (weekdayRange("MON", "FRI") && timeRange(8, 18)) return "PROXY office.example:8080; DIRECT";
    return "PROXY proxy.example:3128; PROXY backup.example:3128; DIRECT";
}
)JS";

void BM_PacEvaluation(benchmark::State &State) {
    static const bool Started = Debug_Init("/tmp/platform_pac_bench.log", nullptr, 0) != 0;
    (void)Started;
    char Answer[256];
    const char *URLs[] = {"http://www.example.com/index.html", "https://assets.cdn.example/app.js",
                          "http://192.168.4.20/status", "http://printer/"};
    size_t Index = 0;
    for (auto _ : State) {
        if (!Platform_ProxyGetForURLWithScript(Script, nullptr, URLs[Index++ % 4], Answer, sizeof(Answer)))
            State.SkipWithError("evaluation failed");
        benchmark::DoNotOptimize(Answer);
    }
    State.SetItemsProcessed(State.iterations());
}

} // namespace

BENCHMARK(BM_PacEvaluation);

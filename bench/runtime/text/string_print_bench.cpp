// String_Print against glibc's snprintf on the formats the system prints most:
// log-style lines with integers and texts, hex words, fixed floats, %g, and a
// long text copied through %s.
#include <benchmark/benchmark.h>
#include <stdio.h>

#include <string>

#include "runtime/text/string_print.h"

namespace {

char Output[1024];
const std::string LongText(600, 'x');

void Runtime_Integers(benchmark::State &State) {
    int Value = 0;
    for (auto _ : State) {
        benchmark::DoNotOptimize(String_Print(Output, sizeof Output, "%s: %d of %d (%5u)", "item", Value, 1000, 77u));
        Value++;
    }
}
void Glibc_Integers(benchmark::State &State) {
    int Value = 0;
    for (auto _ : State) {
        benchmark::DoNotOptimize(snprintf(Output, sizeof Output, "%s: %d of %d (%5u)", "item", Value, 1000, 77u));
        Value++;
    }
}

void Runtime_Hex(benchmark::State &State) {
    for (auto _ : State)
        benchmark::DoNotOptimize(String_Print(Output, sizeof Output, "0x%08x %llx", 0xBEEFu, 0x123456789ABCULL));
}
void Glibc_Hex(benchmark::State &State) {
    for (auto _ : State)
        benchmark::DoNotOptimize(snprintf(Output, sizeof Output, "0x%08x %llx", 0xBEEFu, 0x123456789ABCULL));
}

void Runtime_Fixed(benchmark::State &State) {
    double Value = 3.14159;
    for (auto _ : State) {
        benchmark::DoNotOptimize(String_Print(Output, sizeof Output, "%.2f MB/s", Value));
        Value += 0.37;
    }
}
void Glibc_Fixed(benchmark::State &State) {
    double Value = 3.14159;
    for (auto _ : State) {
        benchmark::DoNotOptimize(snprintf(Output, sizeof Output, "%.2f MB/s", Value));
        Value += 0.37;
    }
}

// The engine's %g has 12 significant digits; glibc is given the same.
void Runtime_General(benchmark::State &State) {
    double Value = 1.0 / 7;
    for (auto _ : State) {
        benchmark::DoNotOptimize(String_Print(Output, sizeof Output, "%g", Value));
        Value = Value > 1e300 ? 1.0 / 7 : Value * 1.1;
    }
}
void Glibc_General(benchmark::State &State) {
    double Value = 1.0 / 7;
    for (auto _ : State) {
        benchmark::DoNotOptimize(snprintf(Output, sizeof Output, "%.12g", Value));
        Value = Value > 1e300 ? 1.0 / 7 : Value * 1.1;
    }
}

void Runtime_LongText(benchmark::State &State) {
    for (auto _ : State) benchmark::DoNotOptimize(String_Print(Output, sizeof Output, "[%s]", LongText.c_str()));
}
void Glibc_LongText(benchmark::State &State) {
    for (auto _ : State) benchmark::DoNotOptimize(snprintf(Output, sizeof Output, "[%s]", LongText.c_str()));
}

}  // namespace

BENCHMARK(Runtime_Integers);
BENCHMARK(Glibc_Integers);
BENCHMARK(Runtime_Hex);
BENCHMARK(Glibc_Hex);
BENCHMARK(Runtime_Fixed);
BENCHMARK(Glibc_Fixed);
BENCHMARK(Runtime_General);
BENCHMARK(Glibc_General);
BENCHMARK(Runtime_LongText);
BENCHMARK(Glibc_LongText);

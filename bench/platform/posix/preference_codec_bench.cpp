// The settings store's reader on one dictionary of distinct keys, as a page's
// settings file grows. At 10,000 and 40,000 keys the time per key stays flat
// (Complexity reports the fit): loading grows with the file, not with the
// square of its keys.
#include <benchmark/benchmark.h>

#include <string>

#include "platform/posix/preference_value.h"

namespace {

std::string Document(int64_t Keys) {
    std::string Text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict><key>Software</key>"
                       "<dict><key>Probe</key><dict>";
    for (int64_t Index = 0; Index < Keys; Index++) {
        const std::string Name = "key" + std::to_string(Index);
        Text += "<key>" + Name + "</key><string>value of " + Name + "</string>\n";
    }
    return Text + "</dict></dict></dict></plist>\n";
}

void PreferenceRead(benchmark::State &State) {
    const std::string Text = Document(State.range(0));
    for (auto _ : State) {
        PreferenceValue Value;
        if (!PreferenceCodec_Read(Text, Value)) State.SkipWithError("the document did not read");
        benchmark::DoNotOptimize(Value.Members.data());
    }
    State.SetComplexityN(State.range(0));
    State.SetBytesProcessed((int64_t)State.iterations() * (int64_t)Text.size());
}

} // namespace

BENCHMARK(PreferenceRead)->Arg(10000)->Arg(40000)->ArgName("keys")->Complexity()->Unit(benchmark::kMillisecond);

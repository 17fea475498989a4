// VCDiff decode of one 4 MB target window (copies from a 4 MB source, added
// bytes, runs and overlapping target copies), beside `xdelta3 -d` rebuilding
// the same target from the same delta in its own form. xdelta3 runs as a
// program (start, reading source and delta, writing the target on /dev/shm),
// so its figure is an upper bound of its decoder's cost. Its files live in a
// folder of this run's own, removed when the program ends.
#include <benchmark/benchmark.h>
#include <stdio.h>
#include <stdlib.h>

#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "bench/scratch_folder.h"
#include "formats/vcdiff_decoder.h"
#include "runtime/debug.h"

namespace {

const bench::ScratchFolder Scratch("/dev/shm", "vcdiff-bench");
const std::string &Folder = Scratch.Path;

std::string ReadFile(const std::string &Path) {
    std::ifstream In(Path, std::ios::binary);
    std::stringstream Out;
    Out << In.rdbuf();
    return Out.str();
}

void WriteFile(const std::string &Path, const std::string &Bytes) {
    std::ofstream(Path, std::ios::binary) << Bytes;
}

struct Case {
    std::string Source, Target, Delta;
    uint64 Offset = 0;
    bool Ready = false;
};

const Case &Made() {
    static const Case Made = [] {
        Case Out;
        std::mt19937 Random(3127);
        Out.Source.resize(4u << 20);
        for (char &Byte : Out.Source) Byte = (char)Random();
        while (Out.Target.size() < (4u << 20)) {
            const uint32 Choice = Random() % 4;
            const size_t Length = 512 + Random() % 8192;
            if (Choice == 0) {
                for (size_t i = 0; i < Length / 8; i++) Out.Target += (char)Random();
            } else if (Choice == 1) {
                Out.Target += std::string(Length, (char)Random());
            } else if (Choice == 2) {
                const std::string Unit = "pattern" + std::to_string(Random() % 100);
                for (const size_t End = Out.Target.size() + Length; Out.Target.size() < End;) Out.Target += Unit;
            } else {
                Out.Target += Out.Source.substr(Random() % (Out.Source.size() - Length), Length);
            }
        }
        if (Folder.empty()) return Out;
        WriteFile(Folder + "/source", Out.Source);
        WriteFile(Folder + "/target", Out.Target);
        const std::string Encode = "xdelta3 -A -e -f -n -S none -s " + Folder + "/source " + Folder + "/target " +
                                   Folder + "/delta";
        if (system(Encode.c_str()) != 0) return Out;
        const std::string Convert = "python3 " RUNTIME_SOURCE_DIR "/tests/support/xdelta_convert.py " + Folder +
                                    "/delta " + Folder + "/ours > " + Folder + "/offset";
        if (system(Convert.c_str()) != 0) return Out;
        Out.Delta = ReadFile(Folder + "/ours");
        Out.Offset = strtoull(ReadFile(Folder + "/offset").c_str(), nullptr, 10);
        Out.Ready = !Out.Delta.empty();
        return Out;
    }();
    return Made;
}

void VCDiffDecode(benchmark::State &State) {
    Debug_Init("/tmp/vcdiff-bench.log", nullptr, 0);
    const Case &Data = Made();
    if (!Data.Ready) {
        State.SkipWithError("xdelta3 or python3 missing");
        Debug_Remove();
        return;
    }
    std::vector<uint8> Target(Data.Target.size());
    VCDiffDecoder *Decoder = nullptr;
    VCDiffDecoder_Create(&Decoder);
    VCDiffDecoder_SetSourceBuffer(Decoder, Data.Source.data(), (uint32)Data.Source.size());
    VCDiffDecoder_SetSourceWindowOffset(Decoder, Data.Offset);
    for (auto _ : State) {
        VCDiffDecoder_SetDeltaBuffer(Decoder, Data.Delta.data(), (uint32)Data.Delta.size());
        uint32 Length = 0;
        if (!VCDiffDecoder_Init(Decoder) ||
            !VCDiffDecoder_Decode(Decoder, Target.data(), (uint32)Target.size(), &Length) ||
            Length != Target.size())
            State.SkipWithError("decode failed");
        benchmark::DoNotOptimize(Target.data());
    }
    if (std::string(Target.begin(), Target.end()) != Data.Target) State.SkipWithError("wrong target");
    State.SetBytesProcessed((int64_t)State.iterations() * (int64_t)Data.Target.size());
    VCDiffDecoder_Delete(&Decoder);
    Debug_Remove();
}

void Xdelta3Decode(benchmark::State &State) {
    const Case &Data = Made();
    if (!Data.Ready) {
        State.SkipWithError("xdelta3 or python3 missing");
        return;
    }
    const std::string Decode =
        "xdelta3 -d -f -s " + Folder + "/source " + Folder + "/delta " + Folder + "/rebuilt";
    for (auto _ : State)
        if (system(Decode.c_str()) != 0) State.SkipWithError("xdelta3 -d failed");
    State.SetBytesProcessed((int64_t)State.iterations() * (int64_t)Data.Target.size());
}

} // namespace

BENCHMARK(VCDiffDecode)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Xdelta3Decode)->Unit(benchmark::kMillisecond)->UseRealTime();

// What masking adds to a log line. Every line the log writes is masked
// first, so a line's cost is its masking plus what it cost before masking
// (the write to the log file). Goal: a line costs at most 1.5 times what it
// cost before masking, for plain text, hex ids and 4 KB lines alike; the
// "times" counter is that figure (the whole line's time over the line's time
// less its masking), "mask_ns" and "line_ns" the two times a line.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "bench/scratch_folder.h"
#include "runtime/debug.h"
#include "runtime/log.h"

namespace {

constexpr int LinesPerRound = 2000;

std::string LineOf(int Kind) {
    switch (Kind) {
        case 0: return "INFO - Task 'Download' finished in 12 ms: 3 of 4 steps done, status is ok, keys kept\n";
        case 1:
            return "DEBUG - Object 9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08 released "
                   "(e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855)\n";
        case 2: {
            std::string Line = "INFO - ";
            while (Line.size() < 4000) Line += "a ";
            return Line + "\n";
        }
        default: return "DEBUG - Requesting http://ada:pw@127.0.0.1:8/a with Authorization: Bearer abc.def\n";
    }
}

double Seconds(std::chrono::steady_clock::duration Span) { return std::chrono::duration<double>(Span).count(); }

void BM_LogLine(benchmark::State &State) {
    bench::ScratchFolder Folder("/tmp", "log-redact-bench");
    Debug_Init((Folder / "lines.log").c_str(), nullptr, DEBUG_FLAG_FILE);
    const std::string Line = LineOf((int)State.range(0));
    std::string Masked;
    double Whole = 0, Masking = 0;
    for (auto _ : State) {
        auto Start = std::chrono::steady_clock::now();
        for (int Index = 0; Index < LinesPerRound; Index++) Log_WriteString(Line.c_str(), 0, 0);
        auto Middle = std::chrono::steady_clock::now();
        for (int Index = 0; Index < LinesPerRound; Index++) benchmark::DoNotOptimize(Log_Redact(Line.c_str(), Masked));
        auto End = std::chrono::steady_clock::now();
        Whole += Seconds(Middle - Start);
        Masking += Seconds(End - Middle);
        // The file would otherwise grow by gigabytes over a run.
        Log_CloseFile();
        truncate((Folder / "lines.log").c_str(), 0);
    }
    const double Lines = (double)State.iterations() * LinesPerRound;
    State.counters["line_ns"] = Whole / Lines * 1e9;
    State.counters["mask_ns"] = Masking / Lines * 1e9;
    State.counters["times"] = Whole / (Whole - Masking);
    Debug_Remove();
}
// 0 plain text, 1 hex ids, 2 a 4 KB line, 3 a line with secrets to mask.
BENCHMARK(BM_LogLine)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

} // namespace

// Copying a 1 GiB file with Platform_CopyFile beside coreutils' cp, in one
// run, on a tmpfs (/dev/shm) and on the disk under /tmp. Compare the two
// rows of each folder: the ratio is what the figures are for. Each side
// works in a folder of this run's own, removed when the program ends.
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench/scratch_folder.h"
#include "runtime/posix/platform.h"

namespace {

constexpr int64_t FileSize = 1ll << 30;
const char *const Folders[] = {"/dev/shm", "/tmp"};

const bench::ScratchFolder &Scratch(int Index) {
    static const bench::ScratchFolder Made[] = {{Folders[0], "platform_copy_bench"},
                                                {Folders[1], "platform_copy_bench"}};
    return Made[Index];
}

// The source file, written once per run.
std::string Source(int Index) {
    static bool Written[2] = {false, false};
    const std::string Path = Scratch(Index) / "source";
    if (Written[Index]) return Path;
    int Output = open(Path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (Output < 0) abort();
    std::vector<char> Block(1 << 20);
    for (size_t i = 0; i < Block.size(); i++) Block[i] = (char)(i * 131 + i / 4096);
    for (int64_t Done = 0; Done < FileSize; Done += (int64_t)Block.size())
        if (write(Output, Block.data(), Block.size()) != (ssize_t)Block.size()) abort();
    close(Output);
    Written[Index] = true;
    return Path;
}

std::string Target(int Index) { return Scratch(Index) / "target"; }

void BM_PlatformCopyFile(benchmark::State &State) {
    const int Index = (int)State.range(0);
    const std::string From = Source(Index), To = Target(Index);
    for (auto _ : State) {
        if (!Platform_CopyFile(From.c_str(), To.c_str(), 0)) State.SkipWithError("copy failed");
        State.PauseTiming();
        unlink(To.c_str());
        State.ResumeTiming();
    }
    State.SetBytesProcessed(State.iterations() * FileSize);
    State.SetLabel(Folders[Index]);
}

void BM_Cp(benchmark::State &State) {
    const int Index = (int)State.range(0);
    const std::string Command = "cp --preserve=all '" + Source(Index) + "' '" + Target(Index) + "'";
    for (auto _ : State) {
        if (system(Command.c_str()) != 0) State.SkipWithError("cp failed");
        State.PauseTiming();
        unlink(Target(Index).c_str());
        State.ResumeTiming();
    }
    State.SetBytesProcessed(State.iterations() * FileSize);
    State.SetLabel(Folders[Index]);
}

} // namespace

BENCHMARK(BM_PlatformCopyFile)->Arg(0)->Arg(1)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Cp)->Arg(0)->Arg(1)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

// Reading a 1 GiB file with AsyncFile (1 MiB requests, 16 in flight) beside
// coreutils' cat into /dev/null, in one run, from the page cache of a file
// under /tmp. Compare the two rows: the ratio is what the figures are for.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "platform/async_file.h"
#include "runtime/debug.h"
#include "runtime/streams/meter.h"
#include "tests/support/temp_root.h"

namespace {

constexpr int64_t FileSize = 1ll << 30;
constexpr uint32 RequestSize = 1 << 20;
constexpr int InFlight = 16;

struct Source {
    std::string Path = TempRoot() + "/async_file_bench_source";
    Source() {
        int Output = open(Path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        std::vector<char> Block(1 << 20);
        for (size_t i = 0; i < Block.size(); i++) Block[i] = (char)(i * 131 + i / 4096);
        for (int64_t Done = 0; Done < FileSize; Done += (int64_t)Block.size())
            if (write(Output, Block.data(), Block.size()) != (ssize_t)Block.size()) abort();
        close(Output);
    }
    ~Source() { unlink(Path.c_str()); }
};

const std::string &SourcePath() {
    static Source File;
    return File.Path;
}

struct Reader {
    std::mutex Lock;
    std::condition_variable Done;
    int Active = 0;
    int64_t Bytes = 0;
};

int32 Completed(AsyncFile *, void *User, int64, void *, uint32 BytesDone, int32) {
    auto *State = static_cast<Reader *>(User);
    std::lock_guard Guard(State->Lock);
    State->Bytes += BytesDone;
    State->Active--;
    State->Done.notify_all();
    return 1;
}

void BM_AsyncFileRead(benchmark::State &State) {
    static const bool Started = Debug_Init("/tmp/async_file_bench.log", nullptr, 0) && Meter_Init() && AsyncFile_Init();
    (void)Started;
    const std::string &Path = SourcePath();
    std::vector<std::vector<char>> Buffers(InFlight, std::vector<char>(RequestSize));
    for (auto _ : State) {
        AsyncFile *File = nullptr;
        AsyncFile_Create(&File);
        if (!AsyncFile_Open(File, Path.c_str(), FILE_READ)) State.SkipWithError("open failed");
        Reader Progress;
        int64_t Next = 0;
        std::unique_lock Guard(Progress.Lock);
        for (int Slot = 0; Next < FileSize; Slot = (Slot + 1) % InFlight) {
            Progress.Done.wait(Guard, [&] { return Progress.Active < InFlight; });
            Progress.Active++;
            Guard.unlock();
            AsyncFile_Read(File, Next, Buffers[(size_t)Slot].data(), RequestSize, &Progress, Completed);
            Next += RequestSize;
            Guard.lock();
        }
        Progress.Done.wait(Guard, [&] { return Progress.Active == 0; });
        Guard.unlock();
        if (Progress.Bytes != FileSize) State.SkipWithError("short read");
        AsyncFile_Close(File);
        AsyncFile_Release(&File);
    }
    State.SetBytesProcessed(State.iterations() * FileSize);
}

void BM_Cat(benchmark::State &State) {
    const std::string Command = "cat " + SourcePath() + " > /dev/null";
    for (auto _ : State)
        if (system(Command.c_str()) != 0) State.SkipWithError("cat failed");
    State.SetBytesProcessed(State.iterations() * FileSize);
}

} // namespace

BENCHMARK(BM_AsyncFileRead)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_Cat)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);

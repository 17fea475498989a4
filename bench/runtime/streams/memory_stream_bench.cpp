// Memory stream: write and read throughput in the stream style (growing
// from empty, then reading back in pieces) and in the queue style (put at the
// end, get from the front), by piece size. Bytes per second are reported.
#include <benchmark/benchmark.h>

#include <string>

#include "runtime/debug.h"
#include "runtime/streams/memory_stream.h"

namespace {

void StartRuntime() {
    static const bool Started = Debug_Init("/tmp/memory-stream-bench.log", nullptr, 0) != 0;
    (void)Started;
}

constexpr int64 TotalBytes = 8 << 20;

void WriteGrowing(benchmark::State &State) {
    StartRuntime();
    const std::string Piece((size_t)State.range(0), 'w');
    for (auto _ : State) {
        MemoryStream *Stream = nullptr;
        MemoryStream_Create(&Stream);
        MemoryStream_SetAutoGrow(Stream, TRUE);
        uint32 Count = 0;
        for (int64 Written = 0; Written < TotalBytes; Written += (int64)Piece.size())
            MemoryStream_Write(Stream, Piece.data(), (uint32)Piece.size(), &Count);
        benchmark::DoNotOptimize(MemoryStream_GetUsed(Stream));
        MemoryStream_Delete(&Stream);
    }
    State.SetBytesProcessed(State.iterations() * TotalBytes);
}

void ReadBack(benchmark::State &State) {
    StartRuntime();
    std::string Piece((size_t)State.range(0), '\0');
    MemoryStream *Stream = nullptr;
    MemoryStream_Create(&Stream);
    MemoryStream_Size(Stream, (int32)TotalBytes, 0, 0);
    MemoryStream_Claim(Stream, (int32)TotalBytes);
    for (auto _ : State) {
        MemoryStream_Seek(Stream, 0, 0);
        uint32 Count = 0;
        while (MemoryStream_Read(Stream, Piece.data(), (uint32)Piece.size(), &Count)) benchmark::DoNotOptimize(Count);
    }
    State.SetBytesProcessed(State.iterations() * TotalBytes);
    MemoryStream_Delete(&Stream);
}

// A queue kept short, as a connection's duplex side is: each get moves the
// few remaining bytes to the front.
void PutGetQueue(benchmark::State &State, int32 AllowLock) {
    StartRuntime();
    std::string Piece((size_t)State.range(0), 'q');
    MemoryStream *Stream = nullptr;
    MemoryStream_Create(&Stream);
    MemoryStream_SetAutoGrow(Stream, TRUE);
    MemoryStream_SetAllowLock(Stream, AllowLock);
    for (auto _ : State) {
        uint32 Count = 0;
        for (int64 Moved = 0; Moved < TotalBytes; Moved += (int64)Piece.size()) {
            MemoryStream_Put(Stream, Piece.data(), (uint32)Piece.size(), &Count);
            MemoryStream_Get(Stream, Piece.data(), (uint32)Piece.size(), &Count);
        }
    }
    State.SetBytesProcessed(State.iterations() * TotalBytes);
    MemoryStream_Delete(&Stream);
}

} // namespace

BENCHMARK(WriteGrowing)->Arg(16)->Arg(256)->Arg(4096)->Arg(65536);
BENCHMARK(ReadBack)->Arg(16)->Arg(256)->Arg(4096)->Arg(65536);
BENCHMARK_CAPTURE(PutGetQueue, Plain, 0)->Arg(64)->Arg(4096);
BENCHMARK_CAPTURE(PutGetQueue, Locked, 1)->Arg(64)->Arg(4096);

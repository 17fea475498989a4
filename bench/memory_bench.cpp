// The runtime allocator against the system heap: one allocation and free of
// a given size, without tracking, with tracking, and with the whole-list
// check of every tracked allocation (a diagnosis mode, with a few live blocks).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <vector>

#include "core/debug.h"
#include "core/memory.h"

namespace {

void SystemHeap(benchmark::State &State) {
    size_t Size = (size_t)State.range(0);
    for (auto _ : State) {
        void *Pointer = malloc(Size);
        benchmark::DoNotOptimize(Pointer);
        free(Pointer);
    }
}

void Runtime(benchmark::State &State, uint32 Flags, int32 LiveBlocks) {
    int32 Size = (int32)State.range(0);
    Debug_Init("/tmp/memory-bench.log", nullptr, Flags);
    std::vector<void *> Live;
    for (int32 i = 0; i < LiveBlocks; i++) Live.push_back(Memory_Alloc(Size));
    for (auto _ : State) {
        void *Pointer = Memory_AllocInt(Size, MEMORY_FLAG_PLAIN, __FILE__, __LINE__);
        benchmark::DoNotOptimize(Pointer);
        Memory_FreeInt(Pointer, Size, __FILE__, __LINE__);
    }
    for (void *Pointer : Live) Memory_Free(Pointer, Size);
    Debug_Remove();
}

void Untracked(benchmark::State &State) { Runtime(State, 0, 0); }
void Tracked(benchmark::State &State) { Runtime(State, DEBUG_FLAG_MEMORYTRACKING, 0); }
void TrackedWholeCheck(benchmark::State &State) {
    Runtime(State, DEBUG_FLAG_MEMORYTRACKING | DEBUG_FLAG_MEMORYTEST, 100);
}

} // namespace

BENCHMARK(SystemHeap)->Arg(16)->Arg(256)->Arg(4096)->Arg(65536);
BENCHMARK(Untracked)->Arg(16)->Arg(256)->Arg(4096)->Arg(65536);
BENCHMARK(Tracked)->Arg(16)->Arg(256)->Arg(4096)->Arg(65536);
BENCHMARK(TrackedWholeCheck)->Arg(16)->Arg(4096);

// Pool: allocating and then freeing N fixed-size records must cost time
// linear in N (a free finds its record's descriptor directly, whatever the
// number of records out). Run with N = 100k and 1M; the fitted complexity
// and the per-record times should match across both.
// String mode: N texts of mixed small sizes fill about N/80 chunks of 2 KiB;
// placing a text must not cost time in the number of chunks already made, so
// the per-text time must match for N = 100k and 400k as well.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

#include "runtime/containers/pool.h"
#include "runtime/debug.h"

namespace {

void StartRuntime() {
    static const bool Started = Debug_Init("/tmp/pool-bench.log", nullptr, 0) != 0;
    (void)Started;
}

// Dictionary-item-sized records in chunks of 8, the Dictionary's default.
constexpr int32 RecordSize = 48;

void AllocThenFree(benchmark::State &State, bool Shuffled) {
    StartRuntime();
    const size_t Count = (size_t)State.range(0);
    std::vector<void *> Records(Count);
    std::mt19937 Random(114);
    for (auto _ : State) {
        Pool *Handle = nullptr;
        Pool_Create(&Handle);
        Pool_SetMemorySize(Handle, RecordSize);
        Pool_SetChunkSize(Handle, 8);
        for (void *&Record : Records) Record = Pool_Alloc(Handle, RecordSize);
        if (Shuffled) {
            State.PauseTiming();
            std::shuffle(Records.begin(), Records.end(), Random);
            State.ResumeTiming();
        }
        for (void *&Record : Records) Pool_Free(Handle, &Record, RecordSize);
        Pool_Delete(&Handle);
    }
    State.SetComplexityN((int64_t)Count);
    State.SetItemsProcessed((int64_t)(State.iterations() * Count));
}

void BM_PoolAllocFreeInOrder(benchmark::State &State) { AllocThenFree(State, false); }
void BM_PoolAllocFreeShuffled(benchmark::State &State) { AllocThenFree(State, true); }

BENCHMARK(BM_PoolAllocFreeInOrder)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);
BENCHMARK(BM_PoolAllocFreeShuffled)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);

// Key- and value-sized texts (1 to 40 bytes), as a Dictionary stores them.
void BM_PoolStringTexts(benchmark::State &State) {
    StartRuntime();
    const size_t Count = (size_t)State.range(0);
    std::vector<int32> Sizes(Count);
    std::mt19937 Random(115);
    for (int32 &Size : Sizes) Size = 1 + (int32)(Random() % 40);
    for (auto _ : State) {
        Pool *Handle = nullptr;
        Pool_Create(&Handle);
        Pool_SetMemorySize(Handle, 2048);
        Pool_SetChunkSize(Handle, 1);
        Pool_SetStringMode(Handle, 1);
        for (int32 Size : Sizes) benchmark::DoNotOptimize(Pool_Alloc(Handle, Size));
        Pool_Reset(Handle);
        Pool_Delete(&Handle);
    }
    State.SetComplexityN((int64_t)Count);
    State.SetItemsProcessed((int64_t)(State.iterations() * Count));
}
BENCHMARK(BM_PoolStringTexts)->Arg(100000)->Arg(400000)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);

} // namespace

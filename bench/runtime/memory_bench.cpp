// The runtime allocator against the system heap: one allocation and free of
// a given size, without tracking, with tracking, and with the whole-list
// check of every tracked allocation (a diagnosis mode, with a few live
// blocks); and the same pair on 8 threads at once (total throughput: the
// time reported is wall time, items are the pairs of all threads), also with
// blocks freed on another thread than the one that made them.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <vector>

#include "runtime/debug.h"
#include "runtime/memory.h"

namespace {

constexpr int Threads = 8;

void SystemHeap(benchmark::State &State) {
    size_t Size = (size_t)State.range(0);
    for (auto _ : State) {
        void *Pointer = malloc(Size);
        benchmark::DoNotOptimize(Pointer);
        free(Pointer);
    }
    State.SetItemsProcessed(State.iterations());
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
    State.SetItemsProcessed(State.iterations());
}

void Untracked(benchmark::State &State) { Runtime(State, 0, 0); }
void Tracked(benchmark::State &State) { Runtime(State, DEBUG_FLAG_MEMORYTRACKING, 0); }
void TrackedWholeCheck(benchmark::State &State) {
    Runtime(State, DEBUG_FLAG_MEMORYTRACKING | DEBUG_FLAG_MEMORYTEST, 100);
}

// ---- 8 threads: the memory state is made before the threads start and
// removed after they all stopped (Setup and Teardown run once per run).

void StartUntracked(const benchmark::State &) { Debug_Init("/tmp/memory-bench.log", nullptr, 0); }
void StartTracked(const benchmark::State &) {
    Debug_Init("/tmp/memory-bench.log", nullptr, DEBUG_FLAG_MEMORYTRACKING);
}
void Stop(const benchmark::State &) { Debug_Remove(); }

// Each thread keeps a few blocks alive and replaces one per iteration, so
// that frees do not always hit the block just allocated.
void RuntimeThreaded(benchmark::State &State) {
    const int32 Size = (int32)State.range(0);
    void *Live[16] = {};
    uint32 Next = 0;
    for (auto _ : State) {
        void *&Slot = Live[Next++ & 15];
        if (Slot != nullptr) Memory_FreeInt(Slot, Size, __FILE__, __LINE__);
        Slot = Memory_AllocInt(Size, MEMORY_FLAG_PLAIN, __FILE__, __LINE__);
        benchmark::DoNotOptimize(Slot);
    }
    for (void *Pointer : Live)
        if (Pointer != nullptr) Memory_FreeInt(Pointer, Size, __FILE__, __LINE__);
    State.SetItemsProcessed(State.iterations());
}

void SystemHeapThreaded(benchmark::State &State) {
    const size_t Size = (size_t)State.range(0);
    void *Live[16] = {};
    uint32 Next = 0;
    for (auto _ : State) {
        void *&Slot = Live[Next++ & 15];
        free(Slot);
        Slot = malloc(Size);
        benchmark::DoNotOptimize(Slot);
    }
    for (void *Pointer : Live) free(Pointer);
    State.SetItemsProcessed(State.iterations());
}

// Blocks change threads before they are freed: every thread puts its new
// block into a slot of a shared exchange and frees the block it takes out,
// mostly one another thread made. The same exchange runs beside glibc.
constexpr int32 ExchangeSlots = 128;
struct alignas(64) ExchangeSlot {
    void *Block;
};

template <bool System> void CrossThreaded(benchmark::State &State) {
    static ExchangeSlot Slots[ExchangeSlots];
    const int32 Size = (int32)State.range(0);
    uint32 Next = (uint32)State.thread_index() * 16;
    for (auto _ : State) {
        void *Block = System ? malloc((size_t)Size) : Memory_AllocInt(Size, MEMORY_FLAG_PLAIN, __FILE__, __LINE__);
        benchmark::DoNotOptimize(Block);
        // 9 is prime to the slot count, so each thread visits every slot.
        Next += 9;
        void *Old = __atomic_exchange_n(&Slots[Next % ExchangeSlots].Block, Block, __ATOMIC_ACQ_REL);
        if (Old == nullptr) continue;
        if (System) free(Old);
        else Memory_FreeInt(Old, Size, __FILE__, __LINE__);
    }
    State.SetItemsProcessed(State.iterations());
    // The last thread to leave empties the exchange, before the state goes.
    static int32 Left = 0;
    if (__atomic_add_fetch(&Left, 1, __ATOMIC_ACQ_REL) % State.threads() != 0) return;
    for (ExchangeSlot &Slot : Slots) {
        void *Old = __atomic_exchange_n(&Slot.Block, (void *)nullptr, __ATOMIC_ACQ_REL);
        if (Old == nullptr) continue;
        if (System) free(Old);
        else Memory_FreeInt(Old, Size, __FILE__, __LINE__);
    }
}

} // namespace

BENCHMARK(SystemHeap)->Arg(16)->Arg(256)->Arg(4096)->Arg(65536);
BENCHMARK(Untracked)->Arg(16)->Arg(256)->Arg(4096)->Arg(65536);
BENCHMARK(Tracked)->Arg(16)->Arg(256)->Arg(4096)->Arg(65536);
BENCHMARK(TrackedWholeCheck)->Arg(16)->Arg(4096);

BENCHMARK(SystemHeapThreaded)->Arg(16)->Arg(256)->Threads(Threads)->UseRealTime();
BENCHMARK(RuntimeThreaded)->Name("UntrackedThreaded")->Arg(16)->Arg(256)->Threads(Threads)->UseRealTime()
    ->Setup(StartUntracked)->Teardown(Stop);
BENCHMARK(RuntimeThreaded)->Name("TrackedThreaded")->Arg(16)->Arg(256)->Threads(Threads)->UseRealTime()
    ->Setup(StartTracked)->Teardown(Stop);
// 200,000 allocations and frees of 16 bytes, on 1 and on 8 threads, for the
// instruction count of the hot path (bench/runtime/hot_path_instructions.py).
BENCHMARK(Untracked)->Arg(16)->Iterations(200000);
BENCHMARK(RuntimeThreaded)->Name("UntrackedThreaded")->Arg(16)->Threads(Threads)->Iterations(200000 / Threads)
    ->UseRealTime()->Setup(StartUntracked)->Teardown(Stop);
BENCHMARK(CrossThreaded<true>)->Name("SystemHeapCrossThreaded")->Arg(16)->Threads(Threads)->UseRealTime();
BENCHMARK(CrossThreaded<false>)->Name("TrackedCrossThreaded")->Arg(16)->Threads(Threads)->UseRealTime()
    ->Setup(StartTracked)->Teardown(Stop);

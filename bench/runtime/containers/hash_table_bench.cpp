// HashTable look-ups: copied string keys and pointer keys, hits and misses,
// at the two bucket counts the runtime uses (32 and 512) and table sizes from
// sparse to long chains.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "runtime/containers/hash_table.h"
#include "runtime/debug.h"

namespace {

struct Runtime {
    Runtime() { Debug_Init("/tmp/hash-table-bench.log", nullptr, 0); }
    ~Runtime() { Debug_Remove(); }
};

std::vector<std::string> MakeKeys(int64_t Count, const char *Prefix) {
    std::vector<std::string> Keys;
    for (int64_t Index = 0; Index < Count; Index++) Keys.push_back(Prefix + std::to_string(Index * 2654435761u));
    return Keys;
}

void StringLookup(benchmark::State &State, bool Hit) {
    Runtime Scope;
    const int64_t Members = State.range(0);
    const uint32 Buckets = (uint32)State.range(1);
    HashTable *Table = nullptr;
    HashTable_Create(&Table, 64, Buckets);
    std::vector<std::string> Keys = MakeKeys(Members, "instance-");
    for (int64_t Index = 0; Index < Members; Index++) HashTable_Add(Table, Keys[Index].c_str(), Index);
    std::vector<std::string> Probes = Hit ? Keys : MakeKeys(Members, "missing-");
    size_t Next = 0;
    for (auto _ : State) {
        uint64 Value = 0;
        benchmark::DoNotOptimize(HashTable_GetValue(Table, Probes[Next].c_str(), &Value));
        benchmark::DoNotOptimize(Value);
        if (++Next == Probes.size()) Next = 0;
    }
    HashTable_Delete(&Table);
}

void PointerLookup(benchmark::State &State, bool Hit) {
    Runtime Scope;
    const int64_t Members = State.range(0);
    const uint32 Buckets = (uint32)State.range(1);
    HashTable *Table = nullptr;
    HashTable_Create(&Table, 8, Buckets);
    HashTable_SetKeyAssignCallback(Table, nullptr, HashTable_PointerKeyAssign);
    HashTable_SetValueCallback(Table, nullptr, HashTable_PointerValue);
    HashTable_SetCompareCallback(Table, nullptr, HashTable_PointerCompare);
    // Heap-like addresses: 16-byte aligned, close together.
    auto KeyOf = [](int64_t Index) { return reinterpret_cast<const void *>(0x7f0000001000 + Index * 48); };
    for (int64_t Index = 0; Index < Members; Index++) HashTable_Add(Table, KeyOf(Index), Index);
    const int64_t Offset = Hit ? 0 : Members;
    int64_t Next = 0;
    for (auto _ : State) {
        uint64 Value = 0;
        benchmark::DoNotOptimize(HashTable_GetValue(Table, KeyOf(Offset + Next), &Value));
        benchmark::DoNotOptimize(Value);
        if (++Next == Members) Next = 0;
    }
    HashTable_Delete(&Table);
}

void StringHit(benchmark::State &State) { StringLookup(State, true); }
void StringMiss(benchmark::State &State) { StringLookup(State, false); }
void PointerHit(benchmark::State &State) { PointerLookup(State, true); }
void PointerMiss(benchmark::State &State) { PointerLookup(State, false); }

void Sizes(benchmark::internal::Benchmark *Bench) {
    for (int64_t Buckets : {32, 512})
        for (int64_t Members : {16, 512, 8192}) Bench->Args({Members, Buckets});
}

} // namespace

BENCHMARK(StringHit)->Apply(Sizes);
BENCHMARK(StringMiss)->Apply(Sizes);
BENCHMARK(PointerHit)->Apply(Sizes);
BENCHMARK(PointerMiss)->Apply(Sizes);

// Dictionary: the costs a document-sized tree meets.
// - building a 200,000-item tree, with and without the string pool;
// - finding a key among 1,000 siblings (a linear walk by design);
// - walking a 100,000-item list by next item and by ascending index (the
//   remembered position keeps the index walk linear), and by random index
//   (each lookup walks from the nearest end or the remembered position);
// - resetting the tree: must grow linearly with the item count, also with a
//   remove callback on the root (every removal then builds its path);
// - unpacking a packed tree (as the workflow manager unpacks the record of a
//   completed task for a late event), a few private keys among the items.
#include <benchmark/benchmark.h>

#include <nlohmann/json.hpp>

#include <random>
#include <vector>

#include "runtime/containers/dictionary.h"
#include "runtime/containers/dictionary_pack.h"
#include "runtime/debug.h"
#include "runtime/text/string.h"

namespace {

void StartRuntime() {
    static const bool Started = Debug_Init("/tmp/dictionary-bench.log", nullptr, 0) != 0;
    (void)Started;
}

// Groups of keyed scalars under keyed Dictionaries: Items items in total.
void BuildTree(Dictionary *Root, int64_t Items) {
    const int64_t PerGroup = 200;
    char Key[32];
    int64_t Made = 0;
    for (int64_t Group = 0; Made < Items; Group++) {
        String_Print(Key, (int32)sizeof(Key), "group%lld", (long long)Group);
        Dictionary *Child = nullptr;
        Dictionary_AddDictionary(Root, Key, &Child, nullptr);
        Made++;
        for (int64_t Member = 1; Member < PerGroup && Made < Items; Member++, Made++) {
            String_Print(Key, (int32)sizeof(Key), "key%lld", (long long)Member);
            if (Member & 1)
                Dictionary_AddString(Child, Key, "a value of some length", nullptr);
            else
                Dictionary_AddInt64(Child, Key, Member * 1000003, nullptr);
        }
    }
}

void BM_BuildTree(benchmark::State &State) {
    StartRuntime();
    const bool StringPool = State.range(1) != 0;
    for (auto _ : State) {
        Dictionary *Root = nullptr;
        Dictionary_Create(&Root);
        Dictionary_SetStringPool(Root, StringPool ? 1 : 0);
        BuildTree(Root, State.range(0));
        State.PauseTiming();
        Dictionary_Release(&Root);
        State.ResumeTiming();
    }
    State.SetItemsProcessed(State.iterations() * State.range(0));
}
BENCHMARK(BM_BuildTree)->Args({200000, 0})->Args({200000, 1})->ArgNames({"items", "stringpool"})
    ->Unit(benchmark::kMillisecond);

void BM_FindByKey(benchmark::State &State) {
    StartRuntime();
    const int32 Siblings = (int32)State.range(0);
    Dictionary *Root = nullptr;
    Dictionary_Create(&Root);
    char Key[32];
    for (int32 Index = 0; Index < Siblings; Index++) {
        String_Print(Key, (int32)sizeof(Key), "sibling-key-%d", Index);
        Dictionary_AddInt64(Root, Key, Index, nullptr);
    }
    std::vector<std::string> Wanted;
    std::mt19937 Random(111);
    for (int32 Index = 0; Index < 1024; Index++) {
        String_Print(Key, (int32)sizeof(Key), "sibling-key-%d", (int32)(Random() % (uint32)Siblings));
        Wanted.push_back(Key);
    }
    size_t Next = 0;
    for (auto _ : State) {
        DictionaryItem *Item = nullptr;
        Dictionary_ItemFindByKey(Root, Wanted[Next++ & 1023].c_str(), nullptr, &Item);
        benchmark::DoNotOptimize(Item);
    }
    State.SetItemsProcessed(State.iterations());
    Dictionary_Release(&Root);
}
BENCHMARK(BM_FindByKey)->Arg(10)->Arg(1000)->Arg(100000)->ArgName("siblings");

// The peer: nlohmann::json's find on an object of the same keys.
void BM_FindByKeyNlohmann(benchmark::State &State) {
    const int32 Siblings = (int32)State.range(0);
    nlohmann::json Object = nlohmann::json::object();
    char Key[32];
    for (int32 Index = 0; Index < Siblings; Index++) {
        String_Print(Key, (int32)sizeof(Key), "sibling-key-%d", Index);
        Object[Key] = Index;
    }
    std::vector<std::string> Wanted;
    std::mt19937 Random(111);
    for (int32 Index = 0; Index < 1024; Index++) {
        String_Print(Key, (int32)sizeof(Key), "sibling-key-%d", (int32)(Random() % (uint32)Siblings));
        Wanted.push_back(Key);
    }
    size_t Next = 0;
    for (auto _ : State) {
        auto Found = Object.find(Wanted[Next++ & 1023].c_str());
        benchmark::DoNotOptimize(Found);
    }
    State.SetItemsProcessed(State.iterations());
}
BENCHMARK(BM_FindByKeyNlohmann)->Arg(10)->Arg(1000)->Arg(100000)->ArgName("siblings");

Dictionary *MakeList(int32 Count) {
    Dictionary *Root = nullptr;
    Dictionary_Create(&Root);
    for (int32 Index = 0; Index < Count; Index++) Dictionary_AddInt64(Root, nullptr, Index, nullptr);
    return Root;
}

void BM_WalkByNext(benchmark::State &State) {
    StartRuntime();
    Dictionary *Root = MakeList((int32)State.range(0));
    for (auto _ : State) {
        int64 Sum = 0;
        DictionaryItem *Item = nullptr;
        for (int32 More = Dictionary_ItemGetFirst(Root, &Item); More; More = Dictionary_ItemGetNext(Root, Item, &Item)) {
            int64 Value = 0;
            Dictionary_ItemGetInt64(Root, Item, &Value);
            Sum += Value;
        }
        benchmark::DoNotOptimize(Sum);
    }
    State.SetItemsProcessed(State.iterations() * State.range(0));
    Dictionary_Release(&Root);
}
BENCHMARK(BM_WalkByNext)->Arg(100000)->ArgName("items")->Unit(benchmark::kMillisecond);

void BM_WalkByIndex(benchmark::State &State) {
    StartRuntime();
    const int32 Count = (int32)State.range(0);
    Dictionary *Root = MakeList(Count);
    for (auto _ : State) {
        int64 Sum = 0;
        for (int32 Index = 0; Index < Count; Index++) {
            DictionaryItem *Item = nullptr;
            Dictionary_ItemFindByIndex(Root, Index, nullptr, &Item);
            int64 Value = 0;
            Dictionary_ItemGetInt64(Root, Item, &Value);
            Sum += Value;
        }
        benchmark::DoNotOptimize(Sum);
    }
    State.SetItemsProcessed(State.iterations() * State.range(0));
    Dictionary_Release(&Root);
}
BENCHMARK(BM_WalkByIndex)->Arg(100000)->ArgName("items")->Unit(benchmark::kMillisecond);

// Random positions: no remembered position helps, so each lookup walks up
// to a quarter of the list on average.
void BM_RandomIndex(benchmark::State &State) {
    StartRuntime();
    const int32 Count = (int32)State.range(0);
    Dictionary *Root = MakeList(Count);
    std::mt19937 Random(112);
    std::vector<int32> Indexes(1024);
    for (int32 &Index : Indexes) Index = (int32)(Random() % (uint32)Count);
    size_t Next = 0;
    for (auto _ : State) {
        DictionaryItem *Item = nullptr;
        Dictionary_ItemFindByIndex(Root, Indexes[Next++ & 1023], nullptr, &Item);
        benchmark::DoNotOptimize(Item);
    }
    State.SetItemsProcessed(State.iterations());
    Dictionary_Release(&Root);
}
BENCHMARK(BM_RandomIndex)->Arg(100000)->ArgName("items")->Unit(benchmark::kMicrosecond);

int32 CountRemoval(Dictionary *, DictionaryItem *, void *User, const char *Path) {
    *static_cast<int64 *>(User) += Path[0] != 0;
    return 1;
}

void ResetTree(benchmark::State &State, bool Watched) {
    StartRuntime();
    int64 Reports = 0;
    for (auto _ : State) {
        State.PauseTiming();
        Dictionary *Root = nullptr;
        Dictionary_Create(&Root);
        BuildTree(Root, State.range(0));
        if (Watched) Dictionary_SetItemRemoveCallback(Root, &Reports, CountRemoval);
        State.ResumeTiming();
        Dictionary_Reset(Root);
        State.PauseTiming();
        Dictionary_Release(&Root);
        State.ResumeTiming();
    }
    benchmark::DoNotOptimize(Reports);
    State.SetComplexityN(State.range(0));
    State.SetItemsProcessed(State.iterations() * State.range(0));
}

void BM_ResetTree(benchmark::State &State) { ResetTree(State, false); }
void BM_ResetWatchedTree(benchmark::State &State) { ResetTree(State, true); }
BENCHMARK(BM_ResetTree)->Arg(50000)->Arg(100000)->Arg(200000)->ArgName("items")->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);
BENCHMARK(BM_ResetWatchedTree)->Arg(50000)->Arg(100000)->Arg(200000)->ArgName("items")
    ->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);

void BM_PackRead(benchmark::State &State) {
    StartRuntime();
    Dictionary *Source = nullptr;
    Dictionary_Create(&Source);
    BuildTree(Source, State.range(0));
    for (int32 Index = 0; Index < 8; Index++) Dictionary_AddString(Source, ".private", "kept apart", nullptr);
    std::string Packed;
    DictionaryPack_Write(Source, &Packed);
    Dictionary_Release(&Source);
    for (auto _ : State) {
        Dictionary *Record = nullptr;
        Dictionary_Create(&Record);
        benchmark::DoNotOptimize(DictionaryPack_Read(Record, Packed));
        State.PauseTiming();
        Dictionary_Release(&Record);
        State.ResumeTiming();
    }
    State.SetItemsProcessed(State.iterations() * State.range(0));
}
BENCHMARK(BM_PackRead)->Arg(12)->Arg(20000)->ArgName("items");

} // namespace

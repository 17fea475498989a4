// JSON load into a Dictionary, the scanner alone, save, and the peak memory
// of one load, beside RapidJSON and nlohmann::json on the same bytes. Those
// two libraries appear only here, as yardsticks.
//
// The documents come from bench/make_json_documents.py (run by the build):
// four shapes of about 10 MB (mixed, numbers, strings, 28 levels deep), a
// 20 MB package index, a 20 MB GeoJSON file, a 10 MB twitter-like file, and
// the mixed shape at 1 and 50 MB for the linearity series. simdjson (its DOM
// parser, a new parser per document) is run beside them as the field's mark.
//
// Fairness: every load iteration includes one teardown on every side (ours
// resets the Dictionary, the others destroy their document); RapidJSON also runs keeping
// numbers as text, which is what the Dictionary stores; every save writes
// into an output buffer sized beforehand.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <malloc.h>
#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <rapidjson/document.h>
#include <rapidjson/reader.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <simdjson.h>

#include "runtime/containers/dictionary.h"
#include "runtime/debug.h"
#include "runtime/documents/json.h"
#include "runtime/streams/memory_stream.h"

#ifndef JSON_BENCH_DOCUMENTS
#define JSON_BENCH_DOCUMENTS "/tmp/json-bench-documents"
#endif

// ---- Peak heap use: the program's malloc family, counted while asked ----
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void __libc_free(void *);
}

namespace {
std::atomic<bool> Counting{false};
std::atomic<int64_t> InUse{0};
std::atomic<int64_t> Peak{0};

void Count(int64_t Delta) {
    const int64_t Now = InUse.fetch_add(Delta, std::memory_order_relaxed) + Delta;
    int64_t Seen = Peak.load(std::memory_order_relaxed);
    while (Now > Seen && !Peak.compare_exchange_weak(Seen, Now, std::memory_order_relaxed)) {
    }
}
} // namespace

extern "C" {
void *malloc(size_t Size) {
    void *Block = __libc_malloc(Size);
    if (Block != nullptr && Counting.load(std::memory_order_relaxed)) Count((int64_t)malloc_usable_size(Block));
    return Block;
}
void *calloc(size_t Count_, size_t Size) {
    void *Block = __libc_calloc(Count_, Size);
    if (Block != nullptr && Counting.load(std::memory_order_relaxed)) Count((int64_t)malloc_usable_size(Block));
    return Block;
}
void *realloc(void *Old, size_t Size) {
    if (!Counting.load(std::memory_order_relaxed)) return __libc_realloc(Old, Size);
    const int64_t Before = Old != nullptr ? (int64_t)malloc_usable_size(Old) : 0;
    void *Block = __libc_realloc(Old, Size);
    if (Block != nullptr) Count((int64_t)malloc_usable_size(Block) - Before);
    return Block;
}
void free(void *Block) {
    if (Block != nullptr && Counting.load(std::memory_order_relaxed)) Count(-(int64_t)malloc_usable_size(Block));
    __libc_free(Block);
}

// The runtime maps its largest blocks itself; glibc's own mappings for the
// malloc family go through its internal entry and are not seen twice here.
using MapFunction = void *(*)(void *, size_t, int, int, int, off_t);
using UnmapFunction = int (*)(void *, size_t);
void *mmap(void *Address, size_t Length, int Protection, int Flags, int Descriptor, off_t Offset) {
    static const auto Next = reinterpret_cast<MapFunction>(dlsym(RTLD_NEXT, "mmap"));
    void *Mapped = Next(Address, Length, Protection, Flags, Descriptor, Offset);
    if (Mapped != MAP_FAILED && (Flags & MAP_ANONYMOUS) && Counting.load(std::memory_order_relaxed))
        Count((int64_t)Length);
    return Mapped;
}
int munmap(void *Address, size_t Length) {
    static const auto Next = reinterpret_cast<UnmapFunction>(dlsym(RTLD_NEXT, "munmap"));
    if (Counting.load(std::memory_order_relaxed)) Count(-(int64_t)Length);
    return Next(Address, Length);
}
}
#define JSON_BENCH_PEAK 1
#endif

namespace {

// Peak bytes above the level at Start, while Work runs.
template <typename Function> int64_t PeakOf(const Function &Work) {
#ifdef JSON_BENCH_PEAK
    InUse = 0;
    Peak = 0;
    Counting = true;
    Work();
    Counting = false;
    return Peak.load();
#else
    Work();
    return 0;
#endif
}

struct Runtime {
    Runtime() { Debug_Init("/tmp/json-bench.log", nullptr, 0); }
    ~Runtime() { Debug_Remove(); }
};

const char *const Shapes[] = {"mixed",      "numbers",       "strings", "deep",   "mixed-1mb",
                              "mixed-50mb", "package-index", "geojson", "twitter"};

// The document of a shape (range 0), read once.
const std::string &Document(int64_t Shape) {
    static std::string Texts[std::size(Shapes)];
    std::string &Text = Texts[Shape];
    if (Text.empty()) {
        std::ifstream In(std::string(JSON_BENCH_DOCUMENTS) + "/" + Shapes[Shape] + ".json", std::ios::binary);
        std::ostringstream Read;
        Read << In.rdbuf();
        Text = Read.str();
    }
    return Text;
}

bool Ready(benchmark::State &State, const std::string &Text) {
    if (!Text.empty()) return true;
    State.SkipWithError("document missing: run bench/make_json_documents.py");
    return false;
}

void Report(benchmark::State &State, const std::string &Text) {
    State.SetBytesProcessed((int64_t)State.iterations() * (int64_t)Text.size());
    State.SetLabel(Shapes[State.range(0)]);
}

// ---- Load ----

// One timed load on each side, apart, so that bench/runtime/hot_path_instructions.py
// counts the instructions of these calls alone (callgrind's --toggle-collect).
[[gnu::noinline]] bool LoadOnce(JSON *Json, Dictionary *Dict, const std::string &Text) {
    const bool Loaded = JSON_LoadBuffer(Json, Text.data(), (int32)Text.size()) != 0;
    // The teardown belongs to the iteration, as the others' destructors do.
    Dictionary_Reset(Dict);
    return Loaded;
}

[[gnu::noinline]] bool RapidJsonParseOnce(const std::string &Text, bool NumbersAsText) {
    rapidjson::Document Parsed;
    if (NumbersAsText)
        Parsed.Parse<rapidjson::kParseNumbersAsStringsFlag>(Text.data(), Text.size());
    else
        Parsed.Parse(Text.data(), Text.size());
    benchmark::DoNotOptimize(Parsed);
    return !Parsed.HasParseError();
}

// Range 1: 0 the Dictionary's own storage, 1 its string pool. Warm: one
// load before the timing, as the other sides' heaps are warm from their
// earlier runs in this process; a case of one iteration (50 MB) would
// otherwise time only a first load, the page faults of a heap that has never
// held the tree (JsonLoadFirst times those alone).
void LoadInto(benchmark::State &State, bool Warm) {
    Runtime Scope;
    const std::string &Text = Document(State.range(0));
    if (!Ready(State, Text)) return;
    JSON *Json = nullptr;
    Dictionary *Dict = nullptr;
    JSON_Create(&Json);
    Dictionary_Create(&Dict);
    Dictionary_SetStringPool(Dict, State.range(1) == 1);
    JSON_SetDictionaryHandle(Json, Dict);
    if (Warm) {
        JSON_LoadBuffer(Json, Text.data(), (int32)Text.size());
        Dictionary_Reset(Dict);
    }
    for (auto _ : State)
        if (!LoadOnce(Json, Dict, Text)) State.SkipWithError("load failed");
    Report(State, Text);
}

void JsonLoad(benchmark::State &State) { LoadInto(State, true); }
void JsonLoadFirst(benchmark::State &State) { LoadInto(State, false); }

// The scanner alone: a JSON object without a Dictionary.
void JsonScan(benchmark::State &State) {
    Runtime Scope;
    const std::string &Text = Document(State.range(0));
    if (!Ready(State, Text)) return;
    JSON *Json = nullptr;
    JSON_Create(&Json);
    for (auto _ : State)
        if (!JSON_LoadBuffer(Json, Text.data(), (int32)Text.size())) State.SkipWithError("scan failed");
    Report(State, Text);
    JSON_Release(&Json);
}

// The scanner alone through a stream (a memory stream over the document):
// pieces of 4,096 bytes copied out of the stream, as for files and sockets,
// where a buffer load reads the bytes where they lie.
void JsonScanStream(benchmark::State &State) {
    Runtime Scope;
    const std::string &Text = Document(State.range(0));
    if (!Ready(State, Text)) return;
    JSON *Json = nullptr;
    JSON_Create(&Json);
    MemoryStream *Memory = nullptr;
    MemoryStream_Create(&Memory);
    MemoryStream_SetPointer(Memory, const_cast<char *>(Text.data()), (int32)Text.size(), (int32)Text.size());
    StreamStruct *Stream = nullptr;
    MemoryStream_GetStreamHandle(Memory, &Stream);
    for (auto _ : State) {
        Stream_Seek(Stream, 0, STREAM_SEEK_SET);
        if (!JSON_LoadStream(Json, Stream)) State.SkipWithError("scan failed");
    }
    Report(State, Text);
    MemoryStream_Delete(&Memory);
    JSON_Release(&Json);
}

// Range 1: 0 numbers parsed, 1 numbers kept as text.
void RapidJsonParse(benchmark::State &State) {
    const std::string &Text = Document(State.range(0));
    if (!Ready(State, Text)) return;
    // Warm, as ours is: the heap has held one tree before the timing (not
    // through RapidJsonParseOnce, whose calls are the ones counted).
    {
        rapidjson::Document Warm;
        Warm.Parse<rapidjson::kParseNumbersAsStringsFlag>(Text.data(), Text.size());
    }
    for (auto _ : State)
        if (!RapidJsonParseOnce(Text, State.range(1) == 1)) State.SkipWithError("parse failed");
    Report(State, Text);
}

// RapidJSON's SAX reader with a handler that accepts everything, numbers
// kept as text: the counterpart of the scanner alone.
void RapidJsonScan(benchmark::State &State) {
    const std::string &Text = Document(State.range(0));
    if (!Ready(State, Text)) return;
    for (auto _ : State) {
        rapidjson::Reader Reader;
        rapidjson::BaseReaderHandler<> Handler;
        rapidjson::StringStream Stream(Text.c_str());
        if (!Reader.Parse<rapidjson::kParseNumbersAsStringsFlag>(Stream, Handler)) State.SkipWithError("scan failed");
    }
    Report(State, Text);
}

// simdjson's DOM parser, a new parser for every document (its buffers are
// sized per document); the padded copy of the text is made once, outside.
void SimdjsonParse(benchmark::State &State) {
    const std::string &Text = Document(State.range(0));
    if (!Ready(State, Text)) return;
    const simdjson::padded_string Padded(Text);
    for (auto _ : State) {
        simdjson::dom::parser Parser;
        simdjson::dom::element Root;
        if (Parser.parse(Padded).get(Root) != simdjson::SUCCESS) State.SkipWithError("parse failed");
        benchmark::DoNotOptimize(Root);
    }
    Report(State, Text);
}

void NlohmannParse(benchmark::State &State) {
    const std::string &Text = Document(State.range(0));
    if (!Ready(State, Text)) return;
    for (auto _ : State) {
        nlohmann::json Parsed = nlohmann::json::parse(Text);
        benchmark::DoNotOptimize(Parsed);
    }
    Report(State, Text);
}

// ---- Save, into buffers sized before the loop ----

// A document loaded once, outside the timed loop, for the writers to save.
struct Loaded {
    JSON *Json = nullptr;
    Dictionary *Dict = nullptr;
    explicit Loaded(const std::string &Text) {
        JSON_Create(&Json);
        Dictionary_Create(&Dict);
        JSON_SetDictionaryHandle(Json, Dict);
        JSON_LoadBuffer(Json, Text.data(), (int32)Text.size());
    }
    ~Loaded() {
        JSON_Release(&Json);
        Dictionary_Release(&Dict);
    }
};

void JsonSave(benchmark::State &State) {
    Runtime Scope;
    const std::string &Text = Document(State.range(0));
    if (!Ready(State, Text)) return;
    const Loaded Source(Text);
    JSON *Json = Source.Json;
    int32 Size = 0;
    JSON_SaveBufferEstimate(Json, &Size);
    std::string Out((size_t)Size, '\0');
    for (auto _ : State) {
        int32 Written = 0;
        if (!JSON_SaveBuffer(Json, Out.data(), Size, &Written)) State.SkipWithError("save failed");
        benchmark::DoNotOptimize(Out.data());
    }
    Report(State, Text);
}

// Saved as callers save: into a memory stream that grows as it is written,
// which needs no estimate; the text is theirs at the end of each iteration.
void JsonSaveGrowing(benchmark::State &State) {
    Runtime Scope;
    const std::string &Text = Document(State.range(0));
    if (!Ready(State, Text)) return;
    const Loaded Source(Text);
    JSON *Json = Source.Json;
    for (auto _ : State) {
        MemoryStream *Memory = nullptr;
        MemoryStream_Create(&Memory);
        MemoryStream_SetAutoGrow(Memory, TRUE);
        StreamStruct *Stream = nullptr;
        MemoryStream_GetStreamHandle(Memory, &Stream);
        if (!JSON_SaveStream(Json, Stream)) State.SkipWithError("save failed");
        char *Out = nullptr;
        MemoryStream_GetPointer(Memory, &Out);
        benchmark::DoNotOptimize(Out);
        MemoryStream_ReleasePointer(Memory, &Out);
        MemoryStream_Delete(&Memory);
    }
    Report(State, Text);
}

// The estimate and then the save into a buffer of that size, both timed.
void JsonSaveEstimated(benchmark::State &State) {
    Runtime Scope;
    const std::string &Text = Document(State.range(0));
    if (!Ready(State, Text)) return;
    const Loaded Source(Text);
    JSON *Json = Source.Json;
    for (auto _ : State) {
        int32 Size = 0, Written = 0;
        JSON_SaveBufferEstimate(Json, &Size);
        std::string Out((size_t)Size, '\0');
        if (!JSON_SaveBuffer(Json, Out.data(), Size, &Written)) State.SkipWithError("save failed");
        benchmark::DoNotOptimize(Out.data());
    }
    Report(State, Text);
}

// nlohmann's dump(), which grows its own string.
void NlohmannDump(benchmark::State &State) {
    const std::string &Text = Document(State.range(0));
    if (!Ready(State, Text)) return;
    const nlohmann::json Parsed = nlohmann::json::parse(Text);
    for (auto _ : State) {
        std::string Out = Parsed.dump();
        benchmark::DoNotOptimize(Out.data());
    }
    Report(State, Text);
}

void RapidJsonWrite(benchmark::State &State) {
    const std::string &Text = Document(State.range(0));
    if (!Ready(State, Text)) return;
    rapidjson::Document Parsed;
    Parsed.Parse(Text.data(), Text.size());
    rapidjson::StringBuffer Buffer(nullptr, 2 * Text.size());
    for (auto _ : State) {
        Buffer.Clear();
        rapidjson::Writer<rapidjson::StringBuffer> Writer(Buffer);
        Parsed.Accept(Writer);
        benchmark::DoNotOptimize(Buffer.GetString());
    }
    Report(State, Text);
}

void NlohmannWrite(benchmark::State &State) {
    const std::string &Text = Document(State.range(0));
    if (!Ready(State, Text)) return;
    const nlohmann::json Parsed = nlohmann::json::parse(Text);
    std::string Out;
    Out.reserve(2 * Text.size());
    for (auto _ : State) {
        Out.clear();
        nlohmann::detail::serializer<nlohmann::json> Writer(nlohmann::detail::output_adapter<char>(Out), ' ');
        Writer.dump(Parsed, false, false, 0);
        benchmark::DoNotOptimize(Out.data());
    }
    Report(State, Text);
}

// ---- Peak heap use of one load (counter "peak_MB"; time is not the point) ----

// Range 1: 0 ours, 1 ours with the string pool, 2 nlohmann, 3 RapidJSON
// DOM, 4 RapidJSON keeping numbers as text.
void LoadPeak(benchmark::State &State) {
    const std::string &Text = Document(State.range(0));
    if (!Ready(State, Text)) return;
    const int64_t Side = State.range(1);
    int64_t Highest = 0;
    for (auto _ : State) {
        if (Side <= 1) {
            // A fresh runtime for every load: large blocks kept from an
            // earlier load would be reused without being counted again.
            Runtime Scope;
            JSON *Json = nullptr;
            Dictionary *Dict = nullptr;
            JSON_Create(&Json);
            Dictionary_Create(&Dict);
            Dictionary_SetStringPool(Dict, Side == 1);
            JSON_SetDictionaryHandle(Json, Dict);
            Highest = std::max(Highest, PeakOf([&] { JSON_LoadBuffer(Json, Text.data(), (int32)Text.size()); }));
            JSON_Release(&Json);
            Dictionary_Release(&Dict);
        } else if (Side == 2) {
            nlohmann::json Parsed;
            Highest = std::max(Highest, PeakOf([&] { Parsed = nlohmann::json::parse(Text); }));
        } else {
            rapidjson::Document Parsed;
            Highest = std::max(Highest, PeakOf([&] {
                                   if (Side == 4)
                                       Parsed.Parse<rapidjson::kParseNumbersAsStringsFlag>(Text.data(), Text.size());
                                   else
                                       Parsed.Parse(Text.data(), Text.size());
                               }));
        }
    }
    State.counters["peak_MB"] = (double)Highest / 1e6;
    State.SetLabel(Shapes[State.range(0)]);
}

// The compared documents: the four 10 MB shapes, the package index, GeoJSON
// and twitter-like files.
const std::vector<int64_t> Compared = {0, 1, 2, 3, 6, 7, 8};

void Shapes4(benchmark::internal::Benchmark *Bench) {
    for (const int64_t Shape : Compared) Bench->Arg(Shape);
    Bench->Unit(benchmark::kMillisecond);
}

} // namespace

BENCHMARK(JsonLoad)->ArgNames({"shape", "pool"})->ArgsProduct({Compared, {0, 1}})->Unit(benchmark::kMillisecond);
BENCHMARK(RapidJsonParse)->ArgNames({"shape", "text"})->ArgsProduct({Compared, {0, 1}})->Unit(benchmark::kMillisecond);
BENCHMARK(SimdjsonParse)->ArgName("shape")->Apply(Shapes4);
BENCHMARK(NlohmannParse)->ArgName("shape")->Apply(Shapes4);
BENCHMARK(JsonScan)->ArgName("shape")->Apply(Shapes4);
BENCHMARK(RapidJsonScan)->ArgName("shape")->Apply(Shapes4);
BENCHMARK(JsonScanStream)->ArgName("shape")->Apply(Shapes4);
BENCHMARK(JsonSave)->ArgName("shape")->Apply(Shapes4);
BENCHMARK(JsonSaveGrowing)->ArgName("shape")->Apply(Shapes4);
BENCHMARK(JsonSaveEstimated)->ArgName("shape")->Apply(Shapes4);
BENCHMARK(NlohmannDump)->ArgName("shape")->Apply(Shapes4);
BENCHMARK(RapidJsonWrite)->ArgName("shape")->Apply(Shapes4);
BENCHMARK(NlohmannWrite)->ArgName("shape")->Apply(Shapes4);
BENCHMARK(LoadPeak)->ArgNames({"shape", "side"})->ArgsProduct({Compared, {0, 1, 2, 3, 4}})->Iterations(2);
// Linearity: the mixed shape at 1, 10 and 50 MB, own storage and string pool.
BENCHMARK(JsonLoad)->Name("JsonLoadBySize")->ArgNames({"shape", "pool"})->ArgsProduct({{4, 0, 5}, {0, 1}})
    ->Unit(benchmark::kMillisecond);
// The first load of a fresh runtime alone: every page of the tree is new.
BENCHMARK(JsonLoadFirst)->ArgNames({"shape", "pool"})->ArgsProduct({{4, 0, 5}, {0, 1}})->Iterations(1)
    ->Unit(benchmark::kMillisecond);

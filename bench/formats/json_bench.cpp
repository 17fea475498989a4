// JSON load into a Dictionary and save from it, on one generated 10 MB
// document (records of strings with escapes and non-ASCII text, numbers,
// literals, nested lists and objects), beside the DOM parse and write of
// RapidJSON and nlohmann::json on the same bytes. Those two libraries appear
// only here, as yardsticks.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include <nlohmann/json.hpp>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "core/debug.h"
#include "core/dictionary.h"
#include "core/formats/json.h"

namespace {

struct Runtime {
    Runtime() { Debug_Init("/tmp/json-bench.log", nullptr, 0); }
    ~Runtime() { Debug_Remove(); }
};

// About 10 MB of records; the same bytes on every call.
const std::string &Document() {
    static const std::string Text = [] {
        std::mt19937 Random(2024);
        const char *Words[] = {"alpha", "beta", "gamma", "delta", "caf\\u00e9", "line\\nbreak", "quote\\\"d",
                               "\xC3\xA9t\xC3\xA9", "\xF0\x9F\x98\x80 smile", "path\\/to\\/file"};
        std::string Out = "{\"records\":[";
        for (int32 Index = 0; Out.size() < 10u * 1000 * 1000; Index++) {
            if (Index) Out += ",";
            Out += "{\"id\":" + std::to_string(Index) + ",\"name\":\"" + Words[Random() % 10] + " " +
                   std::to_string(Random()) + "\",\"score\":" + std::to_string((Random() % 100000) / 100.0) +
                   ",\"rate\":-" + std::to_string(Random() % 1000) + "e-3,\"active\":" +
                   (Random() % 2 ? "true" : "false") + ",\"parent\":null,\"tags\":[\"" + Words[Random() % 10] +
                   "\",\"" + Words[Random() % 10] + "\"],\"point\":{\"x\":" + std::to_string(Random() % 1000) +
                   ",\"y\":" + std::to_string(Random() % 1000) + "}}";
        }
        Out += "]}";
        return Out;
    }();
    return Text;
}

void Report(benchmark::State &State) {
    State.SetBytesProcessed((int64_t)State.iterations() * (int64_t)Document().size());
}

// Range 0: the Dictionary's own storage; 1: its string pool; 2: no
// Dictionary at all (the scanner alone).
void JsonLoad(benchmark::State &State) {
    Runtime Scope;
    const std::string &Text = Document();
    JSON *Json = nullptr;
    Dictionary *Dict = nullptr;
    JSON_Create(&Json);
    Dictionary_Create(&Dict);
    Dictionary_SetStringPool(Dict, State.range(0) == 1);
    if (State.range(0) != 2) JSON_SetDictionaryHandle(Json, Dict);
    for (auto _ : State) {
        if (!JSON_LoadBuffer(Json, Text.data(), (int32)Text.size())) State.SkipWithError("load failed");
    }
    Report(State);
    JSON_Release(&Json);
    Dictionary_Release(&Dict);
}

void JsonSave(benchmark::State &State) {
    Runtime Scope;
    const std::string &Text = Document();
    JSON *Json = nullptr;
    Dictionary *Dict = nullptr;
    JSON_Create(&Json);
    Dictionary_Create(&Dict);
    JSON_SetDictionaryHandle(Json, Dict);
    JSON_LoadBuffer(Json, Text.data(), (int32)Text.size());
    int32 Size = 0;
    JSON_SaveBufferEstimate(Json, &Size);
    std::string Out((size_t)Size, '\0');
    for (auto _ : State) {
        int32 Written = 0;
        if (!JSON_SaveBuffer(Json, Out.data(), Size, &Written)) State.SkipWithError("save failed");
        benchmark::DoNotOptimize(Out.data());
    }
    Report(State);
    JSON_Release(&Json);
    Dictionary_Release(&Dict);
}

void RapidJsonParse(benchmark::State &State) {
    const std::string &Text = Document();
    for (auto _ : State) {
        rapidjson::Document Parsed;
        Parsed.Parse(Text.data(), Text.size());
        if (Parsed.HasParseError()) State.SkipWithError("parse failed");
        benchmark::DoNotOptimize(Parsed);
    }
    Report(State);
}

void RapidJsonWrite(benchmark::State &State) {
    rapidjson::Document Parsed;
    Parsed.Parse(Document().data(), Document().size());
    for (auto _ : State) {
        rapidjson::StringBuffer Buffer;
        rapidjson::Writer<rapidjson::StringBuffer> Writer(Buffer);
        Parsed.Accept(Writer);
        benchmark::DoNotOptimize(Buffer.GetString());
    }
    Report(State);
}

void NlohmannParse(benchmark::State &State) {
    const std::string &Text = Document();
    for (auto _ : State) {
        nlohmann::json Parsed = nlohmann::json::parse(Text);
        benchmark::DoNotOptimize(Parsed);
    }
    Report(State);
}

void NlohmannWrite(benchmark::State &State) {
    const nlohmann::json Parsed = nlohmann::json::parse(Document());
    for (auto _ : State) {
        std::string Out = Parsed.dump();
        benchmark::DoNotOptimize(Out.data());
    }
    Report(State);
}

} // namespace

BENCHMARK(JsonLoad)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(RapidJsonParse)->Unit(benchmark::kMillisecond);
BENCHMARK(NlohmannParse)->Unit(benchmark::kMillisecond);
BENCHMARK(JsonSave)->Unit(benchmark::kMillisecond);
BENCHMARK(RapidJsonWrite)->Unit(benchmark::kMillisecond);
BENCHMARK(NlohmannWrite)->Unit(benchmark::kMillisecond);

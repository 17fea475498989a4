// YAML load into a Dictionary and save from it, on one generated 10 MB
// document (records of plain, quoted and escaped strings, numbers, Booleans,
// nulls, flow lists and nested mappings), beside libyaml's document load and
// document emit of the same bytes. libyaml appears only here, as a yardstick.
#include <benchmark/benchmark.h>
#include <yaml.h>

#include <random>
#include <string>

#include "formats/yaml.h"
#include "runtime/containers/dictionary.h"
#include "runtime/debug.h"

namespace {

struct Runtime {
    Runtime() { Debug_Init("/tmp/yaml-bench.log", nullptr, 0); }
    ~Runtime() { Debug_Remove(); }
};

const std::string &Document() {
    static const std::string Text = [] {
        std::mt19937 Random(2024);
        const char *Words[] = {"alpha", "beta", "gamma delta", "\"caf\\u00e9\"", "\"line\\nbreak\"",
                               "'it''s'", "\xC3\xA9t\xC3\xA9", "\xF0\x9F\x98\x80 smile", "/path/to/file", "x y z"};
        std::string Out = "records:\n";
        for (int32 Index = 0; Out.size() < 10u * 1000 * 1000; Index++) {
            Out += "  - id: " + std::to_string(Index) + "\n    name: " + Words[Random() % 10] +
                   "\n    label: \"" + std::to_string(Random()) + "\"\n    score: " +
                   std::to_string((Random() % 100000) / 100.0) + "\n    active: " + (Random() % 2 ? "true" : "false") +
                   "\n    parent: null\n    tags: [" + Words[Random() % 3] + ", " + Words[Random() % 3] +
                   "]\n    point:\n      x: " + std::to_string(Random() % 1000) +
                   "\n      y: " + std::to_string(Random() % 1000) + "\n";
        }
        return Out;
    }();
    return Text;
}

void Report(benchmark::State &State) {
    State.SetBytesProcessed((int64_t)State.iterations() * (int64_t)Document().size());
}

void YamlLoad(benchmark::State &State) {
    Runtime Scope;
    const std::string &Text = Document();
    YAML *Yaml = nullptr;
    Dictionary *Dict = nullptr;
    YAML_Create(&Yaml);
    Dictionary_Create(&Dict);
    YAML_SetDictionaryHandle(Yaml, Dict);
    for (auto _ : State) {
        if (!YAML_LoadBuffer(Yaml, Text.data(), (int32)Text.size())) State.SkipWithError("load failed");
    }
    Report(State);
    YAML_Release(&Yaml);
    Dictionary_Release(&Dict);
}

void YamlSave(benchmark::State &State) {
    Runtime Scope;
    const std::string &Text = Document();
    YAML *Yaml = nullptr;
    Dictionary *Dict = nullptr;
    YAML_Create(&Yaml);
    Dictionary_Create(&Dict);
    YAML_SetDictionaryHandle(Yaml, Dict);
    YAML_LoadBuffer(Yaml, Text.data(), (int32)Text.size());
    int32 Size = 0;
    YAML_SaveBufferEstimate(Yaml, &Size);
    std::string Out((size_t)Size, '\0');
    for (auto _ : State) {
        int32 Written = 0;
        if (!YAML_SaveBuffer(Yaml, Out.data(), Size, &Written)) State.SkipWithError("save failed");
        benchmark::DoNotOptimize(Out.data());
    }
    Report(State);
    YAML_Release(&Yaml);
    Dictionary_Release(&Dict);
}

bool LibYamlLoad(const std::string &Text, yaml_document_t *Document) {
    yaml_parser_t Parser;
    yaml_parser_initialize(&Parser);
    yaml_parser_set_input_string(&Parser, reinterpret_cast<const unsigned char *>(Text.data()), Text.size());
    const bool Loaded = yaml_parser_load(&Parser, Document) != 0;
    yaml_parser_delete(&Parser);
    return Loaded;
}

void LibYamlParse(benchmark::State &State) {
    const std::string &Text = Document();
    for (auto _ : State) {
        yaml_document_t Loaded;
        if (!LibYamlLoad(Text, &Loaded)) State.SkipWithError("libyaml load failed");
        yaml_document_delete(&Loaded);
    }
    Report(State);
}

int WriteToString(void *User, unsigned char *Buffer, size_t Size) {
    static_cast<std::string *>(User)->append(reinterpret_cast<const char *>(Buffer), Size);
    return 1;
}

void LibYamlEmit(benchmark::State &State) {
    const std::string &Text = Document();
    std::string Out;
    Out.reserve(Text.size() * 2);
    for (auto _ : State) {
        // Emitting consumes the document: load a fresh one outside the time.
        State.PauseTiming();
        yaml_document_t Loaded;
        LibYamlLoad(Text, &Loaded);
        Out.clear();
        State.ResumeTiming();
        yaml_emitter_t Emitter;
        yaml_emitter_initialize(&Emitter);
        yaml_emitter_set_unicode(&Emitter, 1);
        yaml_emitter_set_output(&Emitter, WriteToString, &Out);
        yaml_emitter_open(&Emitter);
        if (!yaml_emitter_dump(&Emitter, &Loaded)) State.SkipWithError("libyaml emit failed");
        yaml_emitter_close(&Emitter);
        yaml_emitter_delete(&Emitter);
    }
    Report(State);
}

} // namespace

BENCHMARK(YamlLoad)->Unit(benchmark::kMillisecond);
BENCHMARK(LibYamlParse)->Unit(benchmark::kMillisecond);
BENCHMARK(YamlSave)->Unit(benchmark::kMillisecond);
BENCHMARK(LibYamlEmit)->Unit(benchmark::kMillisecond);

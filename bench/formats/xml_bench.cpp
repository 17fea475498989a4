// XML load into a Dictionary and save from it, on one generated 10 MB
// document (records with attributes in both quotes, entities, character
// references, non-ASCII text, text above U+FFFF, nested elements and blanks
// between them), beside libxml2's tree parse (xmlReadMemory) and serialiser
// (xmlDocDumpMemory) on the same bytes. libxml2 appears only here, as a
// yardstick.
#include <benchmark/benchmark.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <random>
#include <string>

#include "formats/xml.h"
#include "runtime/containers/dictionary.h"
#include "runtime/debug.h"

namespace {

struct Runtime {
    Runtime() { Debug_Init("/tmp/xml-bench.log", nullptr, 0); }
    ~Runtime() { Debug_Remove(); }
};

// About 10 MB of records; the same bytes on every call.
const std::string &Document() {
    static const std::string Text = [] {
        std::mt19937 Random(2024);
        const char *Words[] = {"alpha", "beta &amp; gamma", "caf\xC3\xA9", "&lt;tag&gt;", "\xF0\x9F\x98\x80 smile",
                               "&#x41;&#233;", "quote &quot;q&quot;", "plain words here", "delta", "t\xC3\xA9t\xC3\xA9"};
        std::string Out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<catalog version=\"2\">\n";
        for (int32 Index = 0; Out.size() < 10u * 1000 * 1000; Index++) {
            Out += "  <item id=\"" + std::to_string(Index) + "\" kind='" + Words[Random() % 10] + "'>\n";
            Out += "    <name>" + std::string(Words[Random() % 10]) + " " + std::to_string(Random()) + "</name>\n";
            Out += "    <price currency=\"EUR\">" + std::to_string((Random() % 100000) / 100.0) + "</price>\n";
            Out += "    <tags><tag>" + std::string(Words[Random() % 10]) + "</tag><tag>" + Words[Random() % 10] +
                   "</tag></tags>\n";
            Out += "    <flag/>\n    <note>" + std::string(Words[Random() % 10]) + " and " + Words[Random() % 10] +
                   "</note>\n  </item>\n";
        }
        Out += "</catalog>\n";
        return Out;
    }();
    return Text;
}

void Report(benchmark::State &State) {
    State.SetBytesProcessed((int64_t)State.iterations() * (int64_t)Document().size());
}

// Range 0: the Dictionary's own storage; 1: its string pool; 2: no
// Dictionary at all (the scanner alone).
void XmlLoad(benchmark::State &State) {
    Runtime Scope;
    const std::string &Text = Document();
    XML *Xml = nullptr;
    Dictionary *Dict = nullptr;
    XML_Create(&Xml);
    Dictionary_Create(&Dict);
    Dictionary_SetStringPool(Dict, State.range(0) == 1);
    if (State.range(0) != 2) XML_SetDictionaryHandle(Xml, Dict);
    for (auto _ : State) {
        if (!XML_LoadBuffer(Xml, Text.data(), (int32)Text.size())) State.SkipWithError("load failed");
    }
    Report(State);
    XML_Release(&Xml);
    Dictionary_Release(&Dict);
}

void XmlSave(benchmark::State &State) {
    Runtime Scope;
    const std::string &Text = Document();
    XML *Xml = nullptr;
    Dictionary *Dict = nullptr;
    XML_Create(&Xml);
    Dictionary_Create(&Dict);
    XML_SetDictionaryHandle(Xml, Dict);
    XML_LoadBuffer(Xml, Text.data(), (int32)Text.size());
    int32 Size = 0;
    XML_SaveBufferEstimate(Xml, &Size);
    std::string Out((size_t)Size, '\0');
    for (auto _ : State) {
        int32 Written = 0;
        if (!XML_SaveBuffer(Xml, Out.data(), Size, &Written)) State.SkipWithError("save failed");
        benchmark::DoNotOptimize(Out.data());
    }
    Report(State);
    XML_Release(&Xml);
    Dictionary_Release(&Dict);
}

void Libxml2Parse(benchmark::State &State) {
    const std::string &Text = Document();
    for (auto _ : State) {
        xmlDocPtr Parsed = xmlReadMemory(Text.data(), (int)Text.size(), "bench.xml", nullptr, XML_PARSE_NONET);
        if (Parsed == nullptr) State.SkipWithError("parse failed");
        xmlFreeDoc(Parsed);
    }
    Report(State);
}

void Libxml2Write(benchmark::State &State) {
    const std::string &Text = Document();
    xmlDocPtr Parsed = xmlReadMemory(Text.data(), (int)Text.size(), "bench.xml", nullptr, XML_PARSE_NONET);
    for (auto _ : State) {
        xmlChar *Out = nullptr;
        int Size = 0;
        xmlDocDumpMemory(Parsed, &Out, &Size);
        benchmark::DoNotOptimize(Out);
        xmlFree(Out);
    }
    Report(State);
    xmlFreeDoc(Parsed);
}

} // namespace

BENCHMARK(XmlLoad)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(Libxml2Parse)->Unit(benchmark::kMillisecond);
BENCHMARK(XmlSave)->Unit(benchmark::kMillisecond);
BENCHMARK(Libxml2Write)->Unit(benchmark::kMillisecond);

// ELF section lookup on files built to cost the most per section: every
// section named at the start of a name table with no zero byte (64 bytes of it
// per section), the one looked for last. At 10,000 and 40,000 sections the
// time per section stays flat (Complexity reports the fit): the lookup grows
// with the file, not with sections times table.
#include <benchmark/benchmark.h>

#include <string>

#include "content/elf_file.h"
#include "runtime/debug.h"

namespace {

void Put(std::string &Out, size_t At, uint64 Value, int Width) {
    for (int Index = 0; Index < Width; Index++) Out[At + Index] = (char)(Value >> (8 * Index));
}

// A little-endian ELF64 file of Count sections.
std::string Build(uint64 Count) {
    const std::string Names = std::string(Count * 64, 'a') + ".datastore";
    const uint64 NamesAt = 64, TableAt = NamesAt + Names.size();
    std::string File(TableAt + Count * 64, '\0');
    File.replace(0, 7, "\x7f" "ELF\x02\x01\x01");
    File.replace(NamesAt, Names.size(), Names);
    Put(File, 0x28, TableAt, 8);
    Put(File, 0x3a, 64, 2);
    Put(File, 0x3c, Count, 2);
    Put(File, 0x3e, 1, 2);
    Put(File, TableAt + 64 + 0x18, NamesAt, 8);
    Put(File, TableAt + 64 + 0x20, Names.size(), 8);
    Put(File, TableAt + (Count - 1) * 64, Names.size() - 10, 4);
    return File;
}

void ElfSectionLookup(benchmark::State &State) {
    static const bool Started = Debug_Init("/tmp/elf-sections-bench.log", nullptr, 0) != 0;
    (void)Started;
    const std::string Bytes = Build((uint64)State.range(0));
    const ExecutableSource File = ExecutableSource_FromBytes(Bytes);
    for (auto _ : State) {
        uint64 Offset = 0, Size = 0;
        if (ElfFile_FindSection(File, ".datastore", Offset, Size) != 2) State.SkipWithError("section not found");
        benchmark::DoNotOptimize(Offset);
    }
    State.SetComplexityN(State.range(0));
}

} // namespace

BENCHMARK(ElfSectionLookup)->Arg(10000)->Arg(40000)->ArgName("sections")->Complexity()->Unit(benchmark::kMillisecond);

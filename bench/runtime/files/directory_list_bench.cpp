// Walking a tree of 100,000 entries (1,000 directories of 99 files each, two
// levels deep) with DirectoryList_Walk, beside `find` over the same tree in
// the same run, so the ratio of the two is read from one report. The walk
// lists every directory once and reads the status of every entry it reports
// (each callback may read sizes, times and attributes). `find` runs twice:
// reading only names and types, and printing each entry's size and
// modification time, which makes it read every entry's status as the walk
// does. The page cache is warm for all after the first iteration.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "runtime/debug.h"
#include "runtime/files/directory_list.h"
#include "tests/support/temp_root.h"

namespace {

constexpr int Directories = 1000;
constexpr int FilesPerDirectory = 99;

const std::string &Tree() {
    static const std::string Root = [] {
        Debug_Init("/tmp/directory-list-bench.log", nullptr, 0);
        std::string Template = TempRoot() + "/directory_list_bench_XXXXXX";
        std::string Path = mkdtemp(Template.data());
        for (int Outer = 0; Outer < Directories / 10; Outer++) {
            std::string Top = Path + "/group" + std::to_string(Outer);
            mkdir(Top.c_str(), 0755);
            for (int Inner = 0; Inner < 9; Inner++) {
                std::string Directory = Top + "/dir" + std::to_string(Inner);
                mkdir(Directory.c_str(), 0755);
                for (int File = 0; File < FilesPerDirectory + 1; File++)
                    close(open((Directory + "/file" + std::to_string(File)).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC,
                               0644));
            }
            for (int File = 0; File < FilesPerDirectory - 9; File++)
                close(open((Top + "/file" + std::to_string(File)).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644));
        }
        static char Remove[256];
        snprintf(Remove, sizeof(Remove), "rm -rf '%s'", Path.c_str());
        std::atexit([] { (void)!system(Remove); });
        return Path;
    }();
    return Root;
}

uint32 Count(DirectoryList *, void *User, int32, const char *) {
    ++*static_cast<int64_t *>(User);
    return 1;
}

// Walks the tree with the given file pattern (null: every entry).
void RunWalk(benchmark::State &State, const char *Pattern) {
    const std::string &Root = Tree();
    int64_t Entries = 0;
    for (auto _ : State) {
        Entries = 0;
        DirectoryList List;
        DirectoryList_Stack(&List);
        DirectoryList_SetWalkCallback(&List, &Entries, Count);
        if (!DirectoryList_Walk(&List, Root.c_str(), Pattern)) State.SkipWithError("walk failed");
        DirectoryList_Unstack(&List);
    }
    State.counters["entries"] = (double)Entries;
    State.SetItemsProcessed(State.iterations() * Entries);
}

void BM_DirectoryListWalk(benchmark::State &State) { RunWalk(State, nullptr); }
// About a tenth of the files match (file1 and file10 to file19 of each
// directory), as when old log files are looked for; the rest are skipped.
void BM_DirectoryListWalkPattern(benchmark::State &State) { RunWalk(State, "file1*"); }

// Counts the lines `find` prints for the tree.
void RunFind(benchmark::State &State, const char *Arguments) {
    const std::string &Root = Tree();
    std::string Command = "find '" + Root + "' -mindepth 1 " + Arguments + " | wc -l";
    int64_t Entries = 0;
    for (auto _ : State) {
        FILE *Pipe = popen(Command.c_str(), "r");
        long long Lines = 0;
        if (Pipe == nullptr || fscanf(Pipe, "%lld", &Lines) != 1) State.SkipWithError("find failed");
        if (Pipe != nullptr) pclose(Pipe);
        Entries = Lines;
    }
    State.counters["entries"] = (double)Entries;
    State.SetItemsProcessed(State.iterations() * Entries);
}

void BM_FindCommand(benchmark::State &State) { RunFind(State, ""); }
void BM_FindCommandWithStatus(benchmark::State &State) { RunFind(State, "-printf '%s %T@\\n'"); }
// The directories and the matching files, with their statuses.
void BM_FindCommandPattern(benchmark::State &State) {
    RunFind(State, "\\( -type d -o -iname 'file1*' \\) -printf '%s %T@\\n'");
}

} // namespace

// Wall-clock time for all: find's work is done in its own processes.
BENCHMARK(BM_DirectoryListWalk)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_FindCommand)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_DirectoryListWalkPattern)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_FindCommandPattern)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_FindCommandWithStatus)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

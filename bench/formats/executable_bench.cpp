// Executable signatures on 50 MB samples (tests/fixtures/executables,
// "large"): the Authenticode image digest of a signed PE beside
// `osslsigncode verify` of the same file, and the page hashes of an ad-hoc
// signed Mach-O beside `sha256sum` of the same bytes. The peers run as
// processes, as a user would run them.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "core/crypto/hash.h"
#include "core/crypto/sha256.h"
#include "core/debug.h"
#include "core/formats/macho_file.h"
#include "core/formats/pe_file.h"

namespace {

const std::string &Folder() {
    static const std::string Made = [] {
        char Name[] = "/tmp/executable_bench_XXXXXX";
        std::string Path = mkdtemp(Name);
        const std::string Command = "/usr/bin/python3 " RUNTIME_SOURCE_DIR
                                    "/tests/fixtures/executables/make_samples.py " + Path + " large > /dev/null";
        if (system(Command.c_str()) != 0) Path.clear();
        return Path;
    }();
    return Made;
}

bool Started() {
    static const bool Done = Debug_Init("/tmp/executable_bench.log", nullptr, 0) != 0;
    return Done;
}

void Run(benchmark::State &State, const std::string &Command) {
    for (auto _ : State)
        if (system(Command.c_str()) != 0) State.SkipWithError(("failed: " + Command).c_str());
}

void AuthenticodeDigest(benchmark::State &State) {
    Started();
    if (Folder().empty()) return State.SkipWithError("samples not built (make_samples.py)");
    ExecutableFile File((Folder() + "/signed-sha256.exe").c_str());
    Hash *Sum = nullptr;
    Hash_Create(&Sum);
    Hash_SetInterface(Sum, &SHA256_INTERFACE);
    for (auto _ : State) {
        Hash_Reset(Sum);
        const bool Fed = PeFile_HashImage(File.Source(), [&](const void *Bytes, size_t Count) {
            uint32 Done;
            return Hash_Process(Sum, Bytes, (uint32)Count, &Done) != 0;
        });
        Hash_Generate(Sum);
        if (!Fed) State.SkipWithError("digest failed");
    }
    Hash_Delete(&Sum);
    State.SetBytesProcessed(State.iterations() * (int64_t)File.Source().Size);
}

void OsslsigncodeVerify(benchmark::State &State) {
    if (Folder().empty() || access("/usr/bin/osslsigncode", X_OK) != 0)
        return State.SkipWithError("osslsigncode missing");
    Run(State, "osslsigncode verify -CAfile " + Folder() + "/root.pem -in " + Folder() + "/signed-sha256.exe > /dev/null");
}

void MachOPageHashes(benchmark::State &State) {
    Started();
    if (Folder().empty()) return State.SkipWithError("samples not built (make_samples.py)");
    ExecutableFile File((Folder() + "/macho-x86_64").c_str());
    for (auto _ : State)
        if (!MachOFile_CheckCodeDirectories(File.Source(), [](const void *, size_t) { return true; }))
            State.SkipWithError("page hashes failed");
    State.SetBytesProcessed(State.iterations() * (int64_t)File.Source().Size);
}

void Sha256sum(benchmark::State &State) {
    if (Folder().empty()) return State.SkipWithError("samples not built (make_samples.py)");
    Run(State, "sha256sum " + Folder() + "/macho-x86_64 > /dev/null");
}

} // namespace

BENCHMARK(AuthenticodeDigest)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(OsslsigncodeVerify)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(MachOPageHashes)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Sha256sum)->Unit(benchmark::kMillisecond)->UseRealTime();

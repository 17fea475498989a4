// Executable signatures on 50 MB samples (tests/fixtures/executables,
// "large"): Authenticode verification of a signed PE beside
// `osslsigncode verify` of the same file, and the page hashes of an ad-hoc
// signed Mach-O beside `sha256sum` of the same bytes. The peers run as
// processes, as a user would run them.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "crypto/trust/cert_store_thumbprint.h"
#include "crypto/digests/hash.h"
#include "crypto/digests/sha1.h"
#include "crypto/trust/x509.h"
#include "crypto/digests/sha256.h"
#include "runtime/debug.h"
#include "content/macho_file.h"
#include "content/pe_file.h"
#include "tests/support/temp_root.h"

namespace {

// Removes the samples when the program ends.
struct Samples {
    std::string Path;
    ~Samples() {
        if (!Path.empty()) std::filesystem::remove_all(Path);
    }
};

const std::string &Folder() {
    static const Samples Made{[] {
        std::string Name = TempRoot() + "/executable_bench_XXXXXX";
        std::string Path = mkdtemp(Name.data());
        const std::string Command = "/usr/bin/python3 " RUNTIME_SOURCE_DIR
                                    "/tests/fixtures/executables/make_samples.py " + Path + " large > /dev/null";
        if (system(Command.c_str()) != 0) {
            std::filesystem::remove_all(Path);
            Path.clear();
        }
        return Path;
    }()};
    return Made.Path;
}

std::string Read(const std::string &Path) {
    std::ifstream In(Path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(In), {});
}

bool Started() {
    static const bool Done = Debug_Init("/tmp/executable_bench.log", nullptr, 0) != 0;
    return Done;
}

void Run(benchmark::State &State, const std::string &Command) {
    for (auto _ : State)
        if (system(Command.c_str()) != 0) State.SkipWithError(("failed: " + Command).c_str());
}

// A store trusting the samples' test root.
CertStoreInterface *TrustingRoot() {
    static CertStoreInterface *Store = [] {
        CertStoreInterface *Interface = nullptr;
        const std::string Pem = Read(Folder() + "/root.pem");
        std::string Base64;
        for (size_t At = 0, End; At < Pem.size(); At = End + 1) {
            End = Pem.find('\n', At);
            if (End == std::string::npos) End = Pem.size();
            if (Pem.compare(At, 5, "-----") != 0) Base64 += Pem.substr(At, End - At);
        }
        X509 *Root = nullptr;
        uint8 Thumbprint[20];
        X509_Create(&Root);
        if (X509_BuildFromBase64(Root, Base64.c_str(), (int32)Base64.size()) &&
            X509_Thumbprint(Root, &SHA1_INTERFACE, Thumbprint, sizeof(Thumbprint))) {
            CertStoreThumbprint *Thumbprints = nullptr;
            CertStoreThumbprint_Create(&Thumbprints);
            CertStoreThumbprint_Trust(Thumbprints, &SHA1_INTERFACE, Thumbprint);
            CertStoreThumbprint_GetInterfaceHandle(Thumbprints, &Interface);
        }
        X509_Delete(&Root);
        return Interface;
    }();
    return Store;
}

void AuthenticodeVerify(benchmark::State &State) {
    Started();
    if (Folder().empty() || TrustingRoot() == nullptr) return State.SkipWithError("samples not built (make_samples.py)");
    const std::string File = Folder() + "/signed-sha256.exe";
    for (auto _ : State)
        if (!PEFile_Verify(TrustingRoot(), File.c_str())) State.SkipWithError("verification failed");
    State.SetBytesProcessed(State.iterations() * (int64_t)Read(File).size());
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

BENCHMARK(AuthenticodeVerify)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(OsslsigncodeVerify)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(MachOPageHashes)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Sha256sum)->Unit(benchmark::kMillisecond)->UseRealTime();

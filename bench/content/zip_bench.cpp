// Zip extraction beside Python's zipfile and `unzip -q` on one many-file
// archive (bench/make_zip_archive.py, run on the first use: about 12,400
// files, 203 MB unpacked),
// and the WinZip AES key stream beside OpenSSL's AES-CTR on the same bytes.
// An archive of many entries that all carry one name (written by Python's
// zipfile into a temporary folder of the benchmark's own, removed after; on
// /dev/shm unless ZIP_BENCH_TMP names another parent folder) extracts beside
// `unzip -o -q`: Ratio = unzip's time / ours (the goal is 0.5 or more, at
// most twice unzip's time, at any count of entries).
//
// Fairness: every side of the extraction runs as its own process started
// the same way (this program with --extract for ours), into a fresh empty
// folder removed outside the timing (a folder of this run's own on /dev/shm,
// removed at the end, unless ZIP_BENCH_OUT names another), and is timed by
// the wall clock.
// ZipAesCounter and OpenSSL run back to back on one buffer per iteration;
// Ratio = OpenSSL's time / ours (above 1: ours is faster).
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "bench/scratch_folder.h"
#include "content/zip.h"
#include "content/zip_internal.h"
#include "runtime/debug.h"

#ifndef ZIP_BENCH_ARCHIVE
#define ZIP_BENCH_ARCHIVE "/tmp/zip-bench/many.zip"
#endif
#ifndef ZIP_BENCH_SCRIPT
#define ZIP_BENCH_SCRIPT "bench/make_zip_archive.py"
#endif

namespace {

std::string Self;

bool Run(const std::string &Command) { return system((Command + " >/dev/null 2>&1").c_str()) == 0; }

// Range 0: 0 ours, 1 Python's zipfile, 2 unzip -q.
void Extract(benchmark::State &State) {
    // Memory-backed by default, so that the disk shared with other work
    // does not drown the difference; ZIP_BENCH_OUT names another folder.
    const char *Chosen = getenv("ZIP_BENCH_OUT");
    const std::string Archive = ZIP_BENCH_ARCHIVE;
    static const bench::ScratchFolder Scratch("/dev/shm", "zip-bench");
    const std::string Destination = Chosen != nullptr ? Chosen : Scratch / "out";
    // Written once, on the first run.
    if (!Run("test -s " + Archive) && !Run(std::string("python3 ") + ZIP_BENCH_SCRIPT + " " + Archive)) {
        State.SkipWithError("cannot write the archive: run bench/make_zip_archive.py");
        return;
    }
    const char *Names[] = {"ours", "python zipfile", "unzip -q"};
    const std::string Commands[] = {
        "'" + Self + "' --extract '" + Archive + "' " + Destination,
        "python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' '" + Archive + "' " +
            Destination,
        "unzip -q -o '" + Archive + "' -d " + Destination};
    const std::string &Command = Commands[State.range(0)];
    for (auto _ : State) {
        State.PauseTiming();
        Run("rm -rf " + Destination + " && sync");
        State.ResumeTiming();
        if (!Run(Command)) State.SkipWithError("extraction failed");
    }
    Run("rm -rf " + Destination);
    State.SetLabel(Names[State.range(0)]);
}

// Range 0: the count of entries, all named "same.txt", each a few bytes of
// its own. Each iteration extracts with ours and with unzip, each into a
// fresh empty folder removed outside the timing; the time shown is ours.
void SameNamedEntries(benchmark::State &State) {
    const char *Parent = getenv("ZIP_BENCH_TMP");
    std::string Template = std::string(Parent != nullptr ? Parent : "/dev/shm") + "/zip-same-XXXXXX";
    if (mkdtemp(Template.data()) == nullptr) {
        State.SkipWithError("cannot make a temporary folder");
        return;
    }
    const std::string Folder = Template, Archive = Folder + "/same.zip", Destination = Folder + "/out";
    const std::string Count = std::to_string(State.range(0));
    if (!Run("python3 -W ignore -c 'import sys, zipfile\n"
             "with zipfile.ZipFile(sys.argv[1], \"w\", zipfile.ZIP_DEFLATED) as z:\n"
             "    for i in range(int(sys.argv[2])): z.writestr(\"same.txt\", \"entry %d\\n\" % i)' '" +
             Archive + "' " + Count)) {
        Run("rm -rf '" + Folder + "'");
        State.SkipWithError("cannot write the archive");
        return;
    }
    const std::string Commands[] = {"'" + Self + "' --extract '" + Archive + "' '" + Destination + "'",
                                    "unzip -q -o '" + Archive + "' -d '" + Destination + "'"};
    using Clock = std::chrono::steady_clock;
    double Seconds[2] = {0, 0};
    for (auto _ : State) {
        for (int Side = 0; Side < 2; Side++) {
            Run("rm -rf '" + Destination + "'");
            const auto Start = Clock::now();
            if (!Run(Commands[Side])) State.SkipWithError(Side == 0 ? "ours failed" : "unzip failed");
            const double Taken = std::chrono::duration<double>(Clock::now() - Start).count();
            Seconds[Side] += Taken;
            if (Side == 0) State.SetIterationTime(Taken);
        }
    }
    Run("rm -rf '" + Folder + "'");
    const double Iterations = double(State.iterations());
    State.counters["OursSeconds"] = Seconds[0] / Iterations;
    State.counters["UnzipSeconds"] = Seconds[1] / Iterations;
    State.counters["Ratio"] = Seconds[1] / Seconds[0];
}

// The key stream applied in place; range 0 the key length in bytes.
void AesCounter(benchmark::State &State) {
    static const bool Started = Debug_Init("/tmp/zip-bench.log", nullptr, 0) != 0;
    (void)Started;
    const int32 KeyLength = (int32)State.range(0);
    const size_t Length = 1 << 20;
    std::mt19937 Random(7);
    std::vector<uint8> Key(32), Data(Length), Iv(16, 0);
    for (uint8 &Byte : Key) Byte = (uint8)Random();
    for (uint8 &Byte : Data) Byte = (uint8)Random();
    ZipAesCounter Ours;
    Ours.SetKey(Key.data(), KeyLength);
    const EVP_CIPHER *Cipher = KeyLength == 16 ? EVP_aes_128_ctr() : KeyLength == 24 ? EVP_aes_192_ctr() : EVP_aes_256_ctr();
    EVP_CIPHER_CTX *Context = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(Context, Cipher, nullptr, Key.data(), Iv.data());
    using Clock = std::chrono::steady_clock;
    double OurSeconds = 0, TheirSeconds = 0;
    int Written = 0;
    for (auto _ : State) {
        const auto Start = Clock::now();
        Ours.Apply(Data.data(), Length);
        benchmark::DoNotOptimize(Data.data());
        const auto Middle = Clock::now();
        EVP_EncryptUpdate(Context, Data.data(), &Written, Data.data(), (int)Length);
        benchmark::DoNotOptimize(Data.data());
        const auto End = Clock::now();
        OurSeconds += std::chrono::duration<double>(Middle - Start).count();
        TheirSeconds += std::chrono::duration<double>(End - Middle).count();
    }
    const double Bytes = double(Length) * double(State.iterations());
    State.counters["OursMBps"] = Bytes / OurSeconds / 1e6;
    State.counters["OpenSslMBps"] = Bytes / TheirSeconds / 1e6;
    State.counters["Ratio"] = TheirSeconds / OurSeconds;
    EVP_CIPHER_CTX_free(Context);
}

} // namespace

BENCHMARK(Extract)->ArgName("side")->DenseRange(0, 2)->Iterations(1)->Repetitions(5)->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(SameNamedEntries)->ArgName("entries")->Arg(10000)->Arg(100000)->Iterations(3)->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(AesCounter)->ArgName("key")->Arg(16)->Arg(32);

// With --extract ARCHIVE FOLDER the program is the extraction side of the
// benchmark (exit status 0 on success); otherwise it runs the benchmarks.
int main(int Count, char **Arguments) {
    Self = Arguments[0];
    if (Count == 4 && std::string(Arguments[1]) == "--extract") {
        Debug_Init("/tmp/zip-bench.log", nullptr, 0);
        const int32 Done = Zip_Extract(Arguments[2], 0, Arguments[3], nullptr);
        Debug_Remove();
        return Done ? 0 : 1;
    }
    benchmark::Initialize(&Count, Arguments);
    if (benchmark::ReportUnrecognizedArguments(Count, Arguments)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

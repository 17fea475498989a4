// Digest throughput beside OpenSSL's EVP digests in one run, on 16 B, 1 KiB
// and 1 MiB of random bytes. Ours is the one-shot Hash_QuickDigest (a stack
// context per call); OpenSSL's is its fastest reuse: one fetched EVP_MD and
// one EVP_MD_CTX re-initialised per message. MD2 has no OpenSSL counterpart
// (OpenSSL 3 dropped it); MD4 comes from its legacy provider. Side by side
// also times both on the same bytes back to back in every iteration, so that
// its Ratio (OpenSSL's time / ours) holds on a busy machine.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <chrono>
#include <random>
#include <string>

#include "crypto/digests/hash.h"

namespace {

std::string RandomBytes(size_t Length) {
    std::mt19937 Random(256);
    std::string Bytes(Length, '\0');
    for (char &Byte : Bytes) Byte = (char)(Random() & 0xFF);
    return Bytes;
}

void Ours(benchmark::State &State, const char *Name) {
    const HashInterface *Record = nullptr;
    if (!Hash_InterfaceFromName(Name, &Record)) {
        State.SkipWithError("no such record");
        return;
    }
    const std::string Data = RandomBytes((size_t)State.range(0));
    uint8 Digest[HASH_MAX_DIGEST_SIZE];
    for (auto _ : State) {
        Hash_QuickDigest(Record, Data.data(), (uint32)Data.size(), Digest, sizeof(Digest));
        benchmark::DoNotOptimize(Digest);
    }
    State.SetBytesProcessed((int64_t)State.iterations() * (int64_t)Data.size());
}

void OpenSsl(benchmark::State &State, const char *Name) {
    static OSSL_PROVIDER *Legacy = OSSL_PROVIDER_load(nullptr, "legacy");
    static OSSL_PROVIDER *Default = OSSL_PROVIDER_load(nullptr, "default");
    (void)Legacy;
    (void)Default;
    EVP_MD *Md = EVP_MD_fetch(nullptr, Name, nullptr);
    if (Md == nullptr) {
        State.SkipWithError("OpenSSL has no such digest here");
        return;
    }
    EVP_MD_CTX *Context = EVP_MD_CTX_new();
    const std::string Data = RandomBytes((size_t)State.range(0));
    unsigned char Digest[EVP_MAX_MD_SIZE];
    unsigned int Length = 0;
    for (auto _ : State) {
        EVP_DigestInit_ex2(Context, Md, nullptr);
        EVP_DigestUpdate(Context, Data.data(), Data.size());
        EVP_DigestFinal_ex(Context, Digest, &Length);
        benchmark::DoNotOptimize(Digest);
    }
    State.SetBytesProcessed((int64_t)State.iterations() * (int64_t)Data.size());
    EVP_MD_CTX_free(Context);
    EVP_MD_free(Md);
}

void SideBySide(benchmark::State &State, const char *Name) {
    const HashInterface *Record = nullptr;
    EVP_MD *Md = EVP_MD_fetch(nullptr, Name, nullptr);
    if (!Hash_InterfaceFromName(Name, &Record) || Md == nullptr) {
        State.SkipWithError("no such digest");
        return;
    }
    EVP_MD_CTX *Context = EVP_MD_CTX_new();
    const std::string Data = RandomBytes((size_t)State.range(0));
    uint8 Digest[HASH_MAX_DIGEST_SIZE];
    unsigned char Theirs[EVP_MAX_MD_SIZE];
    unsigned int Length = 0;
    using Clock = std::chrono::steady_clock;
    double OurSeconds = 0, TheirSeconds = 0;
    for (auto _ : State) {
        const auto Start = Clock::now();
        Hash_QuickDigest(Record, Data.data(), (uint32)Data.size(), Digest, sizeof(Digest));
        benchmark::DoNotOptimize(Digest);
        const auto Middle = Clock::now();
        EVP_DigestInit_ex2(Context, Md, nullptr);
        EVP_DigestUpdate(Context, Data.data(), Data.size());
        EVP_DigestFinal_ex(Context, Theirs, &Length);
        benchmark::DoNotOptimize(Theirs);
        const auto End = Clock::now();
        OurSeconds += std::chrono::duration<double>(Middle - Start).count();
        TheirSeconds += std::chrono::duration<double>(End - Middle).count();
    }
    const double Bytes = double(Data.size()) * double(State.iterations());
    State.counters["OursMBps"] = Bytes / OurSeconds / 1e6;
    State.counters["OpenSslMBps"] = Bytes / TheirSeconds / 1e6;
    State.counters["Ratio"] = TheirSeconds / OurSeconds;
    EVP_MD_CTX_free(Context);
    EVP_MD_free(Md);
}

#define DIGEST_PAIR(Label, OurName, OpenSslName)                                                   \
    BENCHMARK_CAPTURE(Ours, Label, OurName)->Arg(16)->Arg(1024)->Arg(1 << 20);                     \
    BENCHMARK_CAPTURE(OpenSsl, Label, OpenSslName)->Arg(16)->Arg(1024)->Arg(1 << 20);

DIGEST_PAIR(MD4, "MD4", "MD4")
DIGEST_PAIR(MD5, "MD5", "MD5")
DIGEST_PAIR(SHA1, "SHA1", "SHA1")
DIGEST_PAIR(SHA224, "SHA224", "SHA224")
DIGEST_PAIR(SHA256, "SHA256", "SHA256")
DIGEST_PAIR(SHA384, "SHA384", "SHA384")
DIGEST_PAIR(SHA512, "SHA512", "SHA512")
BENCHMARK_CAPTURE(SideBySide, SHA512, "SHA512")->Arg(1024)->Arg(1 << 20);
BENCHMARK_CAPTURE(SideBySide, SHA384, "SHA384")->Arg(1024)->Arg(1 << 20);
BENCHMARK_CAPTURE(Ours, MD2, "MD2")->Arg(16)->Arg(1024)->Arg(1 << 20);
BENCHMARK_CAPTURE(Ours, CRC, "CRC")->Arg(16)->Arg(1024)->Arg(1 << 20);

} // namespace

// PBKDF2 iterations per second beside OpenSSL's PKCS5_PBKDF2_HMAC in one
// run: HMAC-SHA-1 (HMACSHA1_DeriveKey) and HMAC-SHA-256 (HMAC_DeriveKey),
// 10,000 iterations for one output block, the shape of the keys derived for
// encrypted pieces and zip entries; and one-shot HMAC-SHA-256 of 1 KiB.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <string>

#include "crypto/digests/hash.h"
#include "crypto/digests/hmac.h"

namespace {

constexpr int Iterations = 10000;
const char Password[] = "correct horse battery staple";
const unsigned char Salt[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

const HashInterface *Record(const char *Name) {
    const HashInterface *Found = nullptr;
    Hash_InterfaceFromName(Name, &Found);
    return Found;
}

void Pbkdf2Ours(benchmark::State &State, const char *Name) {
    const HashInterface *Digest = Record(Name);
    uint8 Key[32];
    const int32 Length = (int32)Digest->DigestSize;
    for (auto _ : State) {
        HMAC_DeriveKey(Digest, Password, sizeof(Password) - 1, Salt, sizeof(Salt), Iterations, Key, Length);
        benchmark::DoNotOptimize(Key);
    }
    State.SetItemsProcessed((int64_t)State.iterations() * Iterations);
}

void Pbkdf2OpenSsl(benchmark::State &State, const EVP_MD *(*Md)()) {
    unsigned char Key[32];
    const int Length = EVP_MD_get_size(Md());
    for (auto _ : State) {
        PKCS5_PBKDF2_HMAC(Password, sizeof(Password) - 1, Salt, sizeof(Salt), Iterations, Md(), Length, Key);
        benchmark::DoNotOptimize(Key);
    }
    State.SetItemsProcessed((int64_t)State.iterations() * Iterations);
}

void Sha1DeriveKey(benchmark::State &State) {
    uint8 Key[20];
    for (auto _ : State) {
        HMACSHA1_DeriveKey(Password, sizeof(Password) - 1, Salt, sizeof(Salt), Iterations, Key, sizeof(Key));
        benchmark::DoNotOptimize(Key);
    }
    State.SetItemsProcessed((int64_t)State.iterations() * Iterations);
}

void HmacOurs(benchmark::State &State) {
    const std::string Data(1024, 'x');
    uint8 Mac[32];
    for (auto _ : State) {
        HMAC_QuickDigest(Record("SHA256"), Data.data(), (uint32)Data.size(), "key", 3, Mac, sizeof(Mac));
        benchmark::DoNotOptimize(Mac);
    }
    State.SetBytesProcessed((int64_t)State.iterations() * 1024);
}

void HmacOpenSsl(benchmark::State &State) {
    const std::string Data(1024, 'x');
    unsigned char Mac[32];
    size_t Length = 0;
    for (auto _ : State) {
        EVP_Q_mac(nullptr, "HMAC", nullptr, "SHA256", nullptr, "key", 3, (const unsigned char *)Data.data(),
                  Data.size(), Mac, sizeof(Mac), &Length);
        benchmark::DoNotOptimize(Mac);
    }
    State.SetBytesProcessed((int64_t)State.iterations() * 1024);
}

BENCHMARK_CAPTURE(Pbkdf2Ours, SHA1, "SHA1")->Unit(benchmark::kMillisecond);
BENCHMARK(Sha1DeriveKey)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Pbkdf2OpenSsl, SHA1, EVP_sha1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Pbkdf2Ours, SHA256, "SHA256")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Pbkdf2OpenSsl, SHA256, EVP_sha256)->Unit(benchmark::kMillisecond);
BENCHMARK(HmacOurs);
BENCHMARK(HmacOpenSsl);

} // namespace

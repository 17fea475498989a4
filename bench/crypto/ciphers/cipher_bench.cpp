// Cipher throughput beside OpenSSL's EVP in one run: AES-128/256-CBC
// decryption, AES-128/256-GCM sealing (13 bytes of additional data and a
// 16-byte tag per message, as TLS records have) and RC4, on 16 KiB and
// 1 MiB buffers. Each iteration times our call and OpenSSL's on the same
// buffer back to back; the counters give both in MB/s and Ratio = ours /
// OpenSSL's. Path 1 is the processor (AES-NI, PCLMULQDQ) path, 0 the
// portable one.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <chrono>
#include <random>
#include <vector>

#include "crypto/ciphers/aes.h"
#include "crypto/ciphers/aes_gcm.h"
#include "crypto/ciphers/aes_internal.h"
#include "crypto/ciphers/rc4.h"
#include "runtime/debug.h"

namespace {

using Clock = std::chrono::steady_clock;

std::vector<uint8> RandomBytes(size_t Length, uint32 Seed) {
    std::mt19937 Random(Seed);
    std::vector<uint8> Bytes(Length);
    for (uint8 &Byte : Bytes) Byte = (uint8)Random();
    return Bytes;
}

void StartRuntime() {
    static const bool Started = Debug_Init("/tmp/cipher-bench.log", nullptr, 0) != 0;
    (void)Started;
}

// Runs both sides once per iteration and reports the totals.
template <typename Ours, typename Theirs>
void Compare(benchmark::State &State, size_t Length, Ours &&RunOurs, Theirs &&RunTheirs) {
    double OurSeconds = 0, TheirSeconds = 0;
    for (auto _ : State) {
        auto Start = Clock::now();
        RunOurs();
        auto Middle = Clock::now();
        RunTheirs();
        auto End = Clock::now();
        OurSeconds += std::chrono::duration<double>(Middle - Start).count();
        TheirSeconds += std::chrono::duration<double>(End - Middle).count();
    }
    const double Bytes = double(Length) * double(State.iterations());
    State.counters["OursMBps"] = Bytes / OurSeconds / 1e6;
    State.counters["OpenSslMBps"] = Bytes / TheirSeconds / 1e6;
    State.counters["Ratio"] = TheirSeconds / OurSeconds;
}

bool SelectPath(benchmark::State &State) {
    const bool Fast = State.range(1) == 1;
    if (Fast && !AES_ProcessorHasFastPath()) {
        State.SkipWithError("processor has no AES-NI/PCLMULQDQ");
        return false;
    }
    AES_UseProcessorPath(Fast);
    return true;
}

void CbcDecrypt(benchmark::State &State, int32 KeyLength, const EVP_CIPHER *Cipher) {
    StartRuntime();
    if (!SelectPath(State)) return;
    const size_t Length = size_t(State.range(0));
    const std::vector<uint8> Key = RandomBytes(size_t(KeyLength), 1), IV = RandomBytes(16, 2);
    std::vector<uint8> In = RandomBytes(Length, 3), Out(Length), Chain(16);
    AES *Aes = nullptr;
    AES_Create(&Aes);
    AES_SetKey(Aes, Key.data(), KeyLength);
    // Both sides are keyed once; each iteration only starts the chain at the IV again.
    EVP_CIPHER_CTX *Context = EVP_CIPHER_CTX_new();
    EVP_DecryptInit_ex(Context, Cipher, nullptr, Key.data(), nullptr);
    EVP_CIPHER_CTX_set_padding(Context, 0);
    int Written = 0;
    Compare(
        State, Length,
        [&] {
            Chain = IV;
            AES_DecryptCBC(Aes, Chain.data(), 16, In.data(), Out.data(), int32(Length));
            benchmark::DoNotOptimize(Out.data());
        },
        [&] {
            EVP_DecryptInit_ex(Context, nullptr, nullptr, nullptr, IV.data());
            EVP_DecryptUpdate(Context, Out.data(), &Written, In.data(), int(Length));
            benchmark::DoNotOptimize(Out.data());
        });
    EVP_CIPHER_CTX_free(Context);
    AES_Delete(&Aes);
    AES_UseProcessorPath(true);
}

void GcmSeal(benchmark::State &State, int32 KeyLength, const EVP_CIPHER *Cipher) {
    StartRuntime();
    if (!SelectPath(State)) return;
    const size_t Length = size_t(State.range(0));
    const std::vector<uint8> Key = RandomBytes(size_t(KeyLength), 1), AAD = RandomBytes(13, 4);
    std::vector<uint8> IV = RandomBytes(12, 2), In = RandomBytes(Length, 3), Out(Length), Tag(16);
    AESGCM *Gcm = nullptr;
    AESGCM_Create(&Gcm);
    AESGCM_SetKey(Gcm, Key.data(), KeyLength);
    EVP_CIPHER_CTX *Context = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(Context, Cipher, nullptr, Key.data(), nullptr);
    int Written = 0;
    Compare(
        State, Length,
        [&] {
            AESGCM_SetAAD(Gcm, AAD.data(), 13);
            AESGCM_EncryptCBC(Gcm, IV.data(), 12, In.data(), Out.data(), int32(Length));
            AESGCM_GetAuthTag(Gcm, Tag.data(), 16);
            benchmark::DoNotOptimize(Tag.data());
        },
        [&] {
            EVP_EncryptInit_ex(Context, nullptr, nullptr, nullptr, IV.data());
            EVP_EncryptUpdate(Context, nullptr, &Written, AAD.data(), 13);
            EVP_EncryptUpdate(Context, Out.data(), &Written, In.data(), int(Length));
            EVP_EncryptFinal_ex(Context, Out.data() + Written, &Written);
            EVP_CIPHER_CTX_ctrl(Context, EVP_CTRL_GCM_GET_TAG, 16, Tag.data());
            benchmark::DoNotOptimize(Tag.data());
        });
    EVP_CIPHER_CTX_free(Context);
    AESGCM_Delete(&Gcm);
    AES_UseProcessorPath(true);
}

void Rc4(benchmark::State &State) {
    StartRuntime();
    static OSSL_PROVIDER *Legacy = OSSL_PROVIDER_load(nullptr, "legacy");
    static OSSL_PROVIDER *Default = OSSL_PROVIDER_load(nullptr, "default");
    (void)Default;
    EVP_CIPHER *Cipher = Legacy != nullptr ? EVP_CIPHER_fetch(nullptr, "RC4", "provider=legacy") : nullptr;
    if (Cipher == nullptr) {
        State.SkipWithError("OpenSSL's legacy provider (RC4) is not available");
        return;
    }
    const size_t Length = size_t(State.range(0));
    const std::vector<uint8> Key = RandomBytes(16, 1);
    std::vector<uint8> In = RandomBytes(Length, 3), Out(Length);
    RC4 *Rc4 = nullptr;
    RC4_Create(&Rc4);
    RC4_SetKey(Rc4, Key.data(), 16);
    EVP_CIPHER_CTX *Context = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(Context, Cipher, nullptr, Key.data(), nullptr);
    int Written = 0;
    Compare(
        State, Length,
        [&] {
            RC4_Encrypt(Rc4, In.data(), Out.data(), int32(Length));
            benchmark::DoNotOptimize(Out.data());
        },
        [&] {
            EVP_EncryptUpdate(Context, Out.data(), &Written, In.data(), int(Length));
            benchmark::DoNotOptimize(Out.data());
        });
    EVP_CIPHER_CTX_free(Context);
    EVP_CIPHER_free(Cipher);
    RC4_Delete(&Rc4);
}

void Aes128CbcDecrypt(benchmark::State &State) { CbcDecrypt(State, 16, EVP_aes_128_cbc()); }
void Aes256CbcDecrypt(benchmark::State &State) { CbcDecrypt(State, 32, EVP_aes_256_cbc()); }
void Aes128GcmSeal(benchmark::State &State) { GcmSeal(State, 16, EVP_aes_128_gcm()); }
void Aes256GcmSeal(benchmark::State &State) { GcmSeal(State, 32, EVP_aes_256_gcm()); }

#define SIZES_AND_PATHS ArgsProduct({{16 << 10, 1 << 20}, {1, 0}})->ArgNames({"Bytes", "Path"})

BENCHMARK(Aes128CbcDecrypt)->SIZES_AND_PATHS;
BENCHMARK(Aes256CbcDecrypt)->SIZES_AND_PATHS;
BENCHMARK(Aes128GcmSeal)->SIZES_AND_PATHS;
BENCHMARK(Aes256GcmSeal)->SIZES_AND_PATHS;
BENCHMARK(Rc4)->Arg(16 << 10)->Arg(1 << 20)->ArgName("Bytes");

} // namespace

// RSA and modular powers beside OpenSSL in one run: RSA-2048 and RSA-4096
// PKCS#1 v1.5 verification (e = 65537) and signing of a SHA-256 DigestInfo
// with the same key on both sides, and a 2,048-bit modular power with a
// 2,048-bit exponent (public: variable time; secret: fixed window against
// BN_mod_exp_mont_consttime). Each iteration times our call and OpenSSL's
// back to back; TimeRatio = our time / OpenSSL's time.
// OpenSSL names a type RSA too: ours is included under another name first.
#define RSA RuntimeRSA
#include "crypto/keys/rsa.h"
#undef RSA

#include <benchmark/benchmark.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <chrono>
#include <string>
#include <vector>

#include "crypto/keys/asn1.h"
#include "crypto/keys/big_int.h"
#include "runtime/debug.h"

namespace {

using Clock = std::chrono::steady_clock;

void StartRuntime() {
    static const bool Started = Debug_Init("/tmp/rsa-bench.log", nullptr, 0) != 0;
    (void)Started;
}

template <typename Ours, typename Theirs>
void Compare(benchmark::State &State, Ours &&RunOurs, Theirs &&RunTheirs) {
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
    const double Count = double(State.iterations());
    State.counters["OursUs"] = OurSeconds / Count * 1e6;
    State.counters["OpenSslUs"] = TheirSeconds / Count * 1e6;
    State.counters["TimeRatio"] = OurSeconds / TheirSeconds;
}

// One key for both sides: OpenSSL makes it, ours imports its PKCS#1 DER.
struct Pair {
    EVP_PKEY *Key = nullptr;
    RuntimeRSA *Ours = nullptr;
    std::vector<uint8> Info, Signature;
    explicit Pair(int Bits) {
        Key = EVP_RSA_gen((unsigned)Bits);
        unsigned char *Der = nullptr;
        const int Size = i2d_PrivateKey(Key, &Der);
        RSA_Create(&Ours);
        if (RSA_SetPrivateKey(Ours, Der, Size) != 1) abort();
        OPENSSL_free(Der);
        // SHA-256 DigestInfo of a fixed digest.
        const uint8 Prefix[] = {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02,
                                0x01, 0x05, 0x00, 0x04, 0x20};
        Info.assign(Prefix, Prefix + sizeof(Prefix));
        for (int At = 0; At < 32; At++) Info.push_back((uint8)(At * 13));
        Signature.resize((size_t)Bits / 8 + 1);
        int32 Written = 0;
        if (RSA_Sign(Ours, Info.data(), (int32)Info.size(), Signature.data(), (int32)Signature.size(), &Written) != 1)
            abort();
        Signature.resize((size_t)Written);
    }
    ~Pair() {
        RSA_Delete(&Ours);
        EVP_PKEY_free(Key);
    }
    const uint8 *Digest() const { return Info.data() + 19; }
};

Pair &PairOf(int Bits) {
    StartRuntime();
    static Pair Pair2048(2048), Pair4096(4096);
    return Bits == 2048 ? Pair2048 : Pair4096;
}

void Verify(benchmark::State &State) {
    Pair &Keys = PairOf((int)State.range(0));
    EVP_PKEY_CTX *Context = EVP_PKEY_CTX_new(Keys.Key, nullptr);
    EVP_PKEY_verify_init(Context);
    EVP_PKEY_CTX_set_rsa_padding(Context, RSA_PKCS1_PADDING);
    EVP_PKEY_CTX_set_signature_md(Context, EVP_sha256());
    Compare(
        State,
        [&] {
            if (RSA_Verify(Keys.Ours, Keys.Digest(), 32, Keys.Signature.data(), (int32)Keys.Signature.size(), 2) != 1)
                abort();
        },
        [&] {
            if (EVP_PKEY_verify(Context, Keys.Signature.data(), Keys.Signature.size(), Keys.Digest(), 32) != 1)
                abort();
        });
    EVP_PKEY_CTX_free(Context);
}

void Sign(benchmark::State &State) {
    Pair &Keys = PairOf((int)State.range(0));
    EVP_PKEY_CTX *Context = EVP_PKEY_CTX_new(Keys.Key, nullptr);
    EVP_PKEY_sign_init(Context);
    EVP_PKEY_CTX_set_rsa_padding(Context, RSA_PKCS1_PADDING);
    EVP_PKEY_CTX_set_signature_md(Context, EVP_sha256());
    std::vector<uint8> Out(Keys.Signature.size() + 1), Theirs(Keys.Signature.size());
    Compare(
        State,
        [&] {
            int32 Written = 0;
            if (RSA_Sign(Keys.Ours, Keys.Info.data(), (int32)Keys.Info.size(), Out.data(), (int32)Out.size(),
                         &Written) != 1)
                abort();
        },
        [&] {
            size_t Length = Theirs.size();
            if (EVP_PKEY_sign(Context, Theirs.data(), &Length, Keys.Digest(), 32) != 1) abort();
        });
    EVP_PKEY_CTX_free(Context);
}

void ModularPower(benchmark::State &State) {
    StartRuntime();
    const bool Secret = State.range(0) == 1;
    std::vector<uint8> Bytes(256 * 3);
    for (size_t At = 0; At < Bytes.size(); At++) Bytes[At] = (uint8)(At * 131 + 7);
    Bytes[0] |= 0x80;
    Bytes[255] |= 1; // odd modulus
    Bytes[256] &= 0x7f;
    Bytes[512] &= 0x7f;
    BigIntLocal Modulus, Base, Exponent, Result;
    BigInt_ImportBinary(Modulus, Bytes.data(), 256);
    BigInt_ImportBinary(Base, Bytes.data() + 256, 256);
    BigInt_ImportBinary(Exponent, Bytes.data() + 512, 256);
    Montgomery *Context = nullptr;
    BigInt_MontgomeryCreate(&Context, Modulus);
    BIGNUM *M = BN_bin2bn(Bytes.data(), 256, nullptr), *B = BN_bin2bn(Bytes.data() + 256, 256, nullptr);
    BIGNUM *E = BN_bin2bn(Bytes.data() + 512, 256, nullptr), *R = BN_new();
    BN_CTX *Scratch = BN_CTX_new();
    BN_MONT_CTX *Mont = BN_MONT_CTX_new();
    BN_MONT_CTX_set(Mont, M, Scratch);
    Compare(
        State,
        [&] {
            if (Secret)
                BigInt_MontgomeryPowerSecret(Result, Base, Exponent, Context);
            else
                BigInt_MontgomeryPower(Result, Base, Exponent, Context);
        },
        [&] {
            if (Secret)
                BN_mod_exp_mont_consttime(R, B, E, M, Scratch, Mont);
            else
                BN_mod_exp_mont(R, B, E, M, Scratch, Mont);
        });
    std::vector<uint8> Theirs(256), Ours(256);
    BN_bn2binpad(R, Theirs.data(), 256);
    BigInt_ExportBinaryFixedSize(Result, Ours.data(), 256);
    if (Theirs != Ours) State.SkipWithError("results differ");
    BN_MONT_CTX_free(Mont);
    BN_CTX_free(Scratch);
    BN_free(M);
    BN_free(B);
    BN_free(E);
    BN_free(R);
    BigInt_MontgomeryDestroy(&Context);
}

} // namespace

BENCHMARK(Verify)->Arg(2048)->Arg(4096)->Unit(benchmark::kMicrosecond);
BENCHMARK(Sign)->Arg(2048)->Arg(4096)->Unit(benchmark::kMicrosecond);
BENCHMARK(ModularPower)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

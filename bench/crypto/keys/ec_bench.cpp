// Elliptic-curve public-key work beside OpenSSL's EVP interface in one run:
// ECDSA verify and sign on P-256 and P-384 (a SHA-256 or SHA-384 digest),
// and a whole P-256 ECDHE agreement (a fresh key pair and the shared
// secret, which is what one TLS handshake does). Both sides use the same
// key, made by OpenSSL and handed to us as DER.
#include <benchmark/benchmark.h>
#include <openssl/ec.h>
#include <openssl/obj_mac.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <string>

#include "crypto/keys/ecdhe.h"
#include "crypto/keys/ecdsa.h"

namespace {

struct Fixture {
    EVP_PKEY *Key = nullptr;
    std::string PrivateDer, PublicDer, Point;
    explicit Fixture(int Nid) {
        EVP_PKEY_CTX *Context = EVP_PKEY_CTX_new_id(EVP_PKEY_EC, nullptr);
        EVP_PKEY_keygen_init(Context);
        EVP_PKEY_CTX_set_ec_paramgen_curve_nid(Context, Nid);
        EVP_PKEY_keygen(Context, &Key);
        EVP_PKEY_CTX_free(Context);
        // RFC 5915 ECPrivateKey with curve and public key (OpenSSL's
        // traditional form for EC keys).
        unsigned char *Der = nullptr;
        int Length = i2d_PrivateKey(Key, &Der);
        PrivateDer.assign((const char *)Der, (size_t)Length);
        OPENSSL_free(Der);
        Der = nullptr;
        Length = i2d_PUBKEY(Key, &Der);
        PublicDer.assign((const char *)Der, (size_t)Length);
        OPENSSL_free(Der);
        // The uncompressed point ends the SubjectPublicKeyInfo.
        const size_t PointSize = Nid == NID_X9_62_prime256v1 ? 65 : 97;
        Point = PublicDer.substr(PublicDer.size() - PointSize);
    }
    ~Fixture() { EVP_PKEY_free(Key); }
};

Fixture &P256() {
    static Fixture Instance(NID_X9_62_prime256v1);
    return Instance;
}
Fixture &P384() {
    static Fixture Instance(NID_secp384r1);
    return Instance;
}

std::string Digest(size_t Size) { return std::string(Size, '\x5a'); }

std::string OpenSslSignature(Fixture &F, const std::string &Hash) {
    EVP_PKEY_CTX *Context = EVP_PKEY_CTX_new(F.Key, nullptr);
    EVP_PKEY_sign_init(Context);
    unsigned char Out[160];
    size_t Length = sizeof(Out);
    EVP_PKEY_sign(Context, Out, &Length, (const unsigned char *)Hash.data(), Hash.size());
    EVP_PKEY_CTX_free(Context);
    return std::string((const char *)Out, Length);
}

void OursVerify(benchmark::State &State, Fixture &(*Curve)(), size_t HashSize) {
    Fixture &F = Curve();
    ECDSA *Key = nullptr;
    ECDSA_Create(&Key);
    ECDSA_SetPublicKeyFromASN1(Key, F.PublicDer.data(), (int32)F.PublicDer.size());
    const std::string Hash = Digest(HashSize), Signature = OpenSslSignature(F, Hash);
    for (auto _ : State)
        if (!ECDSA_Verify(Key, Hash.data(), (int32)Hash.size(), Signature.data(), (int32)Signature.size(), 0))
            State.SkipWithError("signature refused");
    ECDSA_Delete(&Key);
}

void OpenSslVerify(benchmark::State &State, Fixture &(*Curve)(), size_t HashSize) {
    Fixture &F = Curve();
    const std::string Hash = Digest(HashSize), Signature = OpenSslSignature(F, Hash);
    EVP_PKEY_CTX *Context = EVP_PKEY_CTX_new(F.Key, nullptr);
    EVP_PKEY_verify_init(Context);
    for (auto _ : State)
        if (EVP_PKEY_verify(Context, (const unsigned char *)Signature.data(), Signature.size(),
                            (const unsigned char *)Hash.data(), Hash.size()) != 1)
            State.SkipWithError("signature refused");
    EVP_PKEY_CTX_free(Context);
}

void OursSign(benchmark::State &State, Fixture &(*Curve)(), size_t HashSize) {
    Fixture &F = Curve();
    ECDSA *Key = nullptr;
    ECDSA_Create(&Key);
    ECDSA_SetPrivateKeyFromASN1(Key, F.PrivateDer.data(), (int32)F.PrivateDer.size());
    const std::string Hash = Digest(HashSize);
    char Out[160];
    int32 Written = 0;
    for (auto _ : State)
        if (!ECDSA_Sign(Key, Hash.data(), (int32)Hash.size(), Out, sizeof(Out), &Written))
            State.SkipWithError("signing failed");
    ECDSA_Delete(&Key);
}

void OpenSslSign(benchmark::State &State, Fixture &(*Curve)(), size_t HashSize) {
    Fixture &F = Curve();
    const std::string Hash = Digest(HashSize);
    EVP_PKEY_CTX *Context = EVP_PKEY_CTX_new(F.Key, nullptr);
    EVP_PKEY_sign_init(Context);
    unsigned char Out[160];
    for (auto _ : State) {
        size_t Length = sizeof(Out);
        if (EVP_PKEY_sign(Context, Out, &Length, (const unsigned char *)Hash.data(), Hash.size()) != 1)
            State.SkipWithError("signing failed");
    }
    EVP_PKEY_CTX_free(Context);
}

void OursEcdhe(benchmark::State &State) {
    Fixture &F = P256();
    ECDHE *Exchange = nullptr;
    ECDHE_Create(&Exchange);
    ECDHE_InitParams(Exchange, "1.2.840.10045.3.1.7");
    ECDHE_SetPublicKey(Exchange, F.Point.data(), (int32)F.Point.size());
    char Public[65], Secret[32];
    int32 PublicSize = 0, SecretSize = 0;
    for (auto _ : State)
        if (!ECDHE_CalculateSecret(Exchange, Public, sizeof(Public), &PublicSize, Secret, sizeof(Secret),
                                   &SecretSize))
            State.SkipWithError("agreement failed");
    ECDHE_Delete(&Exchange);
}

void OpenSslEcdhe(benchmark::State &State) {
    Fixture &F = P256();
    EVP_PKEY_CTX *Generate = EVP_PKEY_CTX_new(F.Key, nullptr);
    EVP_PKEY_keygen_init(Generate);
    unsigned char Secret[32];
    for (auto _ : State) {
        EVP_PKEY *Own = nullptr;
        EVP_PKEY_keygen(Generate, &Own);
        EVP_PKEY_CTX *Derive = EVP_PKEY_CTX_new(Own, nullptr);
        EVP_PKEY_derive_init(Derive);
        EVP_PKEY_derive_set_peer(Derive, F.Key);
        size_t Length = sizeof(Secret);
        if (EVP_PKEY_derive(Derive, Secret, &Length) != 1) State.SkipWithError("agreement failed");
        EVP_PKEY_CTX_free(Derive);
        EVP_PKEY_free(Own);
    }
    EVP_PKEY_CTX_free(Generate);
}

BENCHMARK_CAPTURE(OursVerify, P256, P256, 32)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(OpenSslVerify, P256, P256, 32)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(OursSign, P256, P256, 32)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(OpenSslSign, P256, P256, 32)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(OursVerify, P384, P384, 48)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(OpenSslVerify, P384, P384, 48)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(OursSign, P384, P384, 48)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(OpenSslSign, P384, P384, 48)->Unit(benchmark::kMicrosecond);
BENCHMARK(OursEcdhe)->Unit(benchmark::kMicrosecond);
BENCHMARK(OpenSslEcdhe)->Unit(benchmark::kMicrosecond);

} // namespace

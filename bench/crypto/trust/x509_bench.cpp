// Certificates beside OpenSSL in one run: parse a certificate and check its
// issuer's signature (RSA-2048 and P-384 issuers), decide a three-certificate
// chain whose root is trusted, and load the system's CA bundle; ours alone,
// a chain made to stall a decision with name constraints. Issuers and
// chain members are parsed once outside the timed loops on both sides. The
// OpenSSL side lives in x509_bench_peer.cpp, as both name their type X509.
#include <benchmark/benchmark.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/scratch_folder.h"
#include "crypto/digests/sha256.h"
#include "crypto/trust/cert_store_thumbprint.h"
#include "crypto/trust/platform_trust.h"
#include "crypto/trust/x509.h"
#include "crypto/trust/x509_chain.h"
#include "runtime/debug.h"

namespace {

const std::string Folder = RUNTIME_SOURCE_DIR "/tests/crypto/certs/";
const char *const Bundle = "/etc/ssl/certs/ca-certificates.crt";

void Start() {
    static const bool Started = Debug_Init("/tmp/x509-bench.log", nullptr, 0) != 0;
    (void)Started;
}

std::string Read(const std::string &Path) {
    std::ifstream In(Path, std::ios::binary);
    std::stringstream Bytes;
    Bytes << In.rdbuf();
    return Bytes.str();
}

X509 *Ours(const std::string &Name) {
    const std::string Der = Read(Folder + Name + ".der");
    X509 *Certificate = nullptr;
    X509_Create(&Certificate);
    X509_BuildFromBuffer(Certificate, Der.data(), (uint32)Der.size());
    return Certificate;
}

void ParseAndVerifyOurs(benchmark::State &State, const char *Leaf, const char *Issuer) {
    Start();
    X509 *Parent = Ours(Issuer);
    const std::string Der = Read(Folder + Leaf + ".der");
    for (auto _ : State) {
        X509 *Certificate = nullptr;
        X509_Create(&Certificate);
        X509_BuildFromBuffer(Certificate, Der.data(), (uint32)Der.size());
        if (!X509_VerifyIssued(Parent, Certificate)) State.SkipWithError("not verified");
        X509_Release(&Certificate);
    }
    X509_Release(&Parent);
}

// The signature check alone, on certificates parsed beforehand.
void VerifyOurs(benchmark::State &State, const char *Leaf, const char *Issuer) {
    Start();
    X509 *Parent = Ours(Issuer), *Certificate = Ours(Leaf);
    for (auto _ : State)
        if (!X509_VerifyIssued(Parent, Certificate)) State.SkipWithError("not verified");
    X509_Release(&Certificate);
    X509_Release(&Parent);
}

BENCHMARK_CAPTURE(VerifyOurs, Rsa2048, "rsa_leaf", "rsa_int");
BENCHMARK_CAPTURE(ParseAndVerifyOurs, Rsa2048, "rsa_leaf", "rsa_int");
BENCHMARK_CAPTURE(ParseAndVerifyOurs, P384, "ec_leaf", "ec_int");

// Leaf, intermediate and root (RSA-2048); the root is trusted.
void ChainOurs(benchmark::State &State) {
    Start();
    X509 *Leaf = Ours("rsa_leaf"), *Int = Ours("rsa_int"), *Root = Ours("rsa_root");
    X509Chain *Chain = nullptr;
    X509Chain_Create(&Chain);
    X509Chain_Add(Chain, Int);
    X509Chain_Add(Chain, Root);
    CertStoreThumbprint *Store = nullptr;
    CertStoreThumbprint_Create(&Store);
    uint8 Digest[32];
    X509_Thumbprint(Root, &SHA256_INTERFACE, Digest, sizeof(Digest));
    CertStoreThumbprint_Trust(Store, &SHA256_INTERFACE, Digest);
    CertStoreInterface *Interface = nullptr;
    CertStoreThumbprint_GetInterfaceHandle(Store, &Interface);
    for (auto _ : State)
        if (!X509Chain_VerifyX509(Chain, Leaf, Interface)) State.SkipWithError("not trusted");
    CertStoreInterface_Release(&Interface);
    CertStoreThumbprint_Release(&Store);
    X509Chain_Release(&Chain);
    for (X509 *Each : {Leaf, Int, Root}) X509_Release(&Each);
}

BENCHMARK(ChainOurs);

// The whole bundle read and every anchor parsed (ours: as the trust layer
// loads it on its first question after the anchor file changed).
void BundleOurs(benchmark::State &State) {
    Start();
    X509 *Root = Ours("rsa_root");
    const uint8 *Der = nullptr;
    uint32 Length = 0;
    X509_GetASN1(Root, &Der, &Length);
    for (auto _ : State) {
        Platform_SetCertificateTrust(Bundle, nullptr);
        int32 Denied = 0;
        benchmark::DoNotOptimize(Platform_AuthenticateCertificate(Der, (int32)Length, 0, &Denied));
    }
    X509_Release(&Root);
}

BENCHMARK(BundleOurs)->Unit(benchmark::kMillisecond);

// The chain of tests/crypto/trust/make_crowded_names.py (made once a run):
// self-made CAs, each permitting 1,000 subtrees over certificates of 1,000
// names each. The leaf and the Depth - 1 CAs above it are decided with no
// anchor (as a JWS "x5c" of a stranger), and with the top one pinned, which
// spends the decision's budget of name comparisons before it refuses.
const std::vector<std::string> &Crowded() {
    static const std::vector<std::string> Ders = [] {
        bench::ScratchFolder Scratch("/tmp", "x509-bench-crowded");
        const std::string Command = "python3 " RUNTIME_SOURCE_DIR "/tests/crypto/trust/make_crowded_names.py " + Scratch.Path;
        if (Scratch.Path.empty() || system(Command.c_str()) != 0) return std::vector<std::string>();
        return PlatformTrust_ReadBundle(Read(Scratch / "chain.pem"));
    }();
    return Ders;
}

void CrowdedOurs(benchmark::State &State, bool Pinned) {
    Start();
    const size_t Depth = (size_t)State.range(0);
    if (Crowded().size() < Depth) {
        State.SkipWithError("make_crowded_names.py failed (python3-cryptography?)");
        return;
    }
    std::vector<X509 *> Certificates;
    X509Chain *Chain = nullptr;
    X509Chain_Create(&Chain);
    for (size_t Index = 0; Index < Depth; Index++) {
        X509 *Each = nullptr;
        X509_Create(&Each);
        X509_BuildFromBuffer(Each, Crowded()[Index].data(), (uint32)Crowded()[Index].size());
        if (Index > 0) X509Chain_Add(Chain, Each);
        Certificates.push_back(Each);
    }
    CertStoreThumbprint *Store = nullptr;
    CertStoreThumbprint_Create(&Store);
    uint8 Digest[32];
    X509_Thumbprint(Certificates.back(), &SHA256_INTERFACE, Digest, sizeof(Digest));
    if (Pinned) CertStoreThumbprint_Trust(Store, &SHA256_INTERFACE, Digest);
    CertStoreInterface *Interface = nullptr;
    CertStoreThumbprint_GetInterfaceHandle(Store, &Interface);
    for (auto _ : State)
        if (X509Chain_VerifyX509(Chain, Certificates[0], Interface)) State.SkipWithError("trusted");
    CertStoreInterface_Release(&Interface);
    CertStoreThumbprint_Release(&Store);
    X509Chain_Release(&Chain);
    for (X509 *Each : Certificates) X509_Release(&Each);
}

BENCHMARK_CAPTURE(CrowdedOurs, Unanchored, false)->Arg(16)->Arg(32)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(CrowdedOurs, Pinned, true)->Arg(16)->Unit(benchmark::kMillisecond);

} // namespace

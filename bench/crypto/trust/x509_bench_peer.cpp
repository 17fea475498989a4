// The OpenSSL side of x509_bench.cpp (a separate unit: both name a type X509).
#include <benchmark/benchmark.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

const std::string Folder = RUNTIME_SOURCE_DIR "/tests/crypto/certs/";
const char *const Bundle = "/etc/ssl/certs/ca-certificates.crt";

std::string Read(const std::string &Path) {
    std::ifstream In(Path, std::ios::binary);
    std::stringstream Bytes;
    Bytes << In.rdbuf();
    return Bytes.str();
}

X509 *Theirs(const std::string &Name) {
    const std::string Der = Read(Folder + Name + ".der");
    const unsigned char *At = (const unsigned char *)Der.data();
    return d2i_X509(nullptr, &At, (long)Der.size());
}

void ParseAndVerifyOpenSsl(benchmark::State &State, const char *Leaf, const char *Issuer) {
    X509 *Parent = Theirs(Issuer);
    EVP_PKEY *Key = X509_get0_pubkey(Parent);
    const std::string Der = Read(Folder + Leaf + ".der");
    for (auto _ : State) {
        const unsigned char *At = (const unsigned char *)Der.data();
        X509 *Certificate = d2i_X509(nullptr, &At, (long)Der.size());
        if (X509_verify(Certificate, Key) != 1) State.SkipWithError("not verified");
        X509_free(Certificate);
    }
    X509_free(Parent);
}

void ChainOpenSsl(benchmark::State &State) {
    X509 *Leaf = Theirs("rsa_leaf"), *Int = Theirs("rsa_int"), *Root = Theirs("rsa_root");
    X509_STORE *Store = X509_STORE_new();
    X509_STORE_add_cert(Store, Root);
    STACK_OF(X509) *Untrusted = sk_X509_new_null();
    sk_X509_push(Untrusted, Int);
    X509_STORE_CTX *Context = X509_STORE_CTX_new();
    for (auto _ : State) {
        X509_STORE_CTX_init(Context, Store, Leaf, Untrusted);
        X509_VERIFY_PARAM_set_flags(X509_STORE_CTX_get0_param(Context), X509_V_FLAG_NO_CHECK_TIME);
        if (X509_verify_cert(Context) != 1) State.SkipWithError("not trusted");
        X509_STORE_CTX_cleanup(Context);
    }
    X509_STORE_CTX_free(Context);
    sk_X509_free(Untrusted);
    X509_STORE_free(Store);
    for (X509 *Each : {Leaf, Int, Root}) X509_free(Each);
}

void BundleOpenSsl(benchmark::State &State) {
    for (auto _ : State) {
        X509_STORE *Store = X509_STORE_new();
        if (X509_STORE_load_file(Store, Bundle) != 1) State.SkipWithError("no bundle");
        X509_STORE_free(Store);
    }
}

void VerifyOpenSsl(benchmark::State &State, const char *Leaf, const char *Issuer) {
    X509 *Parent = Theirs(Issuer), *Certificate = Theirs(Leaf);
    EVP_PKEY *Key = X509_get0_pubkey(Parent);
    for (auto _ : State)
        if (X509_verify(Certificate, Key) != 1) State.SkipWithError("not verified");
    X509_free(Certificate);
    X509_free(Parent);
}

BENCHMARK_CAPTURE(VerifyOpenSsl, Rsa2048, "rsa_leaf", "rsa_int");
BENCHMARK_CAPTURE(ParseAndVerifyOpenSsl, Rsa2048, "rsa_leaf", "rsa_int");
BENCHMARK_CAPTURE(ParseAndVerifyOpenSsl, P384, "ec_leaf", "ec_int");
BENCHMARK(ChainOpenSsl);
BENCHMARK(BundleOpenSsl)->Unit(benchmark::kMillisecond);

} // namespace

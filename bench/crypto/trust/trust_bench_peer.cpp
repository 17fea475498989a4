// The OpenSSL side of trust_bench.cpp (a separate unit: both name types
// PKCS7 and PKCS12). The JWS peer does what a JWS check must: split the
// text, decode its three parts, read the key and verify (ES256 from raw r||s).
#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/provider.h>
#include <openssl/x509.h>

#include <string>
#include <vector>

#include "bench/crypto/trust/trust_bench_inputs.h"

namespace {

std::vector<unsigned char> Unurl(const std::string &Text) {
    std::string Standard = Text;
    for (char &C : Standard) C = C == '-' ? '+' : C == '_' ? '/' : C;
    while (Standard.size() % 4) Standard += '=';
    std::vector<unsigned char> Out(Standard.size());
    int Length = EVP_DecodeBlock(Out.data(), (const unsigned char *)Standard.data(), (int)Standard.size());
    size_t Pad = 0;
    for (size_t At = Standard.size(); At > 0 && Standard[At - 1] == '='; At--) Pad++;
    Out.resize(Length < 0 ? 0 : (size_t)Length - Pad);
    return Out;
}

} // namespace

namespace trustbench {

void JwsOpenSsl(benchmark::State &State, const char *Alg, const char *Key) {
    const std::string Text = Read(std::string(Alg) + ".jws"), Der = Read(Key);
    if (Text.empty()) return State.SkipWithError("inputs missing");
    const bool Ec = Alg[0] == 'E';
    for (auto _ : State) {
        const size_t First = Text.find('.'), Second = Text.find('.', First + 1);
        auto Header = Unurl(Text.substr(0, First));
        auto Payload = Unurl(Text.substr(First + 1, Second - First - 1));
        auto Signature = Unurl(Text.substr(Second + 1));
        benchmark::DoNotOptimize(Header.data());
        benchmark::DoNotOptimize(Payload.data());
        const unsigned char *At = (const unsigned char *)Der.data();
        EVP_PKEY *Public = d2i_PUBKEY(nullptr, &At, (long)Der.size());
        std::vector<unsigned char> Sig = Signature;
        if (Ec) {
            ECDSA_SIG *Pair = ECDSA_SIG_new();
            ECDSA_SIG_set0(Pair, BN_bin2bn(Signature.data(), 32, nullptr), BN_bin2bn(Signature.data() + 32, 32, nullptr));
            unsigned char *Out = nullptr;
            int Length = i2d_ECDSA_SIG(Pair, &Out);
            Sig.assign(Out, Out + Length);
            OPENSSL_free(Out);
            ECDSA_SIG_free(Pair);
        }
        EVP_MD_CTX *Context = EVP_MD_CTX_new();
        EVP_DigestVerifyInit(Context, nullptr, EVP_sha256(), nullptr, Public);
        if (EVP_DigestVerify(Context, Sig.data(), Sig.size(), (const unsigned char *)Text.data(), Second) != 1)
            State.SkipWithError("refused");
        EVP_MD_CTX_free(Context);
        EVP_PKEY_free(Public);
    }
}

void CmsOpenSsl(benchmark::State &State) {
    const std::string Der = Read("cms.der"), Content = Read("content.bin"), Certificate = Read("rsa.der");
    if (Der.empty()) return State.SkipWithError("inputs missing");
    const unsigned char *At = (const unsigned char *)Certificate.data();
    X509 *Trusted = d2i_X509(nullptr, &At, (long)Certificate.size());
    X509_STORE *Store = X509_STORE_new();
    X509_STORE_add_cert(Store, Trusted);
    for (auto _ : State) {
        BIO *In = BIO_new_mem_buf(Der.data(), (int)Der.size());
        BIO *Data = BIO_new_mem_buf(Content.data(), (int)Content.size());
        CMS_ContentInfo *Signed = d2i_CMS_bio(In, nullptr);
        if (Signed == nullptr || CMS_verify(Signed, nullptr, Store, Data, nullptr, CMS_BINARY | CMS_NO_SIGNER_CERT_VERIFY) != 1)
            State.SkipWithError("refused");
        CMS_ContentInfo_free(Signed);
        BIO_free(Data);
        BIO_free(In);
    }
    X509_STORE_free(Store);
    X509_free(Trusted);
}

void Pkcs12OpenSsl(benchmark::State &State) {
    static OSSL_PROVIDER *Legacy = OSSL_PROVIDER_load(nullptr, "legacy");
    static OSSL_PROVIDER *Default = OSSL_PROVIDER_load(nullptr, "default");
    (void)Legacy;
    (void)Default;
    const std::string Der = Read("bundle.p12");
    if (Der.empty()) return State.SkipWithError("inputs missing");
    for (auto _ : State) {
        const unsigned char *At = (const unsigned char *)Der.data();
        PKCS12 *Bundle = d2i_PKCS12(nullptr, &At, (long)Der.size());
        EVP_PKEY *Key = nullptr;
        X509 *Certificate = nullptr;
        STACK_OF(X509) *Others = nullptr;
        if (Bundle == nullptr || PKCS12_parse(Bundle, "bench", &Key, &Certificate, &Others) != 1)
            State.SkipWithError("refused");
        EVP_PKEY_free(Key);
        X509_free(Certificate);
        sk_X509_pop_free(Others, X509_free);
        PKCS12_free(Bundle);
    }
}

} // namespace trustbench

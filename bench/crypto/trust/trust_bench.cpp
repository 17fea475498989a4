// Signed documents beside OpenSSL in one run (the OpenSSL side is in
// trust_bench_peer.cpp, as both name types PKCS7 and PKCS12): compact JWS
// verification (RS256 with a 2,048-bit key, ES256) through a key store,
// SignedData verification of 64 KiB of detached content, and a PKCS#12
// bundle (RSA 2,048, RC4, SHA-1 MAC, 2,048 iterations) parsed with its key.
// The inputs are made once per run by openssl and node in a scratch folder.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "bench/crypto/trust/trust_bench_inputs.h"
#include "crypto/digests/sha256.h"
#include "crypto/keys/asn1.h"
#include "crypto/trust/cert_store_key.h"
#include "crypto/trust/cert_store_thumbprint.h"
#include "crypto/trust/jws.h"
#include "crypto/trust/pkcs12.h"
#include "crypto/trust/pkcs7.h"
#include "runtime/debug.h"
#include "runtime/text/base64.h"
#include "tests/support/temp_root.h"

namespace trustbench {

const std::string &Folder() {
    static const std::string Path = [] {
        const std::string Dir = TempRoot() + "/trust-bench-" + std::to_string(getpid());
        const std::string Script =
            "mkdir -p " + Dir + " && cd " + Dir +
            " && openssl req -x509 -newkey rsa:2048 -nodes -keyout rsa.key -out rsa.pem -subj /CN=bench -days 2"
            " && openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out ec.key"
            " && openssl pkey -in rsa.key -pubout -outform DER -out rsa.pub"
            " && openssl pkey -in ec.key -pubout -outform DER -out ec.pub"
            " && openssl x509 -in rsa.pem -outform DER -out rsa.der"
            " && head -c 65536 /dev/urandom > content.bin"
            " && openssl cms -sign -binary -in content.bin -signer rsa.pem -inkey rsa.key -outform DER -out cms.der"
            " && openssl pkcs12 -export -in rsa.pem -inkey rsa.key -passout pass:bench -legacy"
            " -keypbe PBE-SHA1-RC4-128 -certpbe PBE-SHA1-RC4-128 -macalg sha1 -out bundle.p12"
            " && node -e \"const c=require('crypto'),fs=require('fs'),u=b=>Buffer.from(b).toString('base64url');"
            "for(const [a,k,d] of [['RS256','rsa.key','sha256'],['ES256','ec.key','sha256']]){"
            "const i=u(JSON.stringify({alg:a}))+'.'+u(JSON.stringify({app:'bench',items:[1,2,3]}));"
            "fs.writeFileSync(a+'.jws',i+'.'+u(c.sign(d,Buffer.from(i),{key:fs.readFileSync(k),dsaEncoding:'ieee-p1363'})))}\"";
        if (system(("(" + Script + ") >/dev/null 2>&1").c_str()) != 0) return std::string();
        return Dir;
    }();
    // The scratch folder goes with the run.
    static const struct Remover {
        ~Remover() {
            if (!Path.empty()) (void)!system(("rm -rf " + Path).c_str());
        }
    } Remove;
    return Path;
}

std::string Read(const std::string &Name) {
    std::ifstream In(Folder() + "/" + Name, std::ios::binary);
    std::stringstream Bytes;
    Bytes << In.rdbuf();
    return Bytes.str();
}

} // namespace trustbench

namespace {

using trustbench::Read;

void Start() {
    static const bool Started = Debug_Init("/tmp/trust-bench.log", nullptr, 0) != 0;
    (void)Started;
}

void JwsOurs(benchmark::State &State, const char *Alg, const char *Key) {
    Start();
    const std::string Text = Read(std::string(Alg) + ".jws"), Der = Read(Key);
    if (Text.empty() || Der.empty()) return State.SkipWithError("inputs missing (openssl, node)");
    std::string B64(Der.size() * 2, '\0');
    int32 Written = 0;
    Base64_Encode(Der.data(), (int32)Der.size(), B64.data(), (int32)B64.size(), &Written);
    B64.resize((size_t)Written);
    CertStoreKey *Store = nullptr;
    CertStoreKey_Create(&Store);
    CertStoreKey_Decode(Store, B64.c_str());
    CertStoreInterface *Interface = nullptr;
    CertStoreKey_GetInterfaceHandle(Store, &Interface);
    Dictionary *Document = nullptr;
    Dictionary_Create(&Document);
    JSON *Json = nullptr;
    JSON_Create(&Json);
    JSON_SetDictionaryHandle(Json, Document);
    for (auto _ : State) {
        Dictionary_Reset(Document);
        if (!JWS_Decode(Json, nullptr, Interface, Text.data(), (int32)Text.size(), 1)) State.SkipWithError("refused");
    }
    JSON_Release(&Json);
    Dictionary_Release(&Document);
    CertStoreInterface_Release(&Interface);
    CertStoreKey_Release(&Store);
}

int32 FeedContent(void *Stream, Hash *Digest) {
    const std::string *Content = static_cast<const std::string *>(Stream);
    uint32 Processed = 0;
    return Hash_Process(Digest, Content->data(), (uint32)Content->size(), &Processed);
}

void CmsOurs(benchmark::State &State) {
    Start();
    const std::string Der = Read("cms.der"), Content = Read("content.bin"), Certificate = Read("rsa.der");
    if (Der.empty()) return State.SkipWithError("inputs missing (openssl)");
    uint8 Digest[32];
    Hash_QuickDigest(&SHA256_INTERFACE, Certificate.data(), (uint32)Certificate.size(), Digest, sizeof(Digest));
    CertStoreThumbprint *Prints = nullptr;
    CertStoreThumbprint_Create(&Prints);
    CertStoreThumbprint_Trust(Prints, &SHA256_INTERFACE, Digest);
    CertStoreInterface *Store = nullptr;
    CertStoreThumbprint_GetInterfaceHandle(Prints, &Store);
    for (auto _ : State) {
        PKCS7 *Signed = nullptr;
        PKCS7_Create(&Signed);
        if (!PKCS7_BuildFromBuffer(Signed, Der.data(), (uint32)Der.size()) ||
            !PKCS7_Verify(Signed, Store, const_cast<std::string *>(&Content), FeedContent))
            State.SkipWithError("refused");
        PKCS7_Release(&Signed);
    }
    CertStoreInterface_Release(&Store);
    CertStoreThumbprint_Release(&Prints);
}

void Pkcs12Ours(benchmark::State &State) {
    Start();
    const std::string Der = Read("bundle.p12");
    if (Der.empty()) return State.SkipWithError("inputs missing (openssl)");
    for (auto _ : State) {
        ASN1 *Tree = nullptr;
        ASN1_Create(&Tree);
        PKCS12 *Bundle = nullptr;
        PKCS12_Create(&Bundle);
        if (!ASN1_Decode(Tree, Der.data(), (int32)Der.size()) || !PKCS12_Build(Bundle, Tree, "bench"))
            State.SkipWithError("refused");
        PKCS12_Release(&Bundle);
        ASN1_Release(&Tree);
    }
}

} // namespace

using trustbench::CmsOpenSsl;
using trustbench::JwsOpenSsl;
using trustbench::Pkcs12OpenSsl;

BENCHMARK_CAPTURE(JwsOurs, RS256, "RS256", "rsa.pub");
BENCHMARK_CAPTURE(JwsOpenSsl, RS256, "RS256", "rsa.pub");
BENCHMARK_CAPTURE(JwsOurs, ES256, "ES256", "ec.pub");
BENCHMARK_CAPTURE(JwsOpenSsl, ES256, "ES256", "ec.pub");
BENCHMARK(CmsOurs);
BENCHMARK(CmsOpenSsl);
BENCHMARK(Pkcs12Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(Pkcs12OpenSsl)->Unit(benchmark::kMillisecond);

// What a pool of certificates costs a trust decision, by its size, beside
// `openssl verify` given the same pool as its untrusted certificates. A pool
// is what a PKCS#7 certificate set or a JWS "x5c" may carry: here N
// certificates of one size (make_constrained_chain.py's leaf, its serial
// number changed, so each is its own certificate), every one of them twice,
// and the certificate decided (the chain's CA, whose issuer no member names)
// among them. Our decision copies the copies out, indexes the rest by name
// and finds no issuer; its time should grow in proportion to N.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/scratch_folder.h"
#include "crypto/trust/cert_store_platform.h"
#include "crypto/trust/platform_trust.h"
#include "crypto/trust/x509.h"
#include "crypto/trust/x509_chain.h"
#include "runtime/debug.h"
#include "runtime/text/base64.h"

namespace {

const char *const Bundle = "/etc/ssl/certs/ca-certificates.crt";

bench::ScratchFolder &Scratch() {
    static bench::ScratchFolder Folder("/tmp", "trust-pool-bench");
    return Folder;
}

std::string Read(const std::string &Path) {
    std::ifstream In(Path, std::ios::binary);
    std::stringstream Bytes;
    Bytes << In.rdbuf();
    return Bytes.str();
}

// The chain's leaf and CA, made once; empty when the script failed.
const std::vector<std::string> &Chain() {
    static const std::vector<std::string> Made = [] {
        const std::string Command = "python3 " RUNTIME_SOURCE_DIR "/tests/crypto/trust/make_constrained_chain.py " +
                                    Scratch().Path + " 3 2 2";
        if (Scratch().Path.empty() || system(Command.c_str()) != 0) return std::vector<std::string>();
        return PlatformTrust_ReadBundle(Read(Scratch() / "chain.pem"));
    }();
    return Made;
}

// Where the serial number's content starts and how long it is: past the
// certificate's and the TBS's headers and the version.
bool SerialOf(const std::string &Der, size_t &At, size_t &Length) {
    auto Header = [&](size_t Where) {
        const uint8 First = (uint8)Der[Where + 1];
        return First < 0x80 ? (size_t)2 : (size_t)2 + (First & 0x7F);
    };
    At = Header(0);
    At += Header(At);
    if ((uint8)Der[At] == 0xA0) At += 2 + (uint8)Der[At + 1];
    if ((uint8)Der[At] != 0x02) return false;
    Length = (uint8)Der[At + 1];
    At += 2;
    return Length >= 5;
}

// N certificates of one size, each twice, then the one decided.
std::vector<std::string> Pool(int N) {
    std::vector<std::string> Made;
    const std::vector<std::string> &Ders = Chain();
    size_t At = 0, Length = 0;
    if (Ders.size() < 2 || !SerialOf(Ders[0], At, Length)) return Made;
    for (int Index = 0; Index < N; Index++) {
        std::string Each = Ders[0];
        for (int Byte = 0; Byte < 4; Byte++) Each[At + Length - 1 - Byte] = (char)(Index >> (8 * Byte));
        Made.push_back(Each);
        Made.push_back(Each);
    }
    Made.push_back(Ders[1]);
    return Made;
}

CertStoreInterface *PlatformStore() {
    static CertStoreInterface *Interface = [] {
        Platform_SetCertificateTrust(Bundle, nullptr);
        CertStorePlatform *Store = nullptr;
        CertStorePlatform_Create(&Store);
        CertStoreInterface *Made = nullptr;
        CertStorePlatform_GetInterfaceHandle(Store, &Made);
        CertStorePlatform_Release(&Store);
        int32 Denied = 0;
        Platform_AuthenticateCertificate("\x30\x00", 2, 0, &Denied);
        return Made;
    }();
    return Interface;
}

void PoolOurs(benchmark::State &State) {
    static const bool Started = Debug_Init("/tmp/trust-pool-bench.log", nullptr, 0) != 0;
    (void)Started;
    const std::vector<std::string> Ders = Pool((int)State.range(0));
    if (Ders.empty()) return State.SkipWithError("make_constrained_chain.py failed (python3-cryptography?)");
    CertStoreInterface *Store = PlatformStore();
    X509Chain *Chain = nullptr;
    X509Chain_Create(&Chain);
    for (const std::string &Der : Ders) {
        X509 *Each = nullptr;
        X509_Create(&Each);
        X509_BuildFromBuffer(Each, Der.data(), (uint32)Der.size());
        X509Chain_Add(Chain, Each);
        X509_Release(&Each);
    }
    X509 *Decided = nullptr;
    X509Chain_Get(Chain, (int32)Ders.size() - 1, &Decided);
    for (auto _ : State)
        if (Decided == nullptr || X509Chain_VerifyX509(Chain, Decided, Store)) State.SkipWithError("trusted");
    X509Chain_Release(&Chain);
    State.SetComplexityN(State.range(0));
}

void PoolOpenSsl(benchmark::State &State) {
    const std::vector<std::string> Ders = Pool((int)State.range(0));
    if (Ders.empty()) return State.SkipWithError("make_constrained_chain.py failed (python3-cryptography?)");
    const std::string Untrusted = Scratch() / ("pool-" + std::to_string(State.range(0)) + ".pem");
    const std::string Decided = Scratch() / "decided.pem";
    {
        std::ofstream Out(Untrusted), One(Decided);
        for (const std::string &Der : Ders) {
            std::string Text(Der.size() * 2 + 8, '\0');
            int32 Written = 0;
            Base64_Encode(Der.data(), (int32)Der.size(), Text.data(), (int32)Text.size(), &Written);
            Text.resize((size_t)Written);
            (&Der == &Ders.back() ? One : Out) << "-----BEGIN CERTIFICATE-----\n" << Text
                                               << "\n-----END CERTIFICATE-----\n";
        }
    }
    const std::string Command = std::string("openssl verify -no_check_time -CAfile ") + Bundle + " -untrusted " +
                                Untrusted + " " + Decided + " >/dev/null 2>&1";
    for (auto _ : State)
        if (WEXITSTATUS(system(Command.c_str())) != 2) State.SkipWithError("openssl did not refuse the certificate");
}

// A crowd: N CA certificates of one name, each issued by that name and
// signed by one key (make_issuer_crowd.py), and a leaf they all issued.
// Every candidate verifies, so the search goes as deep as a path may and
// spends its signature checks; what else it does for each step should not
// grow with N more than the pool's own indexing does.
std::vector<std::string> Crowd(int N) {
    const std::string Folder = Scratch() / ("crowd-" + std::to_string(N));
    const std::string Command = "mkdir -p " + Folder + " && python3 " RUNTIME_SOURCE_DIR
                                "/bench/crypto/trust/make_issuer_crowd.py " + Folder + " " + std::to_string(N);
    if (Scratch().Path.empty() || system(Command.c_str()) != 0) return {};
    return PlatformTrust_ReadBundle(Read(Folder + "/crowd.pem"));
}

void CrowdOurs(benchmark::State &State) {
    static const bool Started = Debug_Init("/tmp/trust-pool-bench.log", nullptr, 0) != 0;
    (void)Started;
    const std::vector<std::string> Ders = Crowd((int)State.range(0));
    if (Ders.empty()) return State.SkipWithError("make_issuer_crowd.py failed (python3-cryptography?)");
    CertStoreInterface *Store = PlatformStore();
    X509Chain *Chain = nullptr;
    X509Chain_Create(&Chain);
    for (const std::string &Der : Ders) {
        X509 *Each = nullptr;
        X509_Create(&Each);
        X509_BuildFromBuffer(Each, Der.data(), (uint32)Der.size());
        X509Chain_Add(Chain, Each);
        X509_Release(&Each);
    }
    X509 *Decided = nullptr;
    X509Chain_Get(Chain, 0, &Decided);
    for (auto _ : State)
        if (Decided == nullptr || X509Chain_VerifyX509(Chain, Decided, Store)) State.SkipWithError("trusted");
    X509Chain_Release(&Chain);
    State.SetComplexityN(State.range(0));
}

BENCHMARK(CrowdOurs)->Arg(100)->Arg(1000)->Arg(4000)->Arg(16000)->Unit(benchmark::kMillisecond)->UseRealTime()->Complexity();
BENCHMARK(PoolOurs)->Arg(1000)->Arg(10000)->Arg(20000)->Arg(40000)->Arg(80000)->Unit(benchmark::kMillisecond)->UseRealTime()->Complexity();
BENCHMARK(PoolOpenSsl)->Arg(1000)->Arg(10000)->Arg(40000)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

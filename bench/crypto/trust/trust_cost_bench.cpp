// What a trust decision costs on certificates made to make it dear, beside
// `openssl verify` on the same files in the same run. The chains come from
// make_constrained_chain.py, made once a run in a scratch folder: a leaf and
// the CAs above it (EC keys), every CA permitting 5,000 dNSName subtrees and
// every certificate naming 100 hosts, reaching no anchor of the system's
// bundle. Ours parses the certificates and decides the leaf through the
// platform store (the bundle loaded beforehand); openssl's figure is the
// whole command, its start and its reading of the bundle included. The last
// case is a JWS whose "x5c" holds 32 such certificates with 10,000 subtrees
// a CA (about 9 MB), refused through the platform store.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "bench/scratch_folder.h"
#include "crypto/trust/cert_store_platform.h"
#include "crypto/trust/jws.h"
#include "crypto/trust/platform_trust.h"
#include "crypto/trust/x509.h"
#include "crypto/trust/x509_chain.h"
#include "runtime/documents/json.h"
#include "runtime/debug.h"
#include "runtime/text/base64.h"

namespace {

const char *const Bundle = "/etc/ssl/certs/ca-certificates.crt";

void Start() {
    static const bool Started = Debug_Init("/tmp/trust-cost-bench.log", nullptr, 0) != 0;
    (void)Started;
}

std::string Read(const std::string &Path) {
    std::ifstream In(Path, std::ios::binary);
    std::stringstream Bytes;
    Bytes << In.rdbuf();
    return Bytes.str();
}

bench::ScratchFolder &Scratch() {
    static bench::ScratchFolder Folder("/tmp", "trust-cost-bench");
    return Folder;
}

// The folder of one chain shape, made on first use; empty when the script failed.
std::string Chain(int Depth, int Subtrees) {
    static std::map<std::pair<int, int>, std::string> Made;
    auto [At, Fresh] = Made.emplace(std::make_pair(Depth, Subtrees), std::string());
    if (!Fresh) return At->second;
    const std::string Folder = Scratch() / ("d" + std::to_string(Depth) + "-s" + std::to_string(Subtrees));
    const std::string Command = "mkdir -p " + Folder + " && python3 " RUNTIME_SOURCE_DIR
                                "/tests/crypto/trust/make_constrained_chain.py " + Folder + " " +
                                std::to_string(Depth) + " " + std::to_string(Subtrees) + " 100";
    if (!Scratch().Path.empty() && system(Command.c_str()) == 0) At->second = Folder;
    return At->second;
}

CertStoreInterface *PlatformStore() {
    static CertStoreInterface *Interface = [] {
        Platform_SetCertificateTrust(Bundle, nullptr);
        CertStorePlatform *Store = nullptr;
        CertStorePlatform_Create(&Store);
        CertStoreInterface *Made = nullptr;
        CertStorePlatform_GetInterfaceHandle(Store, &Made);
        CertStorePlatform_Release(&Store);
        // The anchors are read on the first question, outside the timed loops.
        int32 Denied = 0;
        Platform_AuthenticateCertificate("\x30\x00", 2, 0, &Denied);
        return Made;
    }();
    return Interface;
}

void ChainOurs(benchmark::State &State) {
    Start();
    const int Depth = (int)State.range(0);
    const std::string Folder = Chain(Depth, 5000);
    if (Folder.empty()) return State.SkipWithError("make_constrained_chain.py failed (python3-cryptography?)");
    const std::vector<std::string> Ders = PlatformTrust_ReadBundle(Read(Folder + "/chain.pem"));
    CertStoreInterface *Store = PlatformStore();
    for (auto _ : State) {
        X509Chain *Chain = nullptr;
        X509Chain_Create(&Chain);
        for (const std::string &Der : Ders) {
            X509 *Each = nullptr;
            X509_Create(&Each);
            X509_BuildFromBuffer(Each, Der.data(), (uint32)Der.size());
            X509Chain_Add(Chain, Each);
            X509_Release(&Each);
        }
        X509 *Leaf = nullptr;
        X509Chain_Get(Chain, 0, &Leaf);
        if (Leaf == nullptr || X509Chain_VerifyX509(Chain, Leaf, Store)) State.SkipWithError("trusted");
        X509Chain_Release(&Chain);
    }
}

void ChainOpenSsl(benchmark::State &State) {
    const std::string Folder = Chain((int)State.range(0), 5000);
    if (Folder.empty()) return State.SkipWithError("make_constrained_chain.py failed (python3-cryptography?)");
    const std::string Command = std::string("openssl verify -no_check_time -CAfile ") + Bundle + " -untrusted " +
                                Folder + "/untrusted.pem " + Folder + "/leaf.pem >/dev/null 2>&1";
    for (auto _ : State)
        if (WEXITSTATUS(system(Command.c_str())) != 2) State.SkipWithError("openssl did not refuse the chain");
}

// A compact JWS whose header carries the chain as "x5c"; the signature is
// never reached, as no key is trusted.
std::string SignedWithChain(const std::vector<std::string> &Ders) {
    std::string Header = "{\"alg\":\"ES256\",\"x5c\":[";
    for (const std::string &Der : Ders) {
        std::string Text(Der.size() * 2 + 8, '\0');
        int32 Written = 0;
        Base64_Encode(Der.data(), (int32)Der.size(), Text.data(), (int32)Text.size(), &Written);
        Text.resize((size_t)Written);
        Header += (&Der == &Ders.front() ? "\"" : ",\"") + Text + "\"";
    }
    Header += "]}";
    auto Url = [](const std::string &Bytes) {
        std::string Text(Bytes.size() * 2 + 8, '\0');
        int32 Written = 0;
        Base64_UrlEncode(Bytes.data(), (int32)Bytes.size(), Text.data(), (int32)Text.size(), &Written);
        Text.resize((size_t)Written);
        return Text;
    };
    return Url(Header) + "." + Url("{}") + "." + Url(std::string(64, '\1'));
}

void JwsChainOurs(benchmark::State &State) {
    Start();
    const std::string Folder = Chain(32, 10000);
    if (Folder.empty()) return State.SkipWithError("make_constrained_chain.py failed (python3-cryptography?)");
    const std::string Text = SignedWithChain(PlatformTrust_ReadBundle(Read(Folder + "/chain.pem")));
    State.counters["bytes"] = (double)Text.size();
    CertStoreInterface *Store = PlatformStore();
    Dictionary *Document = nullptr;
    Dictionary_Create(&Document);
    JSON *Json = nullptr;
    JSON_Create(&Json);
    JSON_SetDictionaryHandle(Json, Document);
    for (auto _ : State)
        if (JWS_Decode(Json, nullptr, Store, Text.data(), (int32)Text.size(), 1)) State.SkipWithError("trusted");
    JSON_Release(&Json);
    Dictionary_Release(&Document);
}

void JwsChainOpenSsl(benchmark::State &State) {
    const std::string Folder = Chain(32, 10000);
    if (Folder.empty()) return State.SkipWithError("make_constrained_chain.py failed (python3-cryptography?)");
    const std::string Command = std::string("openssl verify -no_check_time -CAfile ") + Bundle + " -untrusted " +
                                Folder + "/untrusted.pem " + Folder + "/leaf.pem >/dev/null 2>&1";
    for (auto _ : State)
        if (WEXITSTATUS(system(Command.c_str())) != 2) State.SkipWithError("openssl did not refuse the chain");
}

BENCHMARK(ChainOurs)->Arg(8)->Arg(32)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ChainOpenSsl)->Arg(8)->Arg(32)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(JwsChainOurs)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(JwsChainOpenSsl)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

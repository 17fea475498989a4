// Building a chain from a pool of certificates, against `openssl verify
// -no_check_time -x509_strict`, on pools that make_chain_pools.sh makes with
// openssl at test time: a key rollover, a cross-signed root, a root's
// self-issued rollover certificates, an intermediate whose name constraints
// forbid the leaf beside one that does not, cycles, names without CN, O or
// OU, issuer names that add an attribute or differ only in case and spaces,
// and a crowd of 300 CAs of one name and key. Each pool is given in its order
// and reversed, to the platform store (anchors in its file) and to a
// thumbprint store (anchors pinned and in the pool): all four answers must be
// the same. openssl takes the first likely issuer and does not backtrack, so
// its answer can depend on the order; its reference here is whether it finds
// a path in either order.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iomanip>
#include <sstream>
#include <string>
#include <vector>

#include "crypto/digests/sha256.h"
#include "crypto/trust/platform_trust.h"
#include "crypto/trust/cert_store_thumbprint.h"
#include "crypto/trust/jws.h"
#include "crypto/trust/x509_chain.h"
#include "crypto/trust/x509_internal.h"
#include "runtime/text/base64.h"
#include "tests/support/certificates.h"
#include "tests/support/requirement.h"
#include "tests/support/runtime.h"
#include "tests/support/system.h"

namespace {

std::vector<std::string> Split(const std::string &Text, char Separator) {
    std::vector<std::string> Parts;
    std::stringstream In(Text);
    for (std::string Part; std::getline(In, Part, Separator);)
        if (!Part.empty()) Parts.push_back(Part);
    return Parts;
}

class X509ChainTest : public RuntimeTest {
  protected:
    TempDirectory Temp;
    void SetUp() override {
        RuntimeTest::SetUp();
        SKIP_UNLESS(HaveCommand("openssl"), "openssl is not installed");
        ASSERT_EQ(system(("sh " RUNTIME_SOURCE_DIR "/tests/crypto/trust/make_chain_pools.sh " + Temp.Path).c_str()), 0);
    }
    // The certificates of the named PEM files, in order.
    std::vector<std::string> Load(const std::vector<std::string> &Names) {
        std::vector<std::string> All;
        for (const std::string &Name : Names)
            for (std::string &Der : PlatformTrust_ReadBundle(ReadFile(Temp / (Name + ".pem")))) All.push_back(Der);
        return All;
    }
    void WritePem(const std::string &Name, const std::vector<std::string> &Files) {
        std::ofstream Out(Temp / Name);
        for (const std::string &File : Files) Out << ReadFile(Temp / (File + ".pem"));
    }
};

// Our answer for the leaf over the pool, in the pool's order.
int32 Decide(const std::vector<std::string> &Pool, const std::string &Leaf, CertStoreInterface *Store) {
    int32 LeafBuilt = 0;
    const int32 Result = DecideDer(Pool, Leaf, Store, &LeafBuilt);
    EXPECT_TRUE(LeafBuilt);
    return Result;
}

TEST_F(X509ChainTest, PathsFoundInEitherPoolOrderAsOpensslFindsThem) {
    std::ifstream Cases(Temp / "cases.txt");
    std::ostringstream Table;
    Table << std::left << std::setw(34) << "case" << "ours (platform, pinned; order, reversed)  openssl\n";
    int32 Count = 0;
    for (std::string Line; std::getline(Cases, Line); Count++) {
        const std::vector<std::string> Parts = Split(Line, ' ');
        ASSERT_EQ(Parts.size(), 4u) << Line;
        SCOPED_TRACE(Parts[0]);
        const std::vector<std::string> Anchors = Split(Parts[3], ',');
        const std::string Leaf = Load({Parts[1]}).at(0);
        std::vector<int32> Ours, Openssl;
        for (const bool Reversed : {false, true}) {
            std::vector<std::string> Files = Split(Parts[2], ',');
            std::vector<std::string> Pool = Load(Files);
            if (Reversed) {
                std::reverse(Files.begin(), Files.end());
                std::reverse(Pool.begin(), Pool.end());
            }
            WritePem("untrusted.pem", Files);
            WritePem("anchors.pem", Anchors);
            Openssl.push_back(system(("openssl verify -no_check_time -x509_strict -CAfile " + (Temp / "anchors.pem") +
                                      " -untrusted " + (Temp / "untrusted.pem") + " " + (Temp / (Parts[1] + ".pem")) +
                                      " >/dev/null 2>&1")
                                         .c_str()) == 0);

            Ours.push_back(Decide(Pool, Leaf, PlatformAnchors(Temp / "anchors.pem").Interface));

            CertStoreThumbprint *Pinned = nullptr;
            CertStoreThumbprint_Create(&Pinned);
            for (const std::string &Der : Load(Anchors)) {
                uint8 Digest[32];
                Hash_QuickDigest(&SHA256_INTERFACE, Der.data(), (uint32)Der.size(), Digest, (int32)sizeof(Digest));
                CertStoreThumbprint_Trust(Pinned, &SHA256_INTERFACE, Digest);
                Pool.insert(Reversed ? Pool.begin() : Pool.end(), Der);
            }
            CertStoreInterface *Interface = nullptr;
            CertStoreThumbprint_GetInterfaceHandle(Pinned, &Interface);
            Ours.push_back(Decide(Pool, Leaf, Interface));
            CertStoreInterface_Release(&Interface);
            CertStoreThumbprint_Release(&Pinned);
        }
        const int32 Exists = Openssl[0] || Openssl[1];
        Table << std::setw(34) << Parts[0];
        for (int32 Each : Ours) Table << std::setw(10) << (Each ? "ok" : "refused");
        Table << (Exists ? "ok" : "refused") << (Openssl[0] != Openssl[1] ? " (in one order)" : "") << "\n";
        EXPECT_EQ(Ours, std::vector<int32>(4, Exists));
    }
    EXPECT_EQ(Count, 13);
    std::cout << Table.str();
}

// 300 CAs of one name and key certify one another: every path through them
// is correctly signed and none reaches an anchor. The search ends within its
// budget of signature checks, and the store hears of each path at most twice
// (once when it is reached, once when it ends).
TEST_F(X509ChainTest, CrowdOfOneNameEndsWithinTheBudget) {
    const std::string Leaf = Load({"crowd_lost_leaf"}).at(0);
    std::vector<std::string> Pool = Load({"crowd", "crowd_real", "crowd_root"});
    for (const bool Reversed : {false, true}) {
        if (Reversed) std::reverse(Pool.begin(), Pool.end());
        RecordingStore Store;
        EXPECT_FALSE(Decide(Pool, Leaf, Store.Interface));
        EXPECT_GT(Store.Asked.size(), 2u);
        EXPECT_LE(Store.Asked.size(), 2u * (X509CHAIN_MAX_SIGNATURE_CHECKS + 1));
    }
}

// A chain made to stall a decision (make_crowded_names.py, at test time):
// every CA self-made and permitting the same 1,000 subtrees, every
// certificate naming 1,000 hosts inside them, a million comparisons for
// each CA and certificate below it. Reaching no anchor, the 16 of it are
// refused without one name comparison, as openssl refuses them; anchored at
// their top, they are refused once the decision's one budget is spent.
TEST(X509ChainBudgetTest, CrowdedNameConstraintsCostNothingUnanchoredAndOneBudgetAnchored) {
    SKIP_UNLESS(HavePythonModule("cryptography"), "python3-cryptography is missing");
    TempDirectory Temp;
    ASSERT_EQ(system((RUNTIME_PYTHON " " RUNTIME_SOURCE_DIR "/tests/crypto/trust/make_crowded_names.py " + Temp.Path).c_str()), 0);
    const std::vector<std::string> All = PlatformTrust_ReadBundle(ReadFile(Temp / "chain.pem"));
    ASSERT_EQ(All.size(), 32u);
    const std::vector<std::string> Pool(All.begin() + 1, All.begin() + 16);
    const X509DecisionReport &Last = X509Chain_LastDecision();
    RecordingStore Nobody;
    EXPECT_FALSE(DecideDer(Pool, All[0], Nobody.Interface));
    EXPECT_EQ(Last.Work.SignatureChecks, 15);
    EXPECT_EQ(Last.Work.NameComparisons, 0);
    EXPECT_EQ(Last.Refusal, "no path reaches a certificate the store trusts");
    WriteCertificatesPem(Temp / "top.pem", {All[15]});
    EXPECT_FALSE(DecideDer(Pool, All[0], PlatformAnchors(Temp / "top.pem").Interface));
    EXPECT_TRUE(Last.Work.NamesSpent);
    EXPECT_LE(Last.Work.NameComparisons, X509CHAIN_MAX_NAME_COMPARISONS);
    EXPECT_NE(Last.Refusal.find("name comparisons"), std::string::npos) << Last.Refusal;
}

// A pool of copies is a pool of distinct certificates: 100 copies of each
// of a chain of 3 (the leaf's own included), in either order, cost the
// search one signature check a link, as the chain alone does, and reach
// the same answers.
TEST(X509ChainBudgetTest, CopiesInAPoolAreOneCandidate) {
    SKIP_UNLESS(HavePythonModule("cryptography"), "python3-cryptography is missing");
    TempDirectory Temp;
    ASSERT_EQ(system((RUNTIME_PYTHON " " RUNTIME_SOURCE_DIR "/tests/crypto/trust/make_constrained_chain.py " + Temp.Path +
                      " 3 2 2").c_str()),
              0);
    const std::vector<std::string> All = PlatformTrust_ReadBundle(ReadFile(Temp / "chain.pem"));
    ASSERT_EQ(All.size(), 3u);
    WriteCertificatesPem(Temp / "top.pem", {All[2]});
    std::vector<std::string> Pool;
    for (int32 Copy = 0; Copy < 100; Copy++) Pool.insert(Pool.end(), All.begin(), All.end());
    const X509DecisionReport &Last = X509Chain_LastDecision();
    for (const bool Reversed : {false, true}) {
        if (Reversed) std::reverse(Pool.begin(), Pool.end());
        RecordingStore Nobody;
        EXPECT_FALSE(DecideDer(Pool, All[0], Nobody.Interface));
        EXPECT_EQ(Last.Work.SignatureChecks, 2);
        EXPECT_EQ(Last.Refusal, "no path reaches a certificate the store trusts");
        EXPECT_TRUE(DecideDer(Pool, All[0], PlatformAnchors(Temp / "top.pem").Interface)) << Last.Refusal;
        EXPECT_EQ(Last.Work.SignatureChecks, 1);
    }
}

// A leaf of 730 names under a CA permitting 730 subtrees, whose issuer (that
// permits every name) the platform store holds: the store checks the path
// it anchors and the search takes that check as its own, so each comparison
// is counted once and the chain fits the budget that counting it twice would
// pass.
TEST(X509ChainBudgetTest, AnAnchoredPathPaysItsNameComparisonsOnce) {
    SKIP_UNLESS(HavePythonModule("cryptography"), "python3-cryptography is missing");
    TempDirectory Temp;
    ASSERT_EQ(system((RUNTIME_PYTHON " " RUNTIME_SOURCE_DIR "/tests/crypto/trust/make_constrained_chain.py " + Temp.Path +
                      " 3 730 730 open-top").c_str()),
              0);
    const std::vector<std::string> All = PlatformTrust_ReadBundle(ReadFile(Temp / "chain.pem"));
    ASSERT_EQ(All.size(), 3u);
    WriteCertificatesPem(Temp / "top.pem", {All[2]});
    const X509DecisionReport &Last = X509Chain_LastDecision();
    for (const auto &Pool : {std::vector<std::string>{All[1]}, std::vector<std::string>{All[1], All[2]}})
        EXPECT_TRUE(DecideDer(Pool, All[0], PlatformAnchors(Temp / "top.pem").Interface)) << Last.Refusal;
    EXPECT_GE(Last.Work.NameComparisons, 730 * 730);
    EXPECT_GT(2 * Last.Work.NameComparisons, X509CHAIN_MAX_NAME_COMPARISONS);
    EXPECT_FALSE(Last.Work.NamesSpent);
}

} // namespace

namespace {

std::string Base64Of(const std::string &Bytes, bool Url) {
    std::string Text(Bytes.size() * 2 + 8, '\0');
    int32 Written = 0;
    (Url ? Base64_UrlEncode : Base64_Encode)(Bytes.data(), (int32)Bytes.size(), Text.data(), (int32)Text.size(),
                                             &Written);
    Text.resize((size_t)Written);
    return Text;
}

// A decision parses nothing its certificates were built with: the platform
// store is handed the chain walk's own certificates however often the walk
// asks, every name and subtree a constraint check compares was read by the
// build, and an "x5c" is parsed once a certificate. Counted, not timed, on a
// chain of 32 (make_constrained_chain.py: 50 subtrees a CA, 5 names a
// certificate) that reaches no anchor, then anchored at its top.
TEST(X509ChainBudgetTest, ADecisionParsesEachCertificateOnce) {
    SKIP_UNLESS(HavePythonModule("cryptography"), "python3-cryptography is missing");
    TempDirectory Temp;
    ASSERT_EQ(system((RUNTIME_PYTHON " " RUNTIME_SOURCE_DIR "/tests/crypto/trust/make_constrained_chain.py " + Temp.Path +
                      " 32 50 5").c_str()),
              0);
    const std::vector<std::string> All = PlatformTrust_ReadBundle(ReadFile(Temp / "chain.pem"));
    ASSERT_EQ(All.size(), 32u);
    X509Chain *Chain = nullptr;
    X509Chain_Create(&Chain);
    for (const std::string &Der : All) {
        X509 *Each = nullptr;
        X509_Create(&Each);
        ASSERT_TRUE(X509_BuildFromBuffer(Each, Der.data(), (uint32)Der.size()));
        X509Chain_Add(Chain, Each);
        X509_Release(&Each);
    }
    X509 *Leaf = nullptr;
    X509Chain_Get(Chain, 0, &Leaf);
    const X509ParseCounts &Counts = X509_ParseCounts();
    std::string Header = "{\"alg\":\"ES256\",\"x5c\":[";
    for (const std::string &Der : All) Header += (&Der == &All[0] ? "\"" : ",\"") + Base64Of(Der, false) + "\"";
    const std::string Signed = Base64Of(Header + "]}", true) + "." + Base64Of("{}", true) + "." +
                               Base64Of(std::string(64, '\1'), true);
    for (const bool Anchored : {false, true}) {
        SCOPED_TRACE(Anchored ? "anchored at its top" : "reaching no anchor");
        WriteCertificatesPem(Temp / "anchors.pem",
                             {Anchored ? All.back() : ReadFile(RUNTIME_SOURCE_DIR "/tests/crypto/certs/rsa_root.der")});
        PlatformAnchors Platform(Temp / "anchors.pem");
        int32 Denied = 0;
        Platform_AuthenticateCertificate(All[0].data(), (int32)All[0].size(), 0, &Denied); // loads the anchors
        const X509ParseCounts Before = Counts;
        EXPECT_EQ(X509Chain_VerifyX509(Chain, Leaf, Platform.Interface), (int32)Anchored);
        // Anchored, the store builds its anchor once to check its signature,
        // which reads the anchor's 5 host names; nothing else is read.
        EXPECT_EQ(Counts.Certificates - Before.Certificates, Anchored ? 1 : 0);
        EXPECT_EQ(Counts.NameFacts - Before.NameFacts, Anchored ? 1 : 0);
        EXPECT_EQ(Counts.HostNameChecks - Before.HostNameChecks, Anchored ? 5 : 0);
        EXPECT_EQ(X509Chain_LastDecision().Work.NameComparisons > 0, Anchored);

        Dictionary *Document = nullptr;
        Dictionary_Create(&Document);
        JSON *Json = nullptr;
        JSON_Create(&Json);
        JSON_SetDictionaryHandle(Json, Document);
        const X509ParseCounts Start = Counts;
        EXPECT_FALSE(JWS_Decode(Json, nullptr, Platform.Interface, Signed.data(), (int32)Signed.size(), 1));
        EXPECT_EQ(Counts.Certificates - Start.Certificates, 32 + (Anchored ? 1 : 0));
        JSON_Release(&Json);
        Dictionary_Release(&Document);
    }
    X509Chain_Release(&Chain);
}

} // namespace

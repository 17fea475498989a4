// The path checks of every chain walk against `openssl verify -no_check_time`,
// on the fixtures of tests/fixtures/x509_path/make_path_certs.py: path
// length constraints, unknown critical extensions, name constraints, MD2/MD4/
// MD5 signatures and depth, each decided through the platform store (the
// anchor outside the chain) and through a thumbprint store (the anchor in it)
// as openssl decides it. SHA-1 is the one difference: allowed here, refused by
// openssl at -auth_level 1 (the level the weak digests need).
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iomanip>
#include <sstream>
#include <string>
#include <vector>

#include "crypto/digests/sha256.h"
#include "crypto/trust/cert_store_thumbprint.h"
#include "crypto/trust/platform_trust.h"
#include "tests/support/certificates.h"
#include "tests/support/requirement.h"
#include "tests/support/runtime.h"
#include "tests/support/system.h"

namespace {

const std::string Folder = RUNTIME_SOURCE_DIR "/tests/fixtures/x509_path/";

std::vector<std::string> Split(const std::string &Text, char Separator) {
    std::vector<std::string> Parts;
    std::stringstream In(Text);
    for (std::string Part; std::getline(In, Part, Separator);)
        if (!Part.empty()) Parts.push_back(Part);
    return Parts;
}

std::string Der(const std::string &Name) { return ReadFile(Folder + Name + ".der"); }

// The named fixtures as one PEM file.
void WritePem(const std::string &Path, const std::vector<std::string> &Names) {
    std::vector<std::string> Ders;
    for (const std::string &Name : Names) Ders.push_back(Der(Name));
    WriteCertificatesPem(Path, Ders);
}

// Our decision for the leaf over the untrusted certificates, fixtures named.
int32 Decide(const std::vector<std::string> &Chain, const std::string &Leaf, CertStoreInterface *Store) {
    std::vector<std::string> Ders;
    for (const std::string &Name : Chain) Ders.push_back(Der(Name));
    return DecideDer(Ders, Der(Leaf), Store);
}

// A thumbprint store that trusts the certificate given.
CertStoreThumbprint *Pin(const std::string &Anchor) {
    CertStoreThumbprint *Pinned = nullptr;
    CertStoreThumbprint_Create(&Pinned);
    uint8 Digest[32];
    Hash_QuickDigest(&SHA256_INTERFACE, Anchor.data(), (uint32)Anchor.size(), Digest, (int32)sizeof(Digest));
    CertStoreThumbprint_Trust(Pinned, &SHA256_INTERFACE, Digest);
    return Pinned;
}

class X509PathTest : public RuntimeTest {
  protected:
    TempDirectory Temp;
};

TEST_F(X509PathTest, ChecksAgreeWithOpenssl) {
    SKIP_UNLESS(HaveCommand("openssl"), "openssl is not installed");
    std::ifstream Cases(Folder + "cases.txt");
    std::ostringstream Table;
    Table << std::left << std::setw(34) << "case" << std::setw(10) << "platform" << std::setw(12) << "thumbprint"
          << "openssl\n";
    int32 Count = 0;
    for (std::string Line; std::getline(Cases, Line); Count++) {
        const std::vector<std::string> Parts = Split(Line, ' ');
        ASSERT_GE(Parts.size(), 4u) << Line;
        SCOPED_TRACE(Parts[0]);
        const std::string Flag = Parts.size() > 4 ? Parts[4] : "-";
        const std::vector<std::string> Untrusted = Parts[2] == "-" ? std::vector<std::string>() : Split(Parts[2], ','),
                                       Anchors = Split(Parts[3], ',');

        WritePem(Temp / "anchors.pem", Anchors);
        WritePem(Temp / "untrusted.pem", Untrusted);
        WritePem(Temp / "leaf.pem", {Parts[1]});
        std::string Command = "openssl verify -no_check_time -CAfile " + (Temp / "anchors.pem");
        if (!Untrusted.empty()) Command += " -untrusted " + (Temp / "untrusted.pem");
        if (Flag == "weak" || Flag == "sha1") Command += " -auth_level 1";
        if (Flag == "depth") Command += " -verify_depth 30";
        const int32 Openssl = system((Command + " " + (Temp / "leaf.pem") + " >/dev/null 2>&1").c_str()) == 0;

        const int32 ByPlatform = Decide(Untrusted, Parts[1], PlatformAnchors(Temp / "anchors.pem").Interface);

        CertStoreThumbprint *Pinned = nullptr;
        CertStoreThumbprint_Create(&Pinned);
        for (const std::string &Name : Anchors) {
            uint8 Digest[32];
            const std::string Bytes = Der(Name);
            Hash_QuickDigest(&SHA256_INTERFACE, Bytes.data(), (uint32)Bytes.size(), Digest, (int32)sizeof(Digest));
            CertStoreThumbprint_Trust(Pinned, &SHA256_INTERFACE, Digest);
        }
        CertStoreInterface *Interface = nullptr;
        CertStoreThumbprint_GetInterfaceHandle(Pinned, &Interface);
        std::vector<std::string> WithAnchors = Untrusted;
        WithAnchors.insert(WithAnchors.end(), Anchors.begin(), Anchors.end());
        const int32 ByThumbprint = Decide(WithAnchors, Parts[1], Interface);
        CertStoreInterface_Release(&Interface);
        CertStoreThumbprint_Release(&Pinned);

        auto Word = [](int32 Verdict) { return Verdict ? "ok" : "refused"; };
        Table << std::setw(34) << Parts[0] << std::setw(10) << Word(ByPlatform) << std::setw(12) << Word(ByThumbprint)
              << Word(Openssl) << (Flag == "sha1" ? "  (SHA-1 allowed here)" : "") << "\n";
        EXPECT_EQ(ByPlatform, ByThumbprint);
        if (Flag == "sha1") {
            EXPECT_TRUE(ByPlatform);
            EXPECT_FALSE(Openssl);
        } else {
            EXPECT_EQ(ByPlatform, Openssl);
        }
    }
    EXPECT_GE(Count, 28);
    std::cout << Table.str();
}

// Directory names compared by one rule for issuer links and for name
// constraints, on the certificates of make_name_certs.py (made at test
// time): a locality in a T61String, IA5String (both read as Latin-1),
// BMPString or UniversalString is the one in a UTF8String, with case and
// spaces folded; a BMPString or UniversalString that does not convert is
// only itself and so not the name it nearly spells. openssl agrees on each,
// though it refuses the unconvertible ones as unreadable.
TEST_F(X509PathTest, DirectoryNamesCompareAlikeAcrossStringTypes) {
    SKIP_UNLESS(HaveCommand("openssl"), "openssl is not installed");
    SKIP_UNLESS(HavePythonModule("cryptography"), "python3-cryptography is missing");
    ASSERT_EQ(system((RUNTIME_PYTHON " " RUNTIME_SOURCE_DIR "/tests/crypto/trust/make_name_certs.py " + Temp.Path).c_str()), 0);
    const auto Load = [&](const std::string &Name) { return PlatformTrust_ReadBundle(ReadFile(Temp / (Name + ".pem"))).at(0); };
    const std::string Root = Load("root");
    std::ifstream Cases(Temp / "cases.txt");
    std::ostringstream Table;
    Table << std::left << std::setw(34) << "case" << std::setw(10) << "ours" << "openssl\n";
    int32 Count = 0;
    for (std::string Line; std::getline(Cases, Line); Count++) {
        const std::vector<std::string> Parts = Split(Line, ' '); // case (the leaf), its CA, expected
        ASSERT_EQ(Parts.size(), 3u) << Line;
        SCOPED_TRACE(Parts[0]);
        CertStoreThumbprint *Pinned = Pin(Root);
        CertStoreInterface *Interface = nullptr;
        CertStoreThumbprint_GetInterfaceHandle(Pinned, &Interface);
        const int32 Ours = DecideDer({Load(Parts[1]), Root}, Load(Parts[0]), Interface);
        CertStoreInterface_Release(&Interface);
        CertStoreThumbprint_Release(&Pinned);
        const int32 Openssl = system(("openssl verify -no_check_time -CAfile " + (Temp / "root.pem") + " -untrusted " +
                                      (Temp / (Parts[1] + ".pem")) + " " + (Temp / (Parts[0] + ".pem")) +
                                      " >/dev/null 2>&1").c_str()) == 0;
        Table << std::setw(34) << Parts[0] << std::setw(10) << (Ours ? "ok" : "refused") << (Openssl ? "ok" : "refused")
              << "\n";
        EXPECT_EQ(Ours, Parts[2] == "ok");
        EXPECT_EQ(Ours, Openssl);
    }
    EXPECT_EQ(Count, 14);
    std::cout << Table.str();
}

} // namespace

// X.500 names, X.509 certificates and chains against the fixtures of
// certs/make_certs.py: names, versions and thumbprints as python's
// cryptography and hashlib read them (a name of only C and L included),
// certificates that must not parse (a zero byte in the CN, an empty
// signature, mismatched or unsupported algorithms), and every chain case of certs/cases.txt decided as
// `openssl verify -no_check_time -partial_chain` decided it.
#include "crypto/trust/x509.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "crypto/digests/sha1.h"
#include "crypto/digests/sha256.h"
#include "crypto/digests/sha512.h"
#include "crypto/keys/asn1.h"
#include "crypto/trust/x509_chain.h"
#include "runtime/text/base64.h"
#include "tests/support/certificates.h"
#include "tests/support/log_capture.h"
#include "tests/support/python.h"
#include "tests/support/runtime.h"
#include "tests/support/system.h"

namespace {

const std::string Folder = RUNTIME_SOURCE_DIR "/tests/crypto/certs/";

std::string Fixture(const std::string &Name) { return ReadFile(Folder + Name + ".der"); }

std::vector<std::string> Split(const std::string &Text, char Separator) {
    std::vector<std::string> Parts;
    std::stringstream In(Text);
    for (std::string Part; std::getline(In, Part, Separator);)
        if (!Part.empty()) Parts.push_back(Part);
    return Parts;
}

// A certificate built from a fixture (or from given bytes).
struct Built {
    X509 *Handle = nullptr;
    int32 Result = 0;
    explicit Built(const std::string &Der) {
        X509_Create(&Handle);
        Result = X509_BuildFromBuffer(Handle, Der.data(), (uint32)Der.size());
    }
    ~Built() { X509_Release(&Handle); }
};

// The named fixtures as one PEM file.
void WritePem(const std::string &Path, const std::vector<std::string> &Names) {
    std::vector<std::string> Ders;
    for (const std::string &Name : Names) Ders.push_back(Fixture(Name));
    WriteCertificatesPem(Path, Ders);
}

class X509Test : public RuntimeTest {
  protected:
    TempDirectory Temp;
};

TEST_F(X509Test, NamesVersionsAndThumbprintsAsPythonReadsThem) {
    const std::vector<std::string> Names = {"rsa_root", "rsa_int",  "rsa_leaf",  "ec_root",   "ec_leaf",
                                            "v1_root",  "v1_leaf",  "exp_leaf",  "loop_a",    "self_signed",
                                            "sha1_leaf", "mixed_int", "notca_int", "nokcs_int", "sha384_leaf", "bare_name"};
    std::string Script = "from cryptography import x509\nfrom cryptography.x509.oid import NameOID as N\n"
                         "import hashlib\n"
                         "def f(n, o):\n  v = n.get_attributes_for_oid(o)\n  return v[-1].value if v else ''\n"
                         "for name in '" +
                         [&] {
                             std::string All;
                             for (const auto &Name : Names) All += Name + " ";
                             return All;
                         }() +
                         "'.split():\n  d = open('" + Folder +
                         "' + name + '.der', 'rb').read()\n  c = x509.load_der_x509_certificate(d)\n"
                         "  print('|'.join([name, f(c.subject, N.COMMON_NAME), f(c.subject, N.ORGANIZATION_NAME),"
                         " f(c.subject, N.ORGANIZATIONAL_UNIT_NAME), f(c.issuer, N.COMMON_NAME),"
                         " str(c.version.value + 1), '%x' % c.serial_number, hashlib.sha1(d).hexdigest(),"
                         " hashlib.sha384(d).hexdigest()]))\n";
    const std::vector<std::string> Lines = Split(RunPython(Script), '\n');
    ASSERT_EQ(Lines.size(), Names.size());
    for (const std::string &Line : Lines) {
        std::vector<std::string> Want;
        std::stringstream In(Line);
        for (std::string Part; std::getline(In, Part, '|');) Want.push_back(Part);
        ASSERT_EQ(Want.size(), 9u) << Line;
        SCOPED_TRACE(Want[0]);
        Built Certificate(Fixture(Want[0]));
        ASSERT_TRUE(Certificate.Result);
        X500 *Subject = nullptr, *Issuer = nullptr;
        X509_GetSubjectHandle(Certificate.Handle, &Subject);
        X509_GetIssuerHandle(Certificate.Handle, &Issuer);
        char Text[400];
        X500_GetCN(Subject, Text, sizeof(Text));
        EXPECT_EQ(Text, Want[1]);
        X500_GetO(Subject, Text, sizeof(Text));
        EXPECT_EQ(Text, Want[2]);
        X500_GetOU(Subject, Text, sizeof(Text));
        EXPECT_EQ(Text, Want[3]);
        X500_GetCN(Issuer, Text, sizeof(Text));
        EXPECT_EQ(Text, Want[4]);
        int32 Version = 0;
        X509_GetVersion(Certificate.Handle, &Version);
        EXPECT_EQ(std::to_string(Version), Want[5]);
        BigInt *Serial = nullptr;
        X509_GetSerialNumberHandle(Certificate.Handle, &Serial);
        BigInt_ExportHex(Serial, Text, sizeof(Text));
        std::string Hex = Text;
        for (char &Ch : Hex) Ch = (char)tolower((unsigned char)Ch);
        Hex.erase(0, Hex.find_first_not_of('0'));
        EXPECT_EQ(Hex, Want[6]);
        const struct {
            const HashInterface *Interface;
            const std::string &Hex;
        } Prints[] = {{&SHA1_INTERFACE, Want[7]}, {&SHA384_INTERFACE, Want[8]}};
        for (const auto &Print : Prints) {
            uint8 Digest[64];
            ASSERT_TRUE(X509_Thumbprint(Certificate.Handle, Print.Interface, Digest, sizeof(Digest)));
            Hash_ConvertDigestToString(Digest, (int32)Print.Interface->DigestSize, 0, Text, sizeof(Text));
            EXPECT_EQ(Text, Print.Hex);
        }
    }
}

TEST_F(X509Test, WhoMayIssue) {
    const std::map<std::string, int32> Expected = {
        {"rsa_root", 1},  {"rsa_int", 1},   {"ec_int", 1},      {"v1_root", 1},   {"rsa_leaf", 0},
        {"v1_leaf", 0},   {"notca_int", 0}, {"nokcs_int", 0},   {"self_signed", 0}, {"loop_a", 1}};
    for (const auto &[Name, CanIssue] : Expected) {
        Built Certificate(Fixture(Name));
        ASSERT_TRUE(Certificate.Result) << Name;
        EXPECT_EQ(X509_CanIssue(Certificate.Handle), CanIssue) << Name;
    }
}

// Byte edits of a good certificate that must make it fail without a stop.
TEST_F(X509Test, RefusedCertificates) {
    Captured.clear();
    Debug_PrintCallback(CaptureLogMirrored);
    const std::string Leaf = Fixture("rsa_leaf");
    // The inner signature algorithm's OID ends ...01 0B (sha256WithRSA); the
    // outer one is the last such OID in the file.
    const std::string Sha256Rsa("\x2a\x86\x48\x86\xf7\x0d\x01\x01\x0b", 9);
    std::string Mismatch = Leaf, Unknown = Leaf;
    Mismatch[Mismatch.rfind(Sha256Rsa) + 8] = 0x0c; // outer: sha384WithRSA
    for (size_t At = 0; (At = Unknown.find(Sha256Rsa, At)) != std::string::npos; At += 9) Unknown[At + 8] = 0x7f;
    const struct {
        const char *Name;
        std::string Der;
        const char *Message;
    } Cases[] = {
        {"zero byte in the CN", Fixture("zero_cn"), nullptr},
        {"empty signature", Fixture("empty_sig"), nullptr},
        {"DSA with SHA-1", Fixture("dsa_self"), "Unsupported crypto algorithm 1.2.840.10040.4.3"},
        {"inner and outer algorithms differ", Mismatch, nullptr},
        {"unknown hash", Unknown, nullptr},
        {"empty", std::string(), nullptr},
        {"truncated", Leaf.substr(0, Leaf.size() - 1), nullptr},
    };
    for (const auto &Case : Cases) {
        Captured.clear();
        X509 *Certificate = nullptr;
        X509_Create(&Certificate);
        X509_SetVerbose(Certificate, 1);
        EXPECT_FALSE(X509_BuildFromBuffer(Certificate, Case.Der.data(), (uint32)Case.Der.size())) << Case.Name;
        X509_Release(&Certificate);
        if (Case.Message != nullptr) EXPECT_NE(Captured.find(Case.Message), std::string::npos) << Case.Name;
        else EXPECT_EQ(Captured.find("Unsupported crypto"), std::string::npos) << Case.Name;
    }
}

// A certificate is one element: with a stray byte or a further element after
// it, it is not built, from bytes or from Base64, and so cannot pass as
// another certificate than the denied one it is.
TEST_F(X509Test, BytesAfterACertificateRefused) {
    const std::string Leaf = Fixture("rsa_leaf");
    uint8 Digest[32];
    Hash_QuickDigest(&SHA256_INTERFACE, Leaf.data(), (uint32)Leaf.size(), Digest, sizeof(Digest));
    char Hex[65];
    Hash_ConvertDigestToString(Digest, 32, 0, Hex, sizeof(Hex));
    WritePem(Temp / "anchors.pem", {"rsa_root"});
    PlatformAnchors Store(Temp / "anchors.pem", Hex);
    X509Chain *Chain = nullptr;
    X509Chain_Create(&Chain);
    Built Int(Fixture("rsa_int"));
    X509Chain_Add(Chain, Int.Handle);
    for (const std::string &Tail : {std::string(), std::string(1, '\0'), std::string("\x05\x00", 2)}) {
        SCOPED_TRACE(Tail.size());
        Built Padded(Leaf + Tail);
        EXPECT_EQ(Padded.Result, Tail.empty() ? 1 : 0);
        EXPECT_FALSE(X509Chain_VerifyX509(Chain, Padded.Handle, Store.Interface));
        char Text[4096];
        int32 Written = 0;
        const std::string Bytes = Leaf + Tail;
        Base64_Encode(Bytes.data(), (int32)Bytes.size(), Text, sizeof(Text), &Written);
        X509 *Decoded = nullptr;
        X509_Create(&Decoded);
        EXPECT_EQ(X509_BuildFromBase64(Decoded, Text, Written), Tail.empty() ? 1 : 0);
        X509_Release(&Decoded);
    }
    X509Chain_Release(&Chain);
}

TEST_F(X509Test, Base64WithLineBreaks) {
    const std::string Der = Fixture("ec_leaf");
    char Text[2048];
    int32 Written = 0;
    ASSERT_TRUE(Base64_Encode(Der.data(), (int32)Der.size(), Text, sizeof(Text), &Written));
    std::string Broken;
    for (int32 At = 0; At < Written; At += 64) Broken += std::string(Text + At, std::min(64, Written - At)) + "\r\n";
    X509 *Certificate = nullptr;
    X509_Create(&Certificate);
    EXPECT_TRUE(X509_BuildFromBase64(Certificate, Broken.c_str(), (int32)Broken.size()));
    Built Direct(Der);
    EXPECT_TRUE(X509_Compare(Certificate, Direct.Handle));
    EXPECT_FALSE(X509_BuildFromBase64(Certificate, "!!!!", 4));
    X509_Release(&Certificate);
}

// Every case of cases.txt: leaf, untrusted chain, anchors, openssl's verdict.
TEST_F(X509Test, ChainsAgreeWithOpenssl) {
    std::ifstream Cases(Folder + "cases.txt");
    std::string Line;
    int32 Count = 0;
    while (std::getline(Cases, Line)) {
        const std::vector<std::string> Parts = Split(Line, ' ');
        ASSERT_EQ(Parts.size(), 5u) << Line;
        SCOPED_TRACE(Parts[0]);
        WritePem(Temp / "anchors.pem", Split(Parts[3], ','));
        PlatformAnchors Store(Temp / "anchors.pem");
        X509Chain *Chain = nullptr;
        X509Chain_Create(&Chain);
        if (Parts[2] != "-")
            for (const std::string &Name : Split(Parts[2], ',')) {
                Built Member(Fixture(Name));
                ASSERT_TRUE(X509Chain_Add(Chain, Member.Handle));
            }
        Built Leaf(Fixture(Parts[1]));
        EXPECT_EQ(X509Chain_VerifyX509(Chain, Leaf.Handle, Store.Interface), Parts[4] == "ok" ? 1 : 0);
        X509Chain_Release(&Chain);
        Count++;
    }
    EXPECT_GE(Count, 25);
}

TEST_F(X509Test, WalkAsksTheStoreInOrder) {
    Built Self(Fixture("self_signed")), Leaf(Fixture("rsa_leaf")), Int(Fixture("rsa_int"));
    X509Chain *Chain = nullptr;
    X509Chain_Create(&Chain);
    {
        // An empty chain: asked twice about the certificate.
        RecordingStore Store;
        EXPECT_FALSE(X509Chain_VerifyX509(Chain, Leaf.Handle, Store.Interface));
        EXPECT_EQ(Store.Asked, (std::vector<X509 *>{Leaf.Handle, Leaf.Handle}));
    }
    {
        // A self-signed certificate in a chain of one: itself, then its copy twice.
        X509Chain_Add(Chain, Self.Handle);
        X509 *Copy = nullptr;
        X509Chain_Get(Chain, 0, &Copy);
        RecordingStore Store;
        EXPECT_FALSE(X509Chain_VerifyX509(Chain, Self.Handle, Store.Interface));
        EXPECT_EQ(Store.Asked, (std::vector<X509 *>{Self.Handle, Copy, Copy}));
    }
    {
        // A stop at the leaf ends the walk.
        X509Chain_Add(Chain, Int.Handle);
        RecordingStore Store;
        Store.StopWith = 1;
        EXPECT_FALSE(X509Chain_VerifyX509(Chain, Leaf.Handle, Store.Interface));
        EXPECT_EQ(Store.Asked.size(), 1u);
    }
    X509Chain_Release(&Chain);
}

// A certificate set as PKCS#7 carries it: a SET of certificates, read in
// order; a member that is not a certificate empties the chain. Signers are
// found by issuer and serial number; the dump prints what openssl prints.
TEST_F(X509Test, ChainFromASetAndSignerLookup) {
    const std::string Leaf = Fixture("rsa_leaf"), Int = Fixture("rsa_int");
    auto Set = [](const std::string &Body) {
        std::string Header = "\x31\x82";
        Header += (char)(Body.size() >> 8);
        Header += (char)(Body.size() & 0xFF);
        return Header + Body;
    };
    const std::string Good = Set(Int + Leaf), Bad = Set(Int + std::string("\x30\x03\x02\x01\x05", 5));
    X509Chain *Chain = nullptr;
    X509Chain_Create(&Chain);
    for (const auto &[Der, Result, Count] : {std::tuple{Good, 1, 2}, std::tuple{Bad, 0, 0}}) {
        ASN1 *Root = nullptr;
        ASN1_Create(&Root);
        ASSERT_TRUE(ASN1_Decode(Root, Der.data(), (int32)Der.size()));
        EXPECT_EQ(X509Chain_Build(Chain, ASN1_GetElement(Root, 0)), Result);
        int32 Have = -1;
        X509Chain_GetCount(Chain, &Have);
        EXPECT_EQ(Have, Count);
        ASN1_Delete(&Root);
        if (!Result) break;
        Built Subject(Leaf);
        X509 *Found = nullptr, *Issuer = nullptr;
        X500 *IssuerName = nullptr;
        BigInt *Serial = nullptr;
        X509_GetIssuerHandle(Subject.Handle, &IssuerName);
        X509_GetSerialNumberHandle(Subject.Handle, &Serial);
        ASSERT_TRUE(X509Chain_IssuerAndSerialNumberFind(Chain, IssuerName, Serial, &Found));
        EXPECT_TRUE(X509_Compare(Found, Subject.Handle));
        ASSERT_TRUE(X509Chain_IssuerFind(Chain, Subject.Handle, &Issuer));
        X509Chain_Get(Chain, 0, &Found);
        EXPECT_EQ(Issuer, Found);
        X509_GetSerialNumberHandle(Issuer, &Serial);
        EXPECT_FALSE(X509Chain_IssuerAndSerialNumberFind(Chain, IssuerName, Serial, &Found));
    }
    X509Chain_Release(&Chain);

    Captured.clear();
    Debug_PrintCallback(CaptureLogMirrored);
    Built Subject(Int);
    X509_Dump(Subject.Handle);
    const std::string Expected = RunPython(
        "import base64,hashlib,subprocess\nd=open('" + Folder +
        "rsa_int.der','rb').read()\n"
        "print('Common Name - RSA Intermediate'); print('Organization - Velmarsh Test'); print('Organization Unit - Trust')\n"
        "print('SHA1 Thumbprint - ' + hashlib.sha1(d).hexdigest()); print('SHA256 Thumbprint - ' + hashlib.sha256(d).hexdigest())\n"
        "print('SHA1 Base64 Thumbprint - ' + base64.b64encode(hashlib.sha1(d).digest()).decode())\n"
        "print('SHA256 Base64 Thumbprint - ' + base64.b64encode(hashlib.sha256(d).digest()).decode())\n");
    for (const std::string &Line : Split(Expected, '\n')) EXPECT_NE(Captured.find(Line), std::string::npos) << Line;
    EXPECT_NE(Captured.find("Serial Number - "), std::string::npos);
}

} // namespace

// Certificates read strictly, on the fixtures of
// tests/fixtures/x509_strict/make_strict_certs.py, each case decided through
// the platform store (anchors from a file, thumbprints denied): a denied
// leaf and a denied RSA-signed intermediate stay denied when re-encoded
// without touching what is signed; a duplicate or unparsable extension
// fails its certificate at every position (against `openssl verify
// -x509_strict -no_check_time`); SHA-224 with RSA, a serial of no bytes,
// and name constraints on wildcards, leading periods and malformed
// addresses. Every anchor of the system's bundle still builds.
#include <gtest/gtest.h>

#include <deque>
#include <sstream>
#include <string>
#include <vector>

#include "crypto/digests/sha256.h"
#include "crypto/keys/asn1.h"
#include "crypto/trust/platform_trust.h"
#include "crypto/trust/x509.h"
#include "crypto/trust/x509_chain.h"
#include "crypto/trust/x509_internal.h"
#include "tests/support/certificates.h"
#include "tests/support/python.h"
#include "tests/support/requirement.h"
#include "tests/support/runtime.h"
#include "tests/support/system.h"

namespace {

const std::string Folder = RUNTIME_SOURCE_DIR "/tests/fixtures/x509_strict/";

std::vector<std::string> Names(const std::string &List) {
    std::vector<std::string> Parts;
    std::stringstream In(List);
    for (std::string Part; std::getline(In, Part, ',');)
        if (!Part.empty()) Parts.push_back(Part);
    return Parts;
}

std::string Der(const std::string &Name) { return ReadFile(Folder + Name + ".der"); }

// The named fixtures as one PEM file.
void WritePem(const std::string &Path, const std::vector<std::string> &List) {
    std::vector<std::string> Ders;
    for (const std::string &Name : List) Ders.push_back(Der(Name));
    WriteCertificatesPem(Path, Ders);
}

std::string Thumbprint(const std::string &Name) {
    const std::string Bytes = Der(Name);
    uint8 Digest[32];
    Hash_QuickDigest(&SHA256_INTERFACE, Bytes.data(), (uint32)Bytes.size(), Digest, (int32)sizeof(Digest));
    std::string Hex;
    for (uint8 Byte : Digest) Hex += "0123456789abcdef"[Byte >> 4], Hex += "0123456789abcdef"[Byte & 15];
    return Hex;
}

struct Case {
    const char *Name, *Leaf, *Untrusted, *Anchor, *Denied;
    bool Trusted;
    const char *Reason;  // what the build of the certificate at fault says; "" when all build
    bool LikeOpenssl;    // `openssl verify -x509_strict` decides the same
};

// Leaf, intermediate, root: "ok" or a defect of make_strict_certs.py.
std::vector<Case> ExtensionCases() {
    static std::deque<std::string> Keep; // the table's names point into it
    std::vector<Case> Out;
    const std::pair<const char *, const char *> Defects[] = {
        {"dup_san", "2.5.29.17 appears twice"},       {"san_trailing", "2.5.29.17 holds no single DER value"},
        {"flag_bitstring", "no BOOLEAN"},             {"four_parts", "not an identifier, a critical flag"},
        {"bad_oid", "not DER: a malformed OBJECT"},   {"dup_usage", "2.5.29.15 appears twice"}};
    for (const auto &[Defect, Reason] : Defects)
        for (const char *Position : {"leaf", "int", "root"}) {
            auto Pick = [&](const char *At) {
                return Keep.emplace_back(std::string("ext_") + At + "_" + (At == Position ? Defect : "ok")).c_str();
            };
            const char *Name = Keep.emplace_back(std::string(Defect) + "_in_" + Position).c_str();
            // openssl reads a subjectAltName without looking past its
            // GeneralNames, so trailing bytes do not trouble it.
            Out.push_back({Name, Pick("leaf"), Pick("int"), Pick("root"), "", false, Reason,
                           std::string(Defect) != "san_trailing"});
        }
    return Out;
}

class X509StrictTest : public RuntimeTest {
  protected:
    TempDirectory Temp;

    // The leaf decided over the untrusted certificates (those that build)
    // and the anchor file, with one thumbprint denied. Reason: the refusal
    // of the first certificate of the case that does not build.
    int32 Decide(const Case &C, std::string &Reason) {
        Reason.clear();
        std::vector<std::string> All = Names(C.Untrusted);
        All.insert(All.begin(), C.Leaf);
        All.push_back(C.Anchor);
        X509Chain *Walk = nullptr;
        X509Chain_Create(&Walk);
        X509 *Leaf = nullptr, *Each = nullptr;
        X509_Create(&Leaf);
        X509_Create(&Each);
        for (size_t Index = 0; Index < All.size(); Index++) {
            const std::string Bytes = Der(All[Index]);
            X509 *Into = Index == 0 ? Leaf : Each;
            const char *Why = nullptr;
            const int32 Built = X509_BuildFromBuffer(Into, Bytes.data(), (uint32)Bytes.size());
            EXPECT_EQ(X509_GetRefusal(Into, &Why), !Built);
            if (!Built && Reason.empty()) Reason = Why;
            if (Built && Index > 0 && Index + 1 < All.size()) X509Chain_Add(Walk, Each);
        }
        WritePem(Temp / "anchors.pem", {C.Anchor});
        const std::string Denied = C.Denied[0] ? Thumbprint(C.Denied) : "";
        const int32 Result = X509Chain_VerifyX509(Walk, Leaf, PlatformAnchors(Temp / "anchors.pem", Denied.c_str()).Interface);
        X509_Release(&Each);
        X509_Release(&Leaf);
        X509Chain_Release(&Walk);
        return Result;
    }

    bool Openssl(const Case &C) {
        WritePem(Temp / "anchors.pem", {C.Anchor});
        WritePem(Temp / "untrusted.pem", Names(C.Untrusted));
        WritePem(Temp / "leaf.pem", {C.Leaf});
        std::string Command = "openssl verify -x509_strict -no_check_time -CAfile " + (Temp / "anchors.pem");
        if (C.Untrusted[0]) Command += " -untrusted " + (Temp / "untrusted.pem");
        return system((Command + " " + (Temp / "leaf.pem") + " >/dev/null 2>&1").c_str()) == 0;
    }

    void Run(const std::vector<Case> &Cases) {
        SKIP_UNLESS(HaveCommand("openssl"), "openssl is not installed");
        for (const Case &C : Cases) {
            SCOPED_TRACE(C.Name);
            std::string Reason;
            EXPECT_EQ(Decide(C, Reason), C.Trusted);
            if (C.Reason[0] == 0) {
                EXPECT_EQ(Reason, "");
            } else {
                EXPECT_NE(Reason.find(C.Reason), std::string::npos) << Reason;
            }
            if (C.LikeOpenssl) {
                EXPECT_EQ(Openssl(C), C.Trusted);
            }
        }
    }
};

TEST_F(X509StrictTest, DeniedCertificatesStayDeniedWhenReencoded) {
    const char *Leaf = "deny_leaf", *Int = "deny_int", *Root = "deny_root";
    Run({
        {"control", Leaf, Int, Root, "", true, "", true},
        {"leaf denied", Leaf, Int, Root, Leaf, false, "", false},
        {"intermediate denied", Leaf, Int, Root, Int, false, "", false},
        {"leaf: outer parameters added", "deny_leaf_params_added", Int, Root, Leaf, false, "differs", false},
        {"leaf: long outer length", "deny_leaf_long_outer", Int, Root, Leaf, false, "leading zero", false},
        {"leaf: long signature length", "deny_leaf_long_bits", Int, Root, Leaf, false, "leading zero", false},
        {"leaf: ECDSA twin, not denied", "deny_leaf_twin", Int, Root, "", true, "", true},
        {"leaf: ECDSA twin", "deny_leaf_twin", Int, Root, Leaf, false, "", false},
        {"intermediate: outer parameters dropped", Leaf, "deny_int_params_dropped", Root, Int, false, "differs", false},
        {"intermediate: long outer length", Leaf, "deny_int_long_outer", Root, Int, false, "leading zero", false},
        {"intermediate: long signature length", Leaf, "deny_int_long_bits", Root, Int, false, "leading zero", false},
    });
}

TEST_F(X509StrictTest, BadExtensionsFailEveryPosition) {
    std::vector<Case> Cases = ExtensionCases();
    Cases.insert(Cases.begin(), {"control", "ext_leaf_ok", "ext_int_ok", "ext_root_ok", "", true, "", true});
    Run(Cases);
}

TEST_F(X509StrictTest, SmallerRules) {
    const char *Int = "nc_int", *Root = "ext_root_ok";
    Run({
        {"sha224WithRSAEncryption", "small_sha224", "", "deny_root", "", true, "", true},
        {"serial of one byte", "small_serial_1", "", "deny_root", "", true, "", true},
        {"serial of no bytes", "small_serial_empty", "", "deny_root", "", false, "empty INTEGER", true},
        {"wildcard inside", "nc_wild_allowed", Int, Root, "", true, "", true},
        {"wildcard of an excluded subtree", "nc_wild_forbidden", Int, Root, "", false, "", true},
        {"wildcard over an excluded host", "nc_wild_over_excluded", Int, Root, "", false, "", false},
        {"host inside", "nc_host_ok", Int, Root, "", true, "", true},
        {"leading period", "nc_leading_period", Int, Root, "", false, "", false},
        {"address inside", "nc_mail_ok", Int, Root, "", true, "", true},
        {"address with two @", "nc_mail_two_at", Int, Root, "", false, "", false},
        {"address without a local part", "nc_mail_no_local", Int, Root, "", false, "", false},
        {"address with a leading period in its host", "nc_mail_dot_host", Int, Root, "", false, "", false},
    });
}

// Leaves of make_shape_certs.py (made at test time under one root), each
// the control with one change: a fixed structure with an element more than
// its definition allows, in the certificate or an extension; CN, O and OU
// in UniversalStrings or one-byte strings; a VisibleString or a UTF8String
// that is not UTF-8 in a name; an empty subject, with a critical, a
// non-critical or no subjectAltName. Ours (build, its reason, the decision,
// the CN and OU text) against `openssl verify -x509_strict` and its reading.
TEST_F(X509StrictTest, FixedStructuresAndNamesAsOpensslReadsThem) {
    SKIP_UNLESS(HaveCommand("openssl"), "openssl is not installed");
    SKIP_UNLESS(HavePythonModule("cryptography"), "python3-cryptography is missing");
    ASSERT_EQ(system((RUNTIME_PYTHON " " RUNTIME_SOURCE_DIR "/tests/crypto/trust/make_shape_certs.py " + Temp.Path).c_str()), 0);
    const struct {
        const char *Name, *Reason; // "" for a leaf that builds and is trusted
        const char *Cn = nullptr, *Ou = nullptr;
    } Cases[] = {
        {"control", ""},
        {"spki_extra_element", "the public key is not an algorithm and a key"},
        {"signature_algorithm_three_parts", "the signature algorithm is malformed"},
        {"validity_three_times", "the validity is not two times"},
        {"key_algorithm_extra_element", "the public key is not an algorithm and a key"},
        {"aki_extra_element", "extension 2.5.29.35 does not parse"},
        {"universal_cn_o_ou", "", "Shape \xC3\x9Cniversal leaf", "\xC3\x9Cnit"},
        {"latin1_cn_o_numeric_ou", "", "Shape caf\xC3\xA9 leaf", "2026"},
        {"visible_string_in_l", "the subject is not a readable name"},
        {"utf8_overlong_in_o", "the subject is not a readable name"},
        {"empty_subject_critical_san", ""},
        {"empty_subject_noncritical_san", "an empty subject without a critical subjectAltName"},
        {"empty_subject_without_san", "an empty subject without a critical subjectAltName"},
    };
    const std::string Anchor = Temp / "root.pem";
    for (const auto &C : Cases) {
        SCOPED_TRACE(C.Name);
        const std::string Path = Temp / (std::string(C.Name) + ".pem"), Der = PlatformTrust_ReadBundle(ReadFile(Path)).at(0);
        X509 *Leaf = nullptr;
        X509_Create(&Leaf);
        const char *Why = nullptr;
        EXPECT_EQ(X509_BuildFromBuffer(Leaf, Der.data(), (uint32)Der.size()), C.Reason[0] == 0);
        X509_GetRefusal(Leaf, &Why);
        EXPECT_STREQ(Why, C.Reason);
        EXPECT_EQ(DecideDer({}, Der, PlatformAnchors(Anchor).Interface), C.Reason[0] == 0);
        const bool Openssl = system(("openssl verify -x509_strict -no_check_time -CAfile " + Anchor + " " + Path +
                                     " >/dev/null 2>&1").c_str()) == 0;
        EXPECT_EQ(Openssl, C.Reason[0] == 0);
        if (C.Cn != nullptr) {
            X500 *Subject = nullptr;
            X509_GetSubjectHandle(Leaf, &Subject);
            char Text[X500_MAX_TEXT_LENGTH + 1];
            X500_GetCN(Subject, Text, (int32)sizeof(Text));
            EXPECT_STREQ(Text, C.Cn);
            X500_GetOU(Subject, Text, (int32)sizeof(Text));
            EXPECT_STREQ(Text, C.Ou);
        }
        X509_Release(&Leaf);
    }
}

// A CN in a UTF8String: a name with one that is not UTF-8 (RFC 3629: an
// overlong form, a surrogate, past U+10FFFF, cut short) fails whole, as
// openssl's name reader and Python's decoder refuse each of these.
TEST_F(X509StrictTest, NamesWithUtf8StringsThatAreNotUtf8) {
    const struct {
        const char *Hex;
        bool Readable;
    } Cases[] = {{"43C3A9", true},   {"F09F9880", true}, {"EFBFBF", true},    {"F48FBFBF", true},
                 {"C0AE", false},    {"E080AE", false},  {"F08080AE", false}, {"EDA080", false},
                 {"F4908080", false}, {"E282", false},   {"80", false},       {"F5808080", false}};
    for (const auto &C : Cases) {
        const auto Wrap = [](char Tag, const std::string &Content) {
            return Tag + std::string(1, (char)Content.size()) + Content;
        };
        const std::string Der = Wrap('\x30', Wrap('\x31', Wrap('\x30', FromHex("0603550403") + Wrap('\x0C', FromHex(C.Hex)))));
        ASN1 *Tree = nullptr;
        X500 *Name = nullptr;
        ASN1_Create(&Tree);
        X500_Create(&Name);
        ASSERT_EQ(ASN1_Decode(Tree, Der.data(), (int32)Der.size()), 1) << C.Hex;
        EXPECT_EQ(X500_Build(Name, ASN1_GetElement(Tree, 0)), (int32)C.Readable) << C.Hex;
        X500_Release(&Name);
        ASN1_Delete(&Tree);
    }
}

// A name's text is kept to 320 bytes of UTF-8, cut where a character
// begins (Latin-1 and UCS-2 text grow as UTF-8), and so is every copy out
// to a smaller buffer. A string that ends inside a character is no text:
// compared as its encoding.
TEST_F(X509StrictTest, NameTextIsCutBetweenCharacters) {
    const auto Encode = [](char Tag, const std::string &Content) {
        const size_t Size = Content.size();
        return Tag + (Size < 128 ? std::string(1, (char)Size) : std::string{'\x82', (char)(Size >> 8), (char)Size}) +
               Content;
    };
    const auto Times = [](const std::string &Text, size_t Count) {
        std::string Out;
        for (size_t Index = 0; Index < Count; Index++) Out += Text;
        return Out;
    };
    const std::string Euro = "\xE2\x82\xAC", Accent = "\xC3\xA9";
    const struct {
        char Tag;
        std::string Value, Text, Short; // Short: the text copied into 4 bytes
    } Cases[] = {
        {'\x14', "a" + std::string(200, '\xE9'), "a" + Times(Accent, 159), "a" + Accent},
        {'\x1E', std::string("\0a", 2) + Times(std::string("\0\xE9", 2), 200), "a" + Times(Accent, 159), "a" + Accent},
        {'\x0C', std::string(318, 'a') + Euro, std::string(318, 'a'), "aaa"},
        {'\x0C', std::string(317, 'a') + Euro, std::string(317, 'a') + Euro, "aaa"},
        {'\x0C', Euro + Euro, Euro + Euro, Euro},
        {'\x0C', "a" + Euro, "a" + Euro, "a"},
    };
    for (const auto &C : Cases) {
        SCOPED_TRACE(C.Text.size());
        const std::string Der = Encode('\x30', Encode('\x31', Encode('\x30', FromHex("0603550403") + Encode(C.Tag, C.Value))));
        ASN1 *Tree = nullptr;
        X500 *Name = nullptr;
        ASN1_Create(&Tree);
        X500_Create(&Name);
        ASSERT_EQ(ASN1_Decode(Tree, Der.data(), (int32)Der.size()), 1);
        ASSERT_EQ(X500_Build(Name, ASN1_GetElement(Tree, 0)), 1);
        char Text[X500_MAX_TEXT_LENGTH + 1], Short[4];
        X500_GetCN(Name, Text, (int32)sizeof(Text));
        X500_GetCN(Name, Short, (int32)sizeof(Short));
        EXPECT_EQ(std::string(Text), C.Text);
        EXPECT_EQ(std::string(Short), C.Short);
        X500_Release(&Name);
        ASN1_Delete(&Tree);
    }
    for (const char *Partial : {"A\xC3", "\xE2\x82", "\xF0\x9F\x98"}) {
        const std::string Content = Partial, Whole = Encode('\x0C', Content);
        const auto Bytes = [](const std::string &Text) { return std::span<const uint8>((const uint8 *)Text.data(), Text.size()); };
        EXPECT_EQ(X500_MatchValue(0x0C, Bytes(Content), Bytes(Whole)), "\1" + Whole) << Partial;
    }
}

// An RSA key of a size this host does not check is refused with that size,
// not as fields that cannot be read (the signature is never reached).
TEST_F(X509StrictTest, RsaKeysOutsideTheCheckedSizesSaySo) {
    const std::string Certificates = RunPython(R"PY(
import os
def tlv(tag, content):
    n = len(content)
    head = bytes([n]) if n < 128 else bytes([0x80 | ((n.bit_length() + 7) // 8)]) + n.to_bytes((n.bit_length() + 7) // 8, "big")
    return bytes([tag]) + head + content
def seq(*parts): return tlv(0x30, b"".join(parts))
def integer(n): return tlv(2, n.to_bytes(n.bit_length() // 8 + 1, "big"))
def oid(text):
    arcs = [int(a) for a in text.split(".")]
    out = bytes([arcs[0] * 40 + arcs[1]])
    for arc in arcs[2:]:
        chunk = [arc & 0x7F]
        while arc > 0x7F:
            arc >>= 7
            chunk.insert(0, 0x80 | (arc & 0x7F))
        out += bytes(chunk)
    return tlv(6, out)
name = seq(tlv(0x31, seq(oid("2.5.4.3"), tlv(0x0C, b"Key size"))))
algorithm = seq(oid("1.2.840.113549.1.1.11"), tlv(5, b""))
for bits in (2048, 8192, 8193, 16384, 256):
    modulus = (1 << (bits - 1)) | int.from_bytes(os.urandom(bits // 8), "big") % (1 << (bits - 1)) | 1
    key = seq(seq(oid("1.2.840.113549.1.1.1"), tlv(5, b"")), tlv(3, b"\0" + seq(integer(modulus), integer(65537))))
    tbs = seq(tlv(0xA0, integer(2)), integer(1), algorithm, name,
              seq(tlv(0x17, b"240101000000Z"), tlv(0x17, b"340101000000Z")), name, key)
    print(bits, seq(tbs, algorithm, tlv(3, b"\0" + os.urandom(256))).hex())
)PY");
    std::istringstream Lines(Certificates);
    int32 Count = 0;
    for (std::string Bits, Hex; Lines >> Bits >> Hex; Count++) {
        SCOPED_TRACE(Bits + " bits");
        const std::string Der = FromHex(Hex);
        const int32 Size = std::stoi(Bits);
        const std::string Reason = Size > 8192  ? "the RSA key of " + Bits +
                                                      " bits is larger than the largest this host checks (8192 bits)"
                                   : Size < 512 ? "the RSA key of " + Bits +
                                                      " bits is smaller than the smallest this host checks (512 bits)"
                                                : "";
        X509 *Each = nullptr;
        X509_Create(&Each);
        const char *Why = nullptr;
        EXPECT_EQ(X509_BuildFromBuffer(Each, Der.data(), (uint32)Der.size()), Reason.empty());
        X509_GetRefusal(Each, &Why);
        EXPECT_EQ(std::string(Why), Reason);
        X509_Release(&Each);
    }
    EXPECT_EQ(Count, 5);
}

// Strictness that real anchors would fail is no strictness to ship.
TEST_F(X509StrictTest, SystemAnchorsStillBuild) {
    const std::string Bundle = ReadFile("/etc/ssl/certs/ca-certificates.crt");
    SKIP_UNLESS(!Bundle.empty(), "no system certificate bundle");
    int32 Count = 0;
    for (const std::string &Anchor : PlatformTrust_ReadBundle(Bundle)) {
        X509 *Each = nullptr;
        X509_Create(&Each);
        const char *Why = nullptr;
        EXPECT_TRUE(X509_BuildFromBuffer(Each, Anchor.data(), (uint32)Anchor.size()))
            << (X509_GetRefusal(Each, &Why), Why);
        X509_Release(&Each);
        Count++;
    }
    EXPECT_GT(Count, 100);
}

} // namespace

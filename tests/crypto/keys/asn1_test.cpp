// ASN.1 DER: decoding rules on hand-made byte strings (lengths, stray bytes,
// indefinite form, nested contents, hostile lengths and nesting), the typed
// readers, the search by OID on a certificate made by openssl, and the two
// writers against Python's encoding of INTEGERs.
#include "crypto/keys/asn1.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>

#include "tests/support/python.h"
#include "tests/support/requirement.h"
#include "tests/support/runtime.h"

namespace {

using Asn1Test = RuntimeTest;

struct Tree {
    ASN1 *Root = nullptr;
    std::string Bytes;
    int32 Result = 0;
    explicit Tree(const std::string &Data) : Bytes(Data) {
        ASN1_Create(&Root);
        Result = ASN1_Decode(Root, Bytes.data(), (int32)Bytes.size());
    }
    ~Tree() { ASN1_Delete(&Root); }
};

TEST_F(Asn1Test, DecodesAndRefusesByteStrings) {
    struct {
        const char *Hex;
        int32 Result;
    } Cases[] = {
        {"3003020105", 1},          {"3004020105FF", 1},          {"3005020105FFFF", 0},
        {"02FF", 0},                {"0482010000", 0},             {"0403010203", 1},
        {"30800201050000", 1},      {"3080020105", 0},             {"3000", 1},
        {"0500", 1},                {"0D00", 0},                   {"1F00", 0},
        // Lengths of five bytes, and four that reach past the buffer.
        {"04850000000001AA", 0},    {"0484FFFFFFFF00", 0},         {"048400000001AA", 1},
        // An indefinite length on a primitive element; a header cut short.
        {"0480AA0000", 0},          {"30", 0},                     {"", 0},
        {"3006300502020000", 0},    {"31030201FF", 1},
    };
    for (const auto &Case : Cases) {
        Tree Decoded(FromHex(Case.Hex));
        EXPECT_EQ(Decoded.Result, Case.Result) << Case.Hex;
    }
    Tree Simple(FromHex("3003020105"));
    uint32 Value = 0;
    EXPECT_EQ(ASN1_ParseInt32(ASN1_GetElement(ASN1_GetElement(Simple.Root, 0), 0), &Value), 1);
    EXPECT_EQ(Value, 5u);
    Tree Length256(FromHex("04820100") + std::string(256, 'x'));
    EXPECT_EQ(Length256.Result, 1);
    EXPECT_EQ(ASN1_GetValueSize(ASN1_GetElement(Length256.Root, 0)), 256);
    Tree Indefinite(FromHex("30800201050000"));
    ASN1 *Sequence = ASN1_GetElement(Indefinite.Root, 0);
    EXPECT_EQ(ASN1_GetValueSize(Sequence), 5);
    EXPECT_EQ(ASN1_GetNodeSize(Sequence), 7);
    // DER inside an OCTET STRING, and a key inside a BIT STRING, are children.
    Tree Nested(FromHex("0405300302010703060030030201FF"));
    ASSERT_EQ(Nested.Result, 1);
    int32 Count = 0;
    ASN1_GetElementCount(ASN1_GetElement(Nested.Root, 0), &Count);
    EXPECT_EQ(Count, 1);
    EXPECT_EQ(ASN1_GetType(ASN1_GetElement(ASN1_GetElement(ASN1_GetElement(Nested.Root, 1), 0), 0)), 2);
    // Null nodes answer 0 all the way down.
    EXPECT_EQ(ASN1_GetElement(ASN1_GetElement(Simple.Root, 3), 0), nullptr);
    EXPECT_EQ(ASN1_GetValueSize(nullptr), 0);
}

TEST_F(Asn1Test, DeepNestingFailsWithoutExhaustingTheStack) {
    std::string Deep;
    for (int Level = 0; Level < 10000; Level++) Deep += FromHex("3080");
    EXPECT_EQ(Tree(Deep).Result, 0);
    std::string Octets = FromHex("0500");
    for (int Level = 0; Level < 100; Level++) Octets = "\x04" + std::string(1, (char)0x82) +
                                                       std::string(1, (char)(Octets.size() >> 8)) +
                                                       std::string(1, (char)Octets.size()) + Octets;
    EXPECT_EQ(Tree(Octets).Result, 1);
    // Sequences nested 64 deep decode; 65 do not.
    auto Nest = [](int Levels) {
        std::string Inner = FromHex("0500");
        for (int Level = 0; Level < Levels; Level++)
            Inner = (Inner.size() < 128 ? "\x30" + std::string(1, (char)Inner.size())
                                        : FromHex("3081") + std::string(1, (char)Inner.size())) +
                    Inner;
        return Inner;
    };
    EXPECT_EQ(Tree(Nest(64)).Result, 1);
    EXPECT_EQ(Tree(Nest(65)).Result, 0);
}

TEST_F(Asn1Test, Readers) {
    struct {
        const char *Hex;
        int32 Result;
        const char *Text;
    } Oids[] = {{"06032A8648", 1, "1.2.840"},
                {"060155", 1, "2.5"},
                {"06022A86", 0, ""},
                {"0600", 0, ""},
                {"06092A864886F70D010101", 1, "1.2.840.113549.1.1.1"},
                {"06022A80", 0, ""},
                {"06032A8001", 0, ""},
                // An arc that would wrap to 113549 in 32 bits.
                {"06092A864881808086F70D", 0, ""},
                {"0603883703", 1, "2.999.3"}};
    for (const auto &Case : Oids) {
        Tree Decoded(FromHex(Case.Hex));
        char Text[64];
        EXPECT_EQ(ASN1_ParseOid(ASN1_GetElement(Decoded.Root, 0), Text, sizeof(Text)), Case.Result) << Case.Hex;
        EXPECT_STREQ(Text, Case.Text) << Case.Hex;
    }
    char Short[4];
    Tree Rsa(FromHex("06092A864886F70D010101"));
    EXPECT_EQ(ASN1_ParseOid(ASN1_GetElement(Rsa.Root, 0), Short, sizeof(Short)), 0);

    struct {
        const char *Hex;
        int32 Result;
        const char *Text;
    } Strings[] = {{"0C03616263", 1, "abc"},
                   {"13026869", 1, "hi"},
                   {"0C0D676F6F642E6578616D706C65002E", 0, ""},
                   {"1E0400E90041", 1, "\xC3\xA9" "A"},
                   {"1E0400000041", 0, ""},
                   {"020101", 0, ""}};
    for (const auto &Case : Strings) {
        // Length of the good.example case is fixed up from the hex.
        std::string Bytes = FromHex(Case.Hex);
        Bytes[1] = (char)(Bytes.size() - 2);
        Tree Decoded(Bytes);
        char Text[32];
        EXPECT_EQ(ASN1_ParseString(ASN1_GetElement(Decoded.Root, 0), Text, sizeof(Text)), Case.Result) << Case.Hex;
        EXPECT_STREQ(Text, Case.Text) << Case.Hex;
    }

    struct {
        const char *Text;
        int32 Result;
        float64 Time;
    } Times[] = {{"991231235959Z", 1, 4102444799.0}, {"240101", 1, 1704067200.0}, {"2401", 0, 0},
                 {"24x101", 0, 0}, {"2401011230Z", 1, 1704112200.0}};
    for (const auto &Case : Times) {
        std::string Bytes = "\x17" + std::string(1, (char)strlen(Case.Text)) + Case.Text;
        Tree Decoded(Bytes);
        float64 Time = -1;
        EXPECT_EQ(ASN1_ParseUTCTime(ASN1_GetElement(Decoded.Root, 0), &Time), Case.Result) << Case.Text;
        EXPECT_EQ(Time, Case.Time) << Case.Text;
    }

    Tree Five(FromHex("02050102030405"));
    uint32 Value = 7;
    EXPECT_EQ(ASN1_ParseInt32(ASN1_GetElement(Five.Root, 0), &Value), 0);
    EXPECT_EQ(Value, 0u);
    Tree Byte(FromHex("0201FF"));
    EXPECT_EQ(ASN1_ParseInt32(ASN1_GetElement(Byte.Root, 0), &Value), 1);
    EXPECT_EQ(Value, 255u);
}

TEST_F(Asn1Test, FindsTheCommonNameOfAnOpensslCertificate) {
    SKIP_UNLESS(HaveCommand("openssl"), "openssl is not installed");
    const std::string Der = FromHex(RunPython(
        "import subprocess, tempfile\n"
        "with tempfile.TemporaryDirectory() as d:\n"
        "    subprocess.run(['openssl', 'req', '-x509', '-newkey', 'rsa:1024', '-nodes', '-keyout', d + '/k', '-subj',"
        " '/O=Example Org/CN=host.example', '-days', '1', '-outform', 'DER', '-out', d + '/c'], check=True,"
        " capture_output=True)\n"
        "    print(open(d + '/c', 'rb').read().hex())\n"));
    ASSERT_FALSE(Der.empty());
    Tree Certificate(Der);
    ASSERT_EQ(Certificate.Result, 1);
    ASN1 *Outer = ASN1_GetElement(Certificate.Root, 0);
    EXPECT_EQ(ASN1_GetNodeSize(Outer), (int32)Der.size());
    ASN1 *Value = nullptr;
    char Text[64];
    ASSERT_EQ(ASN1_Find(Certificate.Root, "2.5.4.3", 0xffffffffu, &Value), 1);
    EXPECT_EQ(ASN1_ParseString(Value, Text, sizeof(Text)), 1);
    EXPECT_STREQ(Text, "host.example");
    ASSERT_EQ(ASN1_Find(Certificate.Root, "2.5.4.10", 0xffffffffu, &Value), 1);
    ASN1_ParseString(Value, Text, sizeof(Text));
    EXPECT_STREQ(Text, "Example Org");
    EXPECT_EQ(ASN1_Find(Certificate.Root, "2.5.4.3", 3, &Value), 0);
    EXPECT_EQ(ASN1_Find(Certificate.Root, "1.2.3.4", 0xffffffffu, &Value), 0);
}

TEST_F(Asn1Test, WritersMatchPythonsDer) {
    // Python encodes each value as a DER INTEGER the textbook way.
    const std::string Lines = RunPython(
        "import random\n"
        "random.seed(7)\n"
        "def der(v):\n"
        "    b = v.to_bytes((v.bit_length() + 8) // 8, 'big') if v else b'\\0'\n"
        "    n = len(b)\n"
        "    l = bytes([n]) if n < 128 else bytes([0x80 | ((n.bit_length() + 7) // 8)]) + n.to_bytes((n.bit_length() + 7) // 8, 'big')\n"
        "    return b'\\x02' + l + b\n"
        "for v in [0, 1, 0x7f, 0x80, 0xff, 0x100] + [random.getrandbits(random.randint(1, 5000)) for _ in range(200)]:\n"
        "    print(format(v, 'X'), der(v).hex())\n");
    std::istringstream Input(Lines);
    std::string Value, Expected;
    int Count = 0;
    while (Input >> Value >> Expected) {
        BigIntLocal Number;
        BigInt_ImportHex(Number, Value.c_str());
        std::string Out(1000, '\0');
        ASN1 *Node = nullptr;
        ASN1_Create(&Node);
        const int32 Written = ASN1_EncodeBigInt(Node, Number, Out.data(), (int32)Out.size());
        EXPECT_EQ(ToHex(Out.substr(0, (size_t)Written)), Expected) << Value;
        BigIntLocal Back;
        EXPECT_EQ(ASN1_ParseBigInt(ASN1_GetElement(Node, 0), Back), 1);
        EXPECT_EQ(BigInt_Equal(Back, Number), 1);
        EXPECT_EQ(ASN1_EncodeBigInt(nullptr, Number, Out.data(), Written - 1), 0);
        ASN1_Delete(&Node);
        Count++;
    }
    EXPECT_EQ(Count, 206);

    // Two INTEGERs of 72 bytes, then a third that moves the content behind a
    // longer header.
    std::string Element = "\x02\x46" + std::string(70, '\x11');
    std::string Sequence(600, '\0');
    int32 Size = 0;
    ASN1 *Node = nullptr;
    ASN1_Create(&Node);
    ASSERT_EQ(ASN1_EncodeSequenceAddNode(Node, Sequence.data(), 600, Element.data(), 72, &Size), 1);
    ASSERT_EQ(ASN1_EncodeSequenceAddNode(Node, Sequence.data(), 600, Element.data(), 72, &Size), 1);
    EXPECT_EQ(Size, 147);
    EXPECT_EQ(ToHex(Sequence.substr(0, 3)), "308190");
    ASSERT_EQ(ASN1_EncodeSequenceAddNode(Node, Sequence.data(), 600, Element.data(), 72, &Size), 1);
    EXPECT_EQ(ToHex(Sequence.substr(0, 3)), "3081d8");
    ASSERT_EQ(ASN1_EncodeSequenceAddNode(Node, Sequence.data(), 600, Element.data(), 72, &Size), 1);
    EXPECT_EQ(Size, 4 + 288);
    EXPECT_EQ(ToHex(Sequence.substr(0, 4)), "30820120");
    EXPECT_EQ(Sequence.substr(4, 72), Element);
    int32 Elements = 0;
    ASN1_GetElementCount(ASN1_GetElement(Node, 0), &Elements);
    EXPECT_EQ(Elements, 4);
    // Not one whole element; no room left.
    EXPECT_EQ(ASN1_EncodeSequenceAddNode(nullptr, Sequence.data(), 600, Element.data(), 40, &Size), 0);
    EXPECT_EQ(ASN1_EncodeSequenceAddNode(nullptr, Sequence.data(), 230, Element.data(), 72, &Size), 0);
    std::string Other = FromHex("04000000");
    EXPECT_EQ(ASN1_EncodeSequenceAddNode(nullptr, Other.data(), 4, Element.data(), 72, &Size), 0);
    ASN1_Delete(&Node);
}

} // namespace

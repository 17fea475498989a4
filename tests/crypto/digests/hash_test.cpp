// The digest layer: selection by name and OID, the Hash object's binding and
// pending bytes, copies, one-shot digests (case folding, UTF-16), digest text
// and the digest macros.
#include "crypto/digests/hash.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <random>

#include "crypto/digests/md2.h"
#include "crypto/digests/md4.h"
#include "crypto/digests/md5.h"
#include "crypto/digests/sha1.h"
#include "crypto/digests/sha256.h"
#include "crypto/digests/sha512.h"
#include "crypto/digests/crc_digest.h"
#include "runtime/text/string_expand.h"
#include "tests/crypto/digests/digest_test_util.h"
#include "tests/support/log_capture.h"
#include "tests/support/python.h"
#include "tests/support/runtime.h"

namespace {

using HashTest = RuntimeTest;
using HashDeathTest = HashTest;

std::string Python(const std::string &Expression) {
    std::string Text = RunPython("import hashlib, zlib\nprint(" + Expression + ", end='')\n");
    return Text;
}

std::string DigestHex(Hash *Handle) {
    char Text[2 * HASH_MAX_DIGEST_SIZE + 1];
    EXPECT_EQ(Hash_GetString(Handle, 0, Text, sizeof(Text)), 1);
    return Text;
}

TEST_F(HashTest, SelectsByNameWithoutCase) {
    const HashInterface *Records[] = {&CRC_INTERFACE,    &MD2_INTERFACE,    &MD4_INTERFACE,
                                      &MD5_INTERFACE,    &SHA1_INTERFACE,   &SHA224_INTERFACE,
                                      &SHA256_INTERFACE, &SHA384_INTERFACE, &SHA512_INTERFACE};
    for (const HashInterface *Record : Records) {
        std::string Lower = Record->Name;
        for (char &Ch : Lower) Ch = (char)tolower(Ch);
        const HashInterface *Found = nullptr;
        EXPECT_EQ(Hash_InterfaceFromName(Lower.c_str(), &Found), 1);
        EXPECT_EQ(Found, Record);
        EXPECT_EQ(Hash_InterfaceFromName(Record->Name, &Found), 1);
        EXPECT_EQ(Found, Record);
    }
    Debug_PrintCallback(CaptureLog);
    Captured.clear();
    const HashInterface *Kept = &MD5_INTERFACE;
    EXPECT_EQ(Hash_InterfaceFromName("SHA-256", &Kept), 0);
    EXPECT_EQ(Kept, &MD5_INTERFACE);
    EXPECT_NE(Captured.find("Unsupported hash algorithm SHA-256\n"), std::string::npos) << Captured;
}

TEST_F(HashTest, SelectsByOid) {
    struct Row {
        const char *Oid;
        const HashInterface *Record;
    };
    const Row Rows[] = {
        {"1.3.6.1.4.1.11591.14.1", &CRC_INTERFACE}, {"1.2.840.113549.1.1.2", &MD2_INTERFACE},
        {"1.3.14.7.2.3.1", &MD2_INTERFACE},         {"1.2.840.113549.1.1.3", &MD4_INTERFACE},
        {"1.3.14.3.2.2", &MD4_INTERFACE},           {"1.3.14.3.2.4", &MD4_INTERFACE},
        {"1.2.840.113549.1.1.4", &MD5_INTERFACE},   {"1.3.14.3.2.3", &MD5_INTERFACE},
        {"1.2.840.113549.2.5", &MD5_INTERFACE},     {"1.2.840.113549.1.1.5", &SHA1_INTERFACE},
        {"1.2.840.10040.4.3", &SHA1_INTERFACE},     {"1.3.14.3.2.29", &SHA1_INTERFACE},
        {"1.3.14.3.2.26", &SHA1_INTERFACE},         {"1.2.840.10045.4.1", &SHA1_INTERFACE},
        {"1.2.840.10045.4.3.1", &SHA224_INTERFACE}, {"1.2.840.113549.1.1.11", &SHA256_INTERFACE},
        {"2.16.840.1.101.3.4.2.1", &SHA256_INTERFACE}, {"1.2.840.10045.4.3.2", &SHA256_INTERFACE},
        {"1.2.840.113549.1.1.12", &SHA384_INTERFACE}, {"2.16.840.1.101.3.4.2.2", &SHA384_INTERFACE},
        {"1.2.840.10045.4.3.3", &SHA384_INTERFACE}, {"1.2.840.113549.1.1.13", &SHA512_INTERFACE},
        {"2.16.840.1.101.3.4.2.3", &SHA512_INTERFACE}, {"1.2.840.10045.4.3.4", &SHA512_INTERFACE},
        // The bare and RSA SHA-224 OIDs are not supported.
        {"2.16.840.1.101.3.4.2.4", nullptr},        {"1.2.840.113549.1.1.14", nullptr},
        {"1.2.840.113549.1.1.1", nullptr},          {"", nullptr},
    };
    for (const Row &One : Rows) {
        const HashInterface *Found = nullptr;
        EXPECT_EQ(Hash_InterfaceFromOid(One.Oid, &Found), One.Record != nullptr ? 1 : 0) << One.Oid;
        EXPECT_EQ(Found, One.Record) << One.Oid;
    }
}

TEST_F(HashTest, PendingBytesWaitForTheAlgorithm) {
    std::string Data(4097, '\0');
    std::mt19937 Random(4096);
    for (char &Byte : Data) Byte = (char)Random();
    Hash *Handle = nullptr;
    Hash_Create(&Handle);
    EXPECT_EQ(Hash_GetDigestSize(Handle), 0);
    EXPECT_EQ(Hash_Generate(Handle), 0);
    uint32 Processed = 0;
    EXPECT_EQ(Hash_Process(Handle, Data.data(), 4000, &Processed), 1);
    EXPECT_EQ(Processed, 4000u);
    EXPECT_EQ(Hash_Process(Handle, Data.data() + 4000, 96, &Processed), 1);
    Processed = 0;
    EXPECT_EQ(Hash_Process(Handle, Data.data() + 4096, 1, &Processed), 0);
    EXPECT_EQ(Processed, 0u);
    EXPECT_EQ(Hash_SetInterface(Handle, &SHA256_INTERFACE), 1);
    EXPECT_EQ(Hash_GetDigestSize(Handle), 32);
    EXPECT_EQ(Hash_GetBlockSize(Handle), 64);
    Hash_Generate(Handle);
    EXPECT_EQ(Hash_IsGenerated(Handle), 1);
    EXPECT_EQ(DigestHex(Handle), digest_test::QuickHex(&SHA256_INTERFACE, Data.substr(0, 4096)));
    Hash_Delete(&Handle);
    EXPECT_EQ(Handle, nullptr);
}

TEST_F(HashTest, ResetAndRebinding) {
    Hash *Handle = nullptr;
    Hash_Create(&Handle);
    EXPECT_EQ(Hash_Reset(Handle), 0) << "unbound without pending bytes";
    Hash_Process(Handle, "xyz", 3, nullptr);
    EXPECT_EQ(Hash_Reset(Handle), 1) << "drops the pending bytes";
    Hash_SetInterface(Handle, &MD5_INTERFACE);
    Hash_Process(Handle, "junk", 4, nullptr);
    // Binding the record already bound resets; another record starts afresh.
    EXPECT_EQ(Hash_SetInterface(Handle, &MD5_INTERFACE), 1);
    Hash_Process(Handle, "abc", 3, nullptr);
    Hash_Generate(Handle);
    EXPECT_EQ(DigestHex(Handle), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(Hash_SetInterface(Handle, &SHA1_INTERFACE), 1);
    Hash_Process(Handle, "abc", 3, nullptr);
    Hash_Generate(Handle);
    EXPECT_EQ(DigestHex(Handle), "a9993e364706816aba3e25717850c26c9cd0d89d");
    const HashInterface *Bound = nullptr;
    Hash_GetInterface(Handle, &Bound);
    EXPECT_EQ(Bound, &SHA1_INTERFACE);
    EXPECT_EQ(Hash_SetInterface(Handle, nullptr), 1);
    char Text[8] = "x";
    EXPECT_EQ(Hash_GetString(Handle, 0, Text, sizeof(Text)), 0);
    EXPECT_EQ(Hash_GetDigest(Handle, Text, sizeof(Text)), 0);
    Hash_Delete(&Handle);
}

TEST_F(HashTest, CopyLeavesTheSourceRunning) {
    Hash *Source = nullptr, *Target = nullptr;
    Hash_Create(&Source);
    Hash_Create(&Target);
    EXPECT_EQ(Hash_CopyTo(Source, Target), 0) << "unbound";
    Hash_SetInterface(Source, &SHA256_INTERFACE);
    Hash_SetInterface(Target, &SHA1_INTERFACE);
    EXPECT_EQ(Hash_CopyTo(Source, Target), 0) << "different records";
    Hash_SetInterface(Target, &SHA256_INTERFACE);
    Hash_Process(Source, "ab", 2, nullptr);
    EXPECT_EQ(Hash_CopyTo(Source, Target), 1);
    Hash_Generate(Target);
    EXPECT_EQ(DigestHex(Target), digest_test::QuickHex(&SHA256_INTERFACE, "ab"));
    Hash_Process(Source, "c", 1, nullptr);
    Hash_Generate(Source);
    EXPECT_EQ(DigestHex(Source), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    Hash_Delete(&Source);
    Hash_Delete(&Target);
}

TEST_F(HashTest, DigestText) {
    const uint8 Digest[20] = {0x00, 0x01, 0xab, 0xff, 0x10, 0x20, 0x30, 0x40, 0x50, 0x60,
                              0x70, 0x80, 0x90, 0xa0, 0xb0, 0xc0, 0xd0, 0xe0, 0xf0, 0x0f};
    char Text[64];
    EXPECT_EQ(Hash_ConvertDigestToString(Digest, 16, 1, Text, 37), 1);
    EXPECT_STREQ(Text, "0001abff 10203040 50607080 90a0b0c0 ");
    strcpy(Text, "kept");
    EXPECT_EQ(Hash_ConvertDigestToString(Digest, 16, 1, Text, 36), 0);
    EXPECT_STREQ(Text, "kept");
    EXPECT_EQ(Hash_ConvertDigestToString(Digest, 20, 1, Text, sizeof(Text)), 1);
    EXPECT_EQ(strlen(Text), 45u);
    EXPECT_EQ(Text[44], ' ');
    EXPECT_EQ(Hash_ConvertDigestToString(Digest, 3, 7, Text, 7), 1) << "any other format is plain";
    EXPECT_STREQ(Text, "0001ab");
    EXPECT_EQ(Hash_ConvertDigestToString(Digest, 3, 0, Text, 6), 0);
    EXPECT_EQ(Hash_ConvertDigestToString(Digest, 0, 0, Text, 1), 1);
    EXPECT_STREQ(Text, "");
}

TEST_F(HashTest, QuickDigestFoldsCaseInPieces) {
    uint8 Upper[32], Mixed[32];
    EXPECT_EQ(Hash_QuickDigest2(&SHA256_INTERFACE, "ABC", 3, 1, Upper, 32), 1);
    EXPECT_EQ(Hash_QuickDigest2(&SHA256_INTERFACE, "Abc", 3, 0, Mixed, 32), 1);
    EXPECT_EQ(0, memcmp(Upper, Mixed, 32));
    EXPECT_EQ(Hash_QuickDigest2(&SHA256_INTERFACE, "Abc", 3, 1, Mixed, 32), 1);
    EXPECT_NE(0, memcmp(Upper, Mixed, 32));
    // An empty text answers 0 with case folding (nothing was processed), and
    // the digest of nothing without.
    EXPECT_EQ(Hash_QuickDigest2(&CRC_INTERFACE, "", 0, 0, Mixed, 4), 0);
    EXPECT_EQ(Hash_QuickDigest2(&CRC_INTERFACE, "", 0, 1, Mixed, 4), 1);
    // Long text with bytes outside a-z: only a-z change, across 1,024-byte pieces.
    std::string Text(3000, '\0');
    std::mt19937 Random(1024);
    for (char &Byte : Text) Byte = (char)Random();
    uint8 Crc[4];
    EXPECT_EQ(Hash_QuickDigest2(&CRC_INTERFACE, Text.data(), (uint32)Text.size(), 0, Crc, 4), 1);
    const std::string Expected =
        RunPython("import sys, zlib\nd = bytes.fromhex(sys.stdin.read())\n"
                  "print('%08x' % zlib.crc32(bytes(b - 32 if 97 <= b <= 122 else b for b in d)), end='')\n",
                  ToHex(Text));
    EXPECT_EQ(ToHex(std::string((char *)Crc, 4)), Expected);
}

TEST_F(HashTest, Utf16UnitsAreHashedOneByOne) {
    const uint16 Accent[] = {0x00e9};
    uint8 Digest[16], Expected[16];
    EXPECT_EQ(Hash_QuickDigestUtf16(&MD5_INTERFACE, Accent, 1, 1, Digest, 16), 1);
    Hash_QuickDigest(&MD5_INTERFACE, "\xc3\xa9", 2, Expected, 16);
    EXPECT_EQ(0, memcmp(Digest, Expected, 16));
    // A surrogate pair becomes two three-byte sequences; a-z are upper-cased.
    const uint16 Text[] = {'a', 0xd83d, 0xde00, 'Z'};
    EXPECT_EQ(Hash_QuickDigestUtf16(&MD5_INTERFACE, Text, 4, 0, Digest, 16), 1);
    Hash_QuickDigest(&MD5_INTERFACE, "A\xed\xa0\xbd\xed\xb8\x80Z", 8, Expected, 16);
    EXPECT_EQ(0, memcmp(Digest, Expected, 16));
    EXPECT_EQ(Hash_QuickDigestUtf16(&MD5_INTERFACE, nullptr, 0, 1, Digest, 16), 1);
    EXPECT_EQ(ToHex(std::string((char *)Digest, 16)), "d41d8cd98f00b204e9800998ecf8427e");
    char Hex[33];
    EXPECT_EQ(Hash_QuickStringUtf16(&MD5_INTERFACE, "abc", 3, 0, Hex, sizeof(Hex)), 1);
    EXPECT_STREQ(Hex, "900150983cd24fb0d6963f7d28e17f72");
}

TEST_F(HashTest, QuickFormsAnswerTheFailingStep) {
    uint8 Digest[32];
    EXPECT_EQ(Hash_QuickDigest(&SHA256_INTERFACE, "abc", 3, Digest, 31), 0);
    char Text[64];
    EXPECT_EQ(Hash_QuickString(&SHA256_INTERFACE, "abc", 3, 0, Text, 64), 0);
}

TEST_F(HashTest, Macros) {
    struct Row {
        const char *Text;
        std::string Expected;
    };
    const Row Rows[] = {
        {"{MD5:abc}", "900150983cd24fb0d6963f7d28e17f72"},
        {"{md4:abc}", "a448017aaf21d8525fc10ae87aa6729d"},
        {"{CRC:123456789}", "cbf43926"},
        {"{SHA1:abc}", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {"{SHA256:}", Python("hashlib.sha256(b'').hexdigest()")},
        {"{Hash:SHA512,abc}", Python("hashlib.sha512(b'abc').hexdigest()")},
        {"{Hash:sha384,a,b}", Python("hashlib.sha384(b'a,b').hexdigest()")},
        {"{Hash:MD2,abc}", "da853b0d3f88d99b30283a69e6ded6bb"},
        {"{Hash:abc}", ""},
        {"{Hash:SHA-256,abc}", ""},
        {"{MD5}", ""},
        {"x{MD5:{SHA1:abc}}", "x" + Python("hashlib.md5(b'a9993e364706816aba3e25717850c26c9cd0d89d').hexdigest()")},
    };
    for (const Row &One : Rows) {
        char Text[STRING_EXPAND_WORK_SIZE];
        strcpy(Text, One.Text);
        EXPECT_EQ(String_Expand(Text, sizeof(Text), nullptr, nullptr), 1) << One.Text;
        EXPECT_EQ(std::string(Text), One.Expected) << One.Text;
    }
    char Output[STRING_EXPAND_RESULT_SIZE];
    EXPECT_EQ(Hash_ExpandKey(nullptr, "Hash", nullptr, Output, sizeof(Output)), 0);
    EXPECT_EQ(Hash_ExpandKey(nullptr, "SHA224", "abc", Output, sizeof(Output)), 0);
    EXPECT_EQ(Hash_ExpandKey(nullptr, "MD5", nullptr, Output, sizeof(Output)), 1);
}

int32 NoSize(void) { return 0; }

TEST_F(HashDeathTest, RecordWithoutDigestSizeStops) {
    HashInterface Broken = MD5_INTERFACE;
    Broken.DigestSize = 0;
    Broken.SizeOf = NoSize;
    Hash *Handle = nullptr;
    Hash_Create(&Handle);
    EXPECT_EXIT(Hash_SetInterface(Handle, &Broken), ::testing::KilledBySignal(SIGILL),
                "Assertion failed \\(Interface->DigestSize != 0\\)\nHash_SetInterface: DigestSize must not be zero");
    Broken = MD5_INTERFACE;
    Broken.Process = nullptr;
    EXPECT_EXIT(Hash_SetInterface(Handle, &Broken), ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
    alignas(16) uint8 Other[128] = {};
    EXPECT_EXIT(Hash_Process(reinterpret_cast<Hash *>(Other), "a", 1, nullptr),
                ::testing::KilledBySignal(SIGILL), "Class mismatch");
    Hash_Delete(&Handle);
}

} // namespace

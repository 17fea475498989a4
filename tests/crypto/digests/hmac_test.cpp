// HMAC against RFC 2202 (MD5, SHA-1) and RFC 4231 (SHA-2), keyed whole and in
// pieces, fed whole and in pieces, copied and one-shot; against Python's hmac
// on random keys, messages and split points; the keying rules, the secrets
// wiped (seen through the allocator), and the HMAC macros.
#include "crypto/digests/hmac.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <random>
#include <sstream>
#include <vector>

#include "crypto/digests/md5.h"
#include "runtime/memory.h"
#include "crypto/digests/sha1.h"
#include "crypto/digests/sha256.h"
#include "crypto/digests/sha512.h"
#include "runtime/text/string_expand.h"
#include "tests/support/python.h"
#include "tests/support/runtime.h"

// The allocator's blocks as the HMAC code leaves them, seen through the
// linker's --wrap of Memory_AllocInt and Memory_FreeInt (tests/CMakeLists.txt).
// While Watching, every block allocated is remembered; freeing a remembered
// block counts it, and counts it as dirty when a byte of it is not zero.
namespace Seam {
std::mutex Lock;
std::atomic<bool> Watching{false};
std::map<void *, int32> Live;
int32 Freed = 0, FreedDirty = 0;

// The remembered blocks' current bytes.
std::map<void *, std::string> Snapshot() {
    std::lock_guard<std::mutex> Guard(Lock);
    std::map<void *, std::string> Bytes;
    for (const auto &[Block, Size] : Live) Bytes[Block].assign(static_cast<const char *>(Block), (size_t)Size);
    return Bytes;
}
} // namespace Seam

extern "C" {
void *__real_Memory_AllocInt(int32 Size, uint32 Flags, const char *File, int32 Line);
void *__real_Memory_FreeInt(void *Pointer, int32 Size, const char *File, int32 Line);

void *__wrap_Memory_AllocInt(int32 Size, uint32 Flags, const char *File, int32 Line) {
    void *Block = __real_Memory_AllocInt(Size, Flags, File, Line);
    std::lock_guard<std::mutex> Guard(Seam::Lock);
    if (Seam::Watching && Block != nullptr) Seam::Live[Block] = Size;
    return Block;
}

void *__wrap_Memory_FreeInt(void *Pointer, int32 Size, const char *File, int32 Line) {
    {
        std::lock_guard<std::mutex> Guard(Seam::Lock);
        auto It = Seam::Live.find(Pointer);
        if (It != Seam::Live.end()) {
            const uint8 *Byte = static_cast<const uint8 *>(Pointer);
            Seam::Freed++;
            Seam::FreedDirty += std::any_of(Byte, Byte + It->second, [](uint8 Each) { return Each != 0; });
            Seam::Live.erase(It);
        }
    }
    return __real_Memory_FreeInt(Pointer, Size, File, Line);
}
}

namespace {

using HmacTest = RuntimeTest;
using HmacDeathTest = HmacTest;

std::string Bytes(size_t Count, uint8 Value) { return std::string(Count, (char)Value); }
std::string Counting(size_t Count) {
    std::string Text;
    for (size_t Index = 1; Index <= Count; Index++) Text.push_back((char)Index);
    return Text;
}

// Computes the MAC with the key given in KeyPieces-sized pieces and the data
// in DataPieces-sized pieces, then reads Size bytes.
std::string Mac(const HashInterface *Record, const std::string &Key, const std::string &Data, size_t KeyPiece,
                size_t DataPiece, int32 Size) {
    HMAC *Handle = nullptr;
    HMAC_Create(&Handle);
    EXPECT_EQ(HMAC_SetHashInterface(Handle, Record), 1);
    for (size_t At = 0; At < Key.size(); At += KeyPiece)
        EXPECT_EQ(HMAC_SetKey(Handle, Key.data() + At, (uint32)std::min(KeyPiece, Key.size() - At)), 1);
    EXPECT_EQ(HMAC_Process(Handle, "", 0), 1);
    for (size_t At = 0; At < Data.size(); At += DataPiece)
        EXPECT_EQ(HMAC_Process(Handle, Data.data() + At, (uint32)std::min(DataPiece, Data.size() - At)), 1);
    EXPECT_EQ(HMAC_Generate(Handle), 1);
    std::string Digest((size_t)Size, '\0');
    EXPECT_EQ(HMAC_GetDigest(Handle, Digest.data(), Size), 1);
    HMAC_Delete(&Handle);
    return ToHex(Digest);
}

struct Vector {
    const HashInterface *Record;
    std::string Key;
    std::string Data;
    const char *Mac; // a truncated MAC is shorter than the digest
};

const std::string LongKeyFirst = "Test Using Larger Than Block-Size Key - Hash Key First";

std::vector<Vector> Rfc2202() {
    return {
        {&MD5_INTERFACE, Bytes(16, 0x0b), "Hi There", "9294727a3638bb1c13f48ef8158bfc9d"},
        {&MD5_INTERFACE, "Jefe", "what do ya want for nothing?", "750c783e6ab0b503eaa86e310a5db738"},
        {&MD5_INTERFACE, Bytes(16, 0xaa), Bytes(50, 0xdd), "56be34521d144c88dbb8c733f0e8b3f6"},
        {&MD5_INTERFACE, Counting(25), Bytes(50, 0xcd), "697eaf0aca3a3aea3a75164746ffaa79"},
        {&MD5_INTERFACE, Bytes(16, 0x0c), "Test With Truncation", "56461ef2342edc00f9bab995"},
        {&MD5_INTERFACE, Bytes(80, 0xaa), LongKeyFirst, "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd"},
        {&MD5_INTERFACE, Bytes(80, 0xaa), "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data",
         "6f630fad67cda0ee1fb1f562db3aa53e"},
        {&SHA1_INTERFACE, Bytes(20, 0x0b), "Hi There", "b617318655057264e28bc0b6fb378c8ef146be00"},
        {&SHA1_INTERFACE, "Jefe", "what do ya want for nothing?", "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
        {&SHA1_INTERFACE, Bytes(20, 0xaa), Bytes(50, 0xdd), "125d7342b9ac11cd91a39af48aa17b4f63f175d3"},
        {&SHA1_INTERFACE, Counting(25), Bytes(50, 0xcd), "4c9007f4026250c6bc8414f9bf50c86c2d7235da"},
        {&SHA1_INTERFACE, Bytes(20, 0x0c), "Test With Truncation", "4c1a03424b55e07fe7f27be1"},
        {&SHA1_INTERFACE, Bytes(80, 0xaa), LongKeyFirst, "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
        {&SHA1_INTERFACE, Bytes(80, 0xaa), "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data",
         "e8e99d0f45237d786d6bbaa7965c7808bbff1a91"},
    };
}

std::vector<Vector> Rfc4231() {
    const std::string Seven = "This is a test using a larger than block-size key and a larger than block-size data. "
                              "The key needs to be hashed before being used by the HMAC algorithm.";
    struct Case {
        std::string Key, Data;
    };
    const Case Cases[] = {
        {Bytes(20, 0x0b), "Hi There"},        {"Jefe", "what do ya want for nothing?"},
        {Bytes(20, 0xaa), Bytes(50, 0xdd)},   {Counting(25), Bytes(50, 0xcd)},
        {Bytes(20, 0x0c), "Test With Truncation"}, {Bytes(131, 0xaa), LongKeyFirst},
        {Bytes(131, 0xaa), Seven},
    };
    const HashInterface *Records[] = {&SHA224_INTERFACE, &SHA256_INTERFACE, &SHA384_INTERFACE, &SHA512_INTERFACE};
    const char *Macs[4][7] = {
        {"896fb1128abbdf196832107cd49df33f47b4b1169912ba4f53684b22", "a30e01098bc6dbbf45690f3a7e9e6d0f8bbea2a39e6148008fd05e44",
         "7fb3cb3588c6c1f6ffa9694d7d6ad2649365b0c1f65d69d1ec8333ea", "6c11506874013cac6a2abc1bb382627cec6a90d86efc012de7afec5a",
         "0e2aea68a90c8d37c988bcdb9fca6fa8", "95e9a0db962095adaebe9b2d6f0dbce2d499f112f2d2b7273fa6870e",
         "3a854166ac5d9f023f54d517d0b39dbd946770db9c2b95c9f6f565d1"},
        {"b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7",
         "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843",
         "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe",
         "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b", "a3b6167473100ee06e0c796c2955552b",
         "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54",
         "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2"},
        {"afd03944d84895626b0825f4ab46907f15f9dadbe4101ec682aa034c7cebc59cfaea9ea9076ede7f4af152e8b2fa9cb6",
         "af45d2e376484031617f78d2b58a6b1b9c7ef464f5a01b47e42ec3736322445e8e2240ca5e69e2c78b3239ecfab21649",
         "88062608d3e6ad8a0aa2ace014c8a86f0aa635d947ac9febe83ef4e55966144b2a5ab39dc13814b94e3ab6e101a34f27",
         "3e8a69b7783c25851933ab6290af6ca77a9981480850009cc5577c6e1f573b4e6801dd23c4a7d679ccf8a386c674cffb",
         "3abf34c3503b2a23a46efc619baef897",
         "4ece084485813e9088d2c63a041bc5b44f9ef1012a2b588f3cd11f05033ac4c60c2ef6ab4030fe8296248df163f44952",
         "6617178e941f020d351e2f254e8fd32c602420feb0b8fb9adccebb82461e99c5a678cc31e799176d3860e6110c46523e"},
        {"87aa7cdea5ef619d4ff0b4241a1d6cb02379f4e2ce4ec2787ad0b30545e17cdedaa833b7d6b8a702038b274eaea3f4e4be9d914eeb61f1702e696c203a126854",
         "164b7a7bfcf819e2e395fbe73b56e0a387bd64222e831fd610270cd7ea2505549758bf75c05a994a6d034f65f8f0e6fdcaeab1a34d4a6b4b636e070a38bce737",
         "fa73b0089d56a284efb0f0756c890be9b1b5dbdd8ee81a3655f83e33b2279d39bf3e848279a722c806b485a47e67c807b946a337bee8942674278859e13292fb",
         "b0ba465637458c6990e5a8c5f61d4af7e576d97ff94b872de76f8050361ee3dba91ca5c11aa25eb4d679275cc5788063a5f19741120c4f2de2adebeb10a298dd",
         "415fad6271580a531d4179bc891d87a6",
         "80b24263c7c1a3ebb71493c1dd7be8b49b46d1f41b4aeec1121b013783f8f3526b56d037e05f2598bd0fd2215d6a1e5295e64f73f63f0aec8b915a985d786598",
         "e37b6a775dc87dbaa4dfa9f96e5e3ffddebd71f8867289865df5a32d20cdc944b6022cac3c4982b10d5eeb55c3e4de15134676fb6de0446065c97440fa8c6a58"},
    };
    std::vector<Vector> Vectors;
    for (int Record = 0; Record < 4; Record++)
        for (int Index = 0; Index < 7; Index++)
            Vectors.push_back({Records[Record], Cases[Index].Key, Cases[Index].Data, Macs[Record][Index]});
    return Vectors;
}

// A truncated SHA-2 MAC (RFC 4231 case 5) is the leading bytes of the full one.
std::string Leading(const std::string &Full, size_t HexLength) { return Full.substr(0, HexLength); }

TEST_F(HmacTest, MatchesRfc2202AndRfc4231KeyedAndFedInPieces) {
    std::vector<Vector> Vectors = Rfc2202();
    for (const Vector &Case : Rfc4231()) Vectors.push_back(Case);
    for (const Vector &Case : Vectors) {
        SCOPED_TRACE(std::string(Case.Record->Name) + " key " + std::to_string(Case.Key.size()) + " -> " + Case.Mac);
        const size_t HexLength = strlen(Case.Mac);
        const int32 Full = (int32)Case.Record->DigestSize;
        for (size_t KeyPiece : {Case.Key.size() + 1, (size_t)1, (size_t)7, (size_t)64, (size_t)65})
            for (size_t DataPiece : {Case.Data.size() + 1, (size_t)1, (size_t)13, (size_t)64})
                EXPECT_EQ(Leading(Mac(Case.Record, Case.Key, Case.Data, KeyPiece, DataPiece, Full), HexLength),
                          Case.Mac);
        char Text[2 * HASH_MAX_DIGEST_SIZE + 1];
        EXPECT_EQ(HMAC_QuickString(Case.Record, Case.Data.data(), (uint32)Case.Data.size(), Case.Key.data(),
                                   (uint32)Case.Key.size(), 0, Text, sizeof(Text)),
                  1);
        EXPECT_EQ(Leading(Text, HexLength), Case.Mac);
        std::string Digest((size_t)Full, '\0');
        EXPECT_EQ(HMAC_QuickDigest(Case.Record, Case.Data.data(), (uint32)Case.Data.size(), Case.Key.data(),
                                   (uint32)Case.Key.size(), Digest.data(), Full),
                  1);
        EXPECT_EQ(Leading(ToHex(Digest), HexLength), Case.Mac);
    }
}

TEST_F(HmacTest, MatchesPythonOnRandomKeysMessagesAndSplits) {
    std::mt19937 Random(2104);
    const char *Names[] = {"md5", "sha1", "sha224", "sha256", "sha384", "sha512"};
    const HashInterface *Records[] = {&MD5_INTERFACE,    &SHA1_INTERFACE,   &SHA224_INTERFACE,
                                      &SHA256_INTERFACE, &SHA384_INTERFACE, &SHA512_INTERFACE};
    struct Case {
        int Record;
        std::string Key, Data;
        size_t KeyPiece, DataPiece;
    };
    std::vector<Case> Cases;
    std::string Input;
    for (int Index = 0; Index < 300; Index++) {
        Case One{Index % 6, std::string(Random() % 300, '\0'), std::string(Random() % 3000, '\0'), 1 + Random() % 140,
                 1 + Random() % 500};
        for (char &Byte : One.Key) Byte = (char)Random();
        for (char &Byte : One.Data) Byte = (char)Random();
        Input += std::string(Names[One.Record]) + " " + ToHex(One.Key) + " " + ToHex(One.Data) + "\n";
        Cases.push_back(One);
    }
    std::istringstream Lines(RunPython("import sys, hmac\n"
                                       "for line in sys.stdin.read().split('\\n')[:-1]:\n"
                                       "    name, key, data = (line.split(' ') + [''])[:3]\n"
                                       "    print(hmac.new(bytes.fromhex(key), bytes.fromhex(data), name).hexdigest())\n",
                                       Input));
    for (const Case &One : Cases) {
        std::string Expected;
        ASSERT_TRUE(std::getline(Lines, Expected));
        const HashInterface *Record = Records[One.Record];
        EXPECT_EQ(Mac(Record, One.Key, One.Data, One.KeyPiece, One.DataPiece, (int32)Record->DigestSize), Expected)
            << Names[One.Record] << " key " << One.Key.size() << " data " << One.Data.size();
    }
}

TEST_F(HmacTest, KeyOfExactlyOneBlockIsUsedAsItIs) {
    // The RFC 4231 case 6 key is 131 bytes; a 64-byte key and a 65-byte key
    // straddle SHA-256's block: only the second is hashed first.
    for (size_t Length : {63, 64, 65, 128, 129}) {
        const std::string Key = Bytes(Length, 0x5a);
        std::istringstream Reference(RunPython("import hmac\nprint(hmac.new(b'\\x5a' * " + std::to_string(Length) +
                                               ", b'message', 'sha256').hexdigest())\n"));
        std::string Expected;
        std::getline(Reference, Expected);
        EXPECT_EQ(Mac(&SHA256_INTERFACE, Key, "message", Length, 7, 32), Expected) << Length;
        EXPECT_EQ(Mac(&SHA256_INTERFACE, Key, "message", 1, 7, 32), Expected) << Length;
    }
}

TEST_F(HmacTest, KeyingEndsWhenTheMessageStartsAndResetForgetsTheKey) {
    HMAC *Handle = nullptr;
    HMAC_Create(&Handle);
    EXPECT_EQ(HMAC_SetKey(Handle, "k", 1), 0) << "unbound";
    HMAC_SetHashInterface(Handle, &SHA256_INTERFACE);
    EXPECT_EQ(HMAC_SetKey(Handle, "key", 3), 1);
    EXPECT_EQ(HMAC_Process(Handle, "The quick brown fox ", 20), 1);
    EXPECT_EQ(HMAC_SetKey(Handle, "more", 4), 0);
    HMAC_Process(Handle, "jumps over the lazy dog", 23);
    HMAC_Generate(Handle);
    char Text[65];
    EXPECT_EQ(HMAC_GetString(Handle, 0, Text, sizeof(Text)), 1);
    EXPECT_STREQ(Text, "f7bc83f430538424b13298e6aa6fb143ef4d59a14946175997479dbc2d1a3cd8");

    // After Reset a MAC without a new key uses the all-zero key.
    EXPECT_EQ(HMAC_Reset(Handle), 1);
    EXPECT_EQ(HMAC_Process(Handle, "abc", 3), 1);
    HMAC_Generate(Handle);
    HMAC_GetString(Handle, 0, Text, sizeof(Text));
    EXPECT_EQ(std::string(Text) + "\n",
              RunPython("import hmac\nprint(hmac.new(b'', b'abc', 'sha256').hexdigest())\n"));
    // Keying works again after Reset, and binding the same record resets.
    EXPECT_EQ(HMAC_SetHashInterface(Handle, &SHA256_INTERFACE), 1);
    EXPECT_EQ(HMAC_SetKey(Handle, "key", 3), 1);
    HMAC_Delete(&Handle);
}

// The key block, the inner digest and the running state hold nothing of a
// key after Reset (they are as the binding left them), and are all zero when
// a rebinding or the delete gives them back.
TEST_F(HmacTest, SecretsAreWipedOnResetRebindAndDelete) {
    const HashInterface *Records[] = {&MD5_INTERFACE, &SHA1_INTERFACE, &SHA256_INTERFACE, &SHA512_INTERFACE};
    for (const HashInterface *Record : Records) {
        for (size_t KeyLength : {16u, 200u}) { // within one block, and hashed first
            SCOPED_TRACE(std::string(Record->Name) + ", key of " + std::to_string(KeyLength) + " bytes");
            const std::string Key(KeyLength, '\x5a');
            uint8 Mac[64];
            auto Use = [&](HMAC *Handle) {
                EXPECT_EQ(HMAC_SetKey(Handle, Key.data(), (uint32)Key.size()), 1);
                EXPECT_EQ(HMAC_Process(Handle, "the message", 11), 1);
                EXPECT_EQ(HMAC_Generate(Handle), 1);
                EXPECT_EQ(HMAC_GetDigest(Handle, Mac, (int32)sizeof(Mac)), 1); // no copy of it is made
            };
            HMAC *Handle = nullptr;
            HMAC_Create(&Handle); // the object itself holds no secret
            Seam::Live.clear();
            Seam::Freed = Seam::FreedDirty = 0;
            Seam::Watching = true;
            ASSERT_EQ(HMAC_SetHashInterface(Handle, Record), 1);
            std::map<void *, std::string> Bound = Seam::Snapshot();
            EXPECT_GE(Bound.size(), 3u) << "key block, inner digest and running state";
            Use(Handle);
            EXPECT_NE(Seam::Snapshot(), Bound) << "the key is in the remembered blocks";
            EXPECT_EQ(HMAC_Reset(Handle), 1);
            EXPECT_EQ(Seam::Snapshot(), Bound);

            Use(Handle);
            const HashInterface *Other = Record == &SHA256_INTERFACE ? &SHA1_INTERFACE : &SHA256_INTERFACE;
            ASSERT_EQ(HMAC_SetHashInterface(Handle, Other), 1);
            EXPECT_GE(Seam::Freed, 3);
            EXPECT_EQ(Seam::FreedDirty, 0) << "rebinding";
            Use(Handle);
            Seam::Freed = 0;
            HMAC_Delete(&Handle);
            Seam::Watching = false;
            EXPECT_GE(Seam::Freed, 3);
            EXPECT_EQ(Seam::FreedDirty, 0) << "deleting";
            EXPECT_TRUE(Seam::Live.empty());
        }
    }
}

TEST_F(HmacTest, RefusedReadsAnswerZero) {
    HMAC *Handle = nullptr;
    HMAC_Create(&Handle);
    HMAC_SetHashInterface(Handle, &SHA256_INTERFACE);
    HMAC_SetKey(Handle, "key", 3);
    HMAC_Process(Handle, "abc", 3);
    HMAC_Generate(Handle);
    uint8 Digest[32];
    memset(Digest, 0xee, sizeof(Digest));
    EXPECT_EQ(HMAC_GetDigest(Handle, Digest, 31), 0);
    EXPECT_EQ(Digest[0], 0xee);
    char Text[65];
    EXPECT_EQ(HMAC_GetString(Handle, 0, Text, 64), 0);
    EXPECT_EQ(HMAC_GetString(Handle, 0, Text, 65), 1);
    uint8 Quick[32];
    EXPECT_EQ(HMAC_QuickDigest(&SHA256_INTERFACE, "abc", 3, "key", 3, Quick, 31), 0);
    EXPECT_EQ(HMAC_QuickString(&SHA256_INTERFACE, "abc", 3, "key", 3, 0, Text, 64), 0);
    HMAC_Delete(&Handle);
}

TEST_F(HmacTest, KeyedCopyServesManyMessages) {
    HMAC *Keyed = nullptr, *Work = nullptr;
    HMAC_Create(&Keyed);
    HMAC_Create(&Work);
    HMAC_SetHashInterface(Keyed, &SHA1_INTERFACE);
    HMAC_SetHashInterface(Work, &SHA1_INTERFACE);
    HMAC_SetKey(Keyed, Bytes(80, 0xaa).data(), 80);
    HMAC_Process(Keyed, "Test Using ", 11);
    for (int Round = 0; Round < 3; Round++) {
        EXPECT_EQ(HMAC_CopyTo(Keyed, Work), 1);
        const std::string Rest = LongKeyFirst.substr(11);
        HMAC_Process(Work, Rest.data(), (uint32)Rest.size());
        HMAC_Generate(Work);
        char Text[41];
        HMAC_GetString(Work, 0, Text, sizeof(Text));
        EXPECT_STREQ(Text, "aa4ae5e15272d00e95705637ce8a3b55ed402112");
    }
    HMAC_Delete(&Keyed);
    HMAC_Delete(&Work);
}

TEST_F(HmacTest, Macros) {
    struct Row {
        const char *Text;
        std::string Expected;
    };
    const std::string Sha1 = RunPython("import hmac\nprint(hmac.new(b'key', b'data', 'sha1').hexdigest(), end='')\n");
    const std::string Sha256 = RunPython("import hmac\nprint(hmac.new(b'k', b'a,b', 'sha256').hexdigest(), end='')\n");
    const Row Rows[] = {
        {"{HMAC:SHA1,key,data}", Sha1},
        {"{HMACSHA1:key,data}", Sha1},
        {"{hmacsha256:k,a,b}", Sha256},
        {"{HMAC-SHA256:key,data}", ""},
        {"{HMAC:SHA1}", ""},
        {"{HMAC:SHA1,keyonly}", ""},
        {"{HMACSHA1:keyonly}", ""},
    };
    for (const Row &One : Rows) {
        char Text[STRING_EXPAND_WORK_SIZE];
        strcpy(Text, One.Text);
        EXPECT_EQ(String_Expand(Text, sizeof(Text), nullptr, nullptr), 1) << One.Text;
        EXPECT_EQ(std::string(Text), One.Expected) << One.Text;
    }
    char Output[STRING_EXPAND_RESULT_SIZE];
    EXPECT_EQ(HMAC_ExpandKey(nullptr, "HMAC", nullptr, Output, sizeof(Output)), 0);
    EXPECT_EQ(HMAC_ExpandKey(nullptr, "HMA", "SHA1,k,d", Output, sizeof(Output)), 0);
}

TEST_F(HmacDeathTest, CopyBetweenDifferentRecordsStops) {
    HMAC *One = nullptr, *Two = nullptr;
    HMAC_Create(&One);
    HMAC_Create(&Two);
    HMAC_SetHashInterface(One, &SHA1_INTERFACE);
    HMAC_SetHashInterface(Two, &SHA256_INTERFACE);
    EXPECT_EXIT(HMAC_CopyTo(One, Two), ::testing::KilledBySignal(SIGILL),
                "Assertion failed \\(SourceInterface == TargetInterface\\)\nInterfaces don't match");
    HMAC_Delete(&One);
    HMAC_Delete(&Two);
}

// PBKDF2.

TEST_F(HmacTest, DeriveKeyMatchesRfc6070) {
    struct Row {
        std::string Password, Salt;
        int32 Iterations;
        const char *Key;
    };
    const Row Rows[] = {
        {"password", "salt", 1, "0c60c80f961f0e71f3a9b524af6012062fe037a6"},
        {"password", "salt", 2, "ea6c014dc72d6f8ccd1ed92ace1d41f0d8de8957"},
        {"password", "salt", 4096, "4b007901b765489abead49d926f721d065a429c1"},
        {"passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096,
         "3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038"},
        {std::string("pass\0word", 9), std::string("sa\0lt", 5), 4096, "56fa6aa75548099dcc37d7f03425e0c3"},
    };
    for (const Row &One : Rows) {
        std::string Key(strlen(One.Key) / 2, '\0');
        EXPECT_EQ(HMACSHA1_DeriveKey(One.Password.data(), (uint32)One.Password.size(), One.Salt.data(),
                                     (uint32)One.Salt.size(), One.Iterations, Key.data(), (int32)Key.size()),
                  1);
        EXPECT_EQ(ToHex(Key), One.Key) << One.Iterations;
    }
}

TEST_F(HmacTest, DeriveKeyMatchesPythonOnRandomInputs) {
    std::mt19937 Random(8018);
    std::string Input;
    struct Case {
        const HashInterface *Record;
        std::string Password, Salt;
        int32 Iterations, Length;
    };
    std::vector<Case> Cases;
    for (int Index = 0; Index < 40; Index++) {
        Case One{Index % 2 ? &SHA256_INTERFACE : &SHA1_INTERFACE, std::string(Random() % 150, '\0'),
                 std::string(Random() % 40, '\0'), (int32)(1 + Random() % 300), (int32)(1 + Random() % 100)};
        for (char &Byte : One.Password) Byte = (char)Random();
        for (char &Byte : One.Salt) Byte = (char)Random();
        Input += std::string(Index % 2 ? "sha256" : "sha1") + " " + ToHex(One.Password) + " " + ToHex(One.Salt) + " " +
                 std::to_string(One.Iterations) + " " + std::to_string(One.Length) + "\n";
        Cases.push_back(One);
    }
    std::istringstream Lines(RunPython(
        "import sys, hashlib\n"
        "for line in sys.stdin.read().split('\\n')[:-1]:\n"
        "    name, password, salt, count, length = line.split(' ')\n"
        "    print(hashlib.pbkdf2_hmac(name, bytes.fromhex(password), bytes.fromhex(salt), int(count), int(length)).hex())\n",
        Input));
    for (const Case &One : Cases) {
        std::string Expected;
        ASSERT_TRUE(std::getline(Lines, Expected));
        std::string Key((size_t)One.Length, '\0');
        if (One.Record == &SHA1_INTERFACE)
            EXPECT_EQ(HMACSHA1_DeriveKey(One.Password.data(), (uint32)One.Password.size(), One.Salt.data(),
                                         (uint32)One.Salt.size(), One.Iterations, Key.data(), One.Length),
                      1);
        else
            EXPECT_EQ(HMAC_DeriveKey(One.Record, One.Password.data(), (uint32)One.Password.size(), One.Salt.data(),
                                     (uint32)One.Salt.size(), One.Iterations, Key.data(), One.Length),
                      1);
        EXPECT_EQ(ToHex(Key), Expected);
    }
}

TEST_F(HmacTest, DeriveKeyEdges) {
    uint8 Key[25];
    memset(Key, 0xee, sizeof(Key));
    EXPECT_EQ(HMACSHA1_DeriveKey("password", 8, "salt", 4, 1, Key, 0), 1);
    EXPECT_EQ(Key[0], 0xee) << "an out length of 0 writes nothing";
    EXPECT_EQ(HMACSHA1_DeriveKey("password", 8, "salt", 4, 0, Key, 25), 1);
    for (uint8 Byte : Key) EXPECT_EQ(Byte, 0) << "a count of 0 gives zeros";
    std::vector<uint8> Large(65536, 0xee);
    EXPECT_EQ(HMACSHA1_DeriveKey("password", 8, "salt", 4, 1, Large.data(), 65536), 0);
    EXPECT_EQ(Large[0], 0xee) << "a refused length writes nothing";
    EXPECT_EQ(HMACSHA1_DeriveKey("password", 8, "salt", 4, 1, Large.data(), 65535), 1);
}

} // namespace

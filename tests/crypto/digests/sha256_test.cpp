// SHA-256 and SHA-224 against FIPS 180-4 / RFC 6234 examples and Python's
// hashlib, on every split and copied mid-message; the whole-digest rule, the
// shared context type, and the SHA-extension block function against the
// portable one.
#include "crypto/digests/sha256.h"

#include <gtest/gtest.h>
#include <signal.h>

#include "crypto/digests/digest_internal.h"
#include "tests/crypto/digests/digest_test_util.h"
#include "tests/support/runtime.h"

namespace {

using Sha256Test = RuntimeTest;
using Sha256DeathTest = Sha256Test;

struct Vector {
    const HashInterface *Record;
    std::string Message;
    const char *Digest;
};

const std::string Two = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";

TEST_F(Sha256Test, MatchesFips180OnEverySplit) {
    const Vector Cases[] = {
        {&SHA256_INTERFACE, "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {&SHA256_INTERFACE, "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {&SHA256_INTERFACE, Two, "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {&SHA256_INTERFACE, std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
        {&SHA224_INTERFACE, "", "d14a028c2a3a2bc9476102bb288234c415a2b01f828ea62ac5b3e42f"},
        {&SHA224_INTERFACE, "abc", "23097d223405d8228642a477bda255b32aadbce4bda0b3f7e36c9da7"},
        {&SHA224_INTERFACE, Two, "75388b16512776cc5dba5da1fd890150b0c6455cb4f58b1952522525"},
        {&SHA224_INTERFACE, std::string(1000000, 'a'), "20794655980c91d8bbb4c1ea97618a4bf03f42581948b2ee4ee7ad67"},
    };
    for (const Vector &Case : Cases) {
        SCOPED_TRACE(std::string(Case.Record->Name) + " of " + std::to_string(Case.Message.size()));
        digest_test::CheckAllSplits(Case.Record, Case.Message, Case.Digest);
    }
}

TEST_F(Sha256Test, MatchesHashlibOnRandomMessagesAndSplits) {
    const std::vector<std::string> Messages = digest_test::RandomMessages(6234, 400);
    digest_test::CheckRandomSplits(&SHA256_INTERFACE, Messages, digest_test::PythonDigests("sha256", Messages), 1);
    digest_test::CheckRandomSplits(&SHA224_INTERFACE, Messages, digest_test::PythonDigests("sha224", Messages), 2);
}

TEST_F(Sha256Test, ShaExtensionsAgreeWithPortableCode) {
    if (!digest::ProcessorHasSha()) GTEST_SKIP() << "this processor has no SHA extensions";
    std::mt19937 Random(256);
    for (int Round = 0; Round < 500; Round++) {
        const size_t Blocks = 1 + Random() % 20;
        std::vector<uint8> Data(Blocks * 64);
        for (uint8 &Byte : Data) Byte = (uint8)Random();
        uint32 Portable[8], Extension[8];
        for (int Index = 0; Index < 8; Index++) Portable[Index] = Extension[Index] = (uint32)Random();
        digest::Sha256CompressPortable(Portable, Data.data(), Blocks);
        digest::Sha256CompressNi(Extension, Data.data(), Blocks);
        ASSERT_EQ(0, memcmp(Portable, Extension, sizeof(Portable))) << "round " << Round;
    }
}

TEST_F(Sha256Test, DigestNeedsRoomForTheWholeDigest) {
    SHA256 *Context = nullptr;
    SHA256_Create(&Context);
    SHA256_Process(Context, "abc", 3);
    SHA256_Generate(Context);
    uint8 Digest[32];
    memset(Digest, 0xee, sizeof(Digest));
    EXPECT_EQ(SHA256_GetDigest(Context, Digest, 31), 0);
    for (uint8 Byte : Digest) ASSERT_EQ(Byte, 0xee);
    EXPECT_EQ(SHA256_GetDigest(Context, Digest, 32), 1);
    EXPECT_EQ(Digest[0], 0xba);
    SHA256_Delete(&Context);

    // SHA-224 reports 28 bytes and copies exactly 28 into a larger buffer.
    SHA224_Create(&Context);
    SHA256_Process(Context, "abc", 3);
    SHA256_Generate(Context);
    memset(Digest, 0xee, sizeof(Digest));
    EXPECT_EQ(SHA256_GetDigest(Context, Digest, 32), 1);
    EXPECT_EQ(digest_test::Hex(std::string((char *)Digest, 32)),
              "23097d223405d8228642a477bda255b32aadbce4bda0b3f7e36c9da7eeeeeeee");
    SHA256_Delete(&Context);
}

TEST_F(Sha256Test, CopyCarriesTheVariantAlong) {
    SHA256 *Short = nullptr, *Long = nullptr;
    SHA224_Create(&Short);
    SHA256_Create(&Long);
    SHA256_Process(Short, "ab", 2);
    EXPECT_EQ(SHA256_CopyTo(Short, Long), 1);
    SHA256_Process(Long, "c", 1);
    SHA256_Generate(Long);
    char Text[65];
    SHA256_GetString(Long, 0, Text, sizeof(Text));
    EXPECT_STREQ(Text, "23097d223405d8228642a477bda255b32aadbce4bda0b3f7e36c9da7");
    // Reset keeps the variant; SHA224_Reset makes one.
    SHA256_Reset(Long);
    SHA256_Process(Long, "abc", 3);
    SHA256_Generate(Long);
    SHA256_GetString(Long, 0, Text, sizeof(Text));
    EXPECT_STREQ(Text, "23097d223405d8228642a477bda255b32aadbce4bda0b3f7e36c9da7");
    SHA256_Delete(&Short);
    SHA256_Delete(&Long);
}

TEST_F(Sha256Test, DigestSizeStaysWithinTheState) {
    SHA256 *Context = nullptr;
    SHA256_Create(&Context);
    EXPECT_EQ(SHA256_SetDigestSize(Context, 33), 0);
    EXPECT_EQ(SHA256_SetDigestSize(Context, 16), 1);
    SHA256_Process(Context, "abc", 3);
    SHA256_Generate(Context);
    char Text[65];
    EXPECT_EQ(SHA256_GetString(Context, 0, Text, sizeof(Text)), 1);
    EXPECT_STREQ(Text, "ba7816bf8f01cfea414140de5dae2223");
    SHA256_Delete(&Context);
}

TEST_F(Sha256DeathTest, DigestBeforeGenerateStops) {
    SHA256 *Context = nullptr;
    SHA224_Create(&Context);
    uint8 Digest[32];
    EXPECT_EXIT(SHA256_GetDigest(Context, Digest, 32), ::testing::KilledBySignal(SIGILL),
                "Assertion failed \\(SHA256->DigestReady\\)\nSHA256 must be generated first!");
    SHA256_Delete(&Context);
}

} // namespace

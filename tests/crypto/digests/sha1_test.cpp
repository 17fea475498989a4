// SHA-1 against RFC 3174 / FIPS 180-4 examples and Python's hashlib, on every
// split and copied mid-message; the SHA-extension block function against the
// portable one.
#include "crypto/digests/sha1.h"

#include <gtest/gtest.h>
#include <signal.h>

#include "crypto/digests/digest_internal.h"
#include "tests/crypto/digests/digest_test_util.h"
#include "tests/support/runtime.h"

namespace {

using Sha1Test = RuntimeTest;
using Sha1DeathTest = Sha1Test;

struct Vector {
    std::string Message;
    const char *Digest;
};

std::string Repeat(const std::string &Piece, size_t Count) {
    std::string Text;
    for (size_t Index = 0; Index < Count; Index++) Text += Piece;
    return Text;
}

TEST_F(Sha1Test, MatchesRfc3174OnEverySplit) {
    const Vector Cases[] = {
        {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
        {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
        {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
        {Repeat("0123456701234567012345670123456701234567012345670123456701234567", 10),
         "dea356a2cddd90c7a7ecedc5ebb563934f460452"},
    };
    for (const Vector &Case : Cases) {
        SCOPED_TRACE(Case.Message.size());
        digest_test::CheckAllSplits(&SHA1_INTERFACE, Case.Message, Case.Digest);
    }
}

TEST_F(Sha1Test, MatchesHashlibOnRandomMessagesAndSplits) {
    const std::vector<std::string> Messages = digest_test::RandomMessages(3174, 400);
    digest_test::CheckRandomSplits(&SHA1_INTERFACE, Messages, digest_test::PythonDigests("sha1", Messages), 3175);
}

TEST_F(Sha1Test, ShaExtensionsAgreeWithPortableCode) {
    if (!digest::ProcessorHasSha()) GTEST_SKIP() << "this processor has no SHA extensions";
    std::mt19937 Random(180);
    for (int Round = 0; Round < 500; Round++) {
        const size_t Blocks = 1 + Random() % 20;
        std::vector<uint8> Data(Blocks * 64);
        for (uint8 &Byte : Data) Byte = (uint8)Random();
        uint32 Portable[5], Extension[5];
        for (int Index = 0; Index < 5; Index++) Portable[Index] = Extension[Index] = (uint32)Random();
        digest::Sha1CompressPortable(Portable, Data.data(), Blocks);
        digest::Sha1CompressNi(Extension, Data.data(), Blocks);
        ASSERT_EQ(0, memcmp(Portable, Extension, sizeof(Portable))) << "round " << Round;
    }
}

TEST_F(Sha1DeathTest, DigestBeforeGenerateStops) {
    SHA1 *Context = nullptr;
    SHA1_Create(&Context);
    uint8 Digest[20];
    EXPECT_EXIT(SHA1_GetDigest(Context, Digest, 20), ::testing::KilledBySignal(SIGILL),
                "Assertion failed \\(SHA1->DigestReady\\)\nSHA1 must be generated first!");
    SHA1_Delete(&Context);
}

} // namespace

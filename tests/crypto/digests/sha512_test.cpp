// SHA-512 and SHA-384 against FIPS 180-4 / RFC 6234 examples and Python's
// hashlib, on every split and copied mid-message, and the whole-digest rule.
#include "crypto/digests/sha512.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <string.h>

#include <random>
#include <vector>

#include "crypto/digests/digest_internal.h"
#include "tests/crypto/digests/digest_test_util.h"
#include "tests/support/runtime.h"

namespace {

using Sha512Test = RuntimeTest;
using Sha512DeathTest = Sha512Test;

struct Vector {
    const HashInterface *Record;
    std::string Message;
    const char *Digest;
};

const std::string Two = "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsm"
                        "nopqrstnopqrstu";

TEST_F(Sha512Test, MatchesFips180OnEverySplit) {
    const Vector Cases[] = {
        {&SHA512_INTERFACE, "abc",
         "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f"},
        {&SHA512_INTERFACE, Two,
         "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018501d289e4900f7e4331b99dec4b5433ac7d329eeb6dd26545e96e55b874be909"},
        {&SHA512_INTERFACE, std::string(1000000, 'a'),
         "e718483d0ce769644e2e42c7bc15b4638e1f98b13b2044285632a803afa973ebde0ff244877ea60a4cb0432ce577c31beb009c5c2c49aa2e4eadb217ad8cc09b"},
        {&SHA384_INTERFACE, "abc",
         "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7"},
        {&SHA384_INTERFACE, Two,
         "09330c33f71147e83d192fc782cd1b4753111b173b3b05d22fa08086e3b0f712fcc7c71a557e2db966c3e9fa91746039"},
        {&SHA384_INTERFACE, std::string(1000000, 'a'),
         "9d0e1809716474cb086e834e310a4a1ced149e9c00f248527972cec5704c2a5b07b8b3dc38ecc4ebae97ddd87f3d8985"},
    };
    for (const Vector &Case : Cases) {
        SCOPED_TRACE(std::string(Case.Record->Name) + " of " + std::to_string(Case.Message.size()));
        digest_test::CheckAllSplits(Case.Record, Case.Message, Case.Digest);
    }
}

TEST_F(Sha512Test, MatchesHashlibOnRandomMessagesAndSplits) {
    const std::vector<std::string> Messages = digest_test::RandomMessages(1804, 400);
    digest_test::CheckRandomSplits(&SHA512_INTERFACE, Messages, digest_test::PythonDigests("sha512", Messages), 1);
    digest_test::CheckRandomSplits(&SHA384_INTERFACE, Messages, digest_test::PythonDigests("sha384", Messages), 2);
}

TEST_F(Sha512Test, VectorScheduleAgreesWithPortableCode) {
    if (!digest::ProcessorHasSha512Vector()) GTEST_SKIP() << "this processor has no AVX with BMI1 and BMI2";
    std::mt19937 Random(512);
    for (int Round = 0; Round < 300; Round++) {
        const size_t Blocks = 1 + Random() % 12;
        std::vector<uint8> Data(Blocks * 128);
        for (uint8 &Byte : Data) Byte = (uint8)Random();
        uint64 Portable[8], Vector[8];
        for (int Index = 0; Index < 8; Index++) Portable[Index] = Vector[Index] = (uint64)Random() << 32 | Random();
        digest::Sha512CompressPortable(Portable, Data.data(), Blocks);
        digest::Sha512CompressVector(Vector, Data.data(), Blocks);
        ASSERT_EQ(0, memcmp(Portable, Vector, sizeof(Portable))) << "round " << Round;
    }
}

TEST_F(Sha512Test, DigestNeedsRoomForTheWholeDigest) {
    SHA512 *Context = nullptr;
    SHA384_Create(&Context);
    SHA512_Process(Context, "abc", 3);
    SHA512_Generate(Context);
    uint8 Digest[64];
    memset(Digest, 0xee, sizeof(Digest));
    EXPECT_EQ(SHA512_GetDigest(Context, Digest, 47), 0);
    EXPECT_EQ(Digest[0], 0xee);
    EXPECT_EQ(SHA512_GetDigest(Context, Digest, 64), 1);
    EXPECT_EQ(Digest[0], 0xcb);
    EXPECT_EQ(Digest[48], 0xee);
    SHA512_Delete(&Context);
}

TEST_F(Sha512DeathTest, DigestBeforeGenerateStops) {
    SHA512 *Context = nullptr;
    SHA512_Create(&Context);
    char Text[129];
    EXPECT_EXIT(SHA512_GetString(Context, 0, Text, sizeof(Text)), ::testing::KilledBySignal(SIGILL),
                "Assertion failed \\(SHA512->DigestReady\\)\nSHA512 must be generated first!");
    SHA512_Delete(&Context);
}

} // namespace

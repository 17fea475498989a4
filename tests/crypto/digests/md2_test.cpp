// MD2 against RFC 1319's test suite (there is no other reference on the
// machine), on every split, copied mid-message, and its own edge rules.
#include "crypto/digests/md2.h"

#include <gtest/gtest.h>
#include <signal.h>

#include "tests/crypto/digests/digest_test_util.h"
#include "tests/support/runtime.h"

namespace {

using Md2Test = RuntimeTest;
using Md2DeathTest = Md2Test;

struct Vector {
    std::string Message;
    const char *Digest;
};

const Vector Rfc1319[] = {
    {"", "8350e5a3e24c153df2275c9f80692773"},
    {"a", "32ec01ec4a6dac72c0ab96fb34c0b5d1"},
    {"abc", "da853b0d3f88d99b30283a69e6ded6bb"},
    {"message digest", "ab4f496bfb2a530b219ff33031fe06b0"},
    {"abcdefghijklmnopqrstuvwxyz", "4e8ddff3650292ab5a4108c3aa47940b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "da33def2a42df13975352846c30338cd"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "d5976f79d83d3a0dc9806c3c66f3efd8"},
};

TEST_F(Md2Test, MatchesRfc1319OnEverySplit) {
    for (const Vector &Case : Rfc1319) {
        SCOPED_TRACE(Case.Message);
        digest_test::CheckAllSplits(&MD2_INTERFACE, Case.Message, Case.Digest);
    }
}

TEST_F(Md2Test, RandomSplitsAgreeWithTheWholeMessage) {
    // No independent MD2 exists here: the one-shot digest is the reference
    // for piecewise and copied forms of the same messages.
    const std::vector<std::string> Messages = digest_test::RandomMessages(1319, 60);
    std::vector<std::string> Whole;
    for (const std::string &Data : Messages)
        Whole.push_back(digest_test::DigestInPieces(&MD2_INTERFACE, Data, {Data.size() + 1}));
    digest_test::CheckRandomSplits(&MD2_INTERFACE, Messages, Whole, 1320);
}

TEST_F(Md2Test, EmptyProcessIgnoresTheData) {
    MD2 *Context = nullptr;
    MD2_Create(&Context);
    EXPECT_EQ(MD2_Process(Context, nullptr, 0), 1);
    MD2_Generate(Context);
    char Text[33];
    EXPECT_EQ(MD2_GetString(Context, 0, Text, sizeof(Text)), 1);
    EXPECT_STREQ(Text, Rfc1319[0].Digest);
    MD2_Delete(&Context);
}

TEST_F(Md2DeathTest, DigestBeforeGenerateStops) {
    MD2 *Context = nullptr;
    MD2_Create(&Context);
    uint8 Digest[16];
    EXPECT_EXIT(MD2_GetDigest(Context, Digest, 16), ::testing::KilledBySignal(SIGILL),
                "Assertion failed \\(MD2->DigestReady\\)\nMD2 must be generated first!");
    MD2_Delete(&Context);
}

} // namespace

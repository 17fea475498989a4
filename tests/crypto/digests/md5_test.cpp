// MD5 against RFC 1321's test suite and Python's hashlib on random messages,
// on every split and copied mid-message; its short-buffer and fatal rules.
#include "crypto/digests/md5.h"

#include <gtest/gtest.h>
#include <signal.h>

#include "runtime/memory.h"
#include "tests/crypto/digests/digest_test_util.h"
#include "tests/support/runtime.h"

namespace {

using Md5Test = RuntimeTest;
using Md5DeathTest = Md5Test;

struct Vector {
    std::string Message;
    const char *Digest;
};

const Vector Rfc1321[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
};

TEST_F(Md5Test, MatchesRfc1321OnEverySplit) {
    for (const Vector &Case : Rfc1321) {
        SCOPED_TRACE(Case.Message);
        digest_test::CheckAllSplits(&MD5_INTERFACE, Case.Message, Case.Digest);
    }
}

TEST_F(Md5Test, MatchesHashlibOnRandomMessagesAndSplits) {
    const std::vector<std::string> Messages = digest_test::RandomMessages(1321, 400);
    digest_test::CheckRandomSplits(&MD5_INTERFACE, Messages, digest_test::PythonDigests("md5", Messages), 1322);
}

TEST_F(Md5Test, ShortDigestBufferGetsTheLeadingBytes) {
    uint8 Digest[16] = {};
    EXPECT_EQ(Hash_QuickDigest(&MD5_INTERFACE, "abc", 3, Digest, 8), 1);
    EXPECT_EQ(digest_test::Hex(std::string((char *)Digest, 16)), "900150983cd24fb00000000000000000");
}

TEST_F(Md5Test, ResetStartsAgainAndStackedContextsNeedNoHeap) {
    alignas(16) uint8 Memory[512];
    ASSERT_LE(MD5_SizeOf(), (int32)sizeof(Memory));
    int32 Before = 0, During = 0;
    Memory_GetSize(&Before);
    EXPECT_EQ(MD5_Stack(Memory), 1);
    MD5 *Context = reinterpret_cast<MD5 *>(Memory);
    MD5_Process(Context, "junk", 4);
    EXPECT_EQ(MD5_Reset(Context), 1);
    EXPECT_EQ(MD5_IsGenerated(Context), 0);
    MD5_Process(Context, "abc", 3);
    MD5_Generate(Context);
    Memory_GetSize(&During);
    EXPECT_EQ(During, Before);
    char Text[33];
    MD5_GetString(Context, 0, Text, sizeof(Text));
    EXPECT_STREQ(Text, Rfc1321[2].Digest);
    EXPECT_EQ(MD5_Unstack(Memory), 1);
    // Unstack wipes the state (message bytes and all).
    for (int32 Index = 0; Index < MD5_SizeOf(); Index++) ASSERT_EQ(Memory[Index], 0) << Index;
}

TEST_F(Md5DeathTest, FatalStops) {
    MD5 *Context = nullptr;
    MD5_Create(&Context);
    uint8 Digest[16];
    EXPECT_EXIT(MD5_GetDigest(Context, Digest, 16), ::testing::KilledBySignal(SIGILL),
                "Assertion failed \\(MD5->DigestReady\\)\nMD5 must be generated first!");
    EXPECT_EXIT(MD5_Process(Context, nullptr, 0), ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
    alignas(16) uint8 Other[128] = {};
    EXPECT_EXIT(MD5_Process(reinterpret_cast<MD5 *>(Other), "a", 1), ::testing::KilledBySignal(SIGILL),
                "Class mismatch");
    MD5_Delete(&Context);
}

} // namespace

// MD4 against RFC 1320's test suite and against openssl's legacy MD4 on
// random messages, on every split and copied mid-message.
#include "crypto/digests/md4.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>

#include <fstream>

#include "tests/crypto/digests/digest_test_util.h"
#include "tests/support/requirement.h"
#include "tests/support/runtime.h"
#include "tests/support/system.h"

namespace {

using Md4Test = RuntimeTest;
using Md4DeathTest = Md4Test;

struct Vector {
    std::string Message;
    const char *Digest;
};

const Vector Rfc1320[] = {
    {"", "31d6cfe0d16ae931b73c59d7e0c089c0"},
    {"a", "bde52cb31de33e46245e05fbdbd6fb24"},
    {"abc", "a448017aaf21d8525fc10ae87aa6729d"},
    {"message digest", "d9130a8164549fe818874806e1c7014b"},
    {"abcdefghijklmnopqrstuvwxyz", "d79e1c308aa5bbcdeea8ed63df412da9"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "043f8582f241db351ce627e153e7f0e4"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "e33b4ddc9c38f2199c3e7b164fcc0536"},
};

TEST_F(Md4Test, MatchesRfc1320OnEverySplit) {
    for (const Vector &Case : Rfc1320) {
        SCOPED_TRACE(Case.Message);
        digest_test::CheckAllSplits(&MD4_INTERFACE, Case.Message, Case.Digest);
    }
}

// openssl dgst -md4 over files holding the messages (python's hashlib has
// no MD4 on this system).
std::vector<std::string> OpensslMd4(const std::vector<std::string> &Messages) {
    TempDirectory Folder;
    std::string Command = "openssl dgst -md4 -provider legacy -provider default -r";
    for (size_t Index = 0; Index < Messages.size(); Index++) {
        const std::string Path = Folder / std::to_string(Index);
        std::ofstream(Path, std::ios::binary) << Messages[Index];
        Command += " " + Path;
    }
    std::vector<std::string> Digests;
    FILE *Pipe = popen((Command + " 2>/dev/null").c_str(), "r");
    if (Pipe == nullptr) return Digests;
    char Line[512];
    while (fgets(Line, sizeof(Line), Pipe) != nullptr) Digests.push_back(std::string(Line, 32));
    pclose(Pipe);
    return Digests;
}

TEST_F(Md4Test, MatchesOpensslOnRandomMessagesAndSplits) {
    const std::vector<std::string> Messages = digest_test::RandomMessages(1320, 120);
    const std::vector<std::string> Expected = OpensslMd4(Messages);
    SKIP_UNLESS(Expected.size() == Messages.size(), "openssl with the legacy provider (MD4) is not available");
    digest_test::CheckRandomSplits(&MD4_INTERFACE, Messages, Expected, 1321);
}

TEST_F(Md4Test, ShortDigestBufferGetsTheLeadingBytes) {
    MD4 *Context = nullptr;
    MD4_Create(&Context);
    MD4_Process(Context, "abc", 3);
    MD4_Generate(Context);
    uint8 Digest[5] = {0, 0, 0, 0, 0xee};
    EXPECT_EQ(MD4_GetDigest(Context, Digest, 4), 1);
    EXPECT_EQ(digest_test::Hex(std::string((char *)Digest, 5)), "a448017aee");
    MD4_Delete(&Context);
}

TEST_F(Md4DeathTest, DigestBeforeGenerateStops) {
    MD4 *Context = nullptr;
    MD4_Create(&Context);
    char Text[33];
    EXPECT_EXIT(MD4_GetString(Context, 0, Text, sizeof(Text)), ::testing::KilledBySignal(SIGILL),
                "Assertion failed \\(MD4->DigestReady\\)\nMD4 must be generated first!");
    MD4_Delete(&Context);
}

} // namespace

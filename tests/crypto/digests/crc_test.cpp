// CRC-32: CRC_Update against Python's zlib.crc32 on random data, whole and
// fed in pieces at random split points, and the compile-time Crc32Const
// against both (it must be usable in case labels); the CRC record of the
// digest layer.
#include "runtime/text/crc.h"
#include "crypto/digests/crc_digest.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <string.h>

#include <algorithm>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/crypto/digests/digest_test_util.h"
#include "tests/support/python.h"
#include "tests/support/runtime.h"

namespace {

class CrcTest : public RuntimeTest {};
using CrcDeathTest = CrcTest;

std::vector<std::string> RandomBuffers(uint32 Seed) {
    std::mt19937 Random(Seed);
    std::vector<std::string> Buffers;
    for (size_t Length : {0, 1, 2, 3, 4, 7, 8, 15, 16, 63, 64, 255, 1000, 4096, 65537}) {
        std::string Bytes(Length, '\0');
        for (char &Byte : Bytes) Byte = (char)(Random() & 0xff);
        Buffers.push_back(Bytes);
    }
    return Buffers;
}

std::vector<uint32> PythonCrcs(const std::vector<std::string> &Buffers) {
    std::string Input;
    for (const std::string &Bytes : Buffers) Input += ToHex(Bytes) + "\n";
    std::istringstream Lines(RunPython("import sys, zlib\n"
                                       "for line in sys.stdin.read().split('\\n')[:-1]:\n"
                                       "    print(zlib.crc32(bytes.fromhex(line)))\n",
                                       Input));
    std::vector<uint32> Values;
    for (std::string Line; std::getline(Lines, Line);) Values.push_back((uint32)std::stoul(Line));
    return Values;
}

TEST_F(CrcTest, UpdateMatchesZlibCrc32) {
    const std::vector<std::string> Buffers = RandomBuffers(3121);
    const std::vector<uint32> Expected = PythonCrcs(Buffers);
    ASSERT_EQ(Expected.size(), Buffers.size());
    for (size_t Index = 0; Index < Buffers.size(); Index++) {
        SCOPED_TRACE(Buffers[Index].size());
        EXPECT_EQ(CRC_Update(0, Buffers[Index].data(), (uint32)Buffers[Index].size()), Expected[Index]);
    }
}

TEST_F(CrcTest, RunningValueIsTheSameForEverySplit) {
    const std::vector<std::string> Buffers = RandomBuffers(3122);
    const std::vector<uint32> Expected = PythonCrcs(Buffers);
    std::mt19937 Random(3123);
    for (size_t Index = 0; Index < Buffers.size(); Index++) {
        const std::string &Bytes = Buffers[Index];
        for (int Round = 0; Round < 20; Round++) {
            uint32 Crc = 0;
            size_t At = 0;
            while (At < Bytes.size()) {
                const size_t Piece = std::min<size_t>(Bytes.size() - At, Random() % (Bytes.size() / 3 + 2));
                Crc = CRC_Update(Crc, Bytes.data() + At, (uint32)Piece);
                At += Piece;
            }
            ASSERT_EQ(Crc, Expected[Index]) << "length " << Bytes.size();
        }
    }
}

TEST_F(CrcTest, EmptyUpdateKeepsTheValue) {
    const char Byte = 0;
    EXPECT_EQ(CRC_Update(0, &Byte, 0), 0u);
    EXPECT_EQ(CRC_Update(0xdeadbeef, &Byte, 0), 0xdeadbeefu);
}

TEST_F(CrcDeathTest, NullDataIsFatal) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(CRC_Update(0, nullptr, 0), ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
}

// The selector form: a switch on the CRC-32 of a method name.
int32 Select(const char *Name) {
    const uint32 Hash = CRC_Update(0, Name, (uint32)strlen(Name));
    switch (Hash) {
    case Crc32Const("addObserver"): return 1;
    case Crc32Const("removeObserver"): return 2;
    case Crc32Const("fileExists"): return 3;
    default: return 0;
    }
}

TEST_F(CrcTest, ConstFormMatchesZlibAndServesAsCaseLabel) {
    static_assert(Crc32Const("fileExists") == 0x95883f2du);
    const std::vector<std::string> Names = {"addObserver", "removeObserver", "fileExists", "fire", "",
                                            "getMethod\xc3\xa9", std::string(300, 'z')};
    const std::vector<uint32> Expected = PythonCrcs(Names);
    ASSERT_EQ(Expected.size(), Names.size());
    for (size_t Index = 0; Index < Names.size(); Index++) {
        EXPECT_EQ(Crc32Const(Names[Index]), Expected[Index]) << Names[Index];
        EXPECT_EQ(Crc32Const(Names[Index]), CRC_Update(0, Names[Index].data(), (uint32)Names[Index].size()));
    }
    EXPECT_EQ(Select("addObserver"), 1);
    EXPECT_EQ(Select("removeObserver"), 2);
    EXPECT_EQ(Select("fileExists"), 3);
    EXPECT_EQ(Select("fileexists"), 0);
    // Stored selector hashes are signed: compared as uint32 they match.
    EXPECT_EQ((uint32)(int32)-1786233043, Crc32Const("fileExists"));
}

// The CRC record: the digest is the value in big-endian order.
TEST_F(CrcTest, RecordDigestIsTheBigEndianValue) {
    EXPECT_EQ(CRC_SizeOf(), 64);
    digest_test::CheckAllSplits(&CRC_INTERFACE, "123456789", "cbf43926");
    const std::vector<std::string> Buffers = RandomBuffers(3124);
    const std::vector<uint32> Values = PythonCrcs(Buffers);
    std::vector<std::string> Expected;
    for (uint32 Value : Values) {
        char Text[9];
        snprintf(Text, sizeof(Text), "%08x", Value);
        Expected.push_back(Text);
    }
    digest_test::CheckRandomSplits(&CRC_INTERFACE, Buffers, Expected, 3125);
}

TEST_F(CrcTest, RecordKeepsRunningAfterGenerate) {
    CRC *Context = nullptr;
    CRC_Create(&Context);
    CRC_Process(Context, "1234", 4);
    CRC_Generate(Context);
    CRC_Process(Context, "56789", 5);
    char Text[10];
    EXPECT_EQ(CRC_GetString(Context, 1, Text, sizeof(Text)), 1);
    EXPECT_STREQ(Text, "cbf43926 ");
    uint8 Leading[2];
    EXPECT_EQ(CRC_GetDigest(Context, Leading, 2), 1);
    EXPECT_EQ(Leading[0], 0xcb);
    EXPECT_EQ(Leading[1], 0xf4);
    CRC_Reset(Context);
    EXPECT_EQ(CRC_IsGenerated(Context), 0);
    CRC_Generate(Context);
    CRC_GetString(Context, 0, Text, sizeof(Text));
    EXPECT_STREQ(Text, "00000000");
    CRC_Delete(&Context);
}

TEST_F(CrcDeathTest, RecordDigestBeforeGenerateStops) {
    CRC *Context = nullptr;
    CRC_Create(&Context);
    uint8 Digest[4];
    EXPECT_EXIT(CRC_GetDigest(Context, Digest, 4), ::testing::KilledBySignal(SIGILL),
                "Assertion failed \\(CRC->DigestReady\\)\nCRC must be generated first!");
    CRC_Delete(&Context);
}

} // namespace
